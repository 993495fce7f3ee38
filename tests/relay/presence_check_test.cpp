#include "relay/presence_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_news_client.h"

namespace quillport {
namespace {

using testing::FakeNewsClient;
using ::testing::Contains;
using namespace std::string_literals;

TEST(ArticleExists, AnswerRestsOnTheSignOfTheCommandFailure) {
  FakeNewsClient refused, negative;
  refused.command_failure = NewsError(430, "430 no such article");
  negative.command_failure = NewsError(-1, "odd");
  EXPECT_FALSE(ArticleExists(refused, "<gone@host>", [] {}));
  EXPECT_THAT(refused.calls, ::testing::ElementsAre("Command:Head <gone@host>"));
  EXPECT_TRUE(ArticleExists(negative, "", [] {}));
  EXPECT_THAT(negative.calls, Contains("Command:Head "));
}

TEST(ArticleExists, DrainsUntilTheTerminatorPieceAndRetriesTextlessFailuresAtMostTwice) {
  FakeNewsClient client, twice, thrice, with_text;
  client.reply = {"221 0 <x@host>\r\n"s, "odd \0\x1a text\r\n"s, "ends in a dot line\r\n.\r\n"s,  // not the terminator
                  ".\r\n"s, "never read"s};
  int yields = 0;
  EXPECT_TRUE(ArticleExists(client, "<x@host>", [&] { ++yields; }));
  EXPECT_EQ(client.reply.size(), 1u);
  EXPECT_EQ(yields, 4);

  twice.reply = {NewsError(10054, ""), NewsError(10054, ""), ".\r\n"s};
  EXPECT_TRUE(ArticleExists(twice, "<x@host>", [] {}));
  thrice.reply = {NewsError(10054, ""), "221 ok\r\n"s, NewsError(10054, ""), NewsError(10054, ""), ".\r\n"s};
  EXPECT_THROW(ArticleExists(thrice, "<x@host>", [] {}), NewsError);
  with_text.reply = {NewsError(10060, "timed out"), ".\r\n"s};
  EXPECT_THROW(ArticleExists(with_text, "<x@host>", [] {}), NewsError);
}

}  // namespace
}  // namespace quillport

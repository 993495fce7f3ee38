#include "relay/presence_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_news_client.h"

namespace quillport {
namespace {

using testing::FakeNewsClient;
using namespace std::string_literals;

TEST(ArticleExists, AnswerRestsOnTheSignOfTheCommandFailure) {
  FakeNewsClient refused, negative;
  refused.command_failure = NewsError(430, "430 no such article");
  negative.command_failure = NewsError(-1, "odd");
  EXPECT_FALSE(ArticleExists(refused, "<gone@host>", [] {}));
  EXPECT_THAT(refused.calls, ::testing::Contains("Command:Head <gone@host>"));
  EXPECT_THAT(refused.calls, ::testing::Not(::testing::Contains("Received")));
  EXPECT_TRUE(ArticleExists(negative, "", [] {}));
  EXPECT_THAT(negative.calls, ::testing::Contains("Command:Head "));
}

TEST(ArticleExists, DrainsUntilTheTerminatorPiece) {
  FakeNewsClient client;
  client.reply = {std::string("221 0 <x@host>\r\n"), "odd \0\x1a text\r\n"s,
                  std::string("ends in a dot line\r\n.\r\n"),  // not the terminator piece
                  std::string(".\r\n"), std::string("never read")};
  int yields = 0;
  EXPECT_TRUE(ArticleExists(client, "<x@host>", [&] { ++yields; }));
  EXPECT_EQ(client.reply.size(), 1u);
  EXPECT_EQ(yields, 4);
}

TEST(ArticleExists, RetriesTextlessFailuresAtMostTwicePerCall) {
  FakeNewsClient twice, thrice, with_text;
  twice.reply = {NewsError(10054, ""), NewsError(10054, ""), std::string(".\r\n")};
  EXPECT_TRUE(ArticleExists(twice, "<x@host>", [] {}));
  thrice.reply = {NewsError(10054, ""), std::string("221 ok\r\n"), NewsError(10054, ""),
                  NewsError(10054, ""), std::string(".\r\n")};
  EXPECT_THROW(ArticleExists(thrice, "<x@host>", [] {}), NewsError);
  with_text.reply = {NewsError(10060, "timed out"), std::string(".\r\n")};
  EXPECT_THROW(ArticleExists(with_text, "<x@host>", [] {}), NewsError);
}

}  // namespace
}  // namespace quillport

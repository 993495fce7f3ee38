#include "relay/presence_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/fake_news_client.h"

namespace quillport {
namespace {

using testing::FakeNewsClient;
using ::testing::Contains;

TEST(ArticleExists, AnswerRestsOnTheSignOfTheCommandFailure) {
  int yields = 0;
  const Yield yield = [&] { ++yields; };

  FakeNewsClient refused;
  refused.command_failure = NewsError(430, "430 no such article");
  EXPECT_FALSE(ArticleExists(refused, "<gone@host>", yield));
  EXPECT_THAT(refused.calls, Contains("Command:Head <gone@host>"));
  EXPECT_THAT(refused.calls, ::testing::Not(Contains("Received")));

  FakeNewsClient negative;
  negative.command_failure = NewsError(-1, "odd");
  EXPECT_TRUE(ArticleExists(negative, "", yield));
  EXPECT_THAT(negative.calls, Contains("Command:Head "));

  // Accepted with nothing more to read: one empty piece ends the drain.
  FakeNewsClient silent;
  EXPECT_TRUE(ArticleExists(silent, "<x@host>", yield));
  EXPECT_EQ(std::count(silent.calls.begin(), silent.calls.end(), "Received"), 1);
}

TEST(ArticleExists, DrainsUntilTheTerminatorPiece) {
  FakeNewsClient client;
  client.reply = {std::string("221 0 <x@host>\r\nPath: a\r\n"), std::string("odd \0\x1a text\r\n", 15),
                  std::string("line ending in dot\r\n.\r\n"),  // not the terminator piece
                  std::string(".\r\n"), std::string("never read")};
  int yields = 0;
  EXPECT_TRUE(ArticleExists(client, "<x@host>", [&] { ++yields; }));
  EXPECT_EQ(client.reply.size(), 1u);
  EXPECT_EQ(yields, 4);
}

TEST(ArticleExists, RetriesTextlessFailuresAtMostTwice) {
  FakeNewsClient twice;
  twice.reply = {NewsError(10054, ""), NewsError(10054, ""), std::string(".\r\n")};
  EXPECT_TRUE(ArticleExists(twice, "<x@host>", [] {}));

  FakeNewsClient thrice;
  thrice.reply = {NewsError(10054, ""), std::string("221 ok\r\n"), NewsError(10054, ""),
                  NewsError(10054, ""), std::string(".\r\n")};
  try {
    ArticleExists(thrice, "<x@host>", [] {});
    FAIL() << "the third failure must pass on";
  } catch (const NewsError& error) {
    EXPECT_EQ(error.number(), 10054);
  }

  FakeNewsClient with_text;
  with_text.reply = {NewsError(10060, "timed out")};
  EXPECT_THROW(ArticleExists(with_text, "<x@host>", [] {}), NewsError);
  EXPECT_EQ(with_text.reply.size(), 0u);
}

}  // namespace
}  // namespace quillport

#include "relay/message_poster.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/board_fields.h"
#include "app/memory_status_board.h"
#include "tests/support/fake_news_client.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::FakeNewsClient;
using testing::TempFolder;
using testing::WriteFile;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

class TrtMsgTest : public ::testing::Test {
 protected:
  TrtMsgTest() {
    settings_.drop_folder = folder_ / "drop";
    settings_.error_folder = folder_ / "errors";
    settings_.message_pattern = "*.cnm";
    fs::create_directories(settings_.drop_folder);
    fs::create_directories(settings_.error_folder);
  }

  // Writes a message file into the drop folder and posts it.
  std::string Post(const std::string& name, const std::string& bytes) {
    const std::string path = settings_.drop_folder + "/" + name;
    WriteFile(path, bytes);
    PostingContext context{client_, board_, [this] { ++yields_; }, names_, settings_};
    TrtMsg(path, context);
    return path;
  }

  // The whole article as the client received it.
  std::string Article() const {
    std::string all;
    for (const auto& piece : client_.pieces) all += piece;
    return all;
  }

  TempFolder folder_;
  RelaySettings settings_;
  FakeNewsClient client_;
  MemoryStatusBoard board_;
  QueueNameGenerator names_;
  int yields_ = 0;
};

TEST_F(TrtMsgTest, WorkedExampleIsPostedInThreePieces) {
  const std::string path = Post("example.cnm",
                                "Received: from host by host\r\n"
                                "\tid 42\r\n"
                                "X-Envelope-To: list_NoSpam\r\n"
                                "From: A. User <a.user@host>\r\n"
                                "Subject: Test\r\n"
                                "Newsgroups: local.test\r\n"
                                "Message-ID: <1.2@host>\r\n"
                                "\r\n"
                                "Hello.\r\n"
                                ".\r\n");
  ASSERT_THAT(client_.pieces,
              ElementsAre("From: A DOT  User <a DOT user AT host>\r\n"
                          "Subject: Test\r\n"
                          "Newsgroups: local.test\r\n"
                          "Message-ID: <1.2@host>\r\n"
                          "\r\n",
                          "Hello.\r\n", ".\r\n"));
  EXPECT_EQ(client_.pieces[0].size(), 105u);
  EXPECT_EQ(client_.pieces[1].size(), 8u);
  EXPECT_EQ(client_.pieces[2].size(), 3u);
  EXPECT_THAT(client_.calls, ElementsAre("BeginArticle", "WriteText", "WriteText", "WriteText",
                                         "EndArticle"));
  EXPECT_FALSE(fs::exists(path));
  EXPECT_FALSE(board_.Visible(field::kStatusE));
}

TEST_F(TrtMsgTest, HeaderFilterKeepsWhatTheArticleNeeds) {
  Post("filter.cnm",
       "From: early.bird@host\r\n"          // above the guard: not rewritten
       "RECEIVED: upper case counts\r\n"
       " continued\r\n"
       "    \r\n"                            // spaces after a dropped line: dropped
       "cc: lower case counts\r\n"
       "Date:\tTab after the colon is kept\r\n"
       "Date:\r\n"                           // nothing after the colon: kept
       "Subject: folded\r\n"
       " kept continuation\r\n"
       "    \r\n"                            // spaces after a kept line: kept
       "Bcc: kept\r\n"
       "Reply-To: kept\r\n"
       "Delivered-To: kept\r\n"
       "X-Envelope-To: someone_nospam\r\n"
       "X-Envelope-To: someone\r\n"          // the last one decides: no guard
       "From: plain.name@host\r\n"
       "newsgroups: local.test\r\n"
       "Message-Id: <first@host>\r\n"
       "Message-ID: <second@host>  \r\n"
       "\r\n");
  ASSERT_EQ(client_.pieces.size(), 1u);  // no body: the header block alone
  EXPECT_EQ(client_.pieces[0],
            "From: early.bird@host\r\n"
            "Date:\tTab after the colon is kept\r\n"
            "Date:\r\n"
            "Subject: folded\r\n"
            " kept continuation\r\n"
            "    \r\n"
            "Bcc: kept\r\n"
            "Reply-To: kept\r\n"
            "Delivered-To: kept\r\n"
            "From: plain.name@host\r\n"
            "newsgroups: local.test\r\n"
            "Message-Id: <first@host>\r\n"
            "Message-ID: <second@host>  \r\n"
            "\r\n");
}

TEST_F(TrtMsgTest, GuardRewritesOnlyFromLinesAfterIt) {
  Post("guard.cnm",
       "X-Envelope-To: <Box_NOSPAM@site>\r\n"
       "From: J.Doe <j.doe@mail.example.org>\r\n"
       "\tcontinued.line@host\r\n"          // continuation of From: kept as is
       "Newsgroups: local.test\r\n"
       "\r\n"
       "body.line@host\r\n");
  EXPECT_THAT(client_.pieces,
              ElementsAre("From: J DOT Doe <j DOT doe AT mail DOT example DOT org>\r\n"
                          "\tcontinued.line@host\r\n"
                          "Newsgroups: local.test\r\n\r\n",
                          "body.line@host\r\n"));
}

TEST_F(TrtMsgTest, BodyLinesPassUnchangedAndEndAtCrOrCrLf) {
  Post("body.cnm",
       "Newsgroups: local.test\r\n"
       "\r\n"
       "..two dots\r"
       "\r\n"                 // an empty line
       "lone\nfeed\r\n"       // a lone LF does not end a line
       "last line without ending");
  EXPECT_THAT(client_.pieces, ElementsAre("Newsgroups: local.test\r\n\r\n", "..two dots\r\n",
                                          "\r\n", "lone\nfeed\r\n",
                                          "last line without ending\r\n"));
}

TEST_F(TrtMsgTest, UnpostableMessagesAreDeletedWithoutCallingTheClient) {
  const std::string no_groups = Post("nogroups.cnm", "Subject: x\r\n\r\nbody\r\n");
  const std::string unfinished = Post("unfinished.cnm", "Newsgroups: local.test\r\nSubject: x\r\n");
  const std::string lf_only = Post("lf.cnm", "Newsgroups: local.test\n\nbody\n");
  EXPECT_TRUE(client_.calls.empty());
  EXPECT_FALSE(fs::exists(no_groups));
  EXPECT_FALSE(fs::exists(unfinished));
  EXPECT_FALSE(fs::exists(lf_only));
  EXPECT_TRUE(board_.Visible(field::kStatusE));  // untouched
}

TEST_F(TrtMsgTest, RefusedArticleIsDeletedWhenHeldAndFiledWhenNot) {
  client_.end_article_statuses = {441};
  client_.reply = {std::string("221 0 <held@host>\r\n"), std::string(".\r\n")};
  const std::string held = Post("held.cnm", "Newsgroups: local.test\r\nMessage-ID: <held@host>\r\n\r\nx\r\n");
  EXPECT_FALSE(fs::exists(held));
  EXPECT_TRUE(board_.Visible(field::kStatusE));
  EXPECT_THAT(client_.calls, ::testing::Contains("Command:Head <held@host>"));

  client_.end_article_statuses = {441};
  client_.command_failure = NewsError(430, "430 no such article");
  const std::string refused = Post("Refused.CNM", "Newsgroups: local.nowhere\r\n\r\nx\r\n");
  EXPECT_FALSE(fs::exists(refused));
  EXPECT_TRUE(fs::exists(settings_.error_folder + "/refused.cnm"));
  EXPECT_THAT(client_.calls, ::testing::Contains("Command:Head "));  // no Message-ID: empty id

  // Accepted again: the error line is hidden.
  client_.command_failure.reset();
  Post("fine.cnm", "Newsgroups: local.test\r\n\r\n");
  EXPECT_FALSE(board_.Visible(field::kStatusE));
}

TEST_F(TrtMsgTest, OverlongLineIsFiledAndNeverPosted) {
  const std::string long_line(32766, 'x');  // with CR LF: 32768 characters
  std::string path;
  try {
    path = Post("long.cnm", "Newsgroups: local.test\r\n\r\nshort\r\n" + long_line + "\r\n");
    FAIL() << "no failure";
  } catch (const NewsError& error) {
    EXPECT_EQ(error.number(), news_error::kOverflow);
    EXPECT_THAT(error.what(), ::testing::HasSubstr("filed in the error folder"));
  }
  EXPECT_THAT(client_.calls, ::testing::Not(::testing::Contains("EndArticle")));
  EXPECT_FALSE(fs::exists(settings_.drop_folder + "/long.cnm"));
  EXPECT_TRUE(fs::exists(settings_.error_folder + "/long.cnm"));

  // 32765 characters and CR LF fit exactly.
  client_.pieces.clear();
  Post("fits.cnm", "Newsgroups: local.test\r\n\r\n" + std::string(32765, 'y') + "\r\n");
  EXPECT_EQ(client_.pieces.back().size(), 32767u);
}

TEST_F(TrtMsgTest, FailureWhilePostingLeavesTheFileInPlace) {
  client_.write_failure = {{1, NewsError(news_error::kConnectionLost, "connection lost")}};
  EXPECT_THROW(Post("stays.cnm", "Newsgroups: local.test\r\n\r\nline\r\n"), NewsError);
  EXPECT_TRUE(fs::exists(settings_.drop_folder + "/stays.cnm"));
  EXPECT_TRUE(fs::is_empty(settings_.error_folder));
}

}  // namespace
}  // namespace quillport

// The relay engine when the server misbehaves: it drops the connection in
// the middle of an article, or stops answering. Nothing may be lost, nothing
// posted twice, and the window must come back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "board/board_fields.h"
#include "board/event_failure.h"
#include "board/memory_status_board.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/support/temp_folder.h"
#include "tests/support/fake_nntp_server.h"
#include "tests/support/inn_server.h"

namespace quillport {
namespace {

using namespace testing::fake;
using testing::FakeNntpServer;
using testing::InnServer;
using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;

const std::string kMessage =
    "From: a@example.org\r\nSubject: interrupted\r\nNewsgroups: local.test\r\n"
    "Message-ID: <interrupted@quillport.test>\r\n\r\nline one\r\nline two\r\nline three\r\n";

class RelayFaultTest : public ::testing::Test {
 protected:
  RelayFaultTest() {
    settings_ = {folder_ / "drop", "*.cnm", folder_ / "drop/Errors", folder_ / "nntp.log"};
    settings_.quiet_period = {};
    fs::create_directories(settings_.error_folder);
    WriteFile(settings_.drop_folder + "/a.cnm", kMessage);
    ShowNewsErrors(client_, board_);
    client_.SetSetting(NewsSetting::kServerHost, std::string("127.0.0.1"));
    relay_ = std::make_unique<RelayCycle>(board_, client_, [] {}, settings_);
  }

  // Runs one Action the way the window's event handlers do.
  bool Action(const std::string& port, std::int16_t timeout_seconds) {
    client_.SetSetting(NewsSetting::kServerPort, port);
    client_.SetSetting(NewsSetting::kTimeout, timeout_seconds);
    return RunEventHandler(board_, "Action", [&] { relay_->DoAction(); });
  }

  TempFolder folder_;
  RelaySettings settings_;
  MemoryStatusBoard board_;
  NntpClient client_;
  std::unique_ptr<RelayCycle> relay_;
};

TEST_F(RelayFaultTest, ServerGoneMidArticleThenTheNextActionPostsItOnce) {
  {
    FakeNntpServer server({Send("200 ready\r\n"), Expect("MODE READER\r\n"),
                           Send("200 reader\r\n"), Expect("POST\r\n"), Send("340 go ahead\r\n"),
                           ReadThrough("line one\r\n"), HangUp()});
    EXPECT_FALSE(Action(server.port_text(), 5));
    EXPECT_THAT(server.Received(), ::testing::Not(HasSubstr("\r\n.\r\n")));
  }
  EXPECT_TRUE(board_.Enabled());
  EXPECT_TRUE(board_.Visible(field::kStatusE));
  EXPECT_THAT(board_.Text(field::kStatusE), ::testing::StartsWith("Action failed: "));
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
  EXPECT_THAT(ReadFile(settings_.log_file), HasSubstr("\r\n"));  // logged before posting

  InnServer inn({"local.test"});
  EXPECT_TRUE(Action(inn.port_text(), 10));
  EXPECT_EQ(inn.Body("<interrupted@quillport.test>"), "line one\r\nline two\r\nline three\r\n");
  EXPECT_EQ(inn.ArticleCount("local.test"), 1);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors"));
  EXPECT_TRUE(fs::is_empty(settings_.error_folder));
  EXPECT_FALSE(board_.Visible(field::kStatusE));
}

TEST_F(RelayFaultTest, SilentServerTimesOutAndTheWindowComesBack) {
  FakeNntpServer server({Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"),
                         Expect("POST\r\n"), AwaitClose()},
                        std::chrono::seconds(10));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(Action(server.port_text(), 1));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
  EXPECT_TRUE(board_.Enabled());
  EXPECT_EQ(board_.MousePointer(), kPointerDefault);
  EXPECT_THAT(board_.Text(field::kStatusE), HasSubstr("(10060)"));
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
  EXPECT_FALSE(relay_->connection().Connected());
}

TEST_F(RelayFaultTest, HeadReplyThatNeverEndsStillEndsTheActionInTime) {
  std::vector<std::string> endless;  // 10 s of header lines, 50 ms apart
  for (int i = 0; i < 200; ++i) endless.push_back("X-Line: " + std::to_string(i) + "\r\n");
  FakeNntpServer server({Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"),
                         Expect("POST\r\n"), Send("340 go ahead\r\n"), ReadThrough("\r\n.\r\n"),
                         Send("441 refused\r\n"), Expect("Head <interrupted@quillport.test>\r\n"),
                         Send("221 0 <interrupted@quillport.test>\r\n"), SendPieces(endless),
                         AwaitClose()},
                        std::chrono::seconds(15));
  const auto started = std::chrono::steady_clock::now();
  EXPECT_FALSE(Action(server.port_text(), 2));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(6));
  EXPECT_TRUE(board_.Enabled());
  EXPECT_THAT(board_.Text(field::kStatusE), HasSubstr("(10060)"));
  // Neither deleted nor filed: the next Action asks again.
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
  EXPECT_TRUE(fs::is_empty(settings_.error_folder));
}

}  // namespace
}  // namespace quillport

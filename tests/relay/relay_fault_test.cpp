// The relay engine when the server is missing, drops the connection mid-article or stops answering:
// nothing may be lost, nothing posted twice, and the window must come back.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "board/board_fields.h"
#include "board/event_failure.h"
#include "board/memory_status_board.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/support/fake_nntp_server.h"
#include "tests/support/inn_server.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using namespace testing::fake;
using testing::FakeNntpServer;
using testing::FakeStep;
using testing::Names;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

class RelayFaultTest : public ::testing::Test {
 protected:
  RelayFaultTest() {
    settings_.quiet_period = {};
    fs::create_directories(settings_.error_folder);
    testing::WriteFile(settings_.drop_folder + "/a.cnm",
                       "From: a@example.org\r\nSubject: interrupted\r\nNewsgroups: local.test\r\n"
                       "Message-ID: <interrupted@quillport.test>\r\n\r\nline one\r\nline two\r\nline three\r\n");
    ShowNewsErrors(client_, board_);
    client_.SetSetting(NewsSetting::kServerHost, std::string("127.0.0.1"));
  }
  // Runs one Action the way the window's event handlers do; true when it completed.
  bool Action(const std::string& port, std::int16_t timeout_seconds) {
    client_.SetSetting(NewsSetting::kServerPort, port);
    client_.SetSetting(NewsSetting::kTimeout, timeout_seconds);
    return RunEventHandler(board_, "Action", [&] { relay_.DoAction(); });
  }
  // The window is usable again and the file still waits in the drop folder, neither deleted nor filed.
  void ExpectBackWithTheFileKept() {
    EXPECT_TRUE(board_.Enabled());
    EXPECT_EQ(board_.MousePointer(), kPointerDefault);
    EXPECT_TRUE(board_.Visible(field::kStatusE));
    EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
    EXPECT_TRUE(fs::is_empty(settings_.error_folder));
  }

  testing::TempFolder folder_;
  RelaySettings settings_{folder_ / "drop", "*.cnm", folder_ / "drop/Errors", folder_ / "nntp.log"};
  MemoryStatusBoard board_;
  NntpClient client_;
  RelayCycle relay_{board_, client_, [] {}, settings_};
};

TEST_F(RelayFaultTest, NoServerTouchesNothing) {
  std::string port;
  { port = FakeNntpServer({}).port_text(); }  // nothing listens there any more
  EXPECT_TRUE(Action(port, 5));  // the Action shows the failure itself
  EXPECT_THAT(board_.Text(field::kStatusH), ::testing::StartsWith("Unable To Connect To: 127.0.0.1 Error: "));
  EXPECT_THAT(board_.Text(field::kStatusE), ::testing::MatchesRegex(".+ \\([0-9]+\\)"));
  ExpectBackWithTheFileKept();
  EXPECT_FALSE(fs::exists(settings_.log_file));
  EXPECT_EQ(board_.Text(field::Info(6)), "0");
}

TEST_F(RelayFaultTest, ServerGoneMidArticleThenTheNextActionPostsItOnce) {
  {
    FakeNntpServer server({Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"), Expect("POST\r\n"),
                           Send("340 go ahead\r\n"), ReadThrough("line one\r\n"), HangUp()});
    EXPECT_FALSE(Action(server.port_text(), 5));
    EXPECT_THAT(server.Received(), ::testing::Not(HasSubstr("\r\n.\r\n")));
  }
  EXPECT_THAT(board_.Text(field::kStatusE), ::testing::StartsWith("Action failed: "));
  ExpectBackWithTheFileKept();
  EXPECT_THAT(testing::ReadFile(settings_.log_file), HasSubstr("\r\n"));  // logged before posting

  testing::InnServer inn({"local.test"});
  EXPECT_TRUE(Action(inn.port_text(), 10));
  EXPECT_EQ(inn.Body("<interrupted@quillport.test>"), "line one\r\nline two\r\nline three\r\n");
  EXPECT_EQ(inn.ArticleCount("local.test"), 1);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors"));
  EXPECT_TRUE(fs::is_empty(settings_.error_folder));
  EXPECT_FALSE(board_.Visible(field::kStatusE));
}

TEST_F(RelayFaultTest, SilentServerOrAHeadReplyThatNeverEndsStillEndsTheActionInTime) {
  std::vector<std::string> endless;  // 10 s of header lines, 50 ms apart
  for (int i = 0; i < 200; ++i) endless.push_back("X-Line: " + std::to_string(i) + "\r\n");
  const std::vector<FakeStep> silent = {Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"),
                                        Expect("POST\r\n"), AwaitClose()};
  std::vector<FakeStep> endless_head = silent;
  endless_head.pop_back();
  endless_head.insert(endless_head.end(), {Send("340 go ahead\r\n"), ReadThrough("\r\n.\r\n"), Send("441 refused\r\n"),
                                           Expect("Head <interrupted@quillport.test>\r\n"),
                                           Send("221 0 <interrupted@quillport.test>\r\n"), SendPieces(endless)});
  for (const auto& script : {silent, endless_head}) {
    FakeNntpServer server(script, std::chrono::seconds(15));
    const auto started = Steady::now();
    EXPECT_FALSE(Action(server.port_text(), 2));
    EXPECT_LT(Steady::now() - started, std::chrono::seconds(6));
    EXPECT_THAT(board_.Text(field::kStatusE), HasSubstr("(10060)"));
    EXPECT_FALSE(relay_.connection().Connected());
    ExpectBackWithTheFileKept();  // the next Action asks again
  }
}

}  // namespace
}  // namespace quillport

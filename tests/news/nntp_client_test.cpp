// The news client against a scripted fake server: the faults and exact wire bytes a real server will not show.
#include "news/nntp_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "tests/support/fake_nntp_server.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace testing::fake;
using testing::FakeStep;
using Clock = std::chrono::steady_clock;

const std::string kOpening = "MODE READER\r\n";

// Greeting and reader mode, then `rest`.
std::vector<FakeStep> Opened(std::vector<FakeStep> rest) {
  rest.insert(rest.begin(), {Send("200 news.test ready\r\n"), Expect(kOpening), Send("200 reader ready\r\n")});
  return rest;
}

// The number of the NewsError `call` throws; 0 when it throws none.
int ErrorOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const NewsError& error) {
    return error.number();
  }
  return 0;
}

class NntpClientTest : public ::testing::Test {
 protected:
  NntpClientTest() {
    client_.SetErrorHandler(
        [this](std::int16_t number, const std::string& text) { events_.emplace_back(number, text); });
  }
  void Serve(std::vector<FakeStep> script, std::int16_t timeout = 2) {
    server_ = std::make_unique<testing::FakeNntpServer>(std::move(script), 3s);
    client_.SetSetting(NewsSetting::kServerHost, "127.0.0.1"s);
    client_.SetSetting(NewsSetting::kServerPort, server_->port_text());
    client_.SetSetting(NewsSetting::kTimeout, timeout);
  }
  std::string ReadAll() {
    std::string text;
    for (int i = 0; client_.Readable() && i < 1000; ++i) text += client_.ReceivedText();
    return text;
  }

  std::unique_ptr<testing::FakeNntpServer> server_;
  NntpClient client_;
  std::vector<std::pair<int, std::string>> events_;
};

TEST_F(NntpClientTest, ConnectReturnsARefusalAsItsStatusAndLogsIn) {
  client_.SetSetting(NewsSetting::kUserName, "joe"s);
  client_.SetSetting(NewsSetting::kPassword, "pw"s);
  const auto login = [](std::vector<FakeStep> then) {
    then.insert(then.begin(), {Expect("AUTHINFO USER joe\r\n"), Send("381 More\r\n"), Expect("AUTHINFO PASS pw\r\n")});
    return Opened(then);
  };
  for (const auto& [script, status] : std::vector<std::pair<std::vector<FakeStep>, int>>{
           {{Send("502 No permission\r\n"), AwaitClose()}, 502},
           {{Send("hello\r\n"), AwaitClose()}, news_error::kProtocol},
           {login({Send("481 Authentication failed\r\n"), AwaitClose()}), 481},
           {login({Send("281 Ok\r\n"), Expect("QUIT\r\n"), Send("205 Bye\r\n")}), 0}}) {
    Serve(script);
    EXPECT_EQ(client_.Connect(), status);
    EXPECT_EQ(status == 0 ? client_.Disconnect() : 0, 0);
    EXPECT_EQ(server_->Finish(), "") << status;
  }
  ASSERT_EQ(events_.size(), 3u);
  EXPECT_EQ(events_[0], std::make_pair(502, "502 No permission"s));
  EXPECT_EQ(events_[1].first, news_error::kProtocol);
  EXPECT_EQ(events_[2], std::make_pair(481, "481 Authentication failed"s));
}

TEST_F(NntpClientTest, ASilentServerIsDroppedWhenTheTimeoutRunsOut) {
  auto start = Clock::now();
  auto within_timeout = [&] { return Clock::now() - start >= 900ms && Clock::now() - start < 3s; };
  Serve({AwaitClose()}, 1);  // never greets
  EXPECT_EQ(client_.Connect(), news_error::kTimedOut);
  EXPECT_TRUE(within_timeout());
  EXPECT_EQ(server_->Finish(), "");

  Serve(Opened({Expect("HEAD <a@b>\r\n"), Send("221 0 <a@b>\r\nSubject: x\r\n"), AwaitClose()}), 1);
  ASSERT_EQ(client_.Connect(), 0);
  client_.CommandText("HEAD <a@b>");
  EXPECT_EQ(client_.ReceivedText(), "Subject: x\r\n");
  start = Clock::now();
  EXPECT_EQ(ErrorOf([&] { client_.ReceivedText(); }), news_error::kTimedOut);  // stopped mid-reply
  EXPECT_TRUE(within_timeout());
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(ErrorOf([&] { client_.CommandText("DATE"); }), news_error::kNotConnected);

  // A reply that never ends, one line at a time: its one deadline runs out however it is read (by
  // bytes, by lines, or skipped by the next command).
  for (const auto& [by_lines, skipped] : {std::pair{false, false}, {true, false}, {false, true}}) {
    SCOPED_TRACE(::testing::Message() << "by lines " << by_lines << ", skipped " << skipped);
    Serve(Opened({Expect("HEAD <a@b>\r\n"), Send("221 0 <a@b>\r\n"), Dribble("X-Line: more\r\n", 300ms)}), 1);
    client_.SetSetting(NewsSetting::kReadLines, by_lines);
    ASSERT_EQ(client_.Connect(), 0);
    events_.clear();
    start = Clock::now();
    client_.CommandText("HEAD <a@b>");
    EXPECT_EQ(ErrorOf([&] { skipped ? client_.CommandText("DATE") : (void)ReadAll(); }), news_error::kTimedOut);
    EXPECT_TRUE(within_timeout());
    EXPECT_EQ(server_->Finish(), "");
    EXPECT_FALSE(client_.Readable());
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_[0].first, news_error::kTimedOut);
  }

  // A reply that came in full in time is read in full, however late.
  Serve(Opened({Expect("HEAD <a@b>\r\n"), SendPieces({"221 0 <a@b>\r\n", "Subject: x\r\n.\r\n"}), AwaitClose()}), 1);
  ASSERT_EQ(client_.Connect(), 0);
  client_.CommandText("HEAD <a@b>");
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(ReadAll(), "Subject: x\r\n.\r\n");
}

TEST_F(NntpClientTest, RepliesCutAnywhereAreReassembledAndBadCommandsAreNeverSent) {
  Serve({SendPieces({"2", "00 news", ".test ready\r", "\n"}), Expect(kOpening),
         SendPieces({"200 reader", " ready\r\n"}), Expect("HEAD <a@b>\r\n"),
         // The terminating line is cut up; the next reply follows it at once.
         SendPieces({"221 0 <a@b>\r\nSubject: hi\r", "\n..dot\r\n.", "\r", "\n223 0 <a@b>\r\n"}),
         Expect("STAT <a@b>\r\n"), Expect("QUIT\r\n"), SendPieces({"20", "5 bye\r\n"})});
  ASSERT_EQ(client_.Connect(), 0);
  for (const std::string& text : {"HEAD a\r\nQUIT"s, "HEAD a\nQUIT"s, "HEAD a\rQUIT"s, "HEAD a\0QUIT"s}) {
    EXPECT_EQ(ErrorOf([&] { client_.CommandText(text); }), news_error::kInvalidArgument);
  }
  client_.CommandText("HEAD <a@b>");
  EXPECT_EQ(client_.LastReply(), "221 0 <a@b>");
  EXPECT_EQ(ReadAll(), "Subject: hi\r\n..dot\r\n.\r\n");
  client_.CommandText("STAT <a@b>");
  EXPECT_EQ(client_.LastReply(), "223 0 <a@b>");
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + "HEAD <a@b>\r\nSTAT <a@b>\r\nQUIT\r\n");
}

TEST_F(NntpClientTest, ArticlesGoOutDotStuffedWithCrLfLineEndsAndNeverOversized) {
  const std::vector<FakeStep> post = {Expect("POST\r\n"), Send("340 Go ahead\r\n"), ReadThrough("\r\n.\r\n"),
                                      Send("240 Posted\r\n")};
  std::vector<FakeStep> script = Opened(post);
  script.insert(script.end(), post.begin(), post.end());
  script.insert(script.end(), {Expect("POST\r\n"), Send("340 Go ahead\r\n"), AwaitClose()});
  Serve(script);
  ASSERT_EQ(client_.Connect(), 0);
  const std::string longest(32767, 'a');
  std::string wire =
      kOpening + "POST\r\n..leading dot\r\ncut CR LF\r\n..after the cut\r\n" + longest + "\r\n.\r\nPOST\r\n";
  ASSERT_EQ(client_.BeginArticle(), 0);
  for (const std::string& piece : {".leading dot\r\ncut CR LF\r"s, "\n.after the cut\r\n"s, longest}) {
    client_.WriteText(piece);
  }
  EXPECT_EQ(client_.EndArticle(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);  // several times the size the client gathers before it writes
  for (int i = 0; i < 2500; ++i) {
    const std::string line = ".line " + std::to_string(i) + " of a long article, dot-stuffed on the wire\r\n";
    client_.WriteText(line);
    wire += "." + line;
  }
  EXPECT_EQ(client_.EndArticle(), 0);

  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("Subject: big\r\n");
  EXPECT_EQ(ErrorOf([&] { client_.WriteText(std::string(32768, 'b')); }), news_error::kOverflow);
  EXPECT_EQ(ErrorOf([&] { client_.EndArticle(); }), news_error::kNotConnected);  // dropped, never ended
  EXPECT_EQ(server_->Finish(), "");
  const std::string received = server_->Received();
  EXPECT_TRUE(received == wire + ".\r\nPOST\r\n") << "wire bytes differ; received " << received.size() << " bytes";
}

TEST_F(NntpClientTest, AnArticleCutShortIsNeverCompletedOnTheServer) {
  // The server hangs up while the article goes out: a later write fails.
  Serve(Opened({Expect("POST\r\n"), Send("340 Go ahead\r\n"), ReadThrough("first\r\n"), HangUp()}));
  ASSERT_EQ(client_.Connect(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("first\r\n");
  int written = 0;
  EXPECT_EQ(ErrorOf([&] {
              for (; written < 1000000; ++written) client_.WriteText("more and more text\r\n");
            }),
            news_error::kConnectionLost);
  EXPECT_LT(written, 1000000);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received().find("\r\n.\r\n"), std::string::npos);
  EXPECT_EQ(ErrorOf([&] { client_.EndArticle(); }), news_error::kNotConnected);

  // A refused article's text goes nowhere and its end returns the refusal; abandoning one, or none, changes
  // nothing. An abandoned article sends nothing of itself, and the connection goes.
  Serve(Opened({Expect("POST\r\n"), Send("440 Posting not permitted\r\n"), Expect("POST\r\n"),
                Send("440 Posting not permitted\r\n"), Expect("DATE\r\n"), Send("111 20240102030405\r\n"),
                Expect("POST\r\n"), Send("340 Go ahead\r\n"), AwaitClose()}));
  ASSERT_EQ(client_.Connect(), 0);
  client_.AbandonArticle();
  EXPECT_EQ(client_.BeginArticle(), 440);
  client_.WriteText("Subject: lost\r\n");
  EXPECT_EQ(client_.EndArticle(), 440);
  EXPECT_EQ(client_.BeginArticle(), 440);
  client_.AbandonArticle();
  EXPECT_EQ(ErrorOf([&] { client_.EndArticle(); }), news_error::kInvalidArgument);  // no article any more
  client_.CommandText("DATE");
  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("Subject: half\r\n\r\nthe first half\r\n");
  client_.AbandonArticle();
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + "POST\r\nPOST\r\nDATE\r\nPOST\r\n");
  EXPECT_EQ(ErrorOf([&] { client_.WriteText("the second half\r\n"); }), news_error::kNotConnected);
  client_.AbandonArticle();
}

}  // namespace
}  // namespace quillport

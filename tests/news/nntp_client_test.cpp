#include "news/nntp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/fake_nntp_server.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using testing::FakeNntpServer;
using testing::FakeStep;
namespace fake = testing::fake;
using Event = std::pair<std::int16_t, std::string>;
using Clock = std::chrono::steady_clock;

// The opening every script shares: greeting, MODE READER and its answer.
const std::string kOpening = "MODE READER\r\n";
std::vector<FakeStep> AfterOpening(std::vector<FakeStep> rest) {
  std::vector<FakeStep> script = {fake::Send("200 news.test ready\r\n"), fake::Expect(kOpening),
                                  fake::Send("200 reader ready\r\n")};
  script.insert(script.end(), rest.begin(), rest.end());
  return script;
}

template <typename Call>
NewsError Thrown(Call call) {
  try {
    call();
  } catch (const NewsError& error) {
    return error;
  }
  ADD_FAILURE() << "no NewsError was thrown";
  return NewsError(0, "");
}

class NntpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    client_.SetErrorHandler([this](std::int16_t number, const std::string& text) { events_.emplace_back(number, text); });
  }

  void Serve(std::vector<FakeStep> script, std::int16_t timeout = 2) {
    server_ = std::make_unique<FakeNntpServer>(std::move(script), 3s);
    client_.SetSetting(NewsSetting::kServerHost, "127.0.0.1"s);
    client_.SetSetting(NewsSetting::kServerPort, server_->port_text());
    client_.SetSetting(NewsSetting::kTimeout, timeout);
  }

  // Reads the pending reply to its end; the pieces as returned.
  std::vector<std::string> Drain() {
    std::vector<std::string> pieces;
    while (client_.Readable() && pieces.size() < 1000) pieces.push_back(client_.ReceivedText());
    return pieces;
  }

  std::unique_ptr<FakeNntpServer> server_;
  NntpClient client_;
  std::vector<Event> events_;
};

std::string Joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& piece : pieces) all += piece;
  return all;
}

TEST_F(NntpClientTest, SettingsAreTypeChecked) {
  EXPECT_EQ(client_.Setting(NewsSetting::kReaderMode), NewsValue(true));
  EXPECT_EQ(client_.Setting(NewsSetting::kTimeout), NewsValue(std::int16_t{30}));
  EXPECT_EQ(client_.Setting(NewsSetting::kReadSize), NewsValue(std::int16_t{1024}));
  EXPECT_EQ(client_.Setting(NewsSetting::kReadLines), NewsValue(false));
  EXPECT_EQ(client_.Setting(NewsSetting::kTrace), NewsValue(false));

  const std::vector<std::pair<NewsSetting, NewsValue>> refused = {
      {NewsSetting::kReaderMode, "true"s},         {NewsSetting::kTimeout, true},
      {NewsSetting::kServerPort, std::int16_t{119}}, {NewsSetting::kServerHost, false},
      {NewsSetting::kReadSize, "1024"s},            {NewsSetting::kTimeout, std::int16_t{0}},
      {NewsSetting::kReadSize, std::int16_t{-1}},    {static_cast<NewsSetting>(99), true}};
  for (const auto& [setting, value] : refused) {
    EXPECT_EQ(Thrown([&] { client_.SetSetting(setting, value); }).number(), news_error::kInvalidArgument)
        << static_cast<int>(setting);
  }
  ASSERT_EQ(events_.size(), refused.size());
  EXPECT_EQ(events_[1].first, news_error::kInvalidArgument);
  EXPECT_FALSE(events_[1].second.empty());
  EXPECT_EQ(client_.Setting(NewsSetting::kTimeout), NewsValue(std::int16_t{30}));  // unchanged

  client_.SetSetting(NewsSetting::kUserName, "joe"s);
  client_.SetSetting(NewsSetting::kReadSize, std::int16_t{7});
  client_.SetSetting(NewsSetting::kReadLines, true);
  EXPECT_EQ(client_.Setting(NewsSetting::kUserName), NewsValue("joe"s));
  EXPECT_EQ(client_.Setting(NewsSetting::kReadSize), NewsValue(std::int16_t{7}));
  EXPECT_EQ(client_.Setting(NewsSetting::kReadLines), NewsValue(true));
}

TEST_F(NntpClientTest, WithoutAConnectionEveryCallFails) {
  for (const NewsError& error : {Thrown([&] { client_.CommandText("DATE"); }),
                                 Thrown([&] { client_.ReceivedText(); }), Thrown([&] { client_.BeginArticle(); }),
                                 Thrown([&] { client_.WriteText("x"); }), Thrown([&] { client_.EndArticle(); })}) {
    EXPECT_EQ(error.number(), news_error::kNotConnected);
  }
  EXPECT_EQ(client_.Disconnect(), news_error::kNotConnected);
  EXPECT_FALSE(client_.Readable());
  EXPECT_EQ(events_.size(), 6u);
}

TEST_F(NntpClientTest, ARefusedOrFailedConnectReturnsAStatus) {
  Serve({fake::Send("502 You have no permission to talk\r\n"), fake::AwaitClose()});
  EXPECT_EQ(client_.Connect(), 502);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(events_.back(), Event(502, "502 You have no permission to talk"));

  Serve({fake::Send("200 hi\r\n"), fake::Expect(kOpening), fake::Send("400 Service discontinued\r\n"),
         fake::AwaitClose()});
  EXPECT_EQ(client_.Connect(), 400);
  EXPECT_EQ(server_->Finish(), "");

  Serve({fake::Send("hello there\r\n"), fake::AwaitClose()});
  EXPECT_EQ(client_.Connect(), news_error::kProtocol);
  EXPECT_EQ(server_->Finish(), "");

  server_->Stop();  // nothing listens at its port any more
  EXPECT_EQ(client_.Connect(), news_error::kRefused);

  for (const char* port : {"", "abc", "0", "65536", "119x", "-1"}) {
    client_.SetSetting(NewsSetting::kServerPort, std::string(port));
    EXPECT_EQ(client_.Connect(), news_error::kInvalidArgument) << port;
  }
  EXPECT_EQ(events_.size(), 10u);
}

// Captures what the client writes to standard error.
class CapturedStderr {
 public:
  CapturedStderr() : old_(std::cerr.rdbuf(text_.rdbuf())) {}
  ~CapturedStderr() { std::cerr.rdbuf(old_); }
  std::string text() const { return text_.str(); }

 private:
  std::ostringstream text_;
  std::streambuf* old_;
};

TEST_F(NntpClientTest, ConnectWaitsForReaderModeThenLogsIn) {
  Serve({fake::Send("201 hi\r\n"), fake::Expect(kOpening), fake::ExpectQuiet(300ms), fake::Send("200 reader\r\n"),
         fake::Expect("AUTHINFO USER joe\r\n"), fake::Send("381 Enter password\r\n"),
         fake::Expect("AUTHINFO PASS s3cret\r\n"), fake::Send("281 Authentication accepted\r\n"),
         fake::Expect("QUIT\r\n"), fake::Send("205 bye\r\n")});
  client_.SetSetting(NewsSetting::kUserName, "joe"s);
  client_.SetSetting(NewsSetting::kPassword, "s3cret"s);
  client_.SetSetting(NewsSetting::kTrace, true);
  std::string trace;
  {
    CapturedStderr captured;
    EXPECT_EQ(client_.Connect(), 0);
    EXPECT_EQ(client_.Disconnect(), 0);
    trace = captured.text();
  }
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_TRUE(events_.empty());
  EXPECT_NE(trace.find("AUTHINFO USER joe"), std::string::npos) << trace;
  EXPECT_EQ(trace.find("s3cret"), std::string::npos) << trace;
  client_.SetSetting(NewsSetting::kTrace, false);

  Serve(AfterOpening({fake::Expect("AUTHINFO USER joe\r\n"), fake::Send("381 Enter password\r\n"),
                      fake::Expect("AUTHINFO PASS s3cret\r\n"), fake::Send("481 Authentication failed\r\n"),
                      fake::AwaitClose()}));
  EXPECT_EQ(client_.Connect(), 481);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(events_.back(), Event(481, "481 Authentication failed"));

  // No reader mode, and a user name without a password: no login either.
  // A goodbye other than 205 is a non-zero status.
  client_.SetSetting(NewsSetting::kReaderMode, false);
  client_.SetSetting(NewsSetting::kPassword, ""s);
  Serve({fake::Send("200 hi\r\n"), fake::Expect("QUIT\r\n"), fake::Send("500 What?\r\n"), fake::AwaitClose()});
  EXPECT_EQ(client_.Connect(), 0);
  EXPECT_EQ(client_.Disconnect(), 500);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(Thrown([&] { client_.CommandText("DATE"); }).number(), news_error::kNotConnected);
}

TEST_F(NntpClientTest, ConnectWhileConnectedClosesTheOldConnectionFirst) {
  std::vector<FakeStep> script = AfterOpening({fake::AwaitClose(), fake::Accept()});
  for (const FakeStep& step : AfterOpening({fake::Expect("QUIT\r\n"), fake::Send("205 bye\r\n")})) {
    script.push_back(step);
  }
  Serve(script);
  EXPECT_EQ(client_.Connect(), 0);
  EXPECT_EQ(client_.Connect(), 0);
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + kOpening + "QUIT\r\n");
}

TEST_F(NntpClientTest, ASilentServerIsDroppedWhenTheTimeoutRunsOut) {
  auto within_bounds = [](Clock::time_point start) {
    const auto took = Clock::now() - start;
    return took >= 900ms && took < 2500ms;
  };

  Serve({fake::AwaitClose()}, 1);  // never greets
  auto start = Clock::now();
  EXPECT_EQ(client_.Connect(), news_error::kTimedOut);
  EXPECT_TRUE(within_bounds(start));
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(events_.back().first, news_error::kTimedOut);

  Serve(AfterOpening({fake::Expect("HEAD <a@b>\r\n"), fake::AwaitClose()}), 1);
  ASSERT_EQ(client_.Connect(), 0);
  start = Clock::now();
  EXPECT_EQ(Thrown([&] { client_.CommandText("HEAD <a@b>"); }).number(), news_error::kTimedOut);
  EXPECT_TRUE(within_bounds(start));
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(Thrown([&] { client_.CommandText("DATE"); }).number(), news_error::kNotConnected);

  Serve(AfterOpening({fake::Expect("BODY <a@b>\r\n"), fake::Send("222 0 <a@b>\r\nline\r\n"), fake::AwaitClose()}), 1);
  ASSERT_EQ(client_.Connect(), 0);
  client_.CommandText("BODY <a@b>");
  EXPECT_EQ(client_.ReceivedText(), "line\r\n");
  start = Clock::now();
  EXPECT_EQ(Thrown([&] { client_.ReceivedText(); }).number(), news_error::kTimedOut);
  EXPECT_TRUE(within_bounds(start));
  EXPECT_FALSE(client_.Readable());
  EXPECT_EQ(server_->Finish(), "");

  // A server that stops reading in the middle of an article: once the
  // socket buffers are full, a write runs out of time.
  Serve(AfterOpening({fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"), fake::Idle(2500ms)}), 1);
  ASSERT_EQ(client_.Connect(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);
  const std::string piece(32000, 'x');
  const NewsError error = Thrown([&] {
    for (int i = 0; i < 4000; ++i) {
      start = Clock::now();
      client_.WriteText(piece);
    }
  });
  EXPECT_EQ(error.number(), news_error::kTimedOut);
  EXPECT_TRUE(within_bounds(start));
  EXPECT_EQ(Thrown([&] { client_.EndArticle(); }).number(), news_error::kNotConnected);
  server_->Stop();
}

TEST_F(NntpClientTest, RepliesCutIntoSegmentsAreReassembled) {
  Serve({fake::SendPieces({"2", "00 news", ".test ready\r", "\n"}), fake::Expect(kOpening),
         fake::SendPieces({"200 reader", " ready\r\n"}), fake::Expect("HEAD <a@b>\r\n"),
         fake::SendPieces({"221 0 <a@b>\r\nSubject: hi\r", "\n..dot\r\n.", "\r", "\n"}), fake::Expect("QUIT\r\n"),
         fake::SendPieces({"20", "5 bye\r\n"})});
  ASSERT_EQ(client_.Connect(), 0);
  client_.CommandText("HEAD <a@b>");
  EXPECT_EQ(client_.LastReply(), "221 0 <a@b>");
  const std::vector<std::string> pieces = Drain();
  EXPECT_EQ(Joined(pieces), "Subject: hi\r\n..dot\r\n.\r\n");
  EXPECT_GT(pieces.size(), 1u);
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
}

TEST_F(NntpClientTest, AMultiLineReplyIsDrainedPieceByPieceUpToItsEnd) {
  const std::string body = "Path: x\r\nSubject: dots\r\n..starts with a dot\r\n.\r\n";
  // Each reply comes with the answer to the following command right behind
  // it, so a client that read past the end would lose or misplace it.
  Serve(AfterOpening({fake::Expect("HEAD <1@x>\r\n"), fake::Send("221 0 <1@x>\r\n" + body + "223 0 <1@x>\r\n"),
                      fake::Expect("STAT <1@x>\r\n"), fake::Expect("HEAD <1@x>\r\n"),
                      fake::Send("221 0 <1@x>\r\n" + body + "211 2 1 2 local.test\r\n"),
                      fake::Expect("GROUP local.test\r\n"), fake::Expect("HEAD <1@x>\r\n"),
                      fake::Send("221 0 <1@x>\r\n" + body), fake::Expect("DATE\r\n"),
                      fake::Send("111 20240101000000\r\n")}));
  ASSERT_EQ(client_.Connect(), 0);

  client_.SetSetting(NewsSetting::kReadSize, std::int16_t{7});
  client_.CommandText("HEAD <1@x>");
  const std::vector<std::string> pieces = Drain();
  for (const std::string& piece : pieces) EXPECT_LE(piece.size(), 7u) << piece;
  EXPECT_EQ(Joined(pieces), body);
  EXPECT_EQ(client_.ReceivedText(), "");
  client_.CommandText("STAT <1@x>");
  EXPECT_EQ(client_.LastReply(), "223 0 <1@x>");
  EXPECT_FALSE(client_.Readable());

  client_.SetSetting(NewsSetting::kReadLines, true);
  client_.CommandText("HEAD <1@x>");
  EXPECT_EQ(Drain(), (std::vector<std::string>{"Path: x\r\n", "Subject: dots\r\n", "..starts with a dot\r\n", ".\r\n"}));
  client_.CommandText("GROUP local.test");  // 211 has no body after GROUP
  EXPECT_FALSE(client_.Readable());

  // A reply left unread is skipped before the next command.
  client_.CommandText("HEAD <1@x>");
  EXPECT_EQ(client_.ReceivedText(), "Path: x\r\n");
  client_.CommandText("DATE");
  EXPECT_EQ(client_.LastReply(), "111 20240101000000");
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_TRUE(events_.empty());
}

TEST_F(NntpClientTest, CommandTextRefusesLineBreaksAndReportsServerRefusals) {
  Serve(AfterOpening({fake::Expect("HEAD <gone@x>\r\n"), fake::Send("430 No such article\r\n"),
                      fake::Expect("DATE\r\n"), fake::Send("111 20240101000000\r\n"), fake::Expect("QUIT\r\n"),
                      fake::Send("205 bye\r\n")}));
  ASSERT_EQ(client_.Connect(), 0);
  for (const std::string& text : {"HEAD a\r\nQUIT"s, "HEAD a\nQUIT"s, "HEAD a\rQUIT"s, "HEAD a\0QUIT"s}) {
    EXPECT_EQ(Thrown([&] { client_.CommandText(text); }).number(), news_error::kInvalidArgument);
  }
  const NewsError refusal = Thrown([&] { client_.CommandText("HEAD <gone@x>"); });
  EXPECT_EQ(refusal.number(), 430);
  EXPECT_EQ(refusal.description(), "430 No such article");
  EXPECT_EQ(events_.back(), Event(430, "430 No such article"));
  EXPECT_FALSE(client_.Readable());

  client_.CommandText("DATE");  // the connection goes on
  EXPECT_FALSE(client_.Readable());
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + "HEAD <gone@x>\r\nDATE\r\nQUIT\r\n");
  EXPECT_EQ(events_.size(), 5u);
}

TEST_F(NntpClientTest, ArticleTextIsDotStuffedAndItsLineEndsNormalised) {
  Serve(AfterOpening({fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"), fake::ReadThrough("\r\n.\r\n"),
                      fake::Send("240 Article posted\r\n"), fake::Expect("QUIT\r\n"), fake::Send("205 bye\r\n")}));
  ASSERT_EQ(client_.Connect(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);
  for (const char* piece : {"Newsgroups: local.test\r\nSubject: x\r\n\r\n", ".leading dot\r\n",
                            "lone LF\nlone CR\rcut CR LF\r", "\n.after the cut", "\r\n.\r\nQUIT\r\n", "unfinished"}) {
    client_.WriteText(piece);
  }
  EXPECT_EQ(client_.EndArticle(), 0);
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening +
                                     "POST\r\n"
                                     "Newsgroups: local.test\r\nSubject: x\r\n\r\n"
                                     "..leading dot\r\n"
                                     "lone LF\r\nlone CR\r\ncut CR LF\r\n"
                                     "..after the cut\r\n"
                                     "..\r\nQUIT\r\n"
                                     "unfinished\r\n"
                                     ".\r\n"
                                     "QUIT\r\n");
}

TEST_F(NntpClientTest, RefusedArticlesReturnTheReplyCode) {
  Serve(AfterOpening({fake::Expect("POST\r\n"), fake::Send("440 Posting not permitted\r\n"),
                      fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"), fake::ReadThrough("\r\n.\r\n"),
                      fake::Send("441 435 Duplicate\r\n"), fake::Expect("QUIT\r\n"), fake::Send("205 bye\r\n")}));
  ASSERT_EQ(client_.Connect(), 0);
  EXPECT_EQ(client_.BeginArticle(), 440);
  client_.WriteText("Subject: lost\r\n");  // discarded: nothing goes out
  EXPECT_EQ(client_.EndArticle(), 440);
  EXPECT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("Subject: again\r\n");
  EXPECT_EQ(client_.EndArticle(), 441);
  EXPECT_EQ(client_.Disconnect(), 0);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + "POST\r\nPOST\r\nSubject: again\r\n.\r\nQUIT\r\n");
  EXPECT_EQ(events_, (std::vector<Event>{{440, "440 Posting not permitted"},
                                         {440, "440 Posting not permitted"},
                                         {441, "441 435 Duplicate"}}));
}

TEST_F(NntpClientTest, AnOversizedPieceFailsBeforeAnyOfItIsSentAndDropsTheArticle) {
  Serve(AfterOpening({fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"), fake::ReadThrough("\r\n.\r\n"),
                      fake::Send("240 Article posted\r\n"), fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"),
                      fake::AwaitClose()}));
  ASSERT_EQ(client_.Connect(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText(std::string(32767, 'a'));
  EXPECT_EQ(client_.EndArticle(), 0);

  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("Subject: big\r\n");
  EXPECT_EQ(Thrown([&] { client_.WriteText(std::string(32768, 'b')); }).number(), news_error::kOverflow);
  EXPECT_EQ(events_.back().first, news_error::kOverflow);
  EXPECT_EQ(Thrown([&] { client_.EndArticle(); }).number(), news_error::kNotConnected);
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_EQ(server_->Received(), kOpening + "POST\r\n" + std::string(32767, 'a') + "\r\n.\r\nPOST\r\nSubject: big\r\n");
}

TEST_F(NntpClientTest, AConnectionDroppedByTheServerMidArticleFailsTheArticle) {
  Serve(AfterOpening({fake::Expect("POST\r\n"), fake::Send("340 go ahead\r\n"), fake::ReadThrough("first\r\n"),
                      fake::HangUp()}));
  ASSERT_EQ(client_.Connect(), 0);
  ASSERT_EQ(client_.BeginArticle(), 0);
  client_.WriteText("first\r\n");
  const auto start = Clock::now();
  const NewsError error = Thrown([&] {
    for (int i = 0; i < 100; ++i) client_.WriteText("more\r\n");
    client_.EndArticle();
  });
  EXPECT_EQ(error.number(), news_error::kConnectionLost) << error.description();
  EXPECT_LT(Clock::now() - start, 1500ms);
  EXPECT_EQ(Thrown([&] { client_.WriteText("more\r\n"); }).number(), news_error::kNotConnected);
  EXPECT_EQ(server_->Finish(), "");
}

}  // namespace
}  // namespace quillport

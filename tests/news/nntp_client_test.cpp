// The news client against a scripted fake server: the faults and exact wire bytes a real server will not show.
#include "news/nntp_client.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <thread>

#include "tests/testing/fake_nntp_server.h"

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

// The number of the NewsError `call` throws (its shown text in `text`), or 0.
int ErrorOf(const std::function<void()>& call, std::string* text = nullptr) {
  try {
    call();
  } catch (const NewsError& error) {
    if (text != nullptr) *text = FailureLine(error);
    return error.number();
  }
  return 0;
}

// 0 when a step went through, else the refusing reply code (its shown text in `text`).
int CodeOf(const std::optional<Refusal>& refusal, std::string* text = nullptr) {
  if (refusal && text != nullptr) *text = FailureLine(*refusal);
  return refusal ? refusal->code : 0;
}

// Deadlines not under test leave room for a loaded or sanitized run; the fake server outwaits a tested one.
class NntpClientTest : public ::testing::Test {
 protected:
  void Serve(std::vector<FakeStep> script, int timeout = 20, bool read_lines = false) {
    server_ = std::make_unique<testing::FakeNntpServer>(std::move(script));
    options_.host = "127.0.0.1", options_.port = server_->port_text();
    options_.timeout = std::chrono::seconds(timeout), options_.read_lines = read_lines;
    client_.Configure(options_);
  }
  std::string ReadAll() {
    std::string text;
    for (int i = 0; client_.Readable() && i < 1000; ++i) text += client_.ReceivedText();
    return text;
  }

  std::unique_ptr<testing::FakeNntpServer> server_;
  NewsOptions options_;
  NntpClient client_;
};

TEST_F(NntpClientTest, ConnectReturnsARefusalThrowsAFailureAndLogsIn) {
  options_.user = "joe", options_.password = "pw";
  const auto login = [](std::vector<FakeStep> then) {
    then.insert(then.begin(), {Expect("AUTHINFO USER joe\r\n"), Send("381 More\r\n"), Expect("AUTHINFO PASS pw\r\n")});
    return Opened(then);
  };
  std::vector<std::string> refused;
  for (const auto& [script, status] : std::vector<std::pair<std::vector<FakeStep>, int>>{
           {{Send("502 No permission\r\n"), AwaitClose()}, 502},
           {login({Send("481 Authentication failed\r\n"), AwaitClose()}), 481},
           {login({Send("281 Ok\r\n"), Expect("QUIT\r\n"), Send("205 Bye\r\n")}), 0}}) {
    Serve(script);
    EXPECT_EQ(CodeOf(client_.Connect(), &refused.emplace_back()), status);
    EXPECT_EQ(status == 0 ? CodeOf(client_.Disconnect()) : 0, 0);
    EXPECT_EQ(server_->Finish(), "") << status;
  }
  EXPECT_EQ(refused, (std::vector<std::string>{"502 No permission", "481 Authentication failed", ""}));
  // A greeting that is not a news server's is a failure, not a refusal, and says what answered.
  for (const std::string greeting : {"hello", "220 mail.test ESMTP\x1b"}) {
    Serve({Send(greeting + "\r\n"), AwaitClose()});
    std::string text;
    EXPECT_EQ(ErrorOf([&] { client_.Connect(); }, &text), news_error::kProtocol);
    EXPECT_EQ(text, "127.0.0.1:" + options_.port + " is not a news server (it answered: " + Printable(greeting) +
                        ") (10200)");
    EXPECT_EQ(server_->Finish(), "");
  }
}

TEST_F(NntpClientTest, ASilentServerIsDroppedWhenTheTimeoutRunsOut) {
  auto start = Clock::now();
  // Never before the deadline; after it, only as late as a loaded machine may make it.
  auto within_timeout = [&] { return Clock::now() - start >= 900ms && Clock::now() - start < 15s; };
  Serve({AwaitClose()}, 1);  // never greets
  EXPECT_EQ(ErrorOf([&] { client_.Connect(); }), news_error::kTimedOut);
  EXPECT_TRUE(within_timeout());
  EXPECT_EQ(server_->Finish(), "");

  // A reply that stops, or never ends: its deadline runs out however it is read, and the connection is dropped.
  for (const auto& [dribble, by_lines, skipped] :
       {std::tuple{false, false, false}, {true, false, false}, {true, true, false}, {true, false, true}}) {
    SCOPED_TRACE(::testing::Message() << "dribble " << dribble << ", by lines " << by_lines << ", skipped " << skipped);
    Serve(Opened({Expect("HEAD <a@b>\r\n"), Send("221 0 <a@b>\r\nSubject: x\r\n"),
                  dribble ? FakeStep{FakeStep::Kind::kAwaitClose, {"X-Line: more\r\n"}, 300ms} : AwaitClose()}),
          1, by_lines);
    ASSERT_EQ(CodeOf(client_.Connect()), 0);
    start = Clock::now();
    client_.Command("HEAD <a@b>");
    if (!dribble) {
      EXPECT_EQ(client_.ReceivedText(), "Subject: x\r\n");  // what came before the silence
    }
    EXPECT_EQ(ErrorOf([&] { skipped ? (void)client_.Command("DATE") : (void)ReadAll(); }), news_error::kTimedOut);
    EXPECT_TRUE(within_timeout());
    EXPECT_EQ(server_->Finish(), "");
    EXPECT_FALSE(client_.Readable());
    EXPECT_EQ(ErrorOf([&] { client_.Command("DATE"); }), news_error::kNotConnected);
  }

  // A reply that came in full in time is read in full, however late.
  Serve(Opened({Expect("HEAD <a@b>\r\n"), SendPieces({"221 0 <a@b>\r\n", "Subject: x\r\n.\r\n"}), AwaitClose()}), 1);
  ASSERT_EQ(CodeOf(client_.Connect()), 0);
  client_.Command("HEAD <a@b>");
  std::this_thread::sleep_for(3s);  // the second piece comes 50 ms after the first, the deadline after 1 s
  EXPECT_EQ(ReadAll(), "Subject: x\r\n.\r\n");
}

// Cut replies are put together again; articles reach the wire whole; a piece too long drops the connection.
TEST_F(NntpClientTest, CutRepliesBadCommandsAndArticlesWholeAndNeverOversized) {
  Serve({SendPieces({"2", "00 news", ".test ready\r", "\n"}), Expect(kOpening),
         SendPieces({"200 reader", " ready\r\n"}), Expect("HEAD <a@b>\r\n"),
         // The terminating line is cut up; the next reply follows it at once.
         SendPieces({"221 0 <a@b>\r\nSubject: hi\r", "\n..dot\r\n.", "\r", "\n223 0 <a@b>\r\n"}),
         Expect("STAT <a@b>\r\n"), Expect("POST\r\n"), Send("340 Go ahead\r\n"), ReadThrough("\r\n.\r\n"),
         Send("240 Posted\r\n"), Expect("POST\r\n"), Send("340 Go ahead\r\n"), AwaitClose()});
  ASSERT_EQ(CodeOf(client_.Connect()), 0);
  for (const std::string& text : {"HEAD a\r\nQUIT"s, "HEAD a\nQUIT"s, "HEAD a\rQUIT"s, "HEAD a\0QUIT"s}) {
    EXPECT_EQ(ErrorOf([&] { client_.Command(text); }), news_error::kInvalidArgument);
  }
  client_.Command("HEAD <a@b>");
  EXPECT_EQ(client_.LastReply(), "221 0 <a@b>");
  EXPECT_EQ(ReadAll(), "Subject: hi\r\n..dot\r\n.\r\n");
  client_.Command("STAT <a@b>");
  EXPECT_EQ(client_.LastReply(), "223 0 <a@b>");

  const std::string longest = std::string(32765, 'a') + "\r\n";
  std::string wire = kOpening + "HEAD <a@b>\r\nSTAT <a@b>\r\nPOST\r\n" + longest;
  ASSERT_EQ(CodeOf(client_.BeginArticle()), 0);  // several times the size the client gathers before it writes
  client_.WriteText(longest);
  for (int i = 0; i < 2500; ++i) {
    const std::string line = ".line " + std::to_string(i) + " of a long article, dot-stuffed on the wire\r\n";
    client_.WriteText(line);
    wire += "." + line;
  }
  EXPECT_EQ(CodeOf(client_.EndArticle()), 0);

  ASSERT_EQ(CodeOf(client_.BeginArticle()), 0);
  EXPECT_EQ(ErrorOf([&] { client_.WriteText(std::string(32768, 'b')); }), news_error::kOverflow);
  EXPECT_EQ(ErrorOf([&] { client_.EndArticle(); }), news_error::kNotConnected);  // dropped, never ended
  EXPECT_EQ(server_->Finish(), "");
  EXPECT_TRUE(server_->Received() == wire + ".\r\nPOST\r\n") << "wire bytes differ";
}

}  // namespace
}  // namespace quillport

// The relay engine with the real news client end to end against a private INN, and against servers that are
// missing, see an article abandoned or refuse the session: nothing lost, nothing posted twice, the texts shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "app/board_listener.h"
#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "common/number_format.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/testing/fake_nntp_server.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using namespace testing::fake;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeNntpServer;
using testing::FakeStep;
using ::testing::HasSubstr;
using testing::Names;
using ::testing::Not;
using testing::ReadFile;
namespace fs = std::filesystem;

// The board's listener, keeping the engine's record lines as the system log gets them.
struct RecordingBoardListener : BoardListener {
  using BoardListener::BoardListener;
  std::vector<std::string> records;
  void Recorded(const RecordLine& line) override {
    records.push_back("<" + std::to_string(7 * 8 + line.severity) + ">quillport[1]: " + line.text);
  }
};

// The engine's state is drawn on a board in memory as the window draws it.
class RelayServerTest : public ::testing::Test {
 protected:
  RelayServerTest() { fs::create_directories(settings_.error_folder); }
  bool Action(const std::string& port, int timeout_seconds) {
    NewsOptions options;
    options.host = "127.0.0.1", options.port = port, options.timeout = std::chrono::seconds(timeout_seconds);
    client_.Configure(options);
    const ActionReport report = relay_.DoAction(ActionTrigger::kArrival);
    shown_.ActionEnded(report);  // as the engine's thread does once the Action is over
    return !report.broken_off;
  }
  std::string Text(const std::string& control) const { return board_.Text(control); }

  testing::TempFolder folder_;
  RelaySettings settings_{folder_ / "_M2News",
                          "*.cnm",
                          folder_ / "_M2News/Errors",
                          folder_ / "~NNTP.log",
                          std::chrono::milliseconds(100),
                          {}};
  MemoryStatusBoard board_;
  RecordingBoardListener shown_{board_};
  NntpClient client_;
  RelayCycle relay_{client_, shown_, settings_};
};

struct Message {
  std::string name, bytes;
};

std::string Ordinary(const std::string& id, const std::string& body) {
  const std::string transport =
      "Received: from mail.example by relay.example\r\n\tfor <list@example>; Sun, 6 Dec 2026 09:00:00 +0000\r\n"
      "Return-path: <sender@example.org>\r\nX-Envelope-To: list@example\r\nTo: list@example\r\nCC: other@example\r\n"
      "Date: Sun, 6 Dec 2026 09:00:00 +0000\r\nFrom: Sender <sender@example.org>\r\n";
  return transport + "Subject: corpus " + id + "\r\nNewsgroups: local.test\r\nMessage-ID: <" + id +
         "@quillport.test>\r\n\r\n" + body;
}

// From, `fields`, the Message-ID <id@quillport.test>, then `rest`.
std::string Plain(const std::string& fields, const std::string& id, const std::string& rest = "\r\n\r\nbody\r\n") {
  return "From: a@example.org\r\n" + fields + "Message-ID: <" + id + "@quillport.test>" + rest;
}

const std::vector<Message> kCorpus = {
    {"01-ordinary.cnm", Ordinary("ordinary", "First line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n")},
    {"02-emptyline.cnm", Ordinary("emptyline", "\r\n")},
    {"02-nobody.cnm", Ordinary("nobody", "")},
    {"04-Unknown.CNM", Plain("Subject: nowhere\r\nNewsgroups: local.nowhere\r\n", "unknown1")},
    {"04-unknown.cnm", Plain("Subject: nowhere\r\nNewsgroups: local.nowhere\r\n", "unknown2")},
    {"05-nogroups.cnm", Plain("Subject: no groups\r\n", "nogroups")},
    {"06-neverends.cnm", Plain("Newsgroups: local.test\r\n", "neverends", "\r\n")},
    {"07-lfonly.cnm",
     "From: a@example.org\nSubject: lf only\nNewsgroups: local.test\nMessage-ID: <lfonly@quillport.test>\n\nbody\n"},
    {"08-empty.cnm", ""},
    {"08-lonelf.cnm", "Subject: hidden\nTo: secret@corp.example\nReceived: from internal.corp\r\n\tby relay\r\n" +
                          Plain("Newsgroups: local.test\r\n", "lonelf")},
    {"09-nospam.cnm",
     "X-Envelope-To: list_NoSpam@example\r\nFrom: A. User <a.user@host>\r\nSubject: disguised\r\n"
     "Newsgroups: local.test\r\nMessage-ID: <nospam@quillport.test>\r\n\r\nHello.\r\n"},
    // A field name ends at its colon: what follows may be a TAB or nothing.
    {"11-tabs.cnm",
     "To:\tsecret@internal.example\r\nDate:\tSun, 6 Dec 2026 09:00:00 +0000\r\nReceived:from "
     "internal.example\r\nFrom: a@example.org\r\nSubject: tabs\r\nNewsgroups:\tlocal.test\r\n"
     "Message-ID:\t<tabs@quillport.test>\r\n\r\nbody\r\n"},
    // Malformed: the second id is one the server holds, yet this message is new.
    {"12-twoids.cnm", Plain("Subject: two ids\r\nNewsgroups: local.test\r\n", "twoids",
                            "\r\nMessage-ID: <ordinary@quillport.test>\r\n\r\nbody\r\n")},
};

class RelayInnTest : public RelayServerTest {
 protected:
  void DropCorpus() {
    fs::create_directories(settings_.drop_folder + "/10-folder.cnm");
    for (const Message& m : kCorpus) testing::WriteFile(settings_.drop_folder + "/" + m.name, m.bytes);
  }
  testing::InnServer inn_{{"local.test"}};
};

// The system log's lines as "severity: text" (news facility only), with the folders written D and E.
std::vector<std::string> OutcomeLines(const std::vector<std::string>& messages, const RelaySettings& settings) {
  std::vector<std::string> lines;
  for (std::string message : messages) {
    EXPECT_THAT(message, ::testing::MatchesRegex("<5[6-9]>.*quillport\\[[0-9]+\\]: .*|<6[0-3]>.*"));
    const int severity = std::atoi(message.c_str() + 1) - 7 * 8;
    const char* names[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
    message.replace(0, message.find("]: ") + 3, std::string(names[severity & 7]) + ": ");
    for (const auto& [folder, name] : {std::pair(settings.error_folder, "E"), std::pair(settings.drop_folder, "D")}) {
      for (std::size_t at; (at = message.find(folder)) != std::string::npos;) message.replace(at, folder.size(), name);
    }
    lines.push_back(message);
  }
  return lines;
}

TEST_F(RelayInnTest, OneCorpusEveryOutcomeThenTheSameCorpusAgain) {
  DropCorpus();
  EXPECT_TRUE(Action(inn_.port_text(), 30));

  // Posted, and stored byte for byte as built: transport headers gone.
  EXPECT_EQ(inn_.Body("<ordinary@quillport.test>"),
            "First line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n");
  EXPECT_EQ(inn_.Body("<emptyline@quillport.test>"), "\r\n");
  // The header stored for `id` holds each of `kept` and none of `gone`.
  const auto stored_head = [&](const std::string& id, std::vector<std::string> kept, std::vector<std::string> gone) {
    const std::string head = inn_.Head("<" + id + "@quillport.test>").value_or("");
    for (const std::string& text : kept) EXPECT_THAT(head, HasSubstr(text)) << id;
    for (const std::string& text : gone) EXPECT_THAT(head, Not(HasSubstr(text))) << id;
  };
  stored_head("ordinary", {"From: Sender <sender@example.org>\r\n", "Subject: corpus ordinary\r\n"},
              {"Received:", "Return-path:", "X-Envelope-To:", "To: list", "CC:"});
  // Never posted; a stock INN refuses (441) an article without a body and the disguised From line.
  for (const char* id : {"<unknown1@", "<nogroups@", "<neverends@", "<nobody@", "<nospam@", "<twoids@"}) {
    EXPECT_EQ(inn_.Head(id + std::string("quillport.test>")), std::nullopt) << id;
  }
  // Lone LFs in a kept header line cannot carry dropped headers along; nor can a TAB after the colon.
  stored_head("lonelf", {"Subject: hidden\r\n"}, {"secret@corp", "internal.corp"});
  stored_head("tabs", {"Subject: tabs\r\n"}, {"secret@", "internal.example", "Date:\t"});
  // LF line ends are line ends: posted like its CR LF twin.
  EXPECT_EQ(inn_.Body("<lfonly@quillport.test>"), "body\r\n");
  EXPECT_EQ(inn_.ArticleCount("local.test"), 5);

  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  EXPECT_THAT(Names(settings_.error_folder), ElementsAre("02-nobody.cnm", "04-unknown.cnm", "09-nospam.cnm",
                                                         "12-twoids.cnm", ::testing::MatchesRegex("~col.{4}\\.cnm")));
  EXPECT_THAT(ReadFile(settings_.error_folder + "/09-nospam.cnm"), HasSubstr("From: A. User <a.user@host>"));

  // One log record per non-empty file.
  const std::string log = ReadFile(settings_.log_file);
  const std::regex record("#\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d#,\"\\d{7,}\"\r\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), record), {}), 12);
  std::int64_t bytes = 0;
  for (const Message& m : kCorpus) bytes += static_cast<std::int64_t>(m.bytes.size());
  EXPECT_EQ(Text(field::Info(5)) + "|" + Text(field::Info(6)) + "|" + Text(field::Info(7)) + "|" + Text(field::Info(8)),
            FormatNumber(bytes, kPattern12) + "|12|0|1");
  EXPECT_TRUE(board_.Visible(field::kImgGoo) && board_.Visible(field::kImgBad));
  EXPECT_EQ(Text(field::Info(3)) + "|" + Text(field::Info(4)), "|0");
  EXPECT_EQ(board_.BackColor(field::Info(3)), colour::kIdle);
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  EXPECT_TRUE(board_.Visible(field::kStatusE));  // the last failure stays in view after the disconnect
  EXPECT_THAT(Text(field::kStatusE), HasSubstr("12-twoids.cnm holds 2 Message-ID headers"));

  // The same corpus again: nothing posted twice, duplicates deleted, refused messages whose very bytes are filed
  // already not filed twice.
  DropCorpus();
  EXPECT_TRUE(Action(inn_.port_text(), 30));
  EXPECT_EQ(inn_.ArticleCount("local.test"), 5);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  EXPECT_EQ(Names(settings_.error_folder).size(), 5u);
  EXPECT_EQ(Text(field::Info(6)) + "|" + Text(field::Info(9)) + "|" + Text(field::Info(10)) + "|" +
                Text(field::Info(12)) + "|" + Text(field::kTimNbT),
            "12|" + FormatNumber(2 * bytes, kPattern12) + "|24|2|2");

  // The system log: one line per message and outcome, each Action ended by its counts.
  const std::vector<std::string> lines = OutcomeLines(shown_.records, settings_);
  std::vector<::testing::Matcher<std::string>> expected;
  for (const bool again : {false, true}) {
    const auto posted = [again](const std::string& name, const std::string& id) {
      const std::string message_id = "Message-ID <" + id + "@quillport.test>";
      return "notice: D/" + name +
             (again ? ": already on the server (" + message_id + "), deleted" : ": posted, " + message_id);
    };
    const auto filed = [](const std::string& name) {
      return ::testing::MatchesRegex("warning: D/" + name + ": refused and filed as E/.+\\.cnm: .+");
    };
    expected.insert(
        expected.end(),
        {posted("01-ordinary.cnm", "ordinary"), posted("02-emptyline.cnm", "emptyline"), filed("02-nobody.cnm"),
         filed("04-Unknown.CNM"), filed("04-unknown.cnm"),
         "warning: D/05-nogroups.cnm: deleted unposted: no Newsgroups header",
         "warning: D/06-neverends.cnm: deleted unposted: the header never ends", posted("07-lfonly.cnm", "lfonly"),
         "info: D/08-empty.cnm: left in place: empty", posted("08-lonelf.cnm", "lonelf"), filed("09-nospam.cnm"),
         posted("11-tabs.cnm", "tabs"),
         ::testing::MatchesRegex("warning: D/12-twoids.cnm: filed unposted: .* holds 2 Message-ID headers .*"),
         std::string("info: action ended: ") + (again ? "0 posted, 5" : "5 posted, 0") +
             " already on the server, 5 filed, 2 deleted unposted, 1 left in place"});
  }
  EXPECT_THAT(lines, ElementsAreArray(expected));
}

// A fake server's script: greeting, reader mode and POST, then `rest`.
std::vector<FakeStep> Posting(std::vector<FakeStep> rest) {
  rest.insert(rest.begin(),
              {Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"), Expect("POST\r\n")});
  return rest;
}

class RelayFaultTest : public RelayServerTest {
 protected:
  RelayFaultTest() {
    testing::WriteFile(settings_.drop_folder + "/a.cnm",
                       "From: a@example.org\r\nSubject: interrupted\r\nNewsgroups: local.test\r\n"
                       "Message-ID: <interrupted@quillport.test>\r\n\r\nline one\r\nline two\r\nline three\r\n");
  }
  // The failure is in view and the file still waits in the drop folder, neither deleted nor filed.
  void ExpectBackWithTheFileKept() {
    EXPECT_TRUE(board_.Visible(field::kStatusE));
    EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
    EXPECT_TRUE(fs::is_empty(settings_.error_folder));
  }
};

// A server gone in the middle of an article is the fault campaign's part (connect, send and recv failing), and
// logging before posting relay_cycle_test's (a log that cannot be written posts nothing).
TEST_F(RelayFaultTest, NoServerShowsWhyAndLosesNothing) {
  std::string port;
  { port = FakeNntpServer({}).port_text(); }  // nothing listens there any more
  ::testing::internal::CaptureStderr();
  EXPECT_TRUE(Action(port, 30));  // the Action shows the failure through its listener, and writes nothing itself
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Text(field::kStatusH), "Unable To Connect To: 127.0.0.1 Error: 10061");
  EXPECT_EQ(Text(field::kStatusE), "Connecting to 127.0.0.1:" + port + ": Connection refused (10061)");
  EXPECT_EQ(said, "");
  // One record line, an error, carries the failure once.
  EXPECT_THAT(OutcomeLines(shown_.records, settings_),
              ElementsAre("err: action ended: 0 posted, 0 already on the server, 0 filed, 0 deleted unposted, 0 left "
                          "in place; cut short: " +
                          Text(field::kStatusE)));
  ExpectBackWithTheFileKept();
  EXPECT_FALSE(fs::exists(settings_.log_file));
}

// An article abandoned by dropping the connection, as the Action's last file: the status line says the
// connection was closed as meant, never that a disconnect failed.
TEST_F(RelayFaultTest, AnArticleAbandonedLastLeavesTheConnectionNormallyClosed) {
  testing::WriteFile(settings_.drop_folder + "/a.cnm",
                     "Newsgroups: local.test\r\nMessage-ID: <a@x>\r\n\r\n" + std::string(40000, 'x') + "\r\n");
  FakeNntpServer server(Posting({Send("340 go ahead\r\n"), AwaitClose()}));
  EXPECT_TRUE(Action(server.port_text(), 30));
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  EXPECT_THAT(Text(field::kStatusE), HasSubstr("longer than 32767 characters"));
}

// Only a refusal of the article itself files a message: an answer about the service or the session would
// refuse every message alike, so it ends the Action and the file waits. The answer is shown once, its code with it.
TEST_F(RelayFaultTest, AnAnswerAboutTheServerOrTheSessionFilesNothing) {
  for (const std::string answer : {"480 authentication required", "400 service unavailable", "502 no permission"}) {
    FakeNntpServer server(Posting({Send("340 go ahead\r\n"), ReadThrough("\r\n.\r\n"), Send(answer + "\r\n"),
                                   Expect("QUIT\r\n"), Send("205 bye\r\n")}));
    EXPECT_FALSE(Action(server.port_text(), 30));
    EXPECT_EQ(server.Finish(), "") << answer;
    EXPECT_THAT(Text(field::kStatusE), HasSubstr(answer)) << answer;
    EXPECT_THAT(Text(field::kStatusE), Not(HasSubstr("(" + answer.substr(0, 3) + ")"))) << answer;
    ExpectBackWithTheFileKept();
  }
  // An INN whose access rules let this host read but not post: the text says where to look.
  testing::InnServer inn = [] {
    struct ReadOnly {  // for the start script only
      ReadOnly() { ::setenv("INN_READER_ACCESS", "R", 1); }
      ~ReadOnly() { ::unsetenv("INN_READER_ACCESS"); }
    } read_only;
    return testing::InnServer();
  }();
  EXPECT_FALSE(Action(inn.port_text(), 30));
  EXPECT_THAT(Text(field::kStatusE),
              ::testing::StartsWith("Action failed: the server answered 440 Posting not allowed: the server does not "
                                    "let this host post; check its access rules (INN: readers.conf); "));
  ExpectBackWithTheFileKept();
}

}  // namespace
}  // namespace quillport

// The relay engine with the real news client end to end against a private INN, and against servers that are
// missing, see an article abandoned or refuse the session: nothing lost, nothing posted twice, the texts shown.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

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
using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::FakeNntpServer;
using testing::FakeStep;
using ::testing::HasSubstr;
using testing::Names;
using ::testing::Not;
using testing::ReadFile;
namespace fs = std::filesystem;

// The board's listener, keeping the engine's record lines as "severity: text", the folders written D and E.
struct RecordingBoardListener : BoardListener {
  RecordingBoardListener(StatusBoard& board, const RelaySettings& settings)
      : BoardListener(board), settings(settings) {}
  const RelaySettings& settings;
  std::vector<std::string> records;
  void Recorded(const RecordLine& line) override {
    const char* names[] = {"emerg", "alert", "crit", "err", "warning", "notice", "info", "debug"};
    std::string text = names[line.severity & 7] + std::string(": ") + line.text;
    for (const auto& [folder, name] : {std::pair(settings.error_folder, "E"), std::pair(settings.drop_folder, "D")}) {
      for (std::size_t at; (at = text.find(folder)) != std::string::npos;) text.replace(at, folder.size(), name);
    }
    records.push_back(text);
  }
};

// The engine's state is drawn on a board in memory as the window draws it.
class RelayServerTest : public ::testing::Test {
 protected:
  RelayServerTest() { fs::create_directories(settings_.error_folder); }
  bool Action(const std::string& port) {
    NewsOptions options;
    options.host = "127.0.0.1", options.port = port, options.timeout = std::chrono::seconds(30);
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
  RecordingBoardListener shown_{board_, settings_};
  NntpClient client_;
  RelayCycle relay_{client_, shown_, settings_};
};

// From, `fields`, the Message-ID <id@quillport.test>, then `rest`.
std::string Plain(const std::string& fields, const std::string& id, const std::string& rest = "\r\n\r\nbody\r\n") {
  return "From: a@example.org\r\n" + fields + "Message-ID: <" + id + "@quillport.test>" + rest;
}

// What only a real server decides (its answers, its stored bytes, the duplicates it knows); the header filter,
// local judgements and the disposal of each answer are message_poster_test's and relay_cycle_test's part.
const std::vector<std::pair<std::string, std::string>> kCorpus = {
    {"01-ordinary.cnm",
     "Received: from mail.example\r\n\tby relay.example\r\nReturn-path: <s@example.org>\r\nX-Envelope-To: "
     "list@example\r\n"
     "To: list@example\r\nCC: other@example\r\n" +
         Plain("Subject: corpus\r\nNewsgroups: local.test\r\n", "ordinary",
               "\r\n\r\nFirst line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n")},
    {"02-nobody.cnm", Plain("Newsgroups: local.test\r\n", "nobody", "\r\n\r\n")},  // a stock INN refuses it (441)
    {"04-Unknown.CNM", Plain("Newsgroups: local.nowhere\r\n", "unknown1")},
    {"04-unknown.cnm", Plain("Newsgroups: local.nowhere\r\n", "unknown2")},
    {"05-nogroups.cnm", Plain("Subject: no groups\r\n", "nogroups")},
    {"08-lonelf.cnm", "Subject: hidden\nTo: secret@corp.example\nReceived: from internal.corp\r\n\tby relay\r\n" +
                          Plain("Newsgroups: local.test\r\n", "lonelf")},
    {"09-nospam.cnm",  // the disguised From line is refused (441)
     "X-Envelope-To: list_NoSpam@example\r\nFrom: A. User <a.user@host>\r\nSubject: disguised\r\n"
     "Newsgroups: local.test\r\nMessage-ID: <nospam@quillport.test>\r\n\r\nHello.\r\n"},
    // Malformed: the second id is one the server holds, yet this message is new.
    {"12-twoids.cnm",
     Plain("Newsgroups: local.test\r\n", "twoids", "\r\nMessage-ID: <ordinary@quillport.test>\r\n\r\nb\r\n")},
};

// The same corpus twice: the second time every posted message is a duplicate the server knows, deleted, and no
// refused message whose very bytes are filed already is filed again.
TEST_F(RelayServerTest, OneCorpusEveryOutcomeThenTheSameCorpusAgain) {
  testing::InnServer inn({"local.test"});
  std::int64_t bytes = 0;
  for (const auto& [name, content] : kCorpus) bytes += static_cast<std::int64_t>(content.size());
  std::vector<::testing::Matcher<std::string>> expected;
  for (const bool again : {false, true}) {
    for (const auto& [name, content] : kCorpus) testing::WriteFile(settings_.drop_folder + "/" + name, content);
    EXPECT_TRUE(Action(inn.port_text()));
    EXPECT_EQ(inn.ArticleCount("local.test"), 2);
    EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors"));
    EXPECT_THAT(Names(settings_.error_folder), ElementsAre("02-nobody.cnm", "04-unknown.cnm", "09-nospam.cnm",
                                                           "12-twoids.cnm", ::testing::MatchesRegex("~col.{4}\\.cnm")));
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
        {posted("01-ordinary.cnm", "ordinary"), filed("02-nobody.cnm"), filed("04-Unknown.CNM"),
         filed("04-unknown.cnm"), "warning: D/05-nogroups.cnm: deleted unposted: no Newsgroups header",
         posted("08-lonelf.cnm", "lonelf"), filed("09-nospam.cnm"),
         ::testing::MatchesRegex("warning: D/12-twoids.cnm: filed unposted: .* holds 2 Message-ID headers .*"),
         std::string("info: action ended: ") + (again ? "0 posted, 2" : "2 posted, 0") +
             " already on the server, 5 filed, 1 deleted unposted, 0 left in place"});
  }
  EXPECT_THAT(shown_.records, ElementsAreArray(expected));
  // Stored byte for byte as built: transport headers gone, lone LFs in a kept line carry no dropped one along.
  EXPECT_EQ(inn.Body("<ordinary@quillport.test>"),
            "First line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n");
  const std::string heads = *inn.Head("<ordinary@quillport.test>") + *inn.Head("<lonelf@quillport.test>");
  EXPECT_THAT(heads, AllOf(HasSubstr("From: a@example.org\r\n"), HasSubstr("Subject: hidden\r\n")));
  for (const char* gone : {"Received:", "Return-path:", "X-Envelope-To:", "To: ", "CC:", "secret@", "internal.corp"}) {
    EXPECT_THAT(heads, Not(HasSubstr(gone)));
  }
  EXPECT_THAT(ReadFile(settings_.error_folder + "/09-nospam.cnm"), HasSubstr("From: A. User <a.user@host>"));
  EXPECT_EQ(std::ranges::count(ReadFile(settings_.log_file), '\n'), 16);  // one record per file
  EXPECT_EQ(Text(field::Info(6)) + "|" + Text(field::Info(9)) + "|" + Text(field::Info(10)) + "|" +
                Text(field::Info(12)) + "|" + Text(field::kTimNbT),
            "8|" + FormatNumber(2 * bytes, kPattern12) + "|16|0|2");
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  EXPECT_THAT(Text(field::kStatusE), HasSubstr("12-twoids.cnm holds 2 Message-ID headers"));  // the last failure
}

// A fake server's script: greeting, reader mode and POST, then `rest`.
std::vector<FakeStep> Posting(std::vector<FakeStep> rest) {
  rest.insert(rest.begin(),
              {Send("200 ready\r\n"), Expect("MODE READER\r\n"), Send("200 reader\r\n"), Expect("POST\r\n")});
  return rest;
}

class RelayFaultTest : public RelayServerTest {
 protected:
  RelayFaultTest() { testing::WriteFile(settings_.drop_folder + "/a.cnm", Plain("Newsgroups: local.test\r\n", "a")); }
};

// Only a refusal of the article itself files a message: no server, or an answer about the service or the session,
// would fail every message alike, so it ends the Action, the file waits, and the failure is shown and recorded
// once, an answer's code with it once. A server gone mid-article is the fault campaign's part, and logging before
// posting relay_cycle_test's.
TEST_F(RelayFaultTest, NoServerOrAnAnswerAboutTheSessionFilesNothing) {
  std::string gone;
  { gone = FakeNntpServer({}).port_text(); }  // nothing listens there any more
  const auto read_only = [] {                 // an INN whose access rules let this host read but not post
    ::setenv("INN_READER_ACCESS", "R", 1);    // for its start script only
    auto inn = std::make_unique<testing::InnServer>();
    ::unsetenv("INN_READER_ACCESS");
    return inn;
  }();
  const struct {
    std::string port, answer, shown;  // a fake server's answer to the article, when no port is given
  } rows[] = {{gone, "", "Connecting to 127.0.0.1:" + gone + ": Connection refused (10061)"},
              {"", "480 authentication required", ""},
              {"", "400 service unavailable", ""},
              {"", "502 no permission", ""},
              {read_only->port_text(), "",
               "Action failed: the server answered 440 Posting not allowed: the server does not let this host post; "
               "check its access rules (INN: readers.conf); "}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.answer + row.shown);
    shown_.records.clear();
    FakeNntpServer server(Posting({Send("340 go ahead\r\n"), ReadThrough("\r\n.\r\n"), Send(row.answer + "\r\n"),
                                   Expect("QUIT\r\n"), Send("205 bye\r\n")}));
    EXPECT_EQ(Action(row.port.empty() ? server.port_text() : row.port), row.port == gone);
    EXPECT_EQ(row.port.empty() ? server.Finish() : "", "");
    const std::string said = Text(field::kStatusE);
    EXPECT_THAT(said, AllOf(::testing::StartsWith(row.shown), HasSubstr(row.answer),
                            Not(HasSubstr("(" + row.answer.substr(0, 3) + ")"))));
    EXPECT_EQ(Text(field::kStatusH) == "Unable To Connect To: 127.0.0.1 Error: 10061", row.port == gone);
    EXPECT_THAT(shown_.records.back(), AllOf(::testing::StartsWith("err: action ended: 0 posted, 0 already on the "
                                                                   "server, 0 filed, 0 deleted unposted, "),
                                             HasSubstr("; cut short: "), HasSubstr(row.answer)));
    EXPECT_TRUE(row.port != gone || !fs::exists(settings_.log_file));  // logged only once connected
    EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
    EXPECT_TRUE(fs::is_empty(settings_.error_folder));
  }
}

// An article abandoned by dropping the connection, as the Action's last file: the status line says the
// connection was closed as meant, never that a disconnect failed.
TEST_F(RelayFaultTest, AnArticleAbandonedLastLeavesTheConnectionNormallyClosed) {
  testing::WriteFile(settings_.drop_folder + "/a.cnm",
                     "Newsgroups: local.test\r\nMessage-ID: <a@x>\r\n\r\n" + std::string(40000, 'x') + "\r\n");
  FakeNntpServer server(Posting({Send("340 go ahead\r\n"), AwaitClose()}));
  EXPECT_TRUE(Action(server.port_text()));
  EXPECT_EQ(server.Finish(), "");
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  EXPECT_THAT(Text(field::kStatusE), HasSubstr("longer than 32767 characters"));
}

}  // namespace
}  // namespace quillport

#include "relay/relay_cycle.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/testing/failing_file_system.h"
#include "tests/testing/fake_news_client.h"
#include "tests/testing/recording_listener.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using ::testing::AllOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing::Names;
using testing::ReadFile;
using ::testing::StartsWith;
namespace fs = std::filesystem;

const std::string kMessage = "Newsgroups: local.test\r\n\r\nbody\r\n";  // 32 bytes
const std::string kLogged = "#2026-12-06 09:05:07#,\"0000032\"\r\n";
// kMessage's header as posted: with the Message-ID the relay gives it.
const std::string kDerivedHeader = "Newsgroups: local.test\r\nMessage-ID: <qp.";

class RelayCycleTest : public ::testing::Test {
 protected:
  RelayCycleTest() {
    settings_.quiet_period = {};
    fs::create_directories(settings_.error_folder);
  }
  RelayCycle& relay() {
    const auto clock = [] {
      std::tm t{};
      t.tm_year = 126, t.tm_mon = 11, t.tm_mday = 6, t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 7, t.tm_isdst = -1;
      return std::chrono::system_clock::from_time_t(std::mktime(&t));
    };
    if (!relay_) relay_ = std::make_unique<RelayCycle>(client_, listener_, settings_, clock, files_);
    return *relay_;
  }
  void Drop(const std::string& name, const std::string& bytes) { testing::WriteFile(drop_ + name, bytes); }
  RelayState State() { return relay().state(); }
  long Calls(const std::string& call) const { return std::ranges::count(client_.calls, call); }
  // The priority ("<59>": news, err) of each record line that holds `text`.
  std::vector<std::string> Records(const std::string& text) const {
    std::vector<std::string> found;
    for (const std::string& line : listener_.records) {
      if (line.find(text) != std::string::npos) found.push_back(line.substr(0, line.find('>') + 1));
    }
    return found;
  }

  testing::TempFolder folder_;
  RelaySettings settings_{folder_ / "drop", "*.cnm", folder_ / "drop/Errors", folder_ / "nntp.log"};
  const std::string drop_ = settings_.drop_folder + "/";
  testing::FakeNewsClient client_;
  testing::FailingFileSystem files_;
  testing::RecordingListener listener_;
  std::unique_ptr<RelayCycle> relay_;
};

TEST_F(RelayCycleTest, PublishesEachFileInProgressAndTheTotalsAndAnEmptyFolderOnlyResets) {
  Drop("b.cnm", kMessage);
  Drop("A.CNM", "Newsgroups: local.test\r\n\r\n");  // 26 bytes
  Drop("empty.cnm", "");
  Drop("c.cnm.bak", "not a message");
  fs::create_directories(drop_ + "folder.cnm");
  relay().DoAction(ActionTrigger::kTimer);
  std::vector<std::string> seen;  // each file in progress as published, once its kind is known
  for (const RelayState& state : listener_.states) {
    const std::string shown = state.file_path + "|" + std::to_string(state.file_size) + "|" +
                              std::to_string(static_cast<int>(state.file_kind));
    if (state.file_kind != RelayState::FileKind::kNone && (seen.empty() || seen.back() != shown)) {
      seen.push_back(shown);
    }
  }
  EXPECT_THAT(seen, ElementsAre(drop_ + "A.CNM|26|1", drop_ + "b.cnm|32|1", drop_ + "empty.cnm|0|2"));
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "c.cnm.bak", "empty.cnm", "folder.cnm"));
  EXPECT_EQ(ReadFile(settings_.log_file), "#2026-12-06 09:05:07#,\"0000026\"\r\n" + kLogged);
  EXPECT_EQ(State(), listener_.states.back());
  EXPECT_EQ(State().action_empty, (FileTotals{0, 1}));

  // Nothing left to take: the next Action only resets its own figures, connects to nobody and logs nothing.
  fs::remove(drop_ + "empty.cnm");
  fs::remove(drop_ + "folder.cnm");
  client_.calls.clear();
  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_TRUE(client_.calls.empty());
  EXPECT_EQ(State().actions, 2);
  EXPECT_EQ(State().action_messages, FileTotals{});
  EXPECT_EQ(State().total_messages, (FileTotals{58, 2}));
  EXPECT_EQ(std::ranges::count(ReadFile(settings_.log_file), '\n'), 2);
}

TEST_F(RelayCycleTest, FailureEndsTheActionButNeverLeavesItHalfDone) {
  Drop("a.cnm", kMessage);
  // A log file that cannot be written, or is no regular file: never followed, never waited on.
  ASSERT_EQ(::mkfifo((folder_ / "fifo.log").c_str(), 0666), 0);
  fs::create_symlink(folder_ / "nntp.log", folder_ / "link.log");
  for (const auto& [log, problem] : std::vector<std::pair<std::string, std::string>>{
           {"missing/nntp.log", "cannot open"}, {"fifo.log", "is a FIFO"}, {"link.log", "is a symbolic link"}}) {
    settings_.log_file = folder_ / log;
    relay_.reset();
    client_.calls.clear();
    const ActionReport report = relay().DoAction(ActionTrigger::kTimer);
    ASSERT_TRUE(report.broken_off) << log << " was written";
    EXPECT_THAT(report.broken_off->text, HasSubstr(problem));
    EXPECT_THAT(client_.calls, ElementsAre("Connect", "Disconnect"));  // nothing posted
    EXPECT_EQ(State().file_path, "");
    EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
  }
  EXPECT_FALSE(fs::exists(folder_ / "nntp.log"));

  // The disk fills up mid-record: the record is written whole or not at all.
  settings_.log_file = folder_ / "nntp.log";
  testing::WriteFile(settings_.log_file, kLogged);
  files_.Add(testing::Operation::kWrite, ENOSPC, "nntp.log");
  relay_.reset();
  EXPECT_TRUE(relay().DoAction(ActionTrigger::kTimer).broken_off);
  EXPECT_EQ(ReadFile(settings_.log_file), kLogged);
  files_.Clear();
  files_.Add(testing::Operation::kClose, EIO, "nntp.log");  // a close that fails may have lost the record
  relay_.reset();
  EXPECT_TRUE(relay().DoAction(ActionTrigger::kTimer).broken_off);
}

TEST_F(RelayCycleTest, SizesOfTwoGibibytesAndMoreCountInFullAndAreReadOnlyAsFarAsNeeded) {
  Drop("huge.cnm", "Subject: no groups\r\n\r\n");
  fs::resize_file(drop_ + "huge.cnm", 2147483648ULL + 5);  // sparse: costs no disk
  // One line of a tebibyte: judged over-long after its first 32768 characters, and filed.
  Drop("line.cnm", "Newsgroups: local.test\r\n\r\n");
  fs::resize_file(drop_ + "line.cnm", 1ULL << 40);
  const auto started = std::chrono::steady_clock::now();
  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
  EXPECT_EQ(State().action_messages.volume, 1101659111429);
  EXPECT_THAT(ReadFile(settings_.log_file), HasSubstr("\"2147483653\""));
  EXPECT_THAT(Names(settings_.error_folder), ElementsAre("line.cnm"));
}

// A file still being written waits, and is posted whole once it has settled; also one the relay cannot lease
// (another user's, or on a file system without leases), where only the writer watch tells, whoever writes it.
TEST_F(RelayCycleTest, AFileStillBeingWrittenWaitsAndIsThenPostedWholeOnceItHasSettled) {
  for (const bool leased : {true, false}) {
    SCOPED_TRACE(leased ? "leased" : "not leasable");
    if (!leased) files_.Add(testing::Operation::kLease, EPERM), relay_.reset();
    settings_.quiet_period = std::chrono::milliseconds(leased ? 300 : 0);  // leased, met again just closed
    relay();                                                               // watching from here on
    client_.calls.clear();
    std::ofstream writer(drop_ + "a.cnm", std::ios::binary);
    writer << "Newsgroups: local.test\r\n" << std::flush;  // a mail program pausing mid-message
    relay().DoAction(ActionTrigger::kTimer);
    EXPECT_THAT(client_.calls, ElementsAre("Connect", "Disconnect"));
    EXPECT_EQ(State().action_messages.count, 0);
    EXPECT_TRUE(listener_.failures.empty());  // not a failure

    writer << "\r\nbody\r\n";
    writer.close();
    client_.pieces.clear();
    relay().DoAction(ActionTrigger::kTimer);
    EXPECT_THAT(client_.pieces, ElementsAre(StartsWith(kDerivedHeader), "body\r\n"));
    EXPECT_FALSE(fs::exists(drop_ + "a.cnm"));
  }
  EXPECT_EQ(ReadFile(settings_.log_file), kLogged + kLogged);
}

// A file linked in whole (quillport-deliver's) needs no quiet period; one just written in place waits for it.
TEST_F(RelayCycleTest, AFileNamedWholeIsPostedAtOnceAndOneWrittenInPlaceWaits) {
  settings_.quiet_period = std::chrono::minutes(10);
  settings_.settle_within_action = false;  // as the service runs it
  relay();                                 // its watch starts before the files come
  Drop("in-place.cnm", kMessage);
  FileDescriptor unnamed(::open(settings_.drop_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0640));
  if (!unnamed.valid()) GTEST_SKIP() << "no O_TMPFILE here";
  ASSERT_EQ(::write(unnamed.get(), kMessage.data(), kMessage.size()), static_cast<ssize_t>(kMessage.size()));
  const std::string self = "/proc/self/fd/" + std::to_string(unnamed.get());
  ASSERT_EQ(::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (drop_ + "linked.cnm").c_str(), AT_SYMLINK_FOLLOW), 0);
  relay().DoAction(ActionTrigger::kArrival);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "in-place.cnm", "linked.cnm"));  // still open
  unnamed = FileDescriptor(-1);
  relay().DoAction(ActionTrigger::kArrival);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "in-place.cnm"));
  EXPECT_EQ(Calls("EndArticle"), 1);
}

TEST_F(RelayCycleTest, AWatchThatCannotStartIsReportedAndFilesNobodyVouchesForWaitLong) {
  settings_.pause_after_file = {};
  settings_.long_quiet_period = std::chrono::hours(1);
  const auto drop_unleasable = [&](const std::string& name, std::chrono::minutes age) {
    Drop(name, kMessage);
    fs::last_write_time(drop_ + name, fs::file_time_type::clock::now() - age);
  };
  files_.Add(testing::Operation::kLease, EPERM);
  files_.Add(testing::Operation::kStartWatcher, EMFILE);
  relay();
  drop_unleasable("fresh.cnm", std::chrono::minutes(0));
  drop_unleasable("old.cnm", std::chrono::minutes(120));
  relay().DoAction(ActionTrigger::kTimer);
  relay().DoAction(ActionTrigger::kTimer);  // reported at every Action while it lasts
  EXPECT_THAT(listener_.LastFailure(),
              AllOf(HasSubstr("Writer watch: cannot watch " + settings_.drop_folder),
                    HasSubstr("inotify_init1: Too many open files"), HasSubstr("unchanged for 60 minutes")));
  EXPECT_EQ(Calls("EndArticle"), 1);  // only the file quiet for the long quiet period
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "fresh.cnm"));
  files_.Clear();
  files_.Add(testing::Operation::kLease, EPERM);
  // Watching again; but what changed while nothing watched stays unvouched.
  EXPECT_FALSE(relay().DoAction(ActionTrigger::kTimer).last_failure);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "fresh.cnm"));
  // Recorded at the first Action, as an error; met again at the next, it is held back within the hour.
  EXPECT_EQ(Records("Writer watch"), std::vector<std::string>{"<59>"});
}

TEST_F(RelayCycleTest, AFailureThatBelongsToOneFileNeverHoldsBackTheOthers) {
  const std::string outside = folder_ / "outside.txt";
  testing::WriteFile(outside, kMessage);
  Drop("a.cnm", kMessage);
  Drop("b.cnm", "Newsgroups: local.test\r\n\r\n" + std::string(40000, 'x') + "\r\n");  // an over-long line
  Drop("c.cnm", kMessage);
  files_.Add(testing::Operation::kOpenRead, EACCES, "c.cnm");
  ASSERT_EQ(::mkfifo((drop_ + "d.cnm").c_str(), 0666), 0);
  fs::create_symlink(outside, drop_ + "e\x1b[1m\n.cnm");  // control characters are shown escaped
  Drop("f.cnm", kMessage);

  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "c.cnm", "d.cnm", "e\x1b[1m\n.cnm"));
  EXPECT_THAT(Names(settings_.error_folder), ElementsAre("b.cnm"));
  EXPECT_EQ(ReadFile(outside), kMessage);
  // a and f posted; b, without an id, judged while its id is made: filed before anything went out.
  EXPECT_EQ(Calls("BeginArticle") + Calls("EndArticle"), 4);
  EXPECT_EQ(std::ranges::count(ReadFile(settings_.log_file), '\n'), 3);  // a, b and f
  EXPECT_THAT(listener_.LastFailure(), HasSubstr("e\\e[1m\\n.cnm is a symbolic link"));
  relay().DoAction(ActionTrigger::kTimer);  // the same problems again
  // Each file's fate; problems met again at the next Action are not recorded again within the hour.
  const std::vector<std::string>& lines = listener_.records;  // each ElementsAre checks the count too
  // Severities by meaning: <61> notice, <60> warning, <62> info (facility news).
  EXPECT_THAT(lines, ElementsAre(StartsWith("<61>"), StartsWith("<60>"), StartsWith("<60>"), StartsWith("<60>"),
                                 StartsWith("<60>"), StartsWith("<61>"), StartsWith("<62>"), StartsWith("<62>")));
  EXPECT_THAT(lines, ElementsAre(HasSubstr("a.cnm: posted, Message-ID <qp."), HasSubstr("b.cnm: filed unposted: "),
                                 AllOf(HasSubstr("c.cnm: left in place: cannot open"),
                                       HasSubstr("read permission for the relay's group")),
                                 HasSubstr("d.cnm: left in place: "), HasSubstr("e\\e[1m\\n.cnm: left in place: "),
                                 HasSubstr("f.cnm: posted"),
                                 HasSubstr("action ended: 2 posted, 0 already on the server, 1 filed, 0 deleted "
                                           "unposted, 3 left in place"),
                                 HasSubstr("action ended: 0 posted, 0 already on the server, 0 filed, 0 deleted "
                                           "unposted, 3 left in place")));
}

TEST_F(RelayCycleTest, MissingFoldersAreReportedAtEachAction) {
  fs::remove_all(settings_.drop_folder);
  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_THAT(listener_.LastFailure(), HasSubstr("the folder " + settings_.drop_folder + " does not exist"));
  fs::create_directories(settings_.drop_folder);  // but no error folder in it
  Drop("a.cnm", kMessage);
  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_THAT(listener_.LastFailure(), StartsWith("Error folder: the folder " + settings_.error_folder));
  // Each recorded once, as an error: they stop relaying until someone acts.
  EXPECT_EQ(Records("Drop folder: the folder"), std::vector<std::string>{"<59>"});
  EXPECT_EQ(Records("Error folder: the folder"), std::vector<std::string>{"<59>"});
}

TEST_F(RelayCycleTest, OneRelayServesTheDropFolderWhoeverStartsTheSecond) {
  const std::string lock = drop_ + ".quillport.lock";
  const std::string outside = folder_ / "outside.txt";
  testing::WriteFile(outside, "keep");
  fs::create_symlink(outside, lock);  // a link planted at the lock's name is never followed
  relay().DoAction(ActionTrigger::kTimer);
  EXPECT_THAT(listener_.LastFailure(), HasSubstr("is a symbolic link"));
  EXPECT_EQ(ReadFile(outside), "keep");
  fs::remove(lock);

  // A setgid folder, as the package makes it.
  fs::permissions(settings_.drop_folder, fs::perms::set_gid, fs::perm_options::add);
  relay().DoAction(ActionTrigger::kTimer);  // the first relay takes the folder at its first Action, with nothing to do
  EXPECT_EQ(fs::status(lock).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read | fs::perms::group_write);
  Drop("a.cnm", kMessage);
  const std::string holder = "Drop folder: another relay (relay_test, user " +
                             std::string(::getpwuid(::geteuid())->pw_name) + ", process " + std::to_string(::getpid()) +
                             ") serves the folder ";
  {  // a second relay, of a user who may only read the lock file
    testing::FakeNewsClient client;
    testing::FailingFileSystem read_only;
    read_only.Add(testing::Operation::kOpenReadWrite, EACCES, lock);
    testing::RecordingListener heard;
    RelayCycle other(client, heard, settings_, std::chrono::system_clock::now, read_only);
    other.DoAction(ActionTrigger::kTimer);
    EXPECT_TRUE(client.calls.empty());
    EXPECT_THAT(heard.LastFailure(), StartsWith(holder));
    EXPECT_EQ(heard.records.size(), 1U);  // its severity and the one line are daemon_test's
  }
  testing::FakeNewsClient second_client;  // and of the same user, on another display
  testing::RecordingListener second_heard;
  RelayCycle second(second_client, second_heard, settings_);
  second.DoAction(ActionTrigger::kTimer);
  EXPECT_THAT(second_heard.LastFailure(), StartsWith(holder));
  fs::remove(lock);                         // a removed lock file is made anew by the relay that held it,
  relay().DoAction(ActionTrigger::kTimer);  // which goes on unaffected
  second.DoAction(ActionTrigger::kTimer);
  EXPECT_TRUE(second_client.calls.empty());
  EXPECT_EQ(Calls("EndArticle"), 1);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors"));

  relay_.reset();  // once the first has ended, the second serves the folder at its next Action
  Drop("b.cnm", kMessage);
  second.DoAction(ActionTrigger::kTimer);
  EXPECT_EQ(std::ranges::count(second_client.calls, "EndArticle"), 1);
  EXPECT_FALSE(fs::exists(drop_ + "b.cnm"));
}

}  // namespace
}  // namespace quillport

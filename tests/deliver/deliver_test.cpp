// quillport-deliver: each kind of input, the faults of the drop folder, signals and many deliveries at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <sysexits.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "common/file_descriptor.h"
#include "common/message_name.h"
#include "deliver/delivery.h"
#include "deliver/drop_file.h"
#include "tests/testing/crash_file_system.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string error;  // what it wrote on standard error
};

// Delivers `input` (from a memory file, as standard input) into `folder`.
Outcome Deliver(const std::vector<std::string>& arguments, const std::string& input, const std::string& folder,
                DeliveryDisk& disk = SystemDeliveryDisk()) {
  const FileDescriptor in(::memfd_create("message", MFD_CLOEXEC));
  EXPECT_TRUE(WriteAll(in.get(), input) && ::lseek(in.get(), 0, SEEK_SET) == 0);
  std::ostringstream out, err;
  return {RunDelivery(arguments, in.get(), folder, out, err, disk), err.str()};
}

// Runs `body` in a child process, whose exit status is its result; Wait gives that status, or -1 for a signal.
pid_t Spawn(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  return pid;
}
int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program itself (deliver_into) on `input`, under the shell's file-size limit (`ulimit -f`).
Outcome DeliverByProgram(const std::string& input, const std::string& folder, const std::string& file_size_limit) {
  const TempFolder files;
  testing::WriteFile(files / "in", input);
  const int status = std::system(("ulimit -f " + file_size_limit + "; " QUILLPORT_DELIVER_INTO " '" + folder + "' <" +
                                  (files / "in") + " 2>" + (files / "err"))
                                     .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(files / "err")};
}

// A message file, checked for one Message-ID (its own or the one added), without the one quillport-deliver adds.
std::string WithoutAddedId(const std::string& file) {
  static const std::regex kField("\r\nmessage-id[ \t]*:", std::regex::icase);
  static const std::regex kAddedId("Message-ID: <qpd\\.[0-9a-f]{32}@quillport\\.invalid>\r\n");
  const std::string text = "\r\n" + file;
  EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), kField), std::sregex_iterator()), 1) << file;
  return std::regex_replace(file, kAddedId, "");
}

struct Case {
  const char* what;
  std::vector<std::string> arguments;
  std::string input;
  int status;
  std::string file;  // the message file's content when delivered, but for an added Message-ID
};

const std::string kMbox = "From sender@example.org Mon Dec  7 06:00:00 2026\n";

const Case kCases[] = {
    {"lone CR, CR CR LF", {}, "Newsgroups: a.b\r\rone\r\r\ntwo\r", 0, "Newsgroups: a.b\r\n\r\none\r\n\r\ntwo\r\n"},
    {"no final line end", {}, "Newsgroups: a.b\n\nlast", 0, "Newsgroups: a.b\r\n\r\nlast\r\n"},
    {"From line and the empty line after the message dropped, body kept as is",
     {"-n", "local.test"},
     kMbox + "Subject: s\n\n.\n\xe9t\xe9\n\n  \n\n\n",
     0,
     "Subject: s\r\nNewsgroups: local.test\r\n\r\n.\r\n\xe9t\xe9\r\n\r\n  \r\n\r\n"},
    {"without a From line every empty line is kept", {}, "Newsgroups: a\n\nx\n\n", 0, "Newsgroups: a\r\n\r\nx\r\n\r\n"},
    {"From: is no framing", {"-n", "a"}, "From: a\n\n>From x\n", 0, "From: a\r\nNewsgroups: a\r\n\r\n>From x\r\n"},
    {"a blank Message-ID or Newsgroups is none, dropped with its continuation lines; a folded Message-ID unfolded",
     {"-n", "a"},
     "Message-ID:\nSubject: s\nNewsgroups: \t\n \nMessage-ID: \t\n <1@x>\n\tz\nX: y\n\nb\n",
     0,
     "Subject: s\r\nMessage-ID: \t <1@x>\tz\r\nX: y\r\nNewsgroups: a\r\n\r\nb\r\n"},
    {"its own Newsgroups (any case, blanks before the colon, folded) names its groups, stays folded and beats -n",
     {"-n", "a"},
     "NEWSGROUPS \t:\n local.test\nmessage-id \t:\n\t<2@x>\n\nb\n",
     0,
     "NEWSGROUPS \t:\r\n local.test\r\nmessage-id \t:\t<2@x>\r\n\r\nb\r\n"},
    {"an empty Newsgroups and no -n", {}, "Newsgroups:\nSubject: s\n\nb\n", EX_DATAERR, ""},
    {"-n adds every group; look-alike and continuation lines are no Newsgroups",
     {"--newsgroups=a.b,c+d", "-n", "e_f"},
     "Newsgroups-X: 1\nSubject: s\n Newsgroups: y\n" + std::string(2000, 'x') + "Newsgroups: z\n\nb\n",
     0,
     "Newsgroups-X: 1\r\nSubject: s\r\n Newsgroups: y\r\n" + std::string(2000, 'x') +
         "Newsgroups: z\r\nNewsgroups: a.b,c+d,e_f\r\n\r\nb\r\n"},
    {"empty input", {"-n", "a"}, "", EX_DATAERR, ""},
    {"nothing but a From line", {"-n", "a"}, kMbox, EX_DATAERR, ""},
    {"a header that never ends", {"-n", "a"}, "Subject: s\nFrom: x\n", EX_DATAERR, ""},
    {"an empty component", {"-n", "a..b"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"a blank in a group list", {"-n", "a, b"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"-n without groups", {"-n"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"an operand", {"local.test"}, "Subject: s\n\nb\n", EX_USAGE, ""},
};

TEST(Deliver, EveryKindOfInputAndEveryRefusal) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const TempFolder drop;
    const Outcome outcome = Deliver(c.arguments, c.input, drop.path());
    ASSERT_EQ(outcome.status, c.status) << outcome.error;
    const std::vector<std::string> names = Names(drop.path());
    ASSERT_EQ(names.size(), c.status == EX_OK ? 1u : 0u);
    if (c.status == EX_OK) {
      EXPECT_TRUE(IsMessageName(names[0])) << names[0];
      EXPECT_EQ(WithoutAddedId(ReadFile(drop / names[0])), c.file);
    } else {
      EXPECT_EQ(std::ranges::count(outcome.error, '\n'), 1) << outcome.error;
    }
  }
}

const std::string kMessage = "Subject: s\nNewsgroups: local.test\n\nbody\n";

// The id added as the last header line comes from the content (not the From line's time), also for a message
// larger than one piece, whose id is written after its body.
TEST(Deliver, TheAddedMessageIdComesFromTheContent) {
  const std::string body = std::string(300000, 'x') + "\n";
  const auto delivered = [](const std::string& input) {
    TempFolder folder;
    EXPECT_EQ(Deliver({}, input, folder.path()).status, EX_OK);
    return Names(folder.path()).size() == 1 ? ReadFile(folder / Names(folder.path())[0]) : "";
  };
  const std::string first = delivered(kMbox + kMessage + body);
  EXPECT_TRUE(first.starts_with("Subject: s\r\nNewsgroups: local.test\r\nMessage-ID: <qpd.")) << first.substr(0, 99);
  EXPECT_EQ(WithoutAddedId(first),
            "Subject: s\r\nNewsgroups: local.test\r\n\r\nbody\r\n" + std::string(300000, 'x') + "\r\n");
  EXPECT_EQ(delivered("From other@example.org Tue Dec  8 07:00:00 2026\n" + kMessage + body), first);
  EXPECT_EQ(delivered("Message-ID: \t\n" + kMessage + body), first);
  EXPECT_NE(delivered(kMessage + body + "!"), first);
}

// Whatever stops the writing, nothing is left; 75 for a message that can be posted, 65 for one that never can.
TEST(DeliverFaults, MissingOrFullDropFolderOrAFileSizeLimit) {
  TempFolder folder;
  fs::create_directory(folder / "full");
  ASSERT_EQ(::mount("tmpfs", (folder / "full").c_str(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
  fs::create_directory(folder / "limited");
  const std::string big(1 << 20, 'x');
  const struct {
    std::string folder, file_size_limit, input, error;
    int status;
  } cases[] = {
      {folder / "missing", "unlimited", kMessage, folder / "missing", EX_TEMPFAIL},
      {folder / "missing", "unlimited", "Subject: " + big, "never ends", EX_DATAERR},
      {folder / "full", "unlimited", kMessage + big + "\n", "No space left on device", EX_TEMPFAIL},
      {folder / "full", "unlimited", "Subject: " + big + "\n\nb\n", "no Newsgroups", EX_DATAERR},
      {folder / "limited", "128", kMessage + big + "\n", "File too large", EX_TEMPFAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.folder + ": " + c.input.substr(0, 20));
    const Outcome outcome = DeliverByProgram(c.input, c.folder, c.file_size_limit);
    EXPECT_EQ(outcome.status, c.status);
    EXPECT_THAT(outcome.error, ::testing::MatchesRegex("quillport-deliver: [^\n]*" + c.error + "[^\n]*\n"));
    EXPECT_THAT(Names(c.folder), ::testing::IsEmpty());
  }
  ::umount((folder / "full").c_str());
}

// Every message answered 0 for lasts a crash; one whose folder cannot be flushed is taken back (75), if it can be.
TEST(DeliverFaults, WhatIsAnsweredForLastsACrash) {
  TempFolder folder;
  const std::string drop = folder / "drop";
  fs::create_directory(drop);
  testing::CrashFileSystem disk;
  disk.Watch(drop);
  for (const std::string& input : {kMessage, kMessage + std::string(100000, 'x') + "\n"}) {
    EXPECT_EQ(Deliver({}, input, drop, disk).status, EX_OK);
  }
  std::map<std::string, std::string> answered;
  for (const std::string& name : Names(drop)) answered[name] = ReadFile(drop + "/" + name);
  disk.Add(testing::Operation::kSyncFolder, EIO);
  EXPECT_EQ(Deliver({}, "Message-ID: <1@x>\n" + kMessage, drop, disk).status, EX_TEMPFAIL);
  disk.Add(testing::Operation::kDelete, EIO);
  EXPECT_EQ(Deliver({}, "Message-ID: <2@x>\n" + kMessage, drop, disk).status, EX_OK);
  EXPECT_EQ(Names(drop).size(), 3u);
  disk.Clear();
  disk.Crash();
  for (const auto& [name, content] : answered) EXPECT_EQ(ReadFile(drop + "/" + name), content) << name;
}

// True when process `pid` has a file of `folder` open: a message being written.
bool WritesInto(pid_t pid, const std::string& folder) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
    if (fs::read_symlink(entry.path(), ec).string().starts_with(folder + "/")) return true;
  }
  return false;
}

// A mail system's timeout (SIGKILL) or stop (SIGTERM) mid-message leaves nothing in the drop folder.
TEST(DeliverFaults, ASignalMidMessageLeavesNothing) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that died early fails the test, not the test program
  for (const auto& [signal, status] : {std::pair{SIGTERM, EX_TEMPFAIL}, std::pair{SIGKILL, -1}}) {
    SCOPED_TRACE(strsignal(signal));
    const TempFolder folder;
    const std::string drop = folder.path();
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    FileDescriptor reading(ends[0]), writing(ends[1]);
    const pid_t child = Spawn([&] {
      ::dup2(reading.get(), STDIN_FILENO);
      ::execl(QUILLPORT_DELIVER_INTO, "deliver_into", drop.c_str(), nullptr);
      return 127;
    });
    // More than one piece: the file is being written; the rest of the message never comes.
    ASSERT_TRUE(WriteAll(writing.get(), kMessage + std::string(256 * 1024, 'x')));
    for (int i = 0; i < 1000 && !WritesInto(child, drop); ++i) ::usleep(10000);
    ASSERT_TRUE(WritesInto(child, drop));
    ::kill(child, signal);
    EXPECT_EQ(Wait(child), status);
    EXPECT_THAT(Names(drop), ::testing::IsEmpty());
  }
}

TEST(DeliverFaults, SixtyDeliveriesAtOnceUnderTheSameNamesAllArriveNoneReplaced) {
  constexpr int kDeliveries = 60;
  const TempFolder drop;
  const auto message = [](int n) { return "Message-ID: <" + std::to_string(n) + "@x>\n" + kMessage; };
  std::vector<pid_t> children;
  for (int n = 0; n < kDeliveries; ++n) {
    // Every one of them tries the same names: none may take a name another took first.
    children.push_back(Spawn([&, n] {
      DropFile file(drop.path());
      file.Write(message(n));
      file.Commit([](int attempt) { return std::string("m").append(std::to_string(attempt)) + ".cnm"; });
      return 0;
    }));
  }
  for (const pid_t child : children) EXPECT_EQ(Wait(child), EX_OK);
  std::set<std::string> expected, arrived;
  for (int n = 0; n < kDeliveries; ++n) expected.insert(message(n));
  for (const std::string& name : Names(drop.path())) arrived.insert(ReadFile(drop / name));
  EXPECT_EQ(arrived, expected);
}

}  // namespace
}  // namespace quillport

// quillport-deliver in process: what it makes of each kind of input and what it answers, then the
// faults of the drop folder (missing, full) and many deliveries at once. That the converter's output does not
// depend on where its input is cut is message_converter_fuzzer's part.
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
#include <set>
#include <sstream>

#include "common/file_descriptor.h"
#include "common/message_name.h"
#include "deliver/delivery.h"
#include "deliver/drop_file.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using ::testing::IsEmpty;
using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string error;  // what it wrote on standard error
};

// Delivers `input` (from a memory file, as standard input) into `folder`.
Outcome Deliver(const std::vector<std::string>& arguments, const std::string& input, const std::string& folder) {
  FileDescriptor descriptor(::memfd_create("message", MFD_CLOEXEC));
  if (!WriteAll(descriptor.get(), input) || ::lseek(descriptor.get(), 0, SEEK_SET) != 0) return {-1, "no input"};
  std::ostringstream out, err;
  return {RunDelivery(arguments, descriptor.get(), folder, out, err), err.str()};
}

// Runs `body` in a child process; its result is the child's exit status.
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

struct Case {
  const char* what;
  std::vector<std::string> arguments;
  std::string input;
  int status;
  std::string file;  // the message file's content when delivered
};

const std::string kMbox = "From sender@example.org Mon Dec  7 06:00:00 2026\n";

const Case kCases[] = {
    {"LF", {}, "Newsgroups: a.b\nSubject: s\n\none\n", 0, "Newsgroups: a.b\r\nSubject: s\r\n\r\none\r\n"},
    {"CR LF", {}, "Newsgroups: a.b\r\n\r\none\r\n\r\n", 0, "Newsgroups: a.b\r\n\r\none\r\n\r\n"},
    {"lone CR, CR CR LF", {}, "Newsgroups: a.b\r\rone\r\r\ntwo\r", 0, "Newsgroups: a.b\r\n\r\none\r\n\r\ntwo\r\n"},
    {"no final line end", {}, "Newsgroups: a.b\n\nlast", 0, "Newsgroups: a.b\r\n\r\nlast\r\n"},
    {"From line and the empty line after the message dropped, body kept as is",
     {"-n", "local.test"},
     kMbox + "Subject: s\n\n.\n\xe9t\xe9\n\n  \n\n\n",
     0,
     "Subject: s\r\nNewsgroups: local.test\r\n\r\n.\r\n\xe9t\xe9\r\n\r\n  \r\n\r\n"},
    {"without a From line every empty line is kept", {}, "Newsgroups: a\n\nx\n\n", 0, "Newsgroups: a\r\n\r\nx\r\n\r\n"},
    {"From: is no framing", {"-n", "a"}, "From: a\n\n>From x\n", 0, "From: a\r\nNewsgroups: a\r\n\r\n>From x\r\n"},
    {"its own Newsgroups kept", {"-n", "a"}, "NEWSGROUPS \t:x\n\nb\n", 0, "NEWSGROUPS \t:x\r\n\r\nb\r\n"},
    {"-n adds every group; look-alike and continuation lines are no Newsgroups",
     {"--newsgroups=a.b,c+d", "-n", "e_f"},
     "Newsgroups-X: 1\nSubject: s\n Newsgroups: y\n" + std::string(2000, 'x') + "Newsgroups: z\n\nb\n",
     0,
     "Newsgroups-X: 1\r\nSubject: s\r\n Newsgroups: y\r\n" + std::string(2000, 'x') +
         "Newsgroups: z\r\nNewsgroups: a.b,c+d,e_f\r\n\r\nb\r\n"},
    {"empty input", {"-n", "a"}, "", EX_DATAERR, ""},
    {"nothing but a From line", {"-n", "a"}, kMbox, EX_DATAERR, ""},
    {"a header that never ends", {"-n", "a"}, "Subject: s\nFrom: x\n", EX_DATAERR, ""},
    {"no Newsgroups and no -n", {}, "Subject: s\n\nb\n", EX_DATAERR, ""},
    {"an empty component", {"-n", "a..b"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"a blank in a group list", {"-n", "a, b"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"-n without groups", {"-n"}, "Subject: s\n\nb\n", EX_USAGE, ""},
    {"an operand", {"local.test"}, "Subject: s\n\nb\n", EX_USAGE, ""},
};

TEST(Deliver, EveryKindOfInputAndEveryRefusal) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    TempFolder folder;
    fs::create_directory(folder / "drop");
    const Outcome outcome = Deliver(c.arguments, c.input, folder / "drop");
    ASSERT_EQ(outcome.status, c.status) << outcome.error;
    if (c.status == EX_OK) {
      ASSERT_EQ(Names(folder / "drop").size(), 1u);
      const std::string name = Names(folder / "drop")[0];
      EXPECT_TRUE(IsMessageName(name)) << name;
      EXPECT_EQ(ReadFile(folder / ("drop/" + name)), c.file);
    } else {
      EXPECT_THAT(Names(folder / "drop"), IsEmpty());
      EXPECT_EQ(std::count(outcome.error.begin(), outcome.error.end(), '\n'), 1) << outcome.error;
    }
  }
}

const std::string kMessage = "Subject: s\nNewsgroups: local.test\n\nbody\n";

TEST(DeliverFaults, MissingOrFullDropFolder) {
  TempFolder folder;
  const Outcome missing = Deliver({}, kMessage, folder / "missing");
  EXPECT_EQ(missing.status, EX_TEMPFAIL);
  EXPECT_THAT(missing.error, ::testing::HasSubstr(folder / "missing"));

  // A file system that fills up in the middle of the message.
  fs::create_directory(folder / "full");
  ASSERT_EQ(::mount("tmpfs", (folder / "full").c_str(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
  const Outcome full = Deliver({}, kMessage + std::string(1 << 20, 'x') + "\n", folder / "full");
  EXPECT_EQ(full.status, EX_TEMPFAIL);  // "try again later", one line saying why, nothing left
  EXPECT_THAT(full.error, ::testing::MatchesRegex("quillport-deliver: [^\n]*No space left on device\n"));
  EXPECT_THAT(Names(folder / "full"), IsEmpty());
  ::umount((folder / "full").c_str());
}

TEST(DeliverFaults, ATerminationSignalMidMessageLeavesNothing) {
  ::signal(SIGPIPE, SIG_IGN);  // a child that died early fails the test, not the test program
  TempFolder folder;
  const std::string drop = folder / "drop";
  fs::create_directory(drop);
  int pipe_ends[2];
  ASSERT_EQ(::pipe2(pipe_ends, O_CLOEXEC), 0);
  FileDescriptor reading(pipe_ends[0]), writing(pipe_ends[1]);
  const pid_t child = Spawn([&] {
    ::dup2(reading.get(), STDIN_FILENO);
    ::execl(QUILLPORT_DELIVER_INTO, "deliver_into", drop.c_str(), nullptr);
    return 127;
  });
  // More than one piece: the temporary file exists; the rest of the message never comes.
  ASSERT_TRUE(WriteAll(writing.get(), kMessage + std::string(256 * 1024, 'x')));
  for (int i = 0; i < 500 && Names(drop).empty(); ++i) ::usleep(10000);
  ASSERT_EQ(Names(drop).size(), 1u);
  ::kill(child, SIGTERM);
  EXPECT_EQ(Wait(child), EX_TEMPFAIL);
  EXPECT_THAT(Names(drop), IsEmpty());
}

TEST(DeliverFaults, SixtyDeliveriesAtOnceUnderTheSameNamesAllArriveNoneReplaced) {
  constexpr int kDeliveries = 60;
  TempFolder folder;
  fs::create_directory(folder / "drop");
  const auto message = [](int n) { return "Message-ID: <" + std::to_string(n) + "@x>\n" + kMessage; };
  std::vector<pid_t> children;
  for (int n = 0; n < kDeliveries; ++n) {
    // Every one of them tries the same names: none may take a name another took first.
    children.push_back(Spawn([&, n] {
      DropFile file(folder / "drop");
      file.Write(message(n));
      file.Commit([](int attempt) { return std::string("m").append(std::to_string(attempt)) + ".cnm"; });
      return 0;
    }));
  }
  for (const pid_t child : children) EXPECT_EQ(Wait(child), EX_OK);
  std::set<std::string> expected, arrived;
  for (int n = 0; n < kDeliveries; ++n) expected.insert(message(n));
  for (const std::string& name : Names(folder / "drop")) arrived.insert(ReadFile(folder / ("drop/" + name)));
  EXPECT_EQ(arrived, expected);
}

}  // namespace
}  // namespace quillport

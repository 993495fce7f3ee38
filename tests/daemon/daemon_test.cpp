// quillportd as a process without systemd: readiness, watchdog and status on a notification socket of the test's,
// a mail posted once it has settled, SIGUSR1, the window's lock, and SIGTERM mid-Action (every message on the
// server or in the drop folder, once). Then its unit, as systemd-analyze judges it.
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>

#include "common/file_descriptor.h"
#include "relay/drop_folder_lock.h"
#include "tests/testing/inn_server.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using ::testing::HasSubstr;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;
namespace fs = std::filesystem;
using std::chrono::seconds;
using std::chrono::steady_clock;

// Room for sanitizers and a loaded machine; the first timed Action comes a minute after the start, and the
// next two minutes after any Action.
constexpr seconds kPatience{40};

// Polls `done` every 50 ms until it holds or `limit` has passed.
bool Eventually(const std::function<bool()>& done, seconds limit = kPatience) {
  for (const auto end = steady_clock::now() + limit; steady_clock::now() < end;) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// The service manager's end of NOTIFY_SOCKET: every datagram received, in order.
class NotifySocket {
 public:
  explicit NotifySocket(std::string path) : path_(std::move(path)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path_.c_str(), sizeof address.sun_path - 1);
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      throw std::runtime_error("bind");
  }
  const std::string& path() const { return path_; }

  // How many messages so far hold a match of `pattern`.
  int Count(const std::string& pattern) {
    const std::regex wanted(pattern);
    char buffer[4096];
    for (ssize_t size; (size = ::recv(socket_.get(), buffer, sizeof buffer, 0)) > 0;) {
      messages_.emplace_back(buffer, static_cast<std::size_t>(size));
    }
    return static_cast<int>(
        std::ranges::count_if(messages_, [&](const std::string& m) { return std::regex_search(m, wanted); }));
  }

 private:
  std::string path_;
  FileDescriptor socket_{::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
  std::vector<std::string> messages_;
};

// A program started with NOTIFY_SOCKET and a watchdog of 2 s (a message every second), its output in a file.
class Service {
 public:
  Service(const std::vector<std::string>& argv, const std::string& notify, std::string output)
      : output_(std::move(output)) {
    std::vector<std::string> command = {"/usr/bin/env", "NOTIFY_SOCKET=" + notify, "WATCHDOG_USEC=2000000"};
    command.insert(command.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (std::string& a : command) args.push_back(a.data());
    args.push_back(nullptr);
    const FileDescriptor out(::open(output_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if ((pid_ = ::fork()) == 0) {
      ::dup2(out.get(), STDOUT_FILENO), ::dup2(out.get(), STDERR_FILENO);
      ::execv(args[0], args.data());
      ::_exit(127);
    }
  }
  ~Service() {
    if (!status_) ::kill(pid_, SIGKILL), ::waitpid(pid_, nullptr, 0);
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  void Signal(int number) const { ::kill(pid_, number); }
  std::string Output() const { return ReadFile(output_); }
  // The exit status once it has ended; -1 for a death by signal, nullopt while it runs.
  std::optional<int> Ended() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return status_;
  }

 private:
  std::string output_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Written under a temporary name, then renamed, as the README asks of any program that drops messages.
void Drop(const std::string& folder, const std::string& id) {
  WriteFile(folder + "/." + id + ".tmp", "From: Tester <tester@example.org>\nNewsgroups: local.test\nSubject: " + id +
                                             "\nMessage-ID: <" + id + "@daemon.test>\n\nBody of " + id + ".\n");
  fs::rename(folder + "/." + id + ".tmp", folder + "/" + id + ".cnm");
}

int MessageFiles(const std::string& folder) {
  return static_cast<int>(
      std::ranges::count_if(testing::Names(folder), [](const std::string& n) { return n.ends_with(".cnm"); }));
}

// A mail through quillport-deliver; its Message-ID is <ID@daemon.test>.
void Deliver(const std::string& drop, const std::string& id) {
  const std::string deliver = std::string(QUILLPORT_DELIVER_INTO) + " " + drop + " -n local.test";
  FILE* pipe = ::popen(deliver.c_str(), "w");
  ASSERT_NE(pipe, nullptr);
  const std::string mail =
      "From: Tester <tester@example.org>\nSubject: " + id + "\nMessage-ID: <" + id + "@daemon.test>\n\nHi.\n";
  std::fwrite(mail.data(), 1, mail.size(), pipe);
  ASSERT_EQ(::pclose(pipe), 0);
}

TEST(DaemonTest, PostsAtStartOnArrivalAndOnSignalAndStopsAfterTheFileInProgress) {
  testing::InnServer inn;
  TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "drop/Errors", log = folder / "news.log";
  fs::create_directories(errors);
  NotifySocket notify(folder / "notify");
  auto window = std::make_optional<DropFolderLock>(drop);  // a window serves the folder when the service starts
  ASSERT_TRUE(window->Hold());
  Drop(drop, "first");  // waiting before the start

  Service service({QUILLPORTD_INTO, drop, errors, log, inn.host(), inn.port_text()}, notify.path(), folder / "output");
  EXPECT_TRUE(Eventually([&] { return notify.Count("READY=1") == 1; }));
  EXPECT_TRUE(Eventually([&] { return notify.Count("WATCHDOG=1") >= 2; }));
  // The Action at the start names the relay that holds the folder, and leaves the file; the status says it waits.
  EXPECT_TRUE(Eventually([&] {
    return notify.Count("STATUS=Action 1 \\(at start\\).*another relay \\(daemon_test, user .*; 1 message waiting") ==
           1;
  }));
  EXPECT_EQ(MessageFiles(drop), 1);
  window.reset();
  service.Signal(SIGHUP);  // an Action at once; a hang-up never stops the service
  EXPECT_TRUE(Eventually([&] { return inn.Head("<first@daemon.test>").has_value(); }));

  // A mail through quillport-deliver is on the server at once; the first timed Action is a minute away.
  auto delivered = steady_clock::now();
  Deliver(drop, "second");
  EXPECT_TRUE(Eventually([&] { return inn.Head("<second@daemon.test>").has_value(); }));
  EXPECT_LT(steady_clock::now() - delivered, seconds(5));
  EXPECT_TRUE(Eventually([&] {
    return notify.Count("STATUS=Action [0-9]+ \\(for new files\\) at [0-9:]+: 1 message \\(.*; no message waiting") >=
           1;
  }));

  // The drop folder made again: watched again at once, and what comes is posted without waiting for the timer.
  fs::remove_all(drop);
  fs::create_directories(errors);
  delivered = steady_clock::now();
  Deliver(drop, "third");
  EXPECT_TRUE(Eventually([&] { return inn.Head("<third@daemon.test>").has_value(); }));
  EXPECT_LT(steady_clock::now() - delivered, seconds(30));

  // SIGTERM in the middle of a long Action: it ends after the file in progress.
  constexpr int kMany = 1000;
  for (int n = 0; n < kMany; ++n) Drop(drop, "many" + std::to_string(n));
  // (The service manager's end keeps reading, as systemd does: a full socket would hold the service up.)
  EXPECT_TRUE(Eventually([&] { return notify.Count("") >= 0 && MessageFiles(drop) < kMany - 5; }));
  service.Signal(SIGTERM);
  EXPECT_TRUE(Eventually([&] { return notify.Count("") >= 0 && service.Ended().has_value(); }));
  EXPECT_EQ(service.Ended(), 0);
  EXPECT_EQ(notify.Count("STOPPING=1"), 1);
  const int left = MessageFiles(drop);
  EXPECT_GT(left, 0);
  EXPECT_EQ(inn.ArticleCount("local.test"), 3 + kMany - left);  // none both posted and left
  EXPECT_EQ(std::ranges::count(ReadFile(log), '\n'), 3 + kMany - left);
  const std::string output = service.Output();
  EXPECT_THAT(output, HasSubstr("started: quillportd 1.1, process "));
  EXPECT_THAT(output, HasSubstr("drop/many0.cnm: posted, Message-ID <many0@daemon.test>"));
  EXPECT_THAT(output, ::testing::ContainsRegex("stopped: SIGTERM, process [0-9]+\n"));
  if (output.find("system log unavailable") != std::string::npos) return;
  // Each failure once, in the system log, as an error; nothing on standard error.
  EXPECT_THAT(output, ::testing::ContainsRegex("system log: <59>[^\n]*: Drop folder: another relay \\(daemon_test"));
  std::size_t holders = 0;
  for (std::size_t at = 0; (at = output.find("another relay (daemon_test", at)) != std::string::npos; ++at) ++holders;
  EXPECT_EQ(holders, 1U) << output;
  EXPECT_THAT(output, ::testing::ContainsRegex("system log: <61>[^\n]*: the drop folder .* is watched again after"));
  EXPECT_EQ(output.find("quillport: "), std::string::npos) << output;
}

// What `command` writes (standard error too), and its exit status.
std::pair<int, std::string> Output(const std::string& command) {
  FILE* out = ::popen((command + " 2>&1").c_str(), "r");
  std::string said;
  for (char line[512]; std::fgets(line, sizeof line, out) != nullptr;) said += line;
  return {::pclose(out), said};
}

TEST(DaemonTest, UnitIsVerifiedAndRatedOk) {
  if (std::system("command -v systemd-analyze >/dev/null") != 0) GTEST_SKIP() << "no systemd-analyze";
  TempFolder folder;
  // man quillportd(8), as the unit's documentation names it, from the page this build made.
  fs::create_directories(folder / "man/man8");
  if (fs::exists(QUILLPORTD_MAN_PAGE)) fs::copy_file(QUILLPORTD_MAN_PAGE, folder / "man/man8/quillportd.8");
  const std::string unit = folder / "quillportd.service";
  fs::copy_file(QUILLPORTD_UNIT, unit);
  const std::string man = fs::exists(QUILLPORTD_MAN_PAGE) ? "MANPATH=" + folder / "man" + " " : "";
  EXPECT_EQ(Output(man + "systemd-analyze verify " + (man.empty() ? "--man=no " : "") + unit),
            std::pair(0, std::string()));
  const std::string said = Output("systemd-analyze security --offline=yes " + unit).second;
  std::smatch rating;
  ASSERT_TRUE(
      std::regex_search(said, rating, std::regex("Overall exposure level for quillportd.service: ([0-9.]+) OK")))
      << said;
  EXPECT_LE(std::stod(rating[1]), 2.0) << said;
}

}  // namespace
}  // namespace quillport

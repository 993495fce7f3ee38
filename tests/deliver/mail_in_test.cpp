// Mail in, end to end: Debian's Exim delivers a message to an alias that pipes it into
// quillport-deliver, run as Exim's own delivery user in the group quillport; the relay engine posts
// it to a private INN, which stores it whole, the dropped headers gone. Exim runs with a private
// configuration in the test's folder; Exim keeps root's rights for it only while it is listed in
// /etc/exim4/trusted_configs, so it is listed for the test and unlisted afterwards.
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/support/inn_server.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

constexpr char kTrustedConfigs[] = "/etc/exim4/trusted_configs";

// Lists a configuration file in Exim's trusted list while in scope.
class TrustedEximConfig {
 public:
  explicit TrustedEximConfig(std::string path) : path_(std::move(path)) {
    std::ofstream(kTrustedConfigs, std::ios::app) << path_ << '\n';
  }
  ~TrustedEximConfig() {
    std::string kept, line;
    for (std::ifstream in(kTrustedConfigs); std::getline(in, line);) {
      if (line != path_) kept += line + '\n';
    }
    if (kept.empty()) {
      fs::remove(kTrustedConfigs);
    } else {
      std::ofstream(kTrustedConfigs, std::ios::trunc) << kept;
    }
  }

 private:
  std::string path_;
};

// The private Exim: a local domain whose aliases may pipe, through a pipe transport like Debian's
// own (mbox "From " line before the message, an empty line after it), run as Exim's user in the
// group quillport: what SYSTEM_ALIASES_PIPE_TRANSPORT and SYSTEM_ALIASES_GROUP set up.
std::string EximConfig(const std::string& dir) {
  return "primary_hostname = quillport.test\nqualify_domain = quillport.test\n"
         "spool_directory = " +
         dir + "/spool\nlog_file_path = " + dir +
         "/log/%slog\nkeep_environment =\n"
         "begin routers\naliases:\n  driver = redirect\n  domains = quillport.test\n"
         "  data = ${lookup{$local_part}lsearch{" +
         dir +
         "/aliases}}\n"
         "  pipe_transport = address_pipe\n  group = quillport\n"
         "begin transports\naddress_pipe:\n  driver = pipe\n  return_fail_output\n";
}

const std::string kMail =
    "From someone@example.org Mon Dec  7 06:00:00 2026\n"
    "Received: from outside.example by mx.example; Mon, 7 Dec 2026 06:00:00 +0000\n"
    "From: Someone <someone@example.org>\nTo: news-list@quillport.test\nSubject: Mail in\n"
    "Message-ID: <mail-in-1@quillport.test>\n\nFirst line.\n.\nd\xe9j\xe0 vu, 8 bits\nLast line.\n";

TEST(MailIn, EximAliasToQuillportDeliverThenTheRelayPostsItToInn) {
  if (::geteuid() != 0) GTEST_SKIP() << "Exim's delivery user and INN need root";
  if (::access("/usr/sbin/exim4", X_OK) != 0) GTEST_SKIP() << "no Exim (another mail system is installed)";
  if (::getgrnam("quillport") == nullptr) {
    ASSERT_EQ(std::system("groupadd --system quillport"), 0);  // as the Debian package does
  }
  const passwd* exim_user = ::getpwnam("Debian-exim");
  ASSERT_NE(exim_user, nullptr) << "exim4-daemon-light is not installed";

  testing::TempFolder folder;
  const std::string dir = folder.path();
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  for (const char* sub : {"spool", "log"}) {
    fs::create_directory(folder / sub);
    ASSERT_EQ(::chown((folder / sub).c_str(), exim_user->pw_uid, exim_user->pw_gid), 0);
  }
  // The drop folder as the package makes it: root's, writable to the group quillport only.
  const std::string drop = folder / "drop";
  fs::create_directories(drop + "/Errors");
  ASSERT_EQ(::chown(drop.c_str(), 0, ::getgrnam("quillport")->gr_gid), 0);
  ::chmod(drop.c_str(), 02770);
  testing::WriteFile(folder / "aliases", "news-list: \"|" QUILLPORT_DELIVER_INTO " " + drop + " -n local.test\"\n");
  testing::WriteFile(folder / "exim.conf", EximConfig(dir));
  TrustedEximConfig trusted(folder / "exim.conf");

  FILE* exim = ::popen(("exim4 -C " + dir + "/exim.conf -odi -oi news-list@quillport.test").c_str(), "w");
  ASSERT_NE(exim, nullptr);
  std::fwrite(kMail.data(), 1, kMail.size(), exim);
  ASSERT_EQ(::pclose(exim), 0);
  const std::string exim_log = testing::ReadFile(folder / "log/mainlog");
  ASSERT_THAT(exim_log, HasSubstr("=> |")) << exim_log;
  const std::vector<std::string> dropped = testing::Names(drop);
  ASSERT_EQ(dropped.size(), 2u) << exim_log;  // the message and Errors
  struct stat file {};
  ::stat((drop + "/" + dropped[0]).c_str(), &file);
  EXPECT_EQ(file.st_uid, exim_user->pw_uid);

  testing::InnServer inn({"local.test"});
  RelaySettings settings{drop, "*.cnm", drop + "/Errors", folder / "~NNTP.log"};
  settings.quiet_period = {};
  NntpClient client;
  NewsOptions options;
  options.host = inn.host();
  options.port = inn.port_text();
  options.timeout = std::chrono::seconds(10);
  client.Configure(options);
  RelayCycle relay(client, settings);
  ASSERT_TRUE(relay.DoActionFor("Action"));

  EXPECT_EQ(inn.Body("<mail-in-1@quillport.test>"), "First line.\r\n.\r\nd\xe9j\xe0 vu, 8 bits\r\nLast line.\r\n");
  const std::string head = inn.Head("<mail-in-1@quillport.test>").value_or("");
  for (const char* kept :
       {"From: Someone <someone@example.org>\r\n", "Subject: Mail in\r\n", "Newsgroups: local.test\r\n"}) {
    EXPECT_THAT(head, HasSubstr(kept));
  }
  for (const char* gone : {"Received:", "To:", "someone@example.org Mon"}) EXPECT_THAT(head, Not(HasSubstr(gone)));
  EXPECT_EQ(testing::Names(drop), std::vector<std::string>{"Errors"});
}

}  // namespace
}  // namespace quillport

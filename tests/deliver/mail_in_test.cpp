// Mail in: Debian's Exim delivers a message to an alias that pipes it into quillport-deliver, run as Exim's
// own delivery user in the group quillport, with a private configuration in the test's folder. What the relay
// makes of such a file on a real server is relay_server_test's part.
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "common/message_name.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

// Exim keeps root's rights for a private configuration only while /etc/exim4/trusted_configs lists it.
struct TrustedEximConfig {
  const std::string list = "/etc/exim4/trusted_configs", before = testing::ReadFile(list);
  explicit TrustedEximConfig(const std::string& path) { testing::WriteFile(list, before + path + "\n"); }
  ~TrustedEximConfig() { before.empty() ? (void)fs::remove(list) : testing::WriteFile(list, before); }
};

// A local domain whose aliases may pipe, through a pipe transport like Debian's own (mbox "From " line
// before the message, an empty line after it), run as Exim's user in the group quillport.
std::string EximConfig(const std::string& dir) {
  return "primary_hostname = quillport.test\nqualify_domain = quillport.test\nspool_directory = " + dir +
         "/spool\nlog_file_path = " + dir + "/log/%slog\nkeep_environment =\nbegin routers\naliases:\n" +
         "  driver = redirect\n  domains = quillport.test\n  data = ${lookup{$local_part}lsearch{" + dir +
         "/aliases}}\n  pipe_transport = address_pipe\n  group = quillport\n"
         "begin transports\naddress_pipe:\n  driver = pipe\n  return_fail_output\n";
}

TEST(MailIn, EximPipesAMessageToAnAliasIntoQuillportDeliver) {
  if (::geteuid() != 0) GTEST_SKIP() << "Exim's delivery user needs root";
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
  fs::create_directory(drop);
  ASSERT_EQ(::chown(drop.c_str(), 0, ::getgrnam("quillport")->gr_gid), 0);
  ::chmod(drop.c_str(), 02770);
  testing::WriteFile(folder / "aliases", "news-list: \"|" QUILLPORT_DELIVER_INTO " " + drop + " -n local.test\"\n");
  testing::WriteFile(folder / "exim.conf", EximConfig(dir));
  TrustedEximConfig trusted(folder / "exim.conf");

  FILE* exim = ::popen(("exim4 -C " + dir + "/exim.conf -odi -oi news-list@quillport.test").c_str(), "w");
  ASSERT_NE(exim, nullptr);
  std::fputs(
      "From someone@example.org Mon Dec  7 06:00:00 2026\nFrom: Someone <someone@example.org>\n"
      "To: news-list@quillport.test\nSubject: Mail in\n\nFirst line.\n.\nd\xe9j\xe0 vu, 8 bits\nLast line.\n",
      exim);
  ASSERT_EQ(::pclose(exim), 0);
  const std::string exim_log = testing::ReadFile(folder / "log/mainlog");
  ASSERT_THAT(exim_log, HasSubstr("=> |")) << exim_log;
  const std::vector<std::string> dropped = testing::Names(drop);
  ASSERT_EQ(dropped.size(), 1u) << exim_log;
  EXPECT_TRUE(IsMessageName(dropped[0])) << dropped[0];
  // Written by Exim's user, readable to the group quillport (the relay's users).
  struct stat file {};
  ::stat((drop + "/" + dropped[0]).c_str(), &file);
  EXPECT_EQ(file.st_uid, exim_user->pw_uid);
  EXPECT_EQ(file.st_gid, ::getgrnam("quillport")->gr_gid);
  EXPECT_EQ(file.st_mode & 0040, 0040);
  // Exim's framing gone, CR LF line ends, 8 bits and dots as they came, the alias's group added.
  const std::string message = testing::ReadFile(drop + "/" + dropped[0]);
  EXPECT_THAT(message, ::testing::Not(HasSubstr("someone@example.org Mon")));
  EXPECT_THAT(message, HasSubstr("\r\nFrom: Someone <someone@example.org>\r\nTo: news-list@quillport.test\r\n"));
  EXPECT_THAT(message,
              ::testing::EndsWith(
                  "\r\nNewsgroups: local.test\r\n\r\nFirst line.\r\n.\r\nd\xe9j\xe0 vu, 8 bits\r\nLast line.\r\n"));
}

}  // namespace
}  // namespace quillport

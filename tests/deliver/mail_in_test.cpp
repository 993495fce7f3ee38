// Mail in, end to end: Debian's Exim (private configuration and spool) routes the news aliases through the
// package's router and transport (packaging/exim4); procmail runs the manual page's recipe into deliver_into.
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <regex>
#include <sstream>

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

// The package's router and transport ahead of one like Debian's system_aliases (pipes allowed, no group).
std::string EximConfig(const std::string& dir) {
  std::string config =
      "primary_hostname = quillport.test\nqualify_domain = quillport.test\ndomainlist local_domains = quillport.test\n"
      "spool_directory = @D/spool\nlog_file_path = @D/log/%slog\nkeep_environment =\nQUILLPORT_DELIVER = @P\n"
      "QUILLPORT_ALIASES = @D/aliases\nbegin routers\n.include @E/router/390_quillport_news-aliases\n"
      "system_aliases:\n  driver = redirect\n  domains = +local_domains\n"
      "  data = ${lookup{$local_part}lsearch{@D/aliases}}\n  pipe_transport = address_pipe\n"
      "begin transports\n.include @E/transport/30_quillport_news-pipe\n"
      "address_pipe:\n  driver = pipe\n  return_fail_output\nbegin retry\n* * F,2h,15m\n";
  for (const auto& [mark, text] : {std::pair<std::string, std::string>("@D", dir),
                                   {"@P", QUILLPORT_DELIVER_INTO},
                                   {"@E", QUILLPORT_EXIM4_CONF_DIR}}) {
    config = std::regex_replace(config, std::regex(mark), text);
  }
  return config;
}

// The group quillport, as the Debian package adds it, for the test's run: one added here is deleted again.
struct QuillportGroup {
  const bool added = ::getgrnam("quillport") == nullptr && std::system("groupadd --system quillport") == 0;
  ~QuillportGroup() {
    if (added) (void)std::system("groupdel quillport");
  }
};

// A folder as the package makes the drop folder: root's, writable to the group quillport only.
void MakeDropFolder(const std::string& path) {
  fs::create_directory(path);
  ASSERT_EQ(::chown(path.c_str(), 0, ::getgrnam("quillport")->gr_gid), 0);
  ::chmod(path.c_str(), 02770);
}

// The content of the one file in `drop` (named as quillport-deliver names them) and its status in `file`.
std::string OneDroppedFile(const std::string& drop, struct stat& file) {
  const std::vector<std::string> dropped = testing::Names(drop);
  if (dropped.size() != 1 || !IsMessageName(dropped[0])) ADD_FAILURE() << ::testing::PrintToString(dropped);
  if (dropped.empty() || ::stat((drop + "/" + dropped[0]).c_str(), &file) != 0) return "";
  return testing::ReadFile(drop + "/" + dropped[0]);
}

TEST(MailIn, EximPipesANewsAliasIntoQuillportDeliverWithTheGroupQuillportOnly) {
  if (::geteuid() != 0) GTEST_SKIP() << "Exim's delivery user needs root";
  if (::access("/usr/sbin/exim4", X_OK) != 0) GTEST_SKIP() << "no Exim (another mail system is installed)";
  const QuillportGroup group;
  ASSERT_NE(::getgrnam("quillport"), nullptr);
  const passwd* exim_user = ::getpwnam("Debian-exim");
  ASSERT_NE(exim_user, nullptr) << "exim4-daemon-light is not installed";

  testing::TempFolder folder;
  const std::string dir = folder.path();
  fs::permissions(dir, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  for (const char* sub : {"spool", "log", "out"}) {
    fs::create_directory(folder / sub);
    ASSERT_EQ(::chown((folder / sub).c_str(), exim_user->pw_uid, exim_user->pw_gid), 0);
  }
  const std::string drop = folder / "drop", repaired = folder / "repaired";
  MakeDropFolder(drop);
  // news-list delivers; broken names a drop folder that is missing until the repair; other is any pipe.
  testing::WriteFile(folder / "aliases", "news-list: \"|" QUILLPORT_DELIVER_INTO " " + drop +
                                             " -n local.test\"\nbroken: \"|" QUILLPORT_DELIVER_INTO " " + repaired +
                                             " -n local.test\"\nother: \"|/bin/sh " + dir + "/groups.sh\"\n");
  testing::WriteFile(folder / "groups.sh", "cat >/dev/null; id -G >" + dir + "/out/groups\n");
  testing::WriteFile(folder / "exim.conf", EximConfig(dir));
  TrustedEximConfig trusted(folder / "exim.conf");
  const std::string exim = "exim4 -C " + dir + "/exim.conf ";

  testing::WriteFile(
      folder / "mail",
      "From someone@example.org Mon Dec  7 06:00:00 2026\nFrom: Someone <someone@example.org>\n"
      "To: news-list@quillport.test\nSubject: Mail in\n\nFirst line.\n.\nd\xe9j\xe0 vu, 8 bits\nLast line.\n");
  ASSERT_EQ(
      std::system((exim + "-odi -oi news-list@quillport.test broken@quillport.test other <" + dir + "/mail").c_str()),
      0);
  const std::string exim_log = testing::ReadFile(folder / "log/mainlog");
  ASSERT_THAT(exim_log, HasSubstr("R=quillport_news_aliases T=quillport_pipe\n")) << exim_log;
  // The deferred delivery's one-line reason is in the mainlog, beside Exim's "returned 75".
  EXPECT_THAT(exim_log, ::testing::AllOf(HasSubstr("quillport_pipe transport output: quillport-deliver: "),
                                         HasSubstr(repaired + ": No such file or directory\n")))
      << exim_log;
  // The other pipe alias ran through system_aliases, without the group quillport.
  std::istringstream groups(testing::ReadFile(folder / "out/groups"));
  std::vector<gid_t> gids{std::istream_iterator<gid_t>(groups), {}};
  EXPECT_THAT(gids, ::testing::AllOf(::testing::Contains(exim_user->pw_gid),
                                     ::testing::Not(::testing::Contains(::getgrnam("quillport")->gr_gid))));
  // After the repair, a forced queue run delivers the deferred message.
  MakeDropFolder(repaired);
  ASSERT_EQ(std::system((exim + "-qff").c_str()), 0);
  EXPECT_EQ(testing::Names(repaired).size(), 1u) << testing::ReadFile(folder / "log/mainlog");

  // Written by Exim's user, readable to the group quillport (the relay's users).
  struct stat file {};
  const std::string message = OneDroppedFile(drop, file);
  EXPECT_EQ(std::pair(file.st_uid, file.st_gid), std::pair(exim_user->pw_uid, ::getgrnam("quillport")->gr_gid));
  EXPECT_EQ(file.st_mode & 0040, 0040);
  // Exim's framing gone, CR LF line ends, 8 bits and dots as they came, the alias's group added.
  EXPECT_THAT(message, ::testing::Not(HasSubstr("someone@example.org Mon")));
  EXPECT_THAT(message, HasSubstr("\r\nFrom: Someone <someone@example.org>\r\nTo: news-list@quillport.test\r\n"));
  EXPECT_THAT(message,
              ::testing::EndsWith(
                  "\r\nNewsgroups: local.test\r\n\r\nFirst line.\r\n.\r\nd\xe9j\xe0 vu, 8 bits\r\nLast line.\r\n"));
}

// The manual page's procmail example, groff's escapes undone, its program replaced by `program`.
std::string ManualPageRecipe(const std::string& program) {
  const std::string page = testing::ReadFile(QUILLPORT_MANUAL_PAGE);
  const std::size_t section = page.find("\n.SS procmail\n");
  const std::size_t start = page.find("\n.EX\n", section), end = page.find("\n.EE\n", start);
  if (section == std::string::npos || end == std::string::npos) return "";
  std::string recipe = page.substr(start + 5, end - start - 4);
  recipe = std::regex_replace(recipe, std::regex(R"(\\-)"), "-");
  recipe = std::regex_replace(recipe, std::regex(R"(\\e)"), "\\");
  return std::regex_replace(recipe, std::regex("/usr/bin/quillport-deliver"), program);
}

TEST(MailIn, ProcmailRunsTheManualPagesRecipeAndTheRelaysGroupCanReadTheFile) {
  if (::access("/usr/bin/procmail", X_OK) != 0) GTEST_SKIP() << "procmail is not installed";
  testing::TempFolder folder;
  const std::string drop = folder / "drop";
  fs::create_directory(drop);
  const std::string recipe = ManualPageRecipe(QUILLPORT_DELIVER_INTO " " + drop);
  ASSERT_THAT(recipe, ::testing::HasSubstr(QUILLPORT_DELIVER_INTO " " + drop + " -n local.test\n"));
  testing::WriteFile(folder / "procmailrc", "LOGFILE=" + (folder / "log") + "\n" + recipe);

  const mode_t umask_before = ::umask(022);  // procmail's own umask is what counts
  testing::WriteFile(folder / "mail",
                     "From someone@example.org Mon Dec  7 06:00:00 2026\nFrom: Someone <someone@example.org>\n"
                     "List-Id: An example list <list.example.org>\nMessage-ID: <1@example.org>\nSubject: s\n\n"
                     "First line.\n.\nLast line.\n");
  const int status = std::system(("procmail -m " + (folder / "procmailrc") + " <" + (folder / "mail")).c_str());
  ::umask(umask_before);
  ASSERT_EQ(status, 0) << testing::ReadFile(folder / "log");
  struct stat file {};
  EXPECT_EQ(OneDroppedFile(drop, file),
            "From: Someone <someone@example.org>\r\nList-Id: An example list <list.example.org>\r\n"
            "Message-ID: <1@example.org>\r\nSubject: s\r\nNewsgroups: local.test\r\n\r\n"
            "First line.\r\n.\r\nLast line.\r\n");
  EXPECT_EQ(file.st_mode & 0777, 0640);
}

}  // namespace
}  // namespace quillport

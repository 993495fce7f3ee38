// Mail in through procmail: the recipe of quillport-deliver's manual page, as written there, run by Debian's
// procmail with a private rcfile, quillport-deliver being deliver_into. procmail runs its pipes with its own
// umask, 077, whatever its caller's.
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "common/message_name.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

namespace fs = std::filesystem;

// The example after ".SS procmail" in the manual page, with groff's escapes undone and the program
// replaced by `program`.
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
  FILE* procmail = ::popen(("procmail -m " + (folder / "procmailrc")).c_str(), "w");
  ASSERT_NE(procmail, nullptr);
  std::fputs(
      "From someone@example.org Mon Dec  7 06:00:00 2026\nFrom: Someone <someone@example.org>\n"
      "List-Id: An example list <list.example.org>\nMessage-ID: <1@example.org>\nSubject: s\n\n"
      "First line.\n.\nLast line.\n",
      procmail);
  const int status = ::pclose(procmail);
  ::umask(umask_before);
  ASSERT_EQ(status, 0) << testing::ReadFile(folder / "log");

  const std::vector<std::string> dropped = testing::Names(drop);
  ASSERT_EQ(dropped.size(), 1u) << testing::ReadFile(folder / "log");
  EXPECT_TRUE(IsMessageName(dropped[0])) << dropped[0];
  EXPECT_EQ(testing::ReadFile(drop + "/" + dropped[0]),
            "From: Someone <someone@example.org>\r\nList-Id: An example list <list.example.org>\r\n"
            "Message-ID: <1@example.org>\r\nSubject: s\r\nNewsgroups: local.test\r\n\r\n"
            "First line.\r\n.\r\nLast line.\r\n");
  struct stat file {};
  ::stat((drop + "/" + dropped[0]).c_str(), &file);
  EXPECT_EQ(file.st_mode & 0777, 0640);
}

}  // namespace
}  // namespace quillport

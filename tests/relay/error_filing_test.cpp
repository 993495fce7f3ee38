#include "relay/error_filing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

TEST(ErrorFiling, NameSplitAtTheFirstDot) {
  EXPECT_EQ(FileBaseName("MSG001.CNM"), "msg001");
  EXPECT_EQ(FileExtension("MSG001.CNM"), ".cnm");
  EXPECT_EQ(FileBaseName("a.b.cnm"), "a");
  EXPECT_EQ(FileExtension("a.b.cnm"), ".b.cnm");
  EXPECT_EQ(FileBaseName("README"), "readme");
  EXPECT_EQ(FileExtension("README"), "");
  EXPECT_EQ(FileBaseName(".Hidden.cnm"), "");
  EXPECT_EQ(FileExtension(".Hidden.cnm"), ".hidden.cnm");
}

TEST(ErrorFiling, RandomNamesComeInTheSameOrderEveryRun) {
  QueueNameGenerator first, second;
  for (int i = 0; i < 100; ++i) {
    const std::string name = first.RandomQueueName();
    EXPECT_EQ(name, second.RandomQueueName());
    ASSERT_EQ(name.size(), 8u);
    EXPECT_EQ(name.substr(0, 4), "~COL");
    for (char c : name.substr(4)) EXPECT_TRUE(std::isupper(c) || std::isdigit(c)) << name;
  }
  QueueNameGenerator values;
  for (int i = 0; i < 10000; ++i) {
    const float r = values.NextRandom();
    ASSERT_GE(r, 0.0f);
    ASSERT_LT(r, 1.0f);
  }
}

TEST(ErrorFiling, FilesUnderLowerCaseNameThenUnderFreeRandomNames) {
  TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "errors";
  fs::create_directories(drop);
  fs::create_directories(errors);
  QueueNameGenerator names, expected_names;
  std::string first_random = expected_names.RandomQueueName();  // "~COL" and four
  for (auto& c : first_random) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

  WriteFile(drop + "/MSG001.CNM", "one");
  EXPECT_EQ(MySafeRename(drop, errors, "MSG001.CNM", names), errors + "/msg001.cnm");
  WriteFile(drop + "/msg001.cnm", "two");
  EXPECT_EQ(MySafeRename(drop, errors, "msg001.cnm", names), errors + "/" + first_random + ".cnm");

  WriteFile(drop + "/README", "three");
  EXPECT_EQ(MySafeRename(drop, errors, "README", names), errors + "/readme");
  WriteFile(drop + "/readme", "four");
  const std::string no_extension = MySafeRename(drop, errors, "readme", names);
  EXPECT_EQ(fs::path(no_extension).filename().string().size(), 8u);

  EXPECT_TRUE(fs::is_empty(drop));
  EXPECT_EQ(Names(errors).size(), 4u);
  EXPECT_EQ(ReadFile(errors + "/msg001.cnm"), "one");  // never overwritten
}

TEST(ErrorFiling, NothingMovesWhenAFolderIsMissingOrTheTargetIsNotAFile) {
  TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "errors";
  fs::create_directories(drop);
  WriteFile(drop + "/a.cnm", "x");
  QueueNameGenerator names;
  EXPECT_EQ(MySafeRename(drop, errors, "a.cnm", names), "");
  EXPECT_EQ(MySafeRename(folder / "nowhere", drop, "a.cnm", names), "");
  fs::create_directories(errors + "/a.cnm");  // a folder bears the name
  EXPECT_EQ(MySafeRename(drop, errors, "a.cnm", names), "");
  EXPECT_EQ(MySafeRename(drop, errors, "gone.cnm", names), "");
  EXPECT_THAT(Names(drop), ElementsAre("a.cnm"));
}

TEST(ErrorFiling, MoveNeverReplacesAnExistingFile) {
  TempFolder folder;
  WriteFile(folder / "from", "new");
  WriteFile(folder / "to", "old");
  EXPECT_FALSE(MoveWithoutReplacing(folder / "from", folder / "to"));
  EXPECT_EQ(ReadFile(folder / "to"), "old");
  EXPECT_TRUE(MoveWithoutReplacing(folder / "from", folder / "free"));
  EXPECT_EQ(ReadFile(folder / "free"), "new");
  EXPECT_FALSE(fs::exists(folder / "from"));
}

}  // namespace
}  // namespace quillport

#include "relay/error_filing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::WriteFile;
namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST(ErrorFiling, NameSplitAtTheFirstDot) {
  const std::vector<std::array<const char*, 3>> cases = {{"MSG001.CNM", "msg001", ".cnm"},
                                                         {"a.b.cnm", "a", ".b.cnm"},
                                                         {"README", "readme", ""},
                                                         {".Hidden.cnm", "", ".hidden.cnm"}};
  for (const auto& [name, base, extension] : cases) {
    EXPECT_EQ(FileBaseName(name), base) << name;
    EXPECT_EQ(FileExtension(name), extension) << name;
  }
}

TEST(ErrorFiling, FilesUnderLowerCaseNameThenUnderFreeRandomNames) {
  testing::TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "errors";
  fs::create_directories(drop);
  fs::create_directories(errors);
  QueueNameGenerator names, same_start;
  const std::string first = Lower(same_start.RandomQueueName());
  const std::string second = Lower(same_start.RandomQueueName());
  EXPECT_THAT(first, ::testing::MatchesRegex("~col[a-z0-9]{4}"));

  WriteFile(drop + "/MSG001.CNM", "one");
  EXPECT_EQ(MySafeRename(drop, errors, "MSG001.CNM", names).target, errors + "/msg001.cnm");
  WriteFile(drop + "/msg001.cnm", "two");
  EXPECT_EQ(MySafeRename(drop, errors, "msg001.cnm", names).target, errors + "/" + first + ".cnm");
  WriteFile(drop + "/README", "three");
  EXPECT_EQ(MySafeRename(drop, errors, "README", names).target, errors + "/readme");
  WriteFile(drop + "/readme", "four");
  EXPECT_EQ(MySafeRename(drop, errors, "readme", names).target, errors + "/" + second);
  EXPECT_TRUE(fs::is_empty(drop));
  EXPECT_EQ(testing::ReadFile(errors + "/msg001.cnm"), "one");  // never overwritten
}

TEST(ErrorFiling, NothingMovesWhenAFolderIsMissingOrTheTargetIsNoFile) {
  testing::TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "errors";
  fs::create_directories(drop);
  WriteFile(drop + "/a.cnm", "x");
  QueueNameGenerator names;
  EXPECT_EQ(MySafeRename(drop, errors, "a.cnm", names).target, "");
  EXPECT_EQ(MySafeRename(folder / "nowhere", drop, "a.cnm", names).target, "");
  fs::create_directories(errors + "/a.cnm");  // a folder bears the name
  EXPECT_EQ(MySafeRename(drop, errors, "a.cnm", names).target, "");
  EXPECT_THAT(Names(drop), ::testing::ElementsAre("a.cnm"));
}

TEST(ErrorFiling, AcrossFileSystemsAMessageArrivesWholeOrNotAtAll) {
  testing::TempFolder folder;
  const std::string drop = folder / "drop", errors = folder / "errors";
  fs::create_directories(drop);
  fs::create_directories(errors);
  if (::geteuid() != 0 || ::mount("tmpfs", errors.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "a small file system for the error folder needs root";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{errors};
  QueueNameGenerator names;

  const std::string small(1000, 's'), big(200 * 1024, 'b');
  WriteFile(drop + "/small.cnm", small);
  EXPECT_TRUE(MySafeRename(drop, errors, "small.cnm", names).filed());
  EXPECT_EQ(testing::ReadFile(errors + "/small.cnm"), small);

  // The error folder's file system is full: nothing partial is left there.
  WriteFile(drop + "/big.cnm", big);
  const Filing filing = MySafeRename(drop, errors, "big.cnm", names);
  EXPECT_FALSE(filing.filed());
  EXPECT_THAT(filing.problem, ::testing::HasSubstr("No space left"));
  EXPECT_THAT(Names(errors), ::testing::ElementsAre("small.cnm"));
  EXPECT_THAT(Names(drop), ::testing::ElementsAre("big.cnm"));
  EXPECT_EQ(testing::ReadFile(drop + "/big.cnm"), big);
}

}  // namespace
}  // namespace quillport

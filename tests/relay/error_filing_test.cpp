#include "relay/error_filing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using ::testing::ElementsAre;
using testing::Names;
using testing::ReadFile;
using testing::WriteFile;
namespace fs = std::filesystem;

class ErrorFiling : public ::testing::Test {
 protected:
  ErrorFiling() {
    fs::create_directories(drop_);
    fs::create_directories(errors_);
  }
  // Drops `name` holding `bytes` and files it; returns where it went.
  std::string File(const std::string& name, const std::string& bytes = "x") {
    WriteFile(drop_ + "/" + name, bytes);
    return MoveUnderFreeName(drop_, errors_, name, names_).target;
  }
  testing::TempFolder folder_;
  const std::string drop_ = folder_ / "drop", errors_ = folder_ / "errors";
  QueueNameGenerator names_;
};

TEST_F(ErrorFiling, FilesUnderLowerCaseNameThenUnderFreeRandomNames) {
  QueueNameGenerator same_start;
  std::string first = same_start.RandomQueueName(), second = same_start.RandomQueueName();
  for (std::string* name : {&first, &second}) std::ranges::transform(*name, name->begin(), ::tolower);
  EXPECT_EQ(File("MSG.B.CNM", "one"), errors_ + "/msg.b.cnm");
  EXPECT_EQ(File("msg.b.cnm", "two"), errors_ + "/" + first + ".b.cnm");  // split at the first dot
  EXPECT_EQ(File("README", "three"), errors_ + "/readme");
  EXPECT_EQ(File("readme", "four"), errors_ + "/" + second);
  EXPECT_TRUE(fs::is_empty(drop_));
  EXPECT_EQ(ReadFile(errors_ + "/msg.b.cnm"), "one");  // never overwritten

  // Any kind of entry takes a name; nothing moves when a folder is missing.
  fs::create_directories(errors_ + "/a.cnm");
  ASSERT_EQ(::mkfifo((errors_ + "/b.cnm").c_str(), 0666), 0);
  fs::create_symlink(folder_ / "nowhere", errors_ + "/c.cnm");
  for (const char* name : {"a.cnm", "b.cnm", "c.cnm"}) {
    EXPECT_THAT(File(name, name), ::testing::MatchesRegex(errors_ + "/~col.{4}\\.cnm")) << name;
  }
  EXPECT_TRUE(fs::is_symlink(errors_ + "/c.cnm"));
  EXPECT_EQ(MoveUnderFreeName(drop_, folder_ / "nowhere", "d.cnm", names_).target, "");
  EXPECT_EQ(MoveUnderFreeName(folder_ / "nowhere", errors_, "d.cnm", names_).target, "");
}

TEST_F(ErrorFiling, AcrossFileSystemsAMessageArrivesWholeOrNotAtAll) {
  if (::geteuid() != 0 || ::mount("tmpfs", errors_.c_str(), "tmpfs", 0, "size=64k") != 0) {
    GTEST_SKIP() << "a small file system for the error folder needs root";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{errors_};
  const std::string small(1000, 's'), big(200 * 1024, 'b');
  EXPECT_EQ(File("small.cnm", small), errors_ + "/small.cnm");
  EXPECT_EQ(ReadFile(errors_ + "/small.cnm"), small);

  // The error folder's file system is full: nothing partial is left there.
  WriteFile(drop_ + "/big.cnm", big);
  const Filing filing = MoveUnderFreeName(drop_, errors_, "big.cnm", names_);
  EXPECT_FALSE(filing.filed());
  EXPECT_THAT(filing.problem, ::testing::HasSubstr("No space left"));
  EXPECT_THAT(Names(errors_), ElementsAre("small.cnm"));
  EXPECT_EQ(ReadFile(drop_ + "/big.cnm"), big);
}

}  // namespace
}  // namespace quillport

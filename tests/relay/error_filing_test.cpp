#include "relay/error_filing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "common/message_name.h"
#include "relay/leftover_sweep.h"
#include "tests/testing/crash_file_system.h"
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
  // Drops `name` holding `bytes` (on disk) and files it; returns where it went.
  std::string File(const std::string& name, const std::string& bytes = "x") {
    WriteFile(drop_ + "/" + name, bytes);
    files_.Watch(drop_);
    files_.Watch(errors_);
    return MoveUnderFreeName(files_, {drop_, name}, errors_, names_).target;
  }
  testing::TempFolder folder_;
  testing::CrashFileSystem files_;
  const std::string drop_ = folder_ / "drop", errors_ = folder_ / "errors";
  QueueNameGenerator names_;
};

TEST_F(ErrorFiling, FilesUnderLowerCaseNameThenUnderFreeRandomNames) {
  QueueNameGenerator same_start;
  std::string first = same_start.RandomQueueName(), second = same_start.RandomQueueName();
  for (std::string* name : {&first, &second}) std::ranges::transform(*name, name->begin(), ::tolower);
  EXPECT_EQ(File("MSG.B.CNM", "one"), errors_ + "/msg.b.cnm");
  files_.Crash();  // a filing lasts
  EXPECT_THAT(Names(drop_), ElementsAre());
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
  EXPECT_EQ(MoveUnderFreeName(files_, {drop_, "d.cnm"}, folder_ / "nowhere", names_).target, "");
  EXPECT_EQ(MoveUnderFreeName(files_, {folder_ / "nowhere", "d.cnm"}, errors_, names_).target, "");
}

TEST_F(ErrorFiling, AcrossFileSystemsAMessageArrivesWholeOrNotAtAllAndLeftoversAreSwept) {
  files_.Add(testing::Operation::kRename, EXDEV);  // the error folder on another file system: copied
  const std::string small(1000, 's'), big(200 * 1024, 'b');
  EXPECT_EQ(File("small.cnm", small), errors_ + "/small.cnm");
  files_.Crash();  // a copy lasts, and so does the deletion of its source
  EXPECT_EQ(ReadFile(errors_ + "/small.cnm"), small);
  EXPECT_THAT(Names(drop_), ElementsAre());

  // The error folder's file system fills up during the copy, or any other step fails before the copy is named,
  // or the error folder cannot be flushed (so the copy may not last): the message stays whole in the drop folder,
  // and after a crash nothing is left in the error folder.
  WriteFile(drop_ + "/big.cnm", big);
  using Op = testing::Operation;
  const std::pair<Op, int> steps[] = {{Op::kWrite, ENOSPC},
                                      {Op::kCreateUnnamed, ENOSPC},
                                      {Op::kSync, ENOSPC},
                                      {Op::kNameUnnamed, ENOSPC},
                                      {Op::kSyncFolder, EIO}};
  for (const auto& [step, error] : steps) {
    files_.Clear();
    files_.Add(Op::kRename, EXDEV);
    files_.Add(step, error, errors_, step == Op::kWrite ? 2 : 0);
    files_.Watch(drop_);
    files_.Watch(errors_);
    const Filing filing = MoveUnderFreeName(files_, {drop_, "big.cnm"}, errors_, names_);
    EXPECT_THAT(filing.problem, ::testing::HasSubstr(error == EIO ? "flush" : "No space left")) << filing.problem;
    files_.Crash();
    EXPECT_THAT(Names(errors_), ElementsAre("small.cnm"));
    EXPECT_TRUE(ReadFile(drop_ + "/big.cnm") == big);
  }
  files_.Clear();

  // What a copy killed before it was named leaves, where the file system has no unnamed files.
  const std::string filer = TemporaryName(kFilingOwner), delivery = TemporaryName(kDeliveryOwner);
  WriteFile(errors_ + "/" + filer, "half");
  WriteFile(drop_ + "/" + delivery, "being written");
  WriteFile(drop_ + "/.quillport.lock", "");
  for (const char* mine : {".quillport-backup.part", ".QUILLPORT-notes-backup.PART"}) {  // a user's, never swept
    WriteFile(errors_ + "/" + mine, mine);
  }
  const auto now = std::chrono::system_clock::now();
  EXPECT_THAT(SweepLeftovers(files_, errors_, {}, now), ElementsAre(errors_ + "/" + filer));
  EXPECT_THAT(Names(errors_), ElementsAre(".QUILLPORT-notes-backup.PART", ".quillport-backup.part", "small.cnm"));
  EXPECT_THAT(SweepLeftovers(files_, drop_, std::chrono::minutes(10), now), ElementsAre());  // may be written now
  EXPECT_THAT(SweepLeftovers(files_, drop_, std::chrono::minutes(10), now + std::chrono::minutes(11)),
              ElementsAre(drop_ + "/" + delivery));
  EXPECT_THAT(Names(drop_), ElementsAre("big.cnm"));
}

}  // namespace
}  // namespace quillport

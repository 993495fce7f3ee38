#include "relay/writer_watch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;

// The kernel keeps 16384 changes at most for the watch to take in; a burst of more between two Actions loses
// nothing: a slow writer stays known, and a file closed just before the burst stays vouched for.
TEST(WriterWatch, ABurstBetweenTwoActionsLosesNothing) {
  testing::TempFolder folder;
  WriterWatch watch(folder.path().string(), 10min);
  testing::WriteFile(folder / "closed.cnm", "whole");
  const FileDescriptor slow(::open((folder / "slow.cnm").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  ASSERT_EQ(::write(slow.get(), "x", 1), 1);
  const FileDescriptor busy[2] = {FileDescriptor(::open((folder / "b.cnm").c_str(), O_WRONLY | O_CREAT, 0644)),
                                  FileDescriptor(::open((folder / "c.cnm").c_str(), O_WRONLY | O_CREAT, 0644))};
  for (int event = 0; event < 20000; ++event) {
    ASSERT_EQ(::write(busy[event % 2].get(), "x", 1), 1);   // alternating, so the kernel merges none
    if (event % 20 == 0) std::this_thread::sleep_for(1ms);  // a delivery takes far longer than that
  }
  EXPECT_EQ(watch.Problem(), "");
  EXPECT_EQ(watch.Judge("slow.cnm"), WriterVerdict::kBeingWritten);
  EXPECT_EQ(watch.Judge("closed.cnm"), WriterVerdict::kNotWritten);
}

// A file written without a name and linked in (as quillport-deliver writes it) is whole once its writer has
// closed it; a file written under its name never is, however it began.
TEST(WriterWatch, OnlyAFileWrittenBeforeItHadANameIsNamedWhole) {
  testing::TempFolder folder;
  WriterWatch watch(folder.path().string(), 10min);
  FileDescriptor unnamed(::open(folder.path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (!unnamed.valid()) GTEST_SKIP() << "no O_TMPFILE here";
  ASSERT_EQ(::write(unnamed.get(), "whole", 5), 5);
  const std::string self = "/proc/self/fd/" + std::to_string(unnamed.get());
  ASSERT_EQ(::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, (folder / "linked.cnm").c_str(), AT_SYMLINK_FOLLOW), 0);
  EXPECT_EQ(watch.Judge("linked.cnm"), WriterVerdict::kBeingWritten);  // its writer may still write through it
  unnamed = FileDescriptor(-1);
  EXPECT_EQ(watch.Judge("linked.cnm"), WriterVerdict::kNamedWhole);
  FileDescriptor again(::open((folder / "linked.cnm").c_str(), O_WRONLY | O_APPEND | O_CLOEXEC));
  ASSERT_EQ(::write(again.get(), "more", 4), 4);  // written under its name: the usual rules from now on
  again = FileDescriptor(-1);
  EXPECT_EQ(watch.Judge("linked.cnm"), WriterVerdict::kNotWritten);

  const FileDescriptor in_place(::open((folder / "in-place.cnm").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
  EXPECT_EQ(watch.Judge("in-place.cnm"), WriterVerdict::kNotWritten);  // made, not yet written: never whole
  testing::WriteFile(folder / "written.cnm", "in place");
  EXPECT_EQ(watch.Judge("written.cnm"), WriterVerdict::kNotWritten);
}

// What the watch's changes tell when some were lost: nothing it knew is forgotten, and what changed since the
// loss began is unvouched until seen closed, or until the loss is a long quiet period old.
TEST(WriterLedger, NeverForgetsAfterLostChanges) {
  const WriterLedger::Time start = std::chrono::system_clock::now();
  const WriterLedger::Time old = start - 1h;
  WriterLedger ledger(10min);
  ledger.Take(IN_MODIFY, 0, "slow");
  ledger.Take(IN_MODIFY, 0, "closed");
  ledger.Take(IN_CLOSE_WRITE, 0, "closed");
  ledger.Take(IN_MODIFY, 0, "renamed");
  ledger.Take(IN_MOVED_FROM, 7, "renamed");
  ledger.Take(IN_MOVED_TO, 7, "renamed.cnm");
  EXPECT_EQ(ledger.Judge("slow", old, start), WriterVerdict::kBeingWritten);
  EXPECT_EQ(ledger.Judge("renamed.cnm", old, start), WriterVerdict::kBeingWritten);
  EXPECT_EQ(ledger.Judge("renamed", old, start), WriterVerdict::kNotWritten);
  EXPECT_EQ(ledger.Judge("closed", start, start), WriterVerdict::kNotWritten);

  ledger.Lost(start, start + 1s);
  const WriterLedger::Time now = start + 2s;
  EXPECT_EQ(ledger.Judge("slow", old, now), WriterVerdict::kUnvouched);      // its close may be what was lost
  EXPECT_EQ(ledger.Judge("closed", start, now), WriterVerdict::kUnvouched);  // modified since the loss began
  EXPECT_EQ(ledger.Judge("closed", old, now), WriterVerdict::kNotWritten);
  ledger.Take(IN_MODIFY, 0, "slow");  // its writer goes on
  EXPECT_EQ(ledger.Judge("slow", old, now), WriterVerdict::kBeingWritten);
  ledger.Take(IN_CLOSE_WRITE, 0, "slow");
  ledger.Take(IN_MOVED_FROM, 8, "renamed.cnm");  // the unvouched name carries over a rename
  ledger.Take(IN_MOVED_TO, 8, "moved.cnm");
  EXPECT_EQ(ledger.Judge("slow", now, now), WriterVerdict::kNotWritten);  // seen closed since
  EXPECT_EQ(ledger.Judge("moved.cnm", old, now), WriterVerdict::kUnvouched);

  ledger.Lost(now, now + 1s);  // a second loss: a close seen between the two tells nothing any more
  EXPECT_EQ(ledger.Judge("slow", now, now + 1s), WriterVerdict::kUnvouched);
  EXPECT_EQ(ledger.Judge("closed", start, now + 1s), WriterVerdict::kUnvouched);  // the first loss still counts
  // A long quiet period after the last loss ended, anything changed during it has been quiet that long.
  EXPECT_EQ(ledger.Judge("moved.cnm", old, now + 11min), WriterVerdict::kNotWritten);
  EXPECT_EQ(ledger.Judge("slow", now, now + 11min), WriterVerdict::kNotWritten);
}

}  // namespace
}  // namespace quillport

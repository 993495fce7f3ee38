#include "app/error_folder_tools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "tests/testing/system_log_capture.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using testing::WriteFile;

TEST(ErrorFolderTools, CountsNonEmptyMessageFilesAndPurgesEveryMessageFile) {
  testing::TempFolder folder;
  const std::string errors = folder / "Errors";
  std::filesystem::create_directories(errors + "/sub.cnm");  // a folder named like a message file
  WriteFile(errors + "/a.cnm", std::string(100, 'a'));
  WriteFile(errors + "/B.CNM", std::string(500, 'b'));
  WriteFile(errors + "/empty.cnm", "");
  WriteFile(errors + "/keep.txt", std::string(50, 'k'));
  WriteFile(errors + "/huge.cnm", "");
  std::filesystem::resize_file(errors + "/huge.cnm", 3221225472ULL);  // 3 GiB, sparse

  MemoryStatusBoard board;
  const auto figures = [&] { return board.Text(field::kErrorNb) + "|" + board.Text(field::kErrorVol); };
  RefreshErrorFigures(board, errors, "*.cnm");
  EXPECT_EQ(figures(), "3|3221 226 072");
  testing::SystemLogCapture system_log;
  PurgeErrorFolder(board, errors, "*.cnm");
  EXPECT_THAT(testing::Names(errors), ::testing::ElementsAre("keep.txt", "sub.cnm"));
  const std::vector<std::string> records = system_log.Stop();
  if (system_log.unavailable().empty()) {  // a notice (news facility): what changes the relay's folders
    EXPECT_THAT(records, ::testing::ElementsAre(::testing::MatchesRegex(
                             "<61>.*: PURGE removed 4 files \\(3221226072 bytes\\) from the error folder .*/Errors")));
  }
  EXPECT_EQ(figures(), "0|0");

  // A missing folder shows zero, and purging it reports nothing.
  board.SetText(field::kErrorNb, "7");
  EXPECT_NO_THROW(PurgeErrorFolder(board, folder / "missing", "*.cnm"));
  EXPECT_EQ(figures(), "0|0");
}

}  // namespace
}  // namespace quillport

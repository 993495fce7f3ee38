#include "app/error_folder_tools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::TempFolder;
using testing::WriteFile;
namespace fs = std::filesystem;

TEST(ErrorFolderTools, CountsNonEmptyMessageFilesAndPurgesEveryMessageFile) {
  TempFolder folder;
  const std::string errors = folder / "Errors";
  fs::create_directories(errors + "/sub.cnm");  // a folder named like a message file
  WriteFile(errors + "/a.cnm", std::string(100, 'a'));
  WriteFile(errors + "/B.CNM", std::string(200, 'b'));
  WriteFile(errors + "/c.cnm", std::string(300, 'c'));
  WriteFile(errors + "/empty.cnm", "");
  WriteFile(errors + "/keep.txt", std::string(50, 'k'));
  WriteFile(errors + "/huge.cnm", "");
  fs::resize_file(errors + "/huge.cnm", 3221225472ULL);  // 3 GiB, sparse

  std::int64_t count = -1, volume = -1;
  MyFileCount(errors, "*.cnm", count, volume);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(volume, 600 + 3221225472LL);

  MemoryStatusBoard board;
  int yields = 0;
  RefreshErrorFigures(board, errors, "*.cnm", [&] { ++yields; });
  EXPECT_EQ(board.Text(field::kErrorNb), "4");
  EXPECT_EQ(board.Text(field::kErrorVol), "3221 226 072");
  EXPECT_EQ(yields, 1);

  PurgeErrorFolder(board, errors, "*.cnm", [&] { ++yields; });
  EXPECT_THAT(Names(errors), ::testing::ElementsAre("keep.txt", "sub.cnm"));
  EXPECT_EQ(board.Text(field::kErrorNb), "0");
  EXPECT_EQ(board.Text(field::kErrorVol), "0");
}

TEST(ErrorFolderTools, MissingFolderShowsZeroAndPurgeReportsNothing) {
  TempFolder folder;
  MemoryStatusBoard board;
  board.SetText(field::kErrorNb, "7");
  std::int64_t count = -1, volume = -1;
  MyFileCount(folder / "missing", "*.cnm", count, volume);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(volume, 0);
  EXPECT_NO_THROW(PurgeErrorFolder(board, folder / "missing", "*.cnm", [] {}));
  EXPECT_EQ(board.Text(field::kErrorNb), "0");
  EXPECT_EQ(board.Text(field::kErrorVol), "0");
}

}  // namespace
}  // namespace quillport

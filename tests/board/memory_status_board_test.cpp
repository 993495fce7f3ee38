#include "board/memory_status_board.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "board/board_counter.h"
#include "board/board_fields.h"

namespace quillport {
namespace {

TEST(MemoryStatusBoard, RefusesUnknownControlsAndKeepsCountersAsTextThatMustBeNumbers) {
  MemoryStatusBoard board;
  EXPECT_THROW(board.Text("txt_Info(2)"), std::out_of_range);
  EXPECT_THROW(board.SetText("txt_Info(13)", "x"), std::out_of_range);
  board.SetText(field::Info(9), "1 234 567");
  AddToCounter(board, field::Info(9), 1, "### ### ### ##0");
  EXPECT_EQ(board.Text(field::Info(9)), "1 234 568");
  board.SetText(field::kTimNbT, "x");
  EXPECT_THROW(AddToCounter(board, field::kTimNbT, 1, "0"), NotANumber);
  EXPECT_EQ(board.Text(field::kTimNbT), "x");
}

}  // namespace
}  // namespace quillport

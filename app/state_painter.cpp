#include "app/state_painter.h"

#include "board/board_fields.h"
#include "common/number_format.h"

namespace quillport {
namespace {

Rgb FileColour(RelayState::FileKind kind) {
  switch (kind) {
    case RelayState::FileKind::kMessage: return colour::kFileGood;
    case RelayState::FileKind::kEmpty: return colour::kFileEmpty;
    case RelayState::FileKind::kNone: break;
  }
  return colour::kIdle;
}

// Draws totals into the fields `first` (volume) and `first` + 1 (count).
void DrawTotals(StatusBoard& board, int first, const FileTotals& totals, const FileTotals& drawn) {
  if (totals.volume != drawn.volume) board.SetText(field::Info(first), FormatNumber(totals.volume, kPattern12));
  if (totals.count != drawn.count) board.SetText(field::Info(first + 1), FormatNumber(totals.count, kPattern9));
}

}  // namespace

void StatePainter::Draw(const RelayState& state) {
  if (state.actions != drawn_.actions) board_.SetText(field::kTimNbT, PlainNumber(state.actions));
  if (state.file_path != drawn_.file_path) board_.SetText(field::Info(3), state.file_path);
  if (state.file_size != drawn_.file_size || state.file_path != drawn_.file_path) {
    board_.SetText(field::Info(4), state.file_path.empty() ? "0" : FormatNumber(state.file_size, kPattern9));
  }
  if (state.file_kind != drawn_.file_kind) {
    board_.SetBackColor(field::Info(3), FileColour(state.file_kind));
    board_.SetBackColor(field::Info(4), FileColour(state.file_kind));
  }
  DrawTotals(board_, 5, state.action_messages, drawn_.action_messages);
  DrawTotals(board_, 7, state.action_empty, drawn_.action_empty);
  DrawTotals(board_, 9, state.total_messages, drawn_.total_messages);
  DrawTotals(board_, 11, state.total_empty, drawn_.total_empty);
  if (state.message_seen != drawn_.message_seen) board_.SetVisible(field::kImgGoo, state.message_seen);
  if (state.empty_seen != drawn_.empty_seen) board_.SetVisible(field::kImgBad, state.empty_seen);
  if (state.status_line != drawn_.status_line) board_.SetText(field::kStatusH, state.status_line);
  drawn_ = state;
}

}  // namespace quillport

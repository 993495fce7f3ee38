// Counters kept as field texts: read the number the field shows, add to it,
// write it back with the field's pattern.
#pragma once

#include <cstdint>
#include <string_view>

#include "board/status_board.h"
#include "common/number_format.h"

namespace quillport {

// Adds `amount` to the counter shown in `control` and writes it back with
// `pattern`. Throws NotANumber when the field's text does not read as a
// whole number; the field is then left as it was.
inline void AddToCounter(StatusBoard& board, std::string_view control, std::int64_t amount, std::string_view pattern) {
  board.SetText(control, FormatNumber(ReadCount(board.Text(control)) + amount, pattern));
}

}  // namespace quillport

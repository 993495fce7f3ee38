#include "news/article_encoder.h"

#include <algorithm>

namespace quillport {

void ArticleEncoder::Encode(std::string_view piece, std::string& wire) {
  constexpr std::size_t npos = std::string_view::npos;
  // The next CR and the next LF at or after a position, each found with one
  // memchr and kept until the scan passes it.
  std::size_t next_cr = piece.find('\r');
  std::size_t next_lf = piece.find('\n');
  std::size_t at = 0;
  while (at < piece.size()) {
    if (state_ == State::kAfterCr) {
      state_ = State::kLineStart;
      if (piece[at] == '\n') {  // the LF of a CR LF already sent
        ++at;
        continue;
      }
    }
    if (next_cr < at) next_cr = piece.find('\r', at);
    if (next_lf < at) next_lf = piece.find('\n', at);
    const std::size_t line_end = std::min(next_cr, next_lf);

    // The run of ordinary characters up to the next CR or LF, in one append.
    const std::size_t run_end = line_end == npos ? piece.size() : line_end;
    if (run_end > at) {
      if (state_ == State::kLineStart && piece[at] == '.') wire += '.';
      wire.append(piece.data() + at, run_end - at);
      state_ = State::kInLine;
      at = run_end;
    }
    if (at == piece.size()) break;

    // A CR or an LF: a line end, sent as CR LF.
    wire += "\r\n";
    state_ = piece[at] == '\r' ? State::kAfterCr : State::kLineStart;
    ++at;
  }
}

void ArticleEncoder::Finish(std::string& wire) {
  wire += state_ == State::kInLine ? "\r\n.\r\n" : ".\r\n";
  state_ = State::kLineStart;
}

}  // namespace quillport

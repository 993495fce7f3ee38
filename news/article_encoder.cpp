#include "news/article_encoder.h"

namespace quillport {

std::string ArticleEncoder::Encode(std::string_view piece) {
  std::string wire;
  wire.reserve(piece.size() + piece.size() / 16 + 2);
  for (char c : piece) {
    if (state_ == State::kAfterCr) {
      state_ = State::kLineStart;
      if (c == '\n') continue;  // the LF of a CR LF already sent
    }
    switch (c) {
      case '\r':
        wire += "\r\n";
        state_ = State::kAfterCr;
        break;
      case '\n':
        wire += "\r\n";
        state_ = State::kLineStart;
        break;
      default:
        if (state_ == State::kLineStart && c == '.') wire += '.';
        wire += c;
        state_ = State::kInLine;
        break;
    }
  }
  return wire;
}

std::string ArticleEncoder::Finish() {
  std::string wire = state_ == State::kInLine ? "\r\n.\r\n" : ".\r\n";
  state_ = State::kLineStart;
  return wire;
}

}  // namespace quillport

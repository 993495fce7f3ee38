#include "deliver/message_converter.h"

#include <utility>

#include "common/header_field.h"
#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

constexpr std::string_view kFromLine = "From ";
constexpr std::string_view kLineEnd = "\r\n";

}  // namespace

void MessageConverter::Feed(std::string_view input, std::string& out) {
  std::size_t at = 0;
  while (at < input.size()) {
    // The body is copied in runs up to the next line end.
    if (stage_ == Stage::kBody && !after_cr_) {
      std::size_t stop = at;
      while (stop < input.size() && input[stop] != '\n' && input[stop] != '\r') ++stop;
      if (stop > at) {
        BodyRun(input.substr(at, stop - at), out);
        at = stop;
        continue;
      }
    }
    Byte(input[at++], out);
  }
}

void MessageConverter::Finish(std::string& out) {
  if (stage_ == Stage::kFirstBytes) {
    if (first_bytes_.empty()) throw DeliveryFailure(EX_DATAERR, "the message is empty");
    stage_ = Stage::kHeader;
    for (const char c : std::exchange(first_bytes_, {})) Byte(c, out);
  }
  if (stage_ == Stage::kFromLine || (stage_ == Stage::kHeader && !header_lines_)) {
    throw DeliveryFailure(EX_DATAERR, "the message is empty");
  }
  if (stage_ == Stage::kHeader) {
    throw DeliveryFailure(EX_DATAERR, "the header never ends (no empty line after it)");
  }
  if (line_length_ > 0) out += kLineEnd;  // the last line had no line end
  if (blank_held_ && !framed_) out += kLineEnd;
}

void MessageConverter::Byte(char c, std::string& out) {
  if (after_cr_) {
    after_cr_ = false;
    if (c == '\n') return;  // CR LF: one line end
  }
  if (stage_ == Stage::kFirstBytes) {
    first_bytes_ += c;
    if (first_bytes_ == kFromLine) {
      framed_ = true;
      stage_ = Stage::kFromLine;
    } else if (!kFromLine.starts_with(first_bytes_)) {
      stage_ = Stage::kHeader;  // no framing: the bytes held so far begin the header
      for (const char held : std::exchange(first_bytes_, {})) Byte(held, out);
    }
    return;
  }
  if (c == '\r' || c == '\n') {
    after_cr_ = c == '\r';
    LineEnd(out);
  } else if (stage_ == Stage::kHeader) {
    HeaderByte(c, out);
  } else if (stage_ == Stage::kBody) {
    BodyRun(std::string_view(&c, 1), out);
  }
}

void MessageConverter::LineEnd(std::string& out) {
  switch (stage_) {
    case Stage::kFromLine: stage_ = Stage::kHeader; break;
    case Stage::kHeader: HeaderLineEnd(out); break;
    case Stage::kBody: BodyLineEnd(out); break;
    case Stage::kFirstBytes: break;
  }
}

void MessageConverter::HeaderByte(char c, std::string& out) {
  header_lines_ = true;
  ++line_length_;
  if (line_length_ > kJudgedLength) {
    out += c;
    return;
  }
  line_start_ += c;
  if (line_length_ == kJudgedLength) JudgeHeaderLine(out);
}

void MessageConverter::JudgeHeaderLine(std::string& out) {
  if (IsHeaderField(line_start_, "Newsgroups")) has_newsgroups_ = true;
  out += line_start_;
  line_start_.clear();
}

void MessageConverter::HeaderLineEnd(std::string& out) {
  if (line_length_ == 0) {  // the empty line that ends the header
    if (!has_newsgroups_) {
      if (newsgroups_.empty()) {
        throw DeliveryFailure(EX_DATAERR, "the message has no Newsgroups header and no -n names its groups");
      }
      out += "Newsgroups: ";
      out += newsgroups_;
      out += kLineEnd;
    }
    out += kLineEnd;
    stage_ = Stage::kBody;
    return;
  }
  if (line_length_ < kJudgedLength) JudgeHeaderLine(out);
  out += kLineEnd;
  line_length_ = 0;
}

void MessageConverter::BodyRun(std::string_view run, std::string& out) {
  if (blank_held_) {
    out += kLineEnd;
    blank_held_ = false;
  }
  out += run;
  line_length_ += run.size();
}

void MessageConverter::BodyLineEnd(std::string& out) {
  if (line_length_ > 0) {
    out += kLineEnd;
    line_length_ = 0;
    return;
  }
  // An empty line is held back: after a "From " line, the last one is
  // framing, not message.
  if (blank_held_) out += kLineEnd;
  blank_held_ = true;
}

}  // namespace quillport

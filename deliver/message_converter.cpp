#include "deliver/message_converter.h"

#include <utility>

#include "common/header_field.h"
#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

constexpr std::string_view kFromLine = "From ";
constexpr std::string_view kLineEnd = "\r\n";
constexpr std::size_t kHashDigits = 32;

std::string MessageIdLine(std::string_view hash) {
  return "Message-ID: <qpd." + std::string(hash) + "@quillport.invalid>\r\n";
}

bool IsContinuation(std::string_view line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

}  // namespace

void MessageConverter::Feed(std::string_view input, std::string& out) {
  out_start_ = out.size();
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
  Account(out);
}

void MessageConverter::Finish(std::string& out) {
  out_start_ = out.size();
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
  Account(out);
  if (added_message_id_) added_message_id_->line = MessageIdLine(content_hash_.FinishHex(kHashDigits));
}

// Adds this call's output to the hash and the length.
void MessageConverter::Account(const std::string& out) {
  const std::string_view added = std::string_view(out).substr(out_start_);
  content_hash_.Add(added);
  output_length_ += added.size();
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
    FieldText(std::string_view(&c, 1), c != ' ' && c != '\t', out);
    return;
  }
  line_start_ += c;
  if (line_length_ == kJudgedLength) JudgeHeaderLine(out);
}

void MessageConverter::JudgeHeaderLine(std::string& out) {
  bool has_value = line_start_.find_first_not_of(" \t") != std::string::npos;
  if (!IsContinuation(line_start_)) {
    EndField(out);
    const auto id = HeaderFieldValue(line_start_, "Message-ID");
    const auto groups = HeaderFieldValue(line_start_, "Newsgroups");
    field_ = id ? Field::kMessageId : groups ? Field::kNewsgroups : Field::kOther;
    if (id || groups) has_value = !(id ? *id : *groups).empty();  // blanks after the colon are left out
  }
  FieldText(line_start_, has_value, out);
  line_start_.clear();
}

void MessageConverter::FieldText(std::string_view text, bool has_value, std::string& out) {
  if (field_ == Field::kOther || value_seen_) {
    out += text;
    return;
  }
  // Blanks past a line's length are left out: they would change nothing.
  if (has_value || held_.size() < 2 * kJudgedLength) held_ += text;
  if (!has_value) return;
  value_seen_ = true;
  (field_ == Field::kMessageId ? has_message_id_ : has_newsgroups_) = true;
  out += std::exchange(held_, {});
}

void MessageConverter::EndField(std::string& out) {
  // A Message-ID's lines were joined: its one line end comes now.
  if (field_ == Field::kMessageId && value_seen_) out += kLineEnd;
  field_ = Field::kOther;
  value_seen_ = false;
  held_.clear();
}

void MessageConverter::HeaderLineEnd(std::string& out) {
  if (line_length_ == 0) {
    EndField(out);
    HeaderEnd(out);
    return;
  }
  if (line_length_ < kJudgedLength) JudgeHeaderLine(out);
  if (field_ != Field::kMessageId) FieldText(kLineEnd, false, out);
  line_length_ = 0;
}

// At the empty line that ends the header: the lines the message lacks, then
// the empty line.
void MessageConverter::HeaderEnd(std::string& out) {
  if (!has_newsgroups_) {
    if (newsgroups_.empty()) {
      throw DeliveryFailure(
          EX_DATAERR, "the message names no newsgroups (no Newsgroups header, or an empty one) and no -n names any");
    }
    out += "Newsgroups: ";
    out += newsgroups_;
    out += kLineEnd;
  }
  if (!has_message_id_) {
    added_message_id_.emplace().offset = output_length_ + (out.size() - out_start_);
    out += MessageIdLine(std::string(kHashDigits, '0'));
  }
  out += kLineEnd;
  stage_ = Stage::kBody;
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

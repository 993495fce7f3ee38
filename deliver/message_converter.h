// Turns a message as a mail system hands it over into a message file for
// the relay, piece by piece, holding no more than a few bytes between
// pieces:
//  - LF, CR LF and a lone CR each end a line; every line ends with CR LF,
//    the last one included;
//  - mbox framing is dropped: a first line starting with "From " and, after
//    such a line, one empty line at the very end (Exim's pipe transport
//    appends it);
//  - a header field is a line and the continuation lines after it (those
//    that start with a space or TAB); a field's line is judged by the rule
//    the relay uses (HeaderFieldValue), on its first kJudgedLength bytes;
//  - a Message-ID or Newsgroups field with nothing but blanks in its value,
//    over all its lines, names nothing: it is dropped with its continuation
//    lines; it is held back until its value shows;
//  - a Message-ID field is unfolded, its lines joined without their line
//    ends, as news servers refuse it folded; every other field stays as it
//    came;
//  - a message without a Newsgroups field gets one with the groups given,
//    as the last line of its header;
//  - a message without a Message-ID gets one made of its converted content
//    (AddedMessageId), as the very last line of its header, so that every
//    copy of it, a mail system's retry included, has the same id and the
//    news server's duplicate check stops all but the first;
//  - every other byte is kept as it is.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/sha256.h"

namespace quillport {

// The Message-ID line given to a message that has none, and where it goes in
// the converted message. The converter can tell the id only once the whole
// message has passed; until then the output holds a placeholder of the same
// length there.
struct AddedMessageId {
  std::uint64_t offset = 0;  // of the placeholder, from the start of the output
  std::string line;          // "Message-ID: <qpd.HASH@quillport.invalid>" and CR LF
};

class MessageConverter {
 public:
  // A header line is held back until it is judged: its first 998 bytes (the
  // longest line Internet mail allows) always hold a field's name.
  static constexpr std::size_t kJudgedLength = 998;

  // `newsgroups`: the groups to name when the message names none; empty
  // when there are none to add.
  explicit MessageConverter(std::string newsgroups) : newsgroups_(std::move(newsgroups)) {}

  // Converts the next piece of input and appends the result to `out`.
  // Throws DeliveryFailure (EX_DATAERR) once the header has ended without a
  // Newsgroups header and there are no groups to add.
  void Feed(std::string_view input, std::string& out);

  // Ends the input and appends what is left to `out`. Throws
  // DeliveryFailure (EX_DATAERR) when the message is empty or its header
  // never ends (no empty line before the end of input).
  void Finish(std::string& out);

  // After Finish: the id to write over the placeholder, for a message that
  // had no Message-ID of its own. HASH is a SHA-256 of the whole output but
  // the mbox framing, in hexadecimal: two messages that differ anywhere get
  // different ids.
  const std::optional<AddedMessageId>& added_message_id() const { return added_message_id_; }

 private:
  enum class Stage { kFirstBytes, kFromLine, kHeader, kBody };

  void Byte(char c, std::string& out);
  void LineEnd(std::string& out);
  void HeaderByte(char c, std::string& out);
  void JudgeHeaderLine(std::string& out);
  void FieldText(std::string_view text, bool has_value, std::string& out);
  void EndField(std::string& out);
  void HeaderLineEnd(std::string& out);
  void BodyRun(std::string_view run, std::string& out);
  void BodyLineEnd(std::string& out);
  void HeaderEnd(std::string& out);
  void Account(const std::string& out);

  std::string newsgroups_;
  Stage stage_ = Stage::kFirstBytes;
  std::string first_bytes_;      // the input so far, while it may still be "From "
  bool framed_ = false;          // the input began with a "From " line
  bool after_cr_ = false;        // the last byte was a CR: an LF now is part of its line end
  std::size_t line_length_ = 0;  // bytes of the current line so far
  std::string line_start_;       // a header line's first bytes, until judged
  bool has_newsgroups_ = false;
  bool has_message_id_ = false;
  // The header field being read: a Message-ID or Newsgroups field is held
  // back (in held_) until a byte of its value shows (value_seen_).
  enum class Field { kOther, kMessageId, kNewsgroups };
  Field field_ = Field::kOther;
  bool value_seen_ = false;
  std::string held_;
  bool header_lines_ = false;  // a header line has begun
  bool blank_held_ = false;    // an empty body line not written yet
  Sha256 content_hash_;        // of the output so far, the placeholder included
  std::uint64_t output_length_ = 0;
  std::size_t out_start_ = 0;  // where this call's output begins in `out`
  std::optional<AddedMessageId> added_message_id_;
};

}  // namespace quillport

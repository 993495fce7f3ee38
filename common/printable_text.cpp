#include "common/printable_text.h"

#include <cstdint>

namespace quillport {
namespace {

void AppendHexByte(std::string& out, unsigned char byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += "\\x";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0f];
}

// The length of the well-formed UTF-8 sequence that starts `text`, or 0.
// Overlong forms, surrogates and code points beyond U+10FFFF are not
// well-formed.
std::size_t Utf8SequenceLength(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  std::uint32_t code = 0;
  if (lead >= 0xc2 && lead <= 0xdf) {
    length = 2, code = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    length = 3, code = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    length = 4, code = lead & 0x07;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xc0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3f);
  }
  const std::uint32_t smallest = length == 3 ? 0x800 : length == 4 ? 0x10000 : 0x80;
  if (code < smallest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return length;
}

bool IsControl(std::uint32_t code) { return code < 0x20 || (code >= 0x7f && code <= 0x9f); }

void AppendEscapedControl(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    case 0x1b: out += "\\e"; return;
    default: AppendHexByte(out, byte);
  }
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    const auto lead = static_cast<unsigned char>(text.front());
    if (lead < 0x80) {
      if (IsControl(lead)) {
        AppendEscapedControl(out, lead);
      } else {
        out += static_cast<char>(lead);
      }
      text.remove_prefix(1);
      continue;
    }
    const std::size_t length = Utf8SequenceLength(text);
    if (length == 0) {
      AppendHexByte(out, lead);
      text.remove_prefix(1);
      continue;
    }
    // A C1 control (U+0080 to U+009F) is two bytes, 0xC2 and 0x80..0x9F.
    const bool c1 = length == 2 && lead == 0xc2 && static_cast<unsigned char>(text[1]) <= 0x9f;
    for (std::size_t i = 0; i < length; ++i) {
      if (c1) {
        AppendHexByte(out, static_cast<unsigned char>(text[i]));
      } else {
        out += text[i];
      }
    }
    text.remove_prefix(length);
  }
  return out;
}

}  // namespace quillport

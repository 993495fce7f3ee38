// Recognising a message header field by its name, as Internet mail defines
// it: the name, optional white space, a colon, and then the value, which may
// start with any white space or none.
#pragma once

#include <optional>
#include <string_view>

#include "common/ignoring_case.h"

namespace quillport {

// The value of the header line `line` when its field name is `name`
// (compared without regard to case), with the white space after the colon
// left out; nothing when the line is another field or no field at all. A
// line that starts with white space continues the field before it and is
// never a field of its own.
inline std::optional<std::string_view> HeaderFieldValue(std::string_view line, std::string_view name) {
  if (!StartsWithIgnoringCase(line, name)) return std::nullopt;
  std::string_view rest = line.substr(name.size());
  const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
  if (rest.empty() || rest.front() != ':') return std::nullopt;
  rest.remove_prefix(1);
  while (!rest.empty() && is_blank(rest.front())) rest.remove_prefix(1);
  return rest;
}

// True when `line` is a header field named `name`.
inline bool IsHeaderField(std::string_view line, std::string_view name) {
  return HeaderFieldValue(line, name).has_value();
}

}  // namespace quillport

// Making untrusted text (file names, server replies) safe to show on one
// line: in a system log record, on the error line, on standard error.
#pragma once

#include <string>
#include <string_view>

namespace quillport {

// `text` with every control character (C0, DEL and C1) written as an escape
// ("\n", "\r", "\t", "\e", or "\xNN" for each byte of it) and every byte that
// is not part of well-formed UTF-8 written as "\xNN". A backslash stays as
// it is, so the result comes back unchanged when made printable again (a
// text may pass more than one of the places that escape it). Text that
// needs none of this comes back unchanged.
std::string Printable(std::string_view text);

}  // namespace quillport

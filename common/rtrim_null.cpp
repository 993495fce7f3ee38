#include "common/rtrim_null.h"

namespace quillport {

std::string RTrimNull(std::string_view text) {
  const std::size_t nul = text.find('\0');
  if (nul != std::string_view::npos) return std::string(text.substr(0, nul));
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? std::string() : std::string(text.substr(0, last + 1));
}

}  // namespace quillport

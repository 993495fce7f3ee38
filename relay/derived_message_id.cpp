#include "relay/derived_message_id.h"

#include <algorithm>
#include <array>

#include "common/sha256.h"

namespace quillport {

namespace {

// Follows the length of the line being read across pieces.
class LineLength {
 public:
  explicit LineLength(std::size_t longest) : longest_(longest) {}
  // False once a line of the piece is longer than the longest allowed.
  bool Take(std::string_view piece) {
    for (;;) {
      const std::size_t end = piece.find_first_of("\r\n");
      current_ += std::min(end, piece.size());
      if (current_ > longest_) return false;
      if (end == std::string_view::npos) return true;
      current_ = 0;
      piece.remove_prefix(end + 1);
    }
  }

 private:
  std::size_t longest_;
  std::size_t current_ = 0;
};

}  // namespace

Result<std::optional<std::string>> DerivedMessageId(FileSystem& files, const QueuedFile& file,
                                                    std::size_t longest_line) {
  Sha256 hash;
  LineLength line(longest_line);
  std::array<char, 65536> buffer;
  for (std::uint64_t at = 0;;) {
    std::size_t count = 0;
    if (const int error = files.ReadAt(file.descriptor(), buffer, at, count); error != 0) {
      return Failure::OfFile("cannot read " + file.path() + ": " + ErrorText(error));
    }
    if (count == 0) break;
    const std::string_view piece(buffer.data(), count);
    if (!line.Take(piece)) return std::optional<std::string>();
    hash.Add(piece);
    at += count;
  }
  return std::optional<std::string>("<qp." + hash.FinishHex(32) + "@quillport.invalid>");
}

}  // namespace quillport

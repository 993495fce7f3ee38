// A queued message file read line by line as 8-bit text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quillport {

// Lines end at CR LF, at a lone CR or at a lone LF (Linux text files end
// their lines with LF); the ending is not part of the line. A last line
// without an ending is a line too.
// Reads from a descriptor it does not own, from where that descriptor
// stands.
class MessageFile {
 public:
  // No line longer than this can ever be posted, so reading stops once a
  // line reaches this length: a file made of one huge line is judged after
  // this many characters, whatever its size.
  static constexpr std::size_t kMaxLineKept = 32768;

  // `path` names the file in failures.
  MessageFile(int descriptor, std::string path) : descriptor_(descriptor), path_(std::move(path)) {}
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // True when no byte is left to read.
  bool AtEnd();

  // Reads the next line into `line` (replacing what it held). Returns false
  // when the line is longer than kMaxLineKept characters: `line` then holds
  // its first kMaxLineKept characters, and the rest of the file is left
  // unread (reading on would take the rest of that line for a new one).
  // Throws FileFailure on a read failure.
  bool ReadLine(std::string& line);

  // Bytes read from the descriptor so far.
  std::uint64_t bytes_read() const { return bytes_read_; }

 private:
  // Refills the buffer once it is used up; false at the end of the file.
  bool Fill();

  int descriptor_;
  std::string path_;
  std::array<char, 65536> buffer_;
  std::size_t position_ = 0;
  std::size_t length_ = 0;
  bool at_end_ = false;
  std::uint64_t bytes_read_ = 0;
};

}  // namespace quillport

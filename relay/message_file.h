// A queued message file read line by line as 8-bit text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/failure.h"
#include "relay/file_system.h"

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
  MessageFile(FileSystem& files, int descriptor, std::string path)
      : files_(files), descriptor_(descriptor), path_(std::move(path)) {}
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  enum class Line {
    kRead,     // a line was read
    kTooLong,  // longer than kMaxLineKept characters
    kNone,     // no byte was left to read
  };

  // Reads the next line into `line` (replacing what it held). A line longer
  // than kMaxLineKept characters leaves its first kMaxLineKept characters
  // in `line`, and the rest of the file unread (reading on would take the
  // rest of that line for a new one). Fails (reach kFile) when the file
  // cannot be read.
  Result<Line> ReadLine(std::string& line);

  // Bytes read from the descriptor so far.
  std::uint64_t bytes_read() const { return bytes_read_; }

 private:
  // Refills the buffer once it is used up; false at the end of the file.
  Result<bool> Fill();

  FileSystem& files_;
  int descriptor_;
  std::string path_;
  std::array<char, 65536> buffer_;
  std::size_t position_ = 0;
  std::size_t length_ = 0;
  bool at_end_ = false;
  std::uint64_t bytes_read_ = 0;
};

}  // namespace quillport

// A queued message file read line by line as 8-bit text.
#pragma once

#include <array>
#include <cstddef>
#include <fstream>
#include <string>

namespace quillport {

// Lines end at CR or at CR LF; the ending is not part of the line, and a
// lone LF does not end a line. A last line without an ending is a line too.
// The file is open from construction until Close() or destruction.
class MessageFile {
 public:
  // No line longer than this can ever be posted, so a longer line is cut
  // here: its length still shows it is too long, and a file made of one
  // huge line never has to fit in memory.
  static constexpr std::size_t kMaxLineKept = 32768;

  // Opens `path` for reading; throws std::runtime_error when it cannot.
  explicit MessageFile(const std::string& path);
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // True when no byte is left to read.
  bool AtEnd();

  // Reads the next line, cut to kMaxLineKept characters; throws
  // std::runtime_error on a read failure.
  std::string ReadLine();

  void Close() { stream_.close(); }

 private:
  // Refills the buffer once it is used up; false at the end of the file.
  bool Fill();

  std::string path_;
  std::ifstream stream_;
  std::array<char, 65536> buffer_;
  std::size_t position_ = 0;
  std::size_t length_ = 0;
};

}  // namespace quillport

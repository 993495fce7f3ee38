// A queued message file read line by line as 8-bit text.
#pragma once

#include <fstream>
#include <string>
#include <string_view>

namespace quillport {

// Lines end at CR or at CR LF; the ending is not part of the line, and a
// lone LF does not end a line. A last line without an ending is a line too.
// The file is open from construction until Close() or destruction.
class MessageFile {
 public:
  // Opens `path` for reading; throws std::runtime_error when it cannot.
  explicit MessageFile(const std::string& path);
  MessageFile(const MessageFile&) = delete;
  MessageFile& operator=(const MessageFile&) = delete;

  // True when no byte is left to read.
  bool AtEnd();

  // Reads the next line; throws std::runtime_error on a read failure.
  std::string ReadLine();

  void Close() { stream_.close(); }

 private:
  std::string path_;
  std::ifstream stream_;
};

}  // namespace quillport

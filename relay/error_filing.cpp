#include "relay/error_filing.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>

#include "common/path_join.h"

namespace quillport {
namespace fs = std::filesystem;

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return out;
}

// A folder test passes when an entry of that name exists, folder or file.
bool EntryExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::status(path, ec));
}

// A target name is taken when an ordinary file bears it.
bool Taken(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::status(path, ec));
}

}  // namespace

std::string FileBaseName(std::string_view file_name) {
  return Lower(file_name.substr(0, file_name.find('.')));
}

std::string FileExtension(std::string_view file_name) {
  const std::size_t dot = file_name.find('.');
  return dot == std::string_view::npos ? std::string() : Lower(file_name.substr(dot));
}

bool MoveWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return true;
  }
  if (errno == EXDEV) {
    // Another file system: copy without replacing, then remove the original.
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::none, ec)) return false;
    if (!fs::remove(from, ec)) {
      fs::remove(to, ec);
      return false;
    }
    return true;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // The file system cannot rename without replacing: a hard link fails when
  // the target exists, so it never overwrites either.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  if (::unlink(from.c_str()) != 0) {
    ::unlink(to.c_str());
    return false;
  }
  return true;
}

std::string MySafeRename(std::string_view source_folder, std::string_view target_folder,
                         std::string_view file_name, QueueNameGenerator& names) {
  if (!EntryExists(std::string(source_folder))) return {};
  if (!EntryExists(std::string(target_folder))) return {};

  const std::string base = FileBaseName(file_name);
  const std::string extension = FileExtension(file_name);
  // This file system tells case apart: the file is found by its name as
  // listed, and filed under the lower-cased name.
  const std::string source = JoinPath(source_folder, file_name);
  std::string target = JoinPath(target_folder, base + extension);

  // Bounded: after as many draws as there are random names, give up.
  for (std::int64_t draws = 0; Taken(target); ++draws) {
    if (draws >= QueueNameGenerator::kNameCount) return {};
    target = JoinPath(target_folder, Lower(names.RandomQueueName()) + extension);
  }
  return MoveWithoutReplacing(source, target) ? target : std::string();
}

}  // namespace quillport

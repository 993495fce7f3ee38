#include "daemon/waiting_census.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "common/message_name.h"

namespace quillport {
namespace {

std::chrono::system_clock::time_point ModifiedAt(const struct stat& status) {
  return std::chrono::system_clock::time_point(std::chrono::duration_cast<std::chrono::system_clock::duration>(
      std::chrono::seconds(status.st_mtim.tv_sec) + std::chrono::nanoseconds(status.st_mtim.tv_nsec)));
}

// "40 s", "12 min", "3 h".
std::string Age(std::chrono::system_clock::duration age) {
  const auto seconds = std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::seconds>(age).count());
  if (seconds < 120) return std::to_string(seconds) + " s";
  if (seconds < 2 * 3600) return std::to_string(seconds / 60) + " min";
  return std::to_string(seconds / 3600) + " h";
}

}  // namespace

WaitingCensus TakeCensus(const std::string& folder, const std::string& pattern) {
  WaitingCensus census;
  const std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(folder.c_str()), ::closedir);
  if (!stream) return census;
  while (const dirent* entry = ::readdir(stream.get())) {
    if (!MatchesPattern(entry->d_name, pattern)) continue;
    struct stat status {};
    if (::fstatat(::dirfd(stream.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(status.st_mode)) continue;
    const auto modified = ModifiedAt(status);
    if (census.files == 0 || modified < census.oldest) census.oldest = modified;
    ++census.files;
  }
  return census;
}

std::string DescribeWaiting(const WaitingCensus& census, std::chrono::system_clock::time_point now) {
  if (census.files == 0) return "no message waiting";
  return std::to_string(census.files) + (census.files == 1 ? " message" : " messages") + " waiting, the oldest for " +
         Age(now - census.oldest);
}

}  // namespace quillport

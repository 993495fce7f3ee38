#include "deliver/drop_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/durable_write.h"
#include "common/message_name.h"
#include "common/path_join.h"
#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

[[noreturn]] void TemporaryFailure(const std::string& what, int error) {
  throw DeliveryFailure(EX_TEMPFAIL, what + ": " + std::strerror(error));
}

}  // namespace

std::string MessageName(int attempt) {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  tm utc{};
  ::gmtime_r(&now.tv_sec, &utc);
  char name[96];
  const int length = std::snprintf(name, sizeof name, "%04d%02d%02d-%02d%02d%02d-%06ld-%ld", utc.tm_year + 1900,
                                   utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                                   static_cast<long>(now.tv_usec), static_cast<long>(::getpid()));
  std::string text(name, static_cast<std::size_t>(length));
  if (attempt > 0) text.append("-").append(std::to_string(attempt));
  return text + ".cnm";
}

namespace {

// The mode of a message file: what open(2) would give it under the process's
// umask, and readable by the group in any case, so that the relay's users
// (the folder's group) can read it whatever umask the mail system set
// (procmail's is 077).
mode_t MessageFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return (0666 & ~mask) | 0640;
}

}  // namespace

DropFile::DropFile(std::string folder, DeliveryDisk& disk)
    : folder_(std::move(folder)), disk_(disk), file_(folder_, std::string(kDeliveryOwner)) {
  if (!file_.valid()) TemporaryFailure("cannot create a file in the drop folder " + folder_, file_.error());
}

void DropFile::Write(std::string_view bytes) {
  if (!WriteAll(file_.descriptor(), bytes)) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
}

void DropFile::Overwrite(std::uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::pwrite(file_.descriptor(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) TemporaryFailure("cannot write into the drop folder " + folder_, errno);
    bytes.remove_prefix(static_cast<std::size_t>(written));
    offset += static_cast<std::uint64_t>(written);
  }
}

std::string DropFile::Commit(const std::function<std::string(int attempt)>& name_for) {
  if (::fchmod(file_.descriptor(), MessageFileMode()) != 0) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
  if (const int error = disk_.Sync(file_.descriptor()); error != 0) {
    TemporaryFailure("cannot write into the drop folder " + folder_, error);
  }
  constexpr int kAttempts = 1000;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = name_for(attempt);
    const std::string path = JoinPath(folder_, name);
    const int error = file_.Name(path);
    if (error == EEXIST) continue;
    if (error != 0) TemporaryFailure("cannot name the message " + path, error);
    const int sync_error = file_.Close() ? disk_.SyncFolder(folder_) : errno;
    if (sync_error != 0 && disk_.Delete(path) == 0) {
      TemporaryFailure("cannot flush the drop folder " + folder_ + " to disk", sync_error);
    }
    return name;
  }
  throw DeliveryFailure(EX_TEMPFAIL, "no free message name in the drop folder " + folder_);
}

}  // namespace quillport

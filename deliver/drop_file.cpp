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

#include "common/message_name.h"
#include "common/path_join.h"
#include "deliver/delivery_failure.h"

namespace quillport {
namespace {

[[noreturn]] void TemporaryFailure(const std::string& what, int error) {
  throw DeliveryFailure(EX_TEMPFAIL, what + ": " + std::strerror(error));
}

std::string TemporaryPath(const std::string& folder) {
  return JoinPath(folder, TemporaryNameTemplate("quillport-deliver"));
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

// The mode a new file gets from the process's umask, as open(2) would give it.
mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

}  // namespace

DropFile::DropFile(std::string folder)
    : folder_(std::move(folder)),
      temporary_(TemporaryPath(folder_)),
      file_(::mkostemps(temporary_.data(), kTemporarySuffixLength, O_CLOEXEC)),
      partial_(file_.valid() ? temporary_ : std::string()) {
  if (!file_.valid()) TemporaryFailure("cannot create a file in the drop folder " + folder_, errno);
}

void DropFile::Write(std::string_view bytes) {
  if (!WriteAll(file_.get(), bytes)) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
}

std::string DropFile::Commit(const std::function<std::string(int attempt)>& name_for) {
  if (::fchmod(file_.get(), CreationMode()) != 0 || ::fsync(file_.get()) != 0 || !file_.Close()) {
    TemporaryFailure("cannot write into the drop folder " + folder_, errno);
  }
  constexpr int kAttempts = 1000;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::string name = name_for(attempt);
    const std::string path = JoinPath(folder_, name);
    const int error = RenameNoReplace(temporary_, path);
    if (error == EEXIST) continue;
    if (error != 0) TemporaryFailure("cannot name the message " + path, error);
    partial_.Keep();
    if (!SyncFolder(folder_)) {
      const int sync_error = errno;
      ::unlink(path.c_str());
      TemporaryFailure("cannot flush the drop folder " + folder_ + " to disk", sync_error);
    }
    return name;
  }
  throw DeliveryFailure(EX_TEMPFAIL, "no free message name in the drop folder " + folder_);
}

}  // namespace quillport

// Preloaded beside libfiu's POSIX library: the calls the relay and quillport-deliver use that libfiu does not
// wrap fail under libfiu's names for what they do. Naming a file (renameat2, link, linkat) fails with
// posix/io/dir/rename, making one (mkostemps, openat) with posix/io/oc/open, removing one (unlinkat) with
// posix/io/dir/unlink. The errno of a failure cycles through a list, so a seed gives the same run again.
#include <dlfcn.h>
#include <fcntl.h>
#define FIU_ENABLE 1
#include <fiu.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <initializer_list>

namespace {

std::atomic<unsigned> failures{0};  // a preload library's own count: there is no object to hold it

// True when the point fails; errno is then the next of `errors`.
bool Fails(const char* point, std::initializer_list<int> errors) {
  if (fiu_fail(point) == 0) return false;
  errno = errors.begin()[failures++ % errors.size()];
  return true;
}

template <typename Function>
Function Next(const char* name) {
  return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

constexpr const char* kRename = "posix/io/dir/rename";
constexpr const char* kOpen = "posix/io/oc/open";

}  // namespace

extern "C" {

// EXDEV sends a filing down its copying path, EINVAL a rename down its link fallback.
int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  if (Fails(kRename, {EIO, EXDEV, ENOSPC, EINVAL, EACCES})) return -1;
  using Call = int (*)(int, const char*, int, const char*, unsigned);
  static const Call next = Next<Call>("renameat2");
  return next(from_folder, from, to_folder, to, flags);
}

int link(const char* from, const char* to) {
  if (Fails(kRename, {EIO, ENOSPC, EPERM})) return -1;
  static const auto next = Next<int (*)(const char*, const char*)>("link");
  return next(from, to);
}

int linkat(int from_folder, const char* from, int to_folder, const char* to, int flags) {
  if (Fails(kRename, {EIO, ENOSPC, EPERM})) return -1;
  static const auto next = Next<int (*)(int, const char*, int, const char*, int)>("linkat");
  return next(from_folder, from, to_folder, to, flags);
}

int unlinkat(int folder, const char* path, int flags) {
  if (Fails("posix/io/dir/unlink", {EIO, EBUSY, EACCES})) return -1;
  static const auto next = Next<int (*)(int, const char*, int)>("unlinkat");
  return next(folder, path, flags);
}

int mkostemps(char* name_template, int suffix_length, int flags) {
  if (Fails(kOpen, {EIO, ENOSPC, EACCES})) return -1;
  static const auto next = Next<int (*)(char*, int, int)>("mkostemps");
  return next(name_template, suffix_length, flags);
}

// O_TMPFILE and O_CREAT take a mode.
int openat(int folder, const char* path, int flags, ...) {
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
    va_list arguments;
    va_start(arguments, flags);
    mode = va_arg(arguments, mode_t);
    va_end(arguments);
  }
  if (Fails(kOpen, {EIO, ENOSPC, EACCES})) return -1;
  static const auto next = Next<int (*)(int, const char*, int, ...)>("openat");
  return next(folder, path, flags, mode);
}

}  // extern "C"

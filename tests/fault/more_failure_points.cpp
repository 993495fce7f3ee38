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

constexpr const char* kRename = "posix/io/dir/rename";
constexpr const char* kOpen = "posix/io/oc/open";

}  // namespace

// A wrapper of `name` that fails at `point` with one of the `errors` listed after it, else calls the real one.
#define FAILING(type, name, point, parameters, arguments, ...)                              \
  type name parameters {                                                                    \
    if (Fails(point, {__VA_ARGS__})) return -1;                                             \
    static const auto next = reinterpret_cast<type(*) parameters>(dlsym(RTLD_NEXT, #name)); \
    return next arguments;                                                                  \
  }

extern "C" {

// EXDEV sends a filing down its copying path, EINVAL a rename down its link fallback.
FAILING(int, renameat2, kRename, (int a, const char* b, int c, const char* d, unsigned e), (a, b, c, d, e), EIO, EXDEV,
        ENOSPC, EINVAL, EACCES)
FAILING(int, link, kRename, (const char* a, const char* b), (a, b), EIO, ENOSPC, EPERM)
FAILING(int, linkat, kRename, (int a, const char* b, int c, const char* d, int e), (a, b, c, d, e), EIO, ENOSPC, EPERM)
FAILING(int, unlinkat, "posix/io/dir/unlink", (int a, const char* b, int c), (a, b, c), EIO, EBUSY, EACCES)
FAILING(int, mkostemps, kOpen, (char* a, int b, int c), (a, b, c), EIO, ENOSPC, EACCES)

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
  static const auto next = reinterpret_cast<int (*)(int, const char*, int, ...)>(dlsym(RTLD_NEXT, "openat"));
  return next(folder, path, flags, mode);
}

}  // extern "C"

// The clock the relay's log file is stamped by, injected so that a test can
// fix the stamp. Only the stamp reads it: how old a file is, is judged by
// the system clock, which wrote the file's own times.
#pragma once

#include <chrono>
#include <functional>

namespace quillport {

using StampClock = std::function<std::chrono::system_clock::time_point()>;

}  // namespace quillport

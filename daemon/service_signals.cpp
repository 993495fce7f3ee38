#include "daemon/service_signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace quillport {
namespace {

sigset_t Answered() {
  sigset_t set;
  sigemptyset(&set);
  for (const int number : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set, number);
  return set;
}

std::string Name(std::uint32_t number) {
  switch (number) {
    case SIGTERM: return "SIGTERM";
    case SIGINT: return "SIGINT";
    case SIGHUP: return "SIGHUP";
    case SIGUSR1: return "SIGUSR1";
    default: return "signal " + std::to_string(number);
  }
}

int BlockAndOpen() {
  const sigset_t set = Answered();
  if (const int error = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0) {
    throw std::runtime_error(std::string("cannot block the signals: ") + std::strerror(error));
  }
  const int descriptor = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (descriptor < 0) throw std::runtime_error(std::string("cannot open a signalfd: ") + std::strerror(errno));
  return descriptor;
}

}  // namespace

ServiceSignals::ServiceSignals() : descriptor_(BlockAndOpen()) {}

std::optional<ServiceSignals::Arrival> ServiceSignals::Next() {
  signalfd_siginfo info{};
  if (::read(descriptor_.get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return std::nullopt;
  const bool stop = info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT;
  return Arrival{stop, Name(info.ssi_signo)};
}

}  // namespace quillport

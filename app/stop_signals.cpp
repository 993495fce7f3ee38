#include "app/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <stdexcept>

namespace quillport {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

// A signal handler can reach nothing but what is global: the write end of
// the one StopSignals' pipe, -1 while none lives.
std::atomic<int> signal_pipe{-1};

extern "C" void OnStopSignal(int number) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  if (const int descriptor = signal_pipe.load(); descriptor >= 0) (void)!::write(descriptor, &byte, 1);
  errno = saved;
}

QString Why(int number) {
  switch (number) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP (the end of the session)");
    default: return QStringLiteral("signal %1").arg(number);
  }
}

}  // namespace

StopSignals::StopSignals(std::function<void(const QString& why)> stop, QObject* parent)
    : QObject(parent), stop_(std::move(stop)) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make a pipe for stop signals");
  int expected = -1;
  if (!signal_pipe.compare_exchange_strong(expected, pipe_[1])) {
    ::close(pipe_[0]);
    ::close(pipe_[1]);
    throw std::logic_error("only one StopSignals may live at a time");
  }
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { Arrived(); });
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int number : kStopSignals) ::sigaction(number, &action, nullptr);
}

StopSignals::~StopSignals() {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (const int number : kStopSignals) ::sigaction(number, &action, nullptr);
  signal_pipe.store(-1);
  delete notifier_;
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void StopSignals::Arrived() {
  unsigned char byte = 0;
  while (::read(pipe_[0], &byte, 1) == 1) {
    if (stop_) stop_(Why(byte));
  }
}

}  // namespace quillport

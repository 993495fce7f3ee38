#include "deliver/delivery.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <ostream>

#include "deliver/command_line.h"
#include "deliver/delivery_failure.h"
#include "deliver/drop_file.h"
#include "deliver/message_converter.h"

namespace quillport {
namespace {

constexpr std::size_t kPiece = 64 * 1024;

constexpr char kHelp[] =
    "usage: quillport-deliver [-n GROUP[,GROUP...]] < message\n"
    "Reads one mail message on standard input and leaves it in Quillport's drop folder\n"
    "as a message file (CR LF line ends, mbox \"From \" framing dropped).\n"
    "  -n, --newsgroups GROUPS  the newsgroups of a message that has no Newsgroups header\n"
    "  --help                   this text\n"
    "  --version                the version\n"
    "Exit status: 0 delivered, 64 bad command line, 65 a message that can never be\n"
    "posted (empty, a header that never ends, no newsgroups), 75 try again later.\n";

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Reads up to `buffer.size()` bytes; 0 at the end of input. Waits with the
// termination signals let through (see StopDeliveryOnTerminationSignals).
std::size_t ReadPiece(int input, std::string& buffer) {
  if (input < 0) throw DeliveryFailure(EX_TEMPFAIL, "cannot read the message: no input");
  sigset_t waiting;
  ::sigprocmask(SIG_BLOCK, nullptr, &waiting);
  for (const int signal : kTerminationSignals) ::sigdelset(&waiting, signal);
  pollfd readable{input, POLLIN, 0};
  for (;;) {
    if (::ppoll(&readable, 1, nullptr, &waiting) < 0) {
      if (errno == EINTR) {
        throw DeliveryFailure(EX_TEMPFAIL, "stopped by a signal before the message was complete");
      }
      throw DeliveryFailure(EX_TEMPFAIL, std::string("cannot read the message: ") + std::strerror(errno));
    }
    const ssize_t count = ::read(input, buffer.data(), buffer.size());
    if (count >= 0) return static_cast<std::size_t>(count);
    if (errno != EINTR && errno != EAGAIN) {
      throw DeliveryFailure(EX_TEMPFAIL, std::string("cannot read the message: ") + std::strerror(errno));
    }
  }
}

void ReadToEnd(int input, std::string& buffer) {
  while (::read(input, buffer.data(), buffer.size()) > 0) {
  }
}

std::string Deliver(int input, const std::string& drop_folder, const std::string& newsgroups) {
  MessageConverter converter(newsgroups);
  std::string buffer(kPiece, '\0');
  std::string converted;
  std::optional<DropFile> file;  // created once there is something to write
  const auto write_out = [&] {
    if (!file) file.emplace(drop_folder);
    file->Write(converted);
    converted.clear();
  };
  try {
    while (const std::size_t count = ReadPiece(input, buffer)) {
      converter.Feed(std::string_view(buffer.data(), count), converted);
      if (converted.size() >= kPiece) write_out();
    }
    converter.Finish(converted);
  } catch (const DeliveryFailure& failure) {
    if (failure.status() == EX_DATAERR) ReadToEnd(input, buffer);
    throw;
  }
  write_out();
  return file->Commit();
}

}  // namespace

int RunDelivery(const std::vector<std::string>& arguments, int input, const std::string& drop_folder, std::ostream& out,
                std::ostream& err) {
  try {
    const CommandLine command = ParseCommandLine(arguments);
    if (command.help) {
      out << kHelp;
      return EX_OK;
    }
    if (command.version) {
      out << "quillport-deliver " << QUILLPORT_VERSION << '\n';
      return EX_OK;
    }
    Deliver(input, drop_folder, command.newsgroups);
    return EX_OK;
  } catch (const DeliveryFailure& failure) {
    err << "quillport-deliver: " << failure.what() << '\n';
    return failure.status();
  } catch (const std::exception& failure) {  // out of memory and the like: may pass
    err << "quillport-deliver: " << failure.what() << '\n';
    return EX_TEMPFAIL;
  }
}

void StopDeliveryOnTerminationSignals() {
  struct sigaction action {};
  action.sa_handler = [](int) {};  // caught, so that it ends the wait for input
  sigemptyset(&action.sa_mask);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : kTerminationSignals) {
    ::sigaction(signal, &action, nullptr);
    ::sigaddset(&blocked, signal);
  }
  ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
}

}  // namespace quillport

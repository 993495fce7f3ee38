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
    "A message without a Message-ID gets one made of its content.\n"
    "Exit status: 0 delivered, 64 bad command line, 65 a message that can never be\n"
    "posted (empty, a header that never ends, no newsgroups), 75 try again later.\n";

constexpr int kTerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Reads up to `buffer.size()` bytes; 0 at the end of input. Waits with the
// termination signals let through (see SetUpDeliverySignals).
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

// The converted message on its way into the drop folder. A failure to write
// ends the writing but not the delivery: the rest of the message is still
// read and converted (and thrown away), so that the exit status is the
// message's own, 65 for one that can never be posted, whatever the disk.
class DropFolderOutput {
 public:
  DropFolderOutput(const std::string& folder, DeliveryDisk& disk) : folder_(folder), disk_(disk) {}

  // Writes `converted` and empties it.
  void Write(std::string& converted) {
    if (!failure_) {
      try {
        if (!file_) file_.emplace(folder_, disk_);
        file_->Write(converted);
      } catch (const DeliveryFailure& failure) {
        failure_ = failure;
        file_.reset();  // frees the space already taken
      }
    }
    converted.clear();
  }

  // Puts the added Message-ID, if any, in place and commits the file; or
  // throws the failure that stopped the writing.
  std::string Commit(const std::optional<AddedMessageId>& added_message_id) {
    if (failure_) throw *failure_;
    if (added_message_id) file_->Overwrite(added_message_id->offset, added_message_id->line);
    return file_->Commit();
  }

 private:
  std::string folder_;
  DeliveryDisk& disk_;
  std::optional<DropFile> file_;  // created once there is something to write
  std::optional<DeliveryFailure> failure_;
};

std::string Deliver(int input, const std::string& drop_folder, const std::string& newsgroups, DeliveryDisk& disk) {
  MessageConverter converter(newsgroups);
  DropFolderOutput output(drop_folder, disk);
  std::string buffer(kPiece, '\0');
  std::string converted;
  try {
    while (const std::size_t count = ReadPiece(input, buffer)) {
      converter.Feed(std::string_view(buffer.data(), count), converted);
      if (converted.size() >= kPiece) output.Write(converted);
    }
    converter.Finish(converted);
  } catch (const DeliveryFailure& failure) {
    if (failure.status() == EX_DATAERR) ReadToEnd(input, buffer);
    throw;
  }
  output.Write(converted);
  return output.Commit(converter.added_message_id());
}

}  // namespace

int RunDelivery(const std::vector<std::string>& arguments, int input, const std::string& drop_folder, std::ostream& out,
                std::ostream& err, DeliveryDisk& disk) {
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
    Deliver(input, drop_folder, command.newsgroups, disk);
    return EX_OK;
  } catch (const DeliveryFailure& failure) {
    err << "quillport-deliver: " << failure.what() << '\n';
    return failure.status();
  } catch (const std::exception& failure) {  // out of memory and the like: may pass
    err << "quillport-deliver: " << failure.what() << '\n';
    return EX_TEMPFAIL;
  }
}

void SetUpDeliverySignals() {
  ::signal(SIGXFSZ, SIG_IGN);  // a write beyond the file-size limit fails (EFBIG): try again later
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

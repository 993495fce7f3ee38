#include "relay/relay_cycle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "board/board_counter.h"
#include "board/board_fields.h"
#include "board/busy_state.h"
#include "common/file_descriptor.h"
#include "common/number_format.h"
#include "common/path_join.h"
#include "common/printable_text.h"
#include "common/rtrim_null.h"
#include "relay/folder_listing.h"
#include "relay/message_poster.h"

namespace quillport {
namespace {

// Marks the Action as running for the length of a scope.
class RunningFlag {
 public:
  explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~RunningFlag() { flag_ = false; }
  RunningFlag(const RunningFlag&) = delete;
  RunningFlag& operator=(const RunningFlag&) = delete;

 private:
  bool& flag_;
};

// Runs `action` when the scope is left, by return or by exception.
template <class Action>
class AtScopeEnd {
 public:
  explicit AtScopeEnd(Action action) : action_(std::move(action)) {}
  ~AtScopeEnd() {
    try {
      action_();
    } catch (...) {
      // Never let clean-up hide the failure that is already on its way.
    }
  }
  AtScopeEnd(const AtScopeEnd&) = delete;
  AtScopeEnd& operator=(const AtScopeEnd&) = delete;

 private:
  Action action_;
};

constexpr const char* kWrittenElsewhere = "another program has it open for writing";

void PaintFileInProgress(StatusBoard& board, Rgb colour) {
  board.SetBackColor(field::Info(3), colour);
  board.SetBackColor(field::Info(4), colour);
}

}  // namespace

std::string LogRecord(std::chrono::system_clock::time_point when, std::int64_t size) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  return std::string("#") + stamp + "#,\"" + FormatNumber(size, kPatternLogSize) + "\"\r\n";
}

RelayCycle::RelayCycle(StatusBoard& board, NewsClient& client, Yield yield, RelaySettings settings, Clock clock)
    : board_(board),
      client_(client),
      yield_(std::move(yield)),
      settings_(std::move(settings)),
      clock_(std::move(clock)),
      connection_(client, board),
      writers_(settings_.drop_folder) {}

void RelayCycle::DoAction() {
  if (running_) return;  // a tick met at one of this Action's yields
  RunningFlag running(running_);
  failure_.clear();
  cut_short_.clear();
  record_.emplace(settings_.drop_folder);
  AtScopeEnd close_record([this] {
    record_->Ended(cut_short_);
    record_.reset();
  });
  try {
    RunAction();
  } catch (const std::exception& failure) {
    cut_short_ = failure.what();
    throw;
  } catch (...) {
    cut_short_ = "an unknown failure";
    throw;
  }
}

void RelayCycle::RunAction() {
  board_.SetText(field::kTimRem, board_.Text(field::kTimPer));
  board_.SetText(field::kTimNbT, PlainNumber(ReadCount(board_.Text(field::kTimNbT)) + 1));
  board_.SetText(field::Info(3), "");
  for (int i = 4; i <= 8; ++i) board_.SetText(field::Info(i), "0");
  PaintFileInProgress(board_, colour::kIdle);
  yield_();

  // Clean-up runs in reverse order of these declarations: close the listing,
  // clear the file in progress, leave the busy state, disconnect, then put
  // back the failure that the disconnect's status would hide.
  AtScopeEnd keep_failure_in_view([this] {
    if (!failure_.empty()) {
      board_.SetText(field::kStatusE, failure_);
      board_.SetVisible(field::kStatusE, true);
    }
  });
  AtScopeEnd disconnect([this] {
    if (connection_.Connected()) connection_.NntpDisconnect();
  });
  BusyState busy(board_);
  AtScopeEnd clear([this] { ClearFileInProgress(); });
  FolderListing listing(settings_.drop_folder, settings_.message_pattern);
  if (!listing.problem().empty()) ReportFailure("Drop folder: " + listing.problem());
  const bool served_elsewhere = listing.problem().empty() && !drop_lock_.Hold();
  if (served_elsewhere) ReportFailure("Drop folder: " + drop_lock_.problem());
  if (!listing.valid() || served_elsewhere) {
    cut_short_ = failure_;
    return;
  }
  CheckErrorFolder();

  if (!Connect()) return;
  std::vector<ListedEntry> settling;
  do {
    if (listing.entry().is_folder) continue;
    if (!HandleEntry(listing.entry(), &settling)) return;
    PauseAfterFile();
  } while (listing.Next());
  RetrySettled(std::move(settling));
}

void RelayCycle::RetrySettled(std::vector<ListedEntry> settling) {
  if (settling.empty()) return;
  WaitKeepingAlive(settings_.quiet_period);
  for (ListedEntry& entry : settling) {
    struct stat status {};
    const std::string path = JoinPath(settings_.drop_folder, RTrimNull(entry.name));
    if (::lstat(path.c_str(), &status) != 0) {
      record_->Gone(path, "it vanished while it settled");
      continue;
    }
    entry.size = static_cast<std::uint64_t>(status.st_size);
    if (!HandleEntry(entry, nullptr)) return;
    PauseAfterFile();
  }
}

bool RelayCycle::HandleEntry(const ListedEntry& entry, std::vector<ListedEntry>* settling) {
  const std::string name = RTrimNull(entry.name);
  const std::string path = JoinPath(settings_.drop_folder, name);
  const auto size = static_cast<std::int64_t>(entry.size);
  board_.SetText(field::Info(3), path);
  board_.SetText(field::Info(4), FormatNumber(size, kPattern9));
  try {
    writers_.Update();
    if (writers_.BeingWritten(name)) {
      record_->LeftInPlace(path, kWrittenElsewhere);
      return true;
    }
    QueuedFile file = QueuedFile::Open(path, entry.size, settings_.quiet_period, std::chrono::system_clock::now());
    if (file.busy()) {  // may still be written: left for later
      if (!file.settling()) {
        record_->LeftInPlace(path, kWrittenElsewhere);
      } else if (settling != nullptr) {
        settling->push_back(entry);
      } else {
        record_->LeftInPlace(path, "it changed in the last " + std::to_string(settings_.quiet_period.count()) + " ms");
      }
      return true;
    }
    if (entry.size == 0) {
      HandleEmptyFile();
      record_->LeftInPlace(path, "empty");
      return true;
    }
    // An earlier file had to drop the connection: open it again.
    if (!connection_.Connected() && !Connect()) return false;
    HandleNonEmptyFile(file, size);
  } catch (const FileFailure& failure) {
    ShowFailure(failure.what());
    switch (failure.fate()) {
      case FileFailure::Fate::kLeftInPlace: record_->LeftInPlace(path, failure.what()); break;
      case FileFailure::Fate::kFiled: record_->FiledUnposted(path, failure.what()); break;
      case FileFailure::Fate::kGone: record_->Gone(path, failure.what()); break;
    }
  } catch (const std::exception& failure) {  // ends the Action; the file waits for the next
    record_->LeftInPlace(path, failure.what());
    throw;
  }
  return true;
}

void RelayCycle::HandleNonEmptyFile(QueuedFile& file, std::int64_t size) {
  AddToCounter(board_, field::Info(5), size, kPattern12);
  AddToCounter(board_, field::Info(6), 1, kPattern9);
  AddToCounter(board_, field::Info(9), size, kPattern12);
  AddToCounter(board_, field::Info(10), 1, kPattern9);
  board_.SetVisible(field::kImgGoo, true);
  PaintFileInProgress(board_, colour::kFileGood);
  yield_();
  AppendLogRecord(size);
  PostingContext context{client_, board_, yield_, names_, settings_};
  // The article was abandoned by dropping the connection: the relay closed
  // it on purpose, so it is only marked closed (a disconnect through the
  // client would fail on it), and the next file opens a new one.
  AtScopeEnd after_drop([&] {
    if (context.connection_dropped) connection_.Dropped();
  });
  const MessageOutcome outcome = TrtMsg(file, context);
  const std::string& path = file.path();
  switch (outcome.disposal) {
    case MessageOutcome::Disposal::kDeletedUnposted: record_->DeletedUnposted(path, outcome.detail); break;
    case MessageOutcome::Disposal::kPosted: record_->Posted(path, outcome.message_id); break;
    case MessageOutcome::Disposal::kHeld: record_->AlreadyOnServer(path, outcome.message_id); break;
    case MessageOutcome::Disposal::kFiled:
      record_->RefusedAndFiled(path, outcome.filed_as, outcome.detail);
      ShowFailure(path + " was refused by the server (" + outcome.detail + ") and filed as " + outcome.filed_as);
      break;
  }
}

bool RelayCycle::Connect() {
  connection_.NntpConnect();
  if (connection_.Connected()) return true;
  // The news client's error event has put the reason on the error line; it
  // is what this Action leaves in view, and goes to standard error too.
  ShowFailure(board_.Text(field::kStatusE));
  cut_short_ = failure_;
  return false;
}

void RelayCycle::CheckErrorFolder() {
  const std::string& folder = settings_.error_folder;
  struct stat status {};
  if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
    ReportFailure("Error folder: the folder " + folder +
                  " does not exist; refused messages cannot be filed and stay in the drop folder");
  } else if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) {
    ReportFailure("Error folder: " + folder + " is not writable (" + std::strerror(errno) +
                  "); refused messages cannot be filed and stay in the drop folder");
  }
}

void RelayCycle::ShowFailure(const std::string& text) {
  failure_ = Printable(text);
  board_.SetText(field::kStatusE, failure_);
  board_.SetVisible(field::kStatusE, true);
  std::cerr << "quillport: " << failure_ << std::endl;
}

void RelayCycle::ReportFailure(const std::string& text) {
  ShowFailure(text);
  record_->Failure(text);
}

void RelayCycle::HandleEmptyFile() {
  AddToCounter(board_, field::Info(7), 0, kPattern12);
  AddToCounter(board_, field::Info(8), 1, kPattern9);
  AddToCounter(board_, field::Info(11), 0, kPattern12);
  AddToCounter(board_, field::Info(12), 1, kPattern9);
  board_.SetVisible(field::kImgBad, true);
  PaintFileInProgress(board_, colour::kFileEmpty);
  yield_();
}

void RelayCycle::AppendLogRecord(std::int64_t size) const {
  const std::string& path = settings_.log_file;
  const auto fail = [&](const std::string& what) {
    throw std::runtime_error("cannot " + what + " the log file " + path + ": " + std::strerror(errno));
  };
  const auto refuse_kind = [&](mode_t mode) {
    throw std::runtime_error("the log file " + path + " is " + FileKindName(mode) +
                             ", not a regular file; nothing is posted until it is one");
  };
  // Opened like a message file: a symbolic link is never followed, and no
  // FIFO or device is opened, nor waited on.
  struct stat named {};
  if (::lstat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) refuse_kind(named.st_mode);
  FileDescriptor log(
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666));
  if (!log.valid()) {
    if (errno == ELOOP) refuse_kind(S_IFLNK);
    fail("open");
  }
  struct stat opened {};
  if (::fstat(log.get(), &opened) != 0) fail("examine");
  if (!S_ISREG(opened.st_mode)) refuse_kind(opened.st_mode);
  const std::string record = LogRecord(clock_(), size);
  if (!WriteAll(log.get(), record) || !log.Close()) fail("write");
}

void RelayCycle::PauseAfterFile() const { WaitKeepingAlive(settings_.pause_after_file); }

void RelayCycle::WaitKeepingAlive(std::chrono::milliseconds length) const {
  using Steady = std::chrono::steady_clock;
  const Steady::time_point end = Steady::now() + length;
  for (;;) {
    if (keep_alive_) keep_alive_();
    const Steady::duration left = end - Steady::now();
    if (left <= Steady::duration::zero()) return;
    std::this_thread::sleep_for(std::min<Steady::duration>(left, std::chrono::milliseconds(10)));
  }
}

void RelayCycle::ClearFileInProgress() {
  board_.SetText(field::Info(3), "");
  board_.SetText(field::Info(4), "0");
  PaintFileInProgress(board_, colour::kIdle);
}

}  // namespace quillport

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

#include "common/file_descriptor.h"
#include "common/number_format.h"
#include "common/path_join.h"
#include "common/printable_text.h"
#include "relay/failure_text.h"
#include "relay/folder_listing.h"
#include "relay/message_poster.h"

namespace quillport {
namespace {

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

using Stay = OutcomeRecord::Stay;

constexpr const char* kWrittenElsewhere = "another program has it open for writing";

// "10 minutes", "90 s" or "300 ms".
std::string SpokenDuration(std::chrono::milliseconds span) {
  const auto count = span.count();
  if (count % 60000 == 0) return std::to_string(count / 60000) + (count == 60000 ? " minute" : " minutes");
  if (count % 1000 == 0) return std::to_string(count / 1000) + " s";
  return std::to_string(count) + " ms";
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

RelayCycle::RelayCycle(NewsClient& client, RelaySettings settings, Clock clock, StatePublisher publish)
    : client_(client),
      settings_(std::move(settings)),
      clock_(std::move(clock)),
      keeper_(std::move(publish)),
      connection_(client, keeper_),
      writers_(settings_.drop_folder, settings_.long_quiet_period) {}

bool RelayCycle::DoActionFor(std::string_view handler) noexcept {
  try {
    DoAction();
    return true;
  } catch (const std::exception& failure) {
    ShowFailure(FailureText(handler, failure));
  } catch (...) {
    ShowFailure(std::string(handler) + " failed: unknown failure");
  }
  return false;
}

void RelayCycle::DoAction() {
  failure_.clear();
  cut_short_.clear();
  record_.emplace(problems_);
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
  RelayState& state = Changing();
  state.actions += 1;
  state.action_messages = {};
  state.action_empty = {};
  ClearFileInProgress();

  // Clean-up runs in reverse order of these declarations: close the listing,
  // clear the file in progress, disconnect, then put back the failure that
  // the disconnect's status would hide.
  AtScopeEnd keep_failure_in_view([this] {
    if (failure_.empty()) return;
    Changing().error_line.Set(failure_);
    Changing().error_line.Show(true);
    keeper_.Publish();
  });
  AtScopeEnd disconnect([this] {
    if (connection_.Connected()) connection_.Disconnect();
  });
  AtScopeEnd clear([this] { ClearFileInProgress(); });
  FolderListing listing(settings_.drop_folder, settings_.message_pattern);
  if (!listing.problem().empty()) ReportFailure("Drop folder: " + listing.problem());
  const bool served_elsewhere = listing.problem().empty() && !drop_lock_.Hold();
  if (served_elsewhere) ReportFailure("Drop folder: " + drop_lock_.problem());
  if (!listing.valid() || served_elsewhere) {
    cut_short_ = failure_;
    return;
  }
  CheckWriterWatch();
  CheckErrorFolder();

  if (!Connect()) return;
  std::vector<ListedEntry> settling;
  do {
    if (StopRequested()) return;
    if (listing.entry().is_folder) continue;
    if (!HandleEntry(listing.entry(), &settling)) return;
    PauseAfterFile();
  } while (listing.Next());
  RetrySettled(std::move(settling));
}

void RelayCycle::RetrySettled(std::vector<ListedEntry> settling) {
  if (settling.empty() || StopRequested()) return;
  std::this_thread::sleep_for(settings_.quiet_period);
  for (ListedEntry& entry : settling) {
    if (StopRequested()) return;
    struct stat status {};
    const std::string path = JoinPath(settings_.drop_folder, entry.name);
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
  const std::string& name = entry.name;
  const std::string path = JoinPath(settings_.drop_folder, name);
  const auto size = static_cast<std::int64_t>(entry.size);
  // Published with the file's kind, once it is known.
  Changing().file_path = path;
  Changing().file_size = size;
  try {
    const WriterVerdict writing = writers_.Judge(name);
    if (writing == WriterVerdict::kBeingWritten) {
      record_->LeftInPlace(path, kWrittenElsewhere);
      return true;
    }
    // A file the watch cannot vouch for waits long, unless its lease can.
    const QuietPeriods quiet{settings_.quiet_period, writing == WriterVerdict::kNotWritten
                                                         ? settings_.quiet_period
                                                         : settings_.long_quiet_period};
    QueuedFile file = QueuedFile::Open(path, entry.size, quiet, std::chrono::system_clock::now());
    if (file.busy()) {  // may still be written: left for later
      if (!file.settling()) {
        record_->LeftInPlace(path, kWrittenElsewhere);
      } else if (settling != nullptr && file.quiet_period() == settings_.quiet_period) {
        settling->push_back(entry);
      } else {
        record_->LeftInPlace(path, "it changed in the last " + std::to_string(file.quiet_period().count()) + " ms");
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
      case FileFailure::Fate::kLeftInPlace: record_->LeftInPlace(path, failure.what(), Stay::kProblem); break;
      case FileFailure::Fate::kGone: record_->Gone(path, failure.what()); break;
    }
  } catch (const std::exception& failure) {  // ends the Action; the file waits for the next
    record_->LeftInPlace(path, failure.what(), Stay::kProblem);
    throw;
  }
  return true;
}

void RelayCycle::HandleNonEmptyFile(QueuedFile& file, std::int64_t size) {
  RelayState& state = Changing();
  state.action_messages.Add(size);
  state.total_messages.Add(size);
  state.message_seen = true;
  state.file_kind = RelayState::FileKind::kMessage;
  keeper_.Publish();
  AppendLogRecord(size);
  PostingContext context{client_, state.error_line, names_, settings_};
  // The article was abandoned by dropping the connection: the relay closed
  // it on purpose, so it is only marked closed (a disconnect through the
  // client would fail on it), and the next file opens a new one.
  AtScopeEnd after_drop([&] {
    if (context.connection_dropped) connection_.Dropped();
  });
  // What posting changes (the error line) goes out with the next
  // publication: a failure's at once, else the next file's or the Action's
  // end, a pause later at most. One publication a file keeps the window's
  // work small.
  const MessageOutcome outcome = PostMessageFile(file, context);
  const std::string& path = file.path();
  switch (outcome.disposal) {
    case MessageOutcome::Disposal::kDeletedUnposted:
      // Not a failure of the relay (the error line stays as it is), but a
      // message that reaches no one: the administrator hears of it.
      record_->DeletedUnposted(path, outcome.detail);
      std::cerr << "quillport: " << Printable(path + " was deleted unposted: " + outcome.detail) << std::endl;
      break;
    case MessageOutcome::Disposal::kPosted: record_->Posted(path, outcome.message_id); break;
    case MessageOutcome::Disposal::kHeld: record_->AlreadyOnServer(path, outcome.message_id); break;
    case MessageOutcome::Disposal::kFiledUnposted:
      record_->FiledUnposted(path, outcome.detail);
      ShowFailure(outcome.detail);
      break;
    case MessageOutcome::Disposal::kFiled:
      record_->RefusedAndFiled(path, outcome.filed_as, outcome.detail);
      ShowFailure(path + " was refused by the server (" + outcome.detail + ") and filed as " + outcome.filed_as);
      break;
  }
}

bool RelayCycle::Connect() {
  connection_.Connect();
  if (connection_.Connected()) return true;
  // The connection has put the reason on the error line; it is what this
  // Action leaves in view, and goes to standard error too.
  ShowFailure(state().error_line.text);
  cut_short_ = failure_;
  return false;
}

void RelayCycle::CheckWriterWatch() {
  const std::string problem = writers_.Problem();
  if (problem.empty()) return;
  ReportFailure("Writer watch: cannot watch " + settings_.drop_folder + " for writers: " + problem +
                "; until it can, a file the relay cannot lease is posted only once unchanged for " +
                SpokenDuration(settings_.long_quiet_period));
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
  Changing().error_line.Set(failure_);
  Changing().error_line.Show(true);
  keeper_.Publish();
  std::cerr << "quillport: " << failure_ << std::endl;
}

void RelayCycle::ReportFailure(const std::string& text) {
  ShowFailure(text);
  record_->Failure(text);
}

void RelayCycle::HandleEmptyFile() {
  RelayState& state = Changing();
  state.action_empty.Add(0);
  state.total_empty.Add(0);
  state.empty_seen = true;
  state.file_kind = RelayState::FileKind::kEmpty;
  keeper_.Publish();
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

void RelayCycle::PauseAfterFile() const { std::this_thread::sleep_for(settings_.pause_after_file); }

void RelayCycle::ClearFileInProgress() {
  RelayState& state = Changing();
  state.file_path.clear();
  state.file_size = 0;
  state.file_kind = RelayState::FileKind::kNone;
  keeper_.Publish();
}

}  // namespace quillport

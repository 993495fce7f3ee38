#include "relay/relay_cycle.h"

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
#include "relay/leftover_sweep.h"
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

RelayCycle::RelayCycle(NewsClient& client, RelaySettings settings, Clock clock, StatePublisher publish,
                       FileSystem& files)
    : client_(client),
      settings_(std::move(settings)),
      clock_(std::move(clock)),
      keeper_(std::move(publish)),
      connection_(client, keeper_),
      files_(files),
      writers_(settings_.drop_folder, settings_.long_quiet_period, files_) {}

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
  FolderListing listing(settings_.drop_folder, settings_.message_pattern, files_);
  if (!listing.problem().empty()) ReportFailure("Drop folder: " + listing.problem());
  const bool served_elsewhere = listing.problem().empty() && !drop_lock_.Hold();
  if (served_elsewhere) ReportFailure("Drop folder: " + drop_lock_.problem());
  if (!listing.valid() || served_elsewhere) {
    cut_short_ = failure_;
    return;
  }
  CheckWriterWatch();
  CheckErrorFolder();
  if (!swept_) SweepLeftoversOnce();

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
    FileStatus status;
    const std::string path = JoinPath(settings_.drop_folder, entry.name);
    if (files_.Examine(path, status, FileSystem::Follow::kNo) != 0) {
      record_->Gone(path, "it vanished while it settled");
      continue;
    }
    entry.size = status.size;
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
    Result<QueuedFile> opened =
        QueuedFile::Open(files_, {settings_.drop_folder, name, entry.size}, quiet, std::chrono::system_clock::now());
    if (!opened) return FileFailed(path, opened.failure());
    QueuedFile& file = *opened;
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
    if (Status failed = HandleNonEmptyFile(file, size)) return FileFailed(path, *failed);
  } catch (const std::exception& failure) {  // ends the Action; the file waits for the next
    record_->LeftInPlace(path, failure.what(), Stay::kProblem);
    throw;
  }
  return true;
}

bool RelayCycle::FileFailed(const std::string& path, const Failure& failure) {
  ShowFailure(failure.text);
  switch (failure.fate) {
    case Failure::Fate::kLeftInPlace: record_->LeftInPlace(path, failure.text, Stay::kProblem); break;
    case Failure::Fate::kGone: record_->Gone(path, failure.text); break;
  }
  return true;
}

Status RelayCycle::HandleNonEmptyFile(QueuedFile& file, std::int64_t size) {
  RelayState& state = Changing();
  state.action_messages.Add(size);
  state.total_messages.Add(size);
  state.message_seen = true;
  state.file_kind = RelayState::FileKind::kMessage;
  keeper_.Publish();
  if (Status logged = AppendLogRecord(size)) throw std::runtime_error(logged->Described());
  PostingContext context{client_, names_, settings_, files_};
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
  Result<MessageOutcome> posted = PostMessageFile(file, context);
  if (!posted && posted.failure().reach == Failure::Reach::kAction) {
    throw std::runtime_error(posted.failure().Described());
  }
  if (!posted) return posted.failure();
  const MessageOutcome& outcome = *posted;
  const std::string path = file.path();
  // An accepted article hides the error line; a refused one shows the
  // server's refusal on it.
  if (outcome.disposal == MessageOutcome::Disposal::kPosted) state.error_line.Show(false);
  if (outcome.disposal == MessageOutcome::Disposal::kHeld || outcome.disposal == MessageOutcome::Disposal::kFiled) {
    state.error_line.Set(outcome.detail);
    state.error_line.Show(true);
  }
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
  return {};
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
  FileStatus status;
  if (files_.Examine(folder, status, FileSystem::Follow::kYes) != 0 || !status.folder()) {
    ReportFailure("Error folder: the folder " + folder +
                  " does not exist; refused messages cannot be filed and stay in the drop folder");
  } else if (const int error = files_.CheckFolderWritable(folder); error != 0) {
    ReportFailure("Error folder: " + folder + " is not writable (" + ErrorText(error) +
                  "); refused messages cannot be filed and stay in the drop folder");
  }
}

void RelayCycle::SweepLeftoversOnce() {
  swept_ = true;
  constexpr std::string_view kLeftover = "a temporary copy an interrupted filing or delivery left, deleted";
  const auto now = std::chrono::system_clock::now();
  for (const std::string& path : SweepLeftovers(files_, settings_.error_folder, {}, now)) {
    record_->Gone(path, kLeftover);
  }
  for (const std::string& path : SweepLeftovers(files_, settings_.drop_folder, settings_.long_quiet_period, now)) {
    record_->Gone(path, kLeftover);
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

Status RelayCycle::AppendLogRecord(std::int64_t size) const {
  const std::string& path = settings_.log_file;
  const auto fail = [&](const std::string& what, int error) {
    return Failure::OfAction("cannot " + what + " the log file " + path + ": " + ErrorText(error));
  };
  const auto refuse_kind = [&](mode_t mode) {
    return Failure::OfAction("the log file " + path + " is " + FileKindName(mode) +
                             ", not a regular file; nothing is posted until it is one");
  };
  // Opened like a message file: a symbolic link is never followed, and no
  // FIFO or device is opened, nor waited on.
  FileStatus named;
  if (files_.Examine(path, named, FileSystem::Follow::kNo) == 0 && !named.regular()) return refuse_kind(named.mode);
  FileDescriptor log(-1);
  if (const int error = files_.Open(path, FileSystem::OpenMode::kAppend, log, 0666); error != 0) {
    return error == ELOOP ? refuse_kind(S_IFLNK) : fail("open", error);
  }
  FileStatus opened;
  if (const int error = files_.ExamineOpen(log.get(), opened); error != 0) return fail("examine", error);
  if (!opened.regular()) return refuse_kind(opened.mode);
  int error = files_.Write(log.get(), LogRecord(clock_(), size));
  if (error == 0) error = files_.Close(log);
  if (error != 0) return fail("write", error);
  return {};
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

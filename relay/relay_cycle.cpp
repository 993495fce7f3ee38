#include "relay/relay_cycle.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "common/file_descriptor.h"
#include "common/number_format.h"
#include "common/path_join.h"
#include "common/printable_text.h"
#include "news/news_error.h"
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

RelayCycle::RelayCycle(NewsClient& client, EngineListener& listener, RelaySettings settings, StampClock stamp,
                       FileSystem& files)
    : client_(client),
      settings_(std::move(settings)),
      stamp_(std::move(stamp)),
      reporter_(listener),
      connection_(client, reporter_),
      files_(files),
      writers_(settings_.drop_folder, settings_.long_quiet_period, files_) {}

ActionReport RelayCycle::DoAction(ActionTrigger trigger) {
  last_failure_.reset();
  broken_off_.reset();
  cut_short_.clear();
  interrupted_ = false;
  // Lines go out escaped: a file's name may hold control characters.
  record_.emplace(problems_, [this](int severity, const std::string& line) {
    reporter_.Recorded({severity, Printable(line)});
  });
  // Failures come as values; what is thrown is a broken invariant, which
  // ends this Action but never the engine.
  try {
    RunAction();
  } catch (const std::exception& failure) {
    BreakOff(Failure::OfAction(failure.what()));
  } catch (...) {
    BreakOff(Failure::OfAction("an unknown failure"));
  }
  record_->Ended(cut_short_);
  record_.reset();
  return {trigger, state(), last_failure_, broken_off_, StopRequested(), interrupted_};
}

void RelayCycle::RunAction() {
  RelayState& state = Changing();
  state.actions += 1;
  state.action_messages = {};
  state.action_empty = {};
  ClearFileInProgress();

  // Clean-up runs in reverse order of these declarations: close the
  // listing, clear the file in progress, disconnect.
  AtScopeEnd disconnect([this] {
    if (connection_.Connected()) connection_.Disconnect();
  });
  AtScopeEnd clear([this] { ClearFileInProgress(); });
  FolderListing listing(settings_.drop_folder, settings_.message_pattern, files_);
  if (!listing.problem().empty()) ReportFailure("Drop folder: " + listing.problem());
  const bool served_elsewhere = listing.problem().empty() && !drop_lock_.Hold();
  if (served_elsewhere) ReportFailure("Drop folder: " + drop_lock_.problem());
  if (!listing.valid() || served_elsewhere) return;  // the failure, if any, has its own record line
  if (!swept_) SweepLeftoversOnce();
  CheckWriterWatch();
  CheckErrorFolder();

  if (StopRequested() || !Connect()) return;
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
  const QueuedMessage message{settings_.drop_folder, entry.name, entry.size, {}};
  const std::string path = message.Path();
  // Published with the file's kind, once it is known.
  Changing().file_path = path;
  Changing().file_size = static_cast<std::int64_t>(entry.size);
  const WriterVerdict writing = writers_.Judge(entry.name);
  if (writing == WriterVerdict::kBeingWritten) {
    record_->LeftInPlace(path, kWrittenElsewhere);
    return true;
  }
  const QuietPeriods quiet = QuietFor(writing);
  Result<QueuedFile> opened = QueuedFile::Open(files_, message, quiet, std::chrono::system_clock::now());
  if (!opened) return Settle(message, opened.failure());
  QueuedFile& file = *opened;
  if (file.busy()) {  // may still be written: left for later
    if (!file.settling()) {
      record_->LeftInPlace(path, kWrittenElsewhere);
    } else if (settling != nullptr && settings_.settle_within_action && file.quiet_period() == settings_.quiet_period) {
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
  if (const Status handled = HandleMessage(file); !handled.ok()) return Settle(message, handled.failure());
  return true;
}

bool RelayCycle::Settle(const QueuedMessage& message, const Failure& failure) {
  const std::string path = message.Path();
  if (failure.reach == Failure::Reach::kAction) {  // the file waits for the next Action
    // The failure itself is recorded once, in the closing line that says
    // what cut the Action short.
    record_->LeftInPlace(path, "the Action was cut short");
    BreakOff(failure);
    return false;
  }
  Fail(failure);
  switch (failure.fate) {
    case Failure::Fate::kLeftInPlace: record_->LeftInPlace(path, failure.text, Stay::kProblem); break;
    case Failure::Fate::kGone: record_->Gone(path, failure.text); break;
  }
  return true;
}

Status RelayCycle::HandleMessage(QueuedFile& file) {
  const auto size = static_cast<std::int64_t>(file.message().listed_size);
  RelayState& state = Changing();
  state.action_messages.Add(size);
  state.total_messages.Add(size);
  state.message_seen = true;
  state.file_kind = RelayState::FileKind::kMessage;
  reporter_.Publish();
  if (Status logged = AppendLogRecord(size); !logged.ok()) return logged;
  PostingContext context{client_, names_, settings_, files_};
  // The article was abandoned by dropping the connection: the relay closed
  // it on purpose, so it is only marked closed (a disconnect through the
  // client would fail on it), and the next file opens a new one.
  AtScopeEnd after_drop([&] {
    if (context.connection_dropped) connection_.Dropped();
  });
  Result<MessageOutcome> posted = PostMessageFile(file, context);
  if (!posted) return posted.failure();
  Report(file.message(), *posted);
  return Status::Ok();
}

void RelayCycle::Report(const QueuedMessage& message, const MessageOutcome& outcome) {
  const std::string path = message.Path();
  switch (outcome.disposal) {
    case MessageOutcome::Disposal::kDeletedUnposted:
      // Not a failure of the relay, but a message that reaches no one: the
      // administrator hears of it.
      record_->DeletedUnposted(path, outcome.detail);
      break;
    case MessageOutcome::Disposal::kPosted:
      record_->Posted(path, outcome.message_id);
      reporter_.Succeeded();
      break;
    case MessageOutcome::Disposal::kHeld:
      record_->AlreadyOnServer(path, outcome.message_id);
      reporter_.Failed(Failure::OfFile(outcome.detail, Failure::Fate::kGone));  // the refusal, in view
      break;
    case MessageOutcome::Disposal::kFiledUnposted:
      record_->FiledUnposted(path, outcome.detail);
      Fail(Failure::OfFile(outcome.detail, Failure::Fate::kGone));
      break;
    case MessageOutcome::Disposal::kFiled:
      record_->RefusedAndFiled(path, outcome.filed_as, outcome.detail);
      Fail(
          Failure::OfFile(path + " was refused by the server (" + outcome.detail + ") and filed as " + outcome.filed_as,
                          Failure::Fate::kGone));
      break;
  }
  reporter_.Handled({message, outcome});
}

bool RelayCycle::Connect() {
  const Status connected = connection_.Connect();
  if (connected.ok()) return true;
  // The connection has told the listener; the failure is what this Action
  // leaves in view, and what its closing record says cut it short.
  last_failure_ = connected.failure();
  cut_short_ = connected.failure().text;
  interrupted_ = true;
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

void RelayCycle::Fail(Failure failure) {
  failure.text = Printable(failure.text);
  reporter_.Failed(failure);
  last_failure_ = std::move(failure);
}

void RelayCycle::ReportFailure(const std::string& text) {
  Fail(Failure::OfAction(text));
  record_->Failure(text);
}

void RelayCycle::BreakOff(Failure failure) {
  failure.text = Printable(failure.text);
  reporter_.Failed(failure);
  cut_short_ = failure.text;
  interrupted_ = true;
  broken_off_ = std::move(failure);
}

void RelayCycle::HandleEmptyFile() {
  RelayState& state = Changing();
  state.action_empty.Add(0);
  state.total_empty.Add(0);
  state.empty_seen = true;
  state.file_kind = RelayState::FileKind::kEmpty;
  reporter_.Publish();
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
  int error = files_.AppendWhole(log.get(), LogRecord(stamp_(), size));
  if (error == 0) error = files_.Close(log);
  if (error != 0) return fail("write", error);
  return {};
}

QuietPeriods RelayCycle::QuietFor(WriterVerdict writing) const {
  switch (writing) {
    case WriterVerdict::kNamedWhole: return {};  // whole since it had a name: no writer to wait for
    case WriterVerdict::kNotWritten: return {settings_.quiet_period, settings_.quiet_period};
    case WriterVerdict::kUnvouched:
    case WriterVerdict::kBeingWritten: break;
  }
  // A file the watch cannot vouch for waits long, unless its lease can.
  return {settings_.quiet_period, settings_.long_quiet_period};
}

void RelayCycle::PauseAfterFile() const {
  if (settings_.pause_after_file > std::chrono::milliseconds::zero())
    std::this_thread::sleep_for(settings_.pause_after_file);
}

void RelayCycle::ClearFileInProgress() {
  RelayState& state = Changing();
  state.file_path.clear();
  state.file_size = 0;
  state.file_kind = RelayState::FileKind::kNone;
  reporter_.Publish();
}

}  // namespace quillport

// One Action: every queued message file of the drop folder taken to the news
// server. The path of one message reads top to bottom here: DoAction lists
// the folder, HandleEntry opens the message file, HandleMessage logs and
// posts it (message_poster.h) and reports what became of it.
#pragma once

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "news/news_client.h"
#include "relay/drop_folder_lock.h"
#include "relay/engine_listener.h"
#include "relay/engine_reporter.h"
#include "relay/failure.h"
#include "relay/file_system.h"
#include "relay/folder_listing.h"
#include "relay/outcome_record.h"
#include "relay/presence_check.h"
#include "relay/queue_name_generator.h"
#include "relay/queued_file.h"
#include "relay/relay_settings.h"
#include "relay/server_connection.h"
#include "relay/stamp_clock.h"
#include "relay/writer_watch.h"

namespace quillport {

class RelayCycle {
 public:
  // `client` and `listener` must outlive the relay, which takes the client
  // over: from now on only the relay uses it. `listener` hears of every
  // change and event, on the thread that runs the Action. Actions run one
  // at a time, on any one thread at a time.
  // `files` is how the relay reaches the drop and error folders; `stamp`
  // stamps the log file's records.
  RelayCycle(NewsClient& client, EngineListener& listener, RelaySettings settings = RelaySettings::Compiled(),
             StampClock stamp = std::chrono::system_clock::now, FileSystem& files = DefaultFileSystem());

  // Runs one Action: counts it, clears the file in progress and this
  // Action's totals, lists the drop folder and, when it found anything,
  // connects and handles every entry in name order: a non-empty file is
  // counted, logged and posted; an empty one is counted and left in place; a
  // folder is skipped. After each file it pauses.
  //
  // A file is opened before it is counted (see QueuedFile::Open): one that
  // another program has open for writing (told by its lease, or by the drop
  // folder's WriterWatch whoever writes it) is left for a later Action
  // without a trace. One that the watch saw named whole (written without a
  // name, then linked in and closed, as quillport-deliver writes) is taken
  // at once. One that only changed lately (a mail program that just put it
  // there) is tried once more at the end of the walk, after the quiet
  // period, when the settings say so (else left for a later Action), and
  // left for a later Action if it changed again. One that
  // neither its lease nor the watch can vouch for waits for the long quiet
  // period instead. A drop folder that cannot be watched is reported, with
  // the system's reason, at every Action. A failure that belongs to one
  // file (a Failure of reach kFile) is reported and the Action goes on with
  // the next file; when handling a file dropped the
  // connection, it is opened again for the next one. A missing drop folder
  // and a missing or unwritable error folder are reported too. A drop folder
  // that another relay serves (see DropFolderLock) is reported and left
  // alone: no file in it is handled and no connection is made.
  //
  // At the end the file in progress is cleared and the connection closed,
  // also when a failure broke the Action off (the connection, the log file,
  // an answer of the server about the session rather than the article).
  // Returns how the Action ended; never throws. Every outcome and failure
  // goes to the listener as an event and as one record line (Recorded).
  ActionReport DoAction(ActionTrigger trigger);

  // Asks the Action under way to stop before its next file: the file in
  // progress is finished, then the connection is closed normally. The
  // request holds until ClearStopRequest, so an Action about to start stops
  // at once too. Safe from any thread.
  void RequestStop() { stop_requested_.store(true); }
  void ClearStopRequest() { stop_requested_.store(false); }
  bool StopRequested() const { return stop_requested_.load(); }

  // A copy of the state as the last change left it. Only between Actions,
  // or on the thread that runs them.
  RelayState state() const { return reporter_.state(); }

 private:
  void RunAction();
  bool HandleEntry(const ListedEntry& entry, std::vector<ListedEntry>* settling);
  void RetrySettled(std::vector<ListedEntry> settling);
  // Settles a failure met with `message`: one of its file is reported and
  // the walk goes on (true); one that reaches the Action breaks it off.
  bool Settle(const QueuedMessage& message, const Failure& failure);
  Status HandleMessage(QueuedFile& file);
  void Report(const QueuedMessage& message, const MessageOutcome& outcome);
  void HandleEmptyFile();
  Status AppendLogRecord(std::int64_t size) const;
  void SweepLeftoversOnce();
  void ClearFileInProgress();
  // The quiet periods of a file the writer watch judged so.
  QuietPeriods QuietFor(WriterVerdict writing) const;
  void PauseAfterFile() const;
  bool Connect();
  void CheckWriterWatch();
  void CheckErrorFolder();
  // Tells the listener of a failure and keeps it as the Action's last;
  // ReportFailure also records it as a line of its own, and BreakOff ends
  // the Action with it. The engine writes nothing itself: what becomes of
  // a failure is the listener's to decide.
  void Fail(Failure failure);
  void ReportFailure(const std::string& text);
  void BreakOff(Failure failure);

  RelayState& Changing() { return reporter_.state(); }

  NewsClient& client_;
  RelaySettings settings_;
  StampClock stamp_;
  EngineReporter reporter_;
  ServerConnection connection_;
  QueueNameGenerator names_;
  FileSystem& files_;
  DropFolderLock drop_lock_{settings_.drop_folder, files_};  // held from the first Action on
  WriterWatch writers_;                                      // files of the drop folder other programs are writing
  std::optional<Failure> last_failure_;                      // the last failure met during this Action
  std::optional<Failure> broken_off_;                        // the failure that broke this Action off
  std::string cut_short_;                                    // the failure that ended this Action early
  bool interrupted_ = false;                                 // see ActionReport::interrupted
  ProblemMemory problems_;                                   // what the system log was told lately
  std::optional<OutcomeRecord> record_;                      // the system log, during an Action
  std::atomic<bool> stop_requested_{false};                  // see RequestStop
  bool swept_ = false;                                       // leftovers swept, at the first Action
};

// The log record of one non-empty file: "#YYYY-MM-DD HH:MM:SS#," and the
// size with at least seven digits between double quotes, then CR LF.
std::string LogRecord(std::chrono::system_clock::time_point when, std::int64_t size);

}  // namespace quillport

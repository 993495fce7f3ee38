// Which files of the drop folder another program is writing, whoever that
// program runs as. A read lease tells it only for files the relay owns (or
// with CAP_LEASE); this watch tells it for every file written since the
// relay started.
#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/file_descriptor.h"
#include "relay/file_system.h"
#include "relay/writer_ledger.h"

namespace quillport {

// Follows the changes the kernel reports for the entries of one folder
// (inotify) on a thread of its own, which takes them in as they come, so
// that its queue does not overflow between two Actions; what they tell is
// kept by a WriterLedger.
//
// What it cannot see: a file opened for writing but not yet written to,
// and files written before the watch began. Changes it missed (its queue
// overflowed, or the folder could not be watched for a while) leave the
// files changed meanwhile unvouched (see WriterLedger).
class WriterWatch {
 public:
  // Starts watching `folder`. A folder that cannot be watched now (it is
  // missing, or the user's inotify instances are used up) is tried again
  // every second, and at every Problem().
  WriterWatch(std::string folder, std::chrono::milliseconds long_quiet_period, FileSystem& files = DefaultFileSystem());
  WriterWatch(const WriterWatch&) = delete;
  WriterWatch& operator=(const WriterWatch&) = delete;
  // Stops the watch's thread and waits for it.
  ~WriterWatch();

  // Why the folder is not watched, with the system's reason; empty when it
  // is. Tries to start the watch first when it is off.
  std::string Problem();

  // What the watch knows of the entry `name` of the folder, with every
  // change reported so far taken in. Unvouched while the watch is off.
  WriterVerdict Judge(const std::string& name);

 private:
  void Run();
  void Start();
  void TurnedOff(const std::string& problem);
  void Drain();
  void Take(int watch, std::uint32_t mask, std::uint32_t cookie, const std::string& name);

  FileSystem& files_;
  const std::string folder_;
  FileDescriptor wake_;                    // an eventfd: written to end the thread
  std::mutex mutex_;                       // guards everything below but the thread
  std::optional<FileDescriptor> inotify_;  // once open, never replaced while the thread runs
  int watch_ = -1;
  bool stopping_ = false;
  std::string problem_;         // why the folder is not watched
  std::string thread_problem_;  // why changes are taken in only at Judge
  // The last time every change reported until then had been taken in.
  WriterLedger::Time drained_at_;
  std::optional<WriterLedger::Time> off_since_;  // while nothing watches: since when
  WriterLedger ledger_;
  std::thread thread_;  // last, so that it starts once all the above exists
};

}  // namespace quillport

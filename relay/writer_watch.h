// Which files of the drop folder another program is writing, whoever that
// program runs as. A read lease tells it only for files the relay owns (or
// with CAP_LEASE); this watch tells it for every file written since the
// relay started.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "common/file_descriptor.h"

namespace quillport {

// Follows the changes the kernel reports for the entries of one folder
// (inotify): a file counts as being written from its first write or
// truncation until a program that had it open for writing closes it; a
// rename carries that over to the new name, a deletion ends it.
//
// What it cannot see: a file opened for writing but not yet written to,
// and files written before the watch began. When the kernel drops changes
// (its queue overflowed) everything it knew is forgotten, and the other
// checks of a file (its lease, its size and times) decide alone.
class WriterWatch {
 public:
  // Starts watching `folder`. A folder that cannot be watched now (it is
  // missing) is tried again at every Update.
  explicit WriterWatch(std::string folder);
  WriterWatch(const WriterWatch&) = delete;
  WriterWatch& operator=(const WriterWatch&) = delete;

  // Takes in every change reported since the last call, without waiting.
  void Update();

  // True when the entry `name` of the folder has been written since the
  // watch began and no writer has closed it since.
  bool BeingWritten(const std::string& name) const { return written_.contains(name); }

 private:
  void Start();
  void Stop();
  void Take(std::uint32_t mask, std::uint32_t cookie, const std::string& name);

  std::string folder_;
  FileDescriptor inotify_;
  int watch_ = -1;
  std::set<std::string> written_;
  std::map<std::uint32_t, std::string> moving_;  // by rename cookie: a name being written that moved
};

}  // namespace quillport

// What the changes the kernel reported for the entries of the drop folder
// say about each of them: being written, surely not, or not known since
// some of those changes were lost.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace quillport {

enum class WriterVerdict {
  kBeingWritten,  // written to, and no writer has closed it since
  kUnvouched,     // changes to it may have been lost: it may be being written
  kNotWritten,    // not written since the last close, as far as every change was seen
  kNamedWhole,    // written before it had a name, named, closed, and not written under its name
};

// Keeps, by name, what the reported changes (inotify events) tell: a file
// counts as being written from its first write or truncation until a
// program that had it open for writing closes it; a rename carries that
// over to the new name, a deletion ends it.
//
// A file written in the folder before it has a name (O_TMPFILE, as
// quillport-deliver writes) is reported under the name "#" and its inode
// number; linked in, it appears under its name (IN_CREATE) and its writes
// and close go on being reported under "#...". Such a file is named whole
// once that writer has closed it, as long as nothing wrote to it under its
// name: whatever another program writes under a name is seen under it, so
// this verdict is never given to a file written in place, nor to one whose
// unnamed writes the watch did not see (a link made from elsewhere).
//
// When changes were lost (the kernel's queue overflowed, or nothing watched
// for a while) nothing is forgotten: a file known as being written, and a
// file modified since the loss began, is unvouched until it has been seen
// closed (or deleted) or the loss is `long_quiet_period` old, by which time
// anything changed during it has been quiet at least that long.
class WriterLedger {
 public:
  using Time = std::chrono::system_clock::time_point;

  explicit WriterLedger(std::chrono::milliseconds long_quiet_period) : long_quiet_period_(long_quiet_period) {}

  // Takes in one change (an inotify mask with IN_CREATE, IN_MODIFY,
  // IN_CLOSE_WRITE, IN_DELETE, IN_MOVED_FROM or IN_MOVED_TO) of the entry
  // `name`.
  void Take(std::uint32_t mask, std::uint32_t cookie, const std::string& name);

  // Changes made from `since` until `resumed` may have been lost.
  void Lost(Time since, Time resumed);

  // What is known of `name`, last modified at `modified`, at `now`;
  // `inode` is the inode number of the file it names now (0 when unknown).
  WriterVerdict Judge(const std::string& name, Time modified, Time now, std::uint64_t inode = 0);

 private:
  // What a rename carries from the old name to the new.
  struct Moving {
    bool written = false;
    bool unsure = false;
    bool vouched = false;
  };
  struct Loss {
    Time since;
    Time resumed;
    std::set<std::string> unsure;   // known as being written when the changes were lost
    std::set<std::string> vouched;  // seen closed or deleted since
  };
  void Settled(const std::string& name);

  std::chrono::milliseconds long_quiet_period_;
  void Unnamed(std::uint32_t mask, const std::string& name);

  std::set<std::string> written_;
  std::set<std::string> created_;           // appeared (IN_CREATE), not written under the name since
  std::map<std::uint64_t, bool> unnamed_;   // by inode: written without a name; true once closed
  std::map<std::uint32_t, Moving> moving_;  // by rename cookie, until the other half of the rename
  std::optional<Loss> loss_;
};

}  // namespace quillport

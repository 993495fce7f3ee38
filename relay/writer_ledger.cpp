#include "relay/writer_ledger.h"

#include <sys/inotify.h>

#include <algorithm>

#include "common/message_name.h"

namespace quillport {
namespace {

// A file renamed out of the folder leaves the first half of its rename
// behind; past this many such halves they are dropped.
constexpr std::size_t kMaxMoving = 256;
// Files written without a name, and names created, kept at most: past
// this many, the oldest knowledge is dropped (such files wait their quiet
// period instead).
constexpr std::size_t kMaxKept = 4096;

}  // namespace

void WriterLedger::Unnamed(std::uint32_t mask, const std::string& name) {
  const std::uint64_t inode = UnnamedFileInode(name);
  if (inode == 0) return;
  if ((mask & IN_MODIFY) != 0) {
    if (unnamed_.size() >= kMaxKept) unnamed_.clear();
    unnamed_[inode] = false;
  }
  if ((mask & IN_CLOSE_WRITE) != 0) {
    const auto known = unnamed_.find(inode);
    if (known != unnamed_.end()) known->second = true;
  }
}

void WriterLedger::Take(std::uint32_t mask, std::uint32_t cookie, const std::string& name) {
  Unnamed(mask, name);
  if ((mask & IN_CREATE) != 0) {
    if (created_.size() >= kMaxKept) created_.clear();
    created_.insert(name);
  }
  if ((mask & (IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO)) != 0) created_.erase(name);
  if ((mask & IN_MODIFY) != 0) written_.insert(name);
  if ((mask & (IN_CLOSE_WRITE | IN_DELETE)) != 0) {
    written_.erase(name);
    Settled(name);
  }
  if ((mask & IN_MOVED_FROM) != 0) {
    Moving moving{written_.erase(name) > 0, loss_ && loss_->unsure.contains(name),
                  loss_ && loss_->vouched.contains(name)};
    Settled(name);  // nothing bears the old name now
    if (moving_.size() >= kMaxMoving) moving_.clear();
    moving_[cookie] = moving;
  }
  if ((mask & IN_MOVED_TO) != 0) {
    written_.erase(name);
    if (loss_) {
      loss_->unsure.erase(name);
      loss_->vouched.erase(name);
    }
    const auto moved = moving_.find(cookie);
    if (moved == moving_.end()) return;  // from outside the folder: nothing is known of it
    if (moved->second.written) written_.insert(name);
    if (loss_ && moved->second.unsure) loss_->unsure.insert(name);
    if (loss_ && moved->second.vouched) loss_->vouched.insert(name);
    moving_.erase(moved);
  }
}

void WriterLedger::Settled(const std::string& name) {
  if (!loss_) return;
  loss_->unsure.erase(name);
  loss_->vouched.insert(name);
}

void WriterLedger::Lost(Time since, Time resumed) {
  if (loss_) {
    loss_->since = std::min(loss_->since, since);
    loss_->vouched.clear();  // a close seen before this loss tells nothing of what came in it
  } else {
    loss_.emplace(Loss{since, resumed, {}, {}});
  }
  loss_->resumed = resumed;
  // Their closes may be among the lost changes: they are no longer known
  // as being written, only as possibly being written.
  loss_->unsure.merge(written_);
  written_.clear();
  moving_.clear();
  created_.clear();
  unnamed_.clear();
}

WriterVerdict WriterLedger::Judge(const std::string& name, Time modified, Time now, std::uint64_t inode) {
  if (written_.contains(name)) return WriterVerdict::kBeingWritten;
  if (const auto unnamed = unnamed_.find(inode); inode != 0 && unnamed != unnamed_.end() && created_.contains(name)) {
    // Named by a writer that may still write through its descriptor:
    // whole once it has closed it.
    return unnamed->second ? WriterVerdict::kNamedWhole : WriterVerdict::kBeingWritten;
  }
  if (loss_ && now - loss_->resumed >= long_quiet_period_) loss_.reset();
  if (loss_ && !loss_->vouched.contains(name) && (loss_->unsure.contains(name) || modified >= loss_->since)) {
    return WriterVerdict::kUnvouched;
  }
  return WriterVerdict::kNotWritten;
}

}  // namespace quillport

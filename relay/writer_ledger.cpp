#include "relay/writer_ledger.h"

#include <sys/inotify.h>

#include <algorithm>

namespace quillport {
namespace {

// A file renamed out of the folder leaves the first half of its rename
// behind; past this many such halves they are dropped.
constexpr std::size_t kMaxMoving = 256;

}  // namespace

void WriterLedger::Take(std::uint32_t mask, std::uint32_t cookie, const std::string& name) {
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
}

WriterVerdict WriterLedger::Judge(const std::string& name, Time modified, Time now) {
  if (written_.contains(name)) return WriterVerdict::kBeingWritten;
  if (loss_ && now - loss_->resumed >= long_quiet_period_) loss_.reset();
  if (loss_ && !loss_->vouched.contains(name) && (loss_->unsure.contains(name) || modified >= loss_->since)) {
    return WriterVerdict::kUnvouched;
  }
  return WriterVerdict::kNotWritten;
}

}  // namespace quillport

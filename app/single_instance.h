// The single-instance guard: one running copy of the program per user,
// display and program file.
//
// The first instance takes a lock file and listens on a local socket, both
// named by the instance key, in the user's private folder (see
// PrivateFolder), where no other user can make them first: nobody else can
// stop the program from starting or pose as its running copy. A later
// start cannot take the lock, so it knows another instance runs; it
// connects to the socket and sends one request. The running instance calls
// its request handler, which brings its window forward or finds the
// instance ending, and answers "forward" or "ending". After "forward" the
// later start ends; after "ending" (or a connection closed unanswered) it
// waits for the lock, and so for the earlier instance to end, and then
// runs in its place. The lock decides who is first, so two starts at the
// same moment cannot both win; a socket left behind by a crashed instance
// is removed by whoever holds the lock next.
#pragma once

#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

#include "app/instance_guard.h"

class QLocalServer;
class QLocalSocket;

namespace quillport {

class SingleInstance : public InstanceGuard {
 public:
  // `key` names the lock file and the socket in PrivateFolder(). Without
  // such a folder the program runs unguarded, and says so when asked.
  explicit SingleInstance(const QString& key);
  ~SingleInstance() override;

  // Called in the first instance for every request of a later start;
  // returns whether the instance goes on (its window came forward) rather
  // than ending. Without a handler the answer is that it goes on.
  void SetRequestHandler(std::function<bool()> handler) { on_request_ = std::move(handler); }

  bool AnotherInstanceRuns() override;
  Activation ActivatePreviousInstance() override;
  bool TakeOverFromEndingInstance() override;

 private:
  void Listen();  // with the lock held: later starts reach this instance from now on
  void AcceptRequests();
  Activation Ask(QLocalSocket& socket);  // on a connected socket

  QString socket_;  // the socket's full path; empty without a private folder
  std::unique_ptr<QLockFile> lock_;
  std::unique_ptr<QLocalServer> server_;
  std::function<bool()> on_request_;
};

// The key shared by every start of `program` (its canonical path) by `user`
// on `display`: a short name that is valid for a socket and a file.
QString InstanceKey(const QString& user, const QString& display, const QString& program);

// The folder for the guard's files, where only this user can make any:
// XDG_RUNTIME_DIR when it is a folder of this user's own with mode 0700;
// otherwise quillport-UID in the temporary folder, made with mode 0700 when
// missing and used only when it is such a folder too (never through a
// link). Empty when neither is.
QString PrivateFolder();

// The key of this process: the user it runs as, the display it shows on
// and its own program file.
QString CurrentInstanceKey();

}  // namespace quillport

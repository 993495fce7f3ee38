#include "app/single_instance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <iostream>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quillport {
namespace {

// How long a later start keeps trying to reach the running instance, which
// may hold the lock but not listen yet.
constexpr int kConnectAttempts = 20;
constexpr int kConnectWaitMs = 250;
constexpr int kRetryPauseMs = 100;
// The running instance answers at once: its window's thread never waits.
constexpr int kAnswerWaitMs = 10000;
// An ending instance finishes the file in progress first, which a slow
// server may draw out over several of the news client's 30-second waits.
constexpr int kTakeOverWaitMs = 5 * 60 * 1000;

// The running instance's answers, one line each.
constexpr char kForwardAnswer[] = "forward\n";
constexpr char kEndingAnswer[] = "ending\n";

QString CurrentUser() {
#ifdef Q_OS_UNIX
  return QString::number(::getuid());
#else
  return qEnvironmentVariable("USERNAME");
#endif
}

QString CurrentDisplay() {
  QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("xcb")) return platform + ':' + qEnvironmentVariable("DISPLAY");
  if (platform == QLatin1String("wayland")) {
    return platform + ':' + qEnvironmentVariable("WAYLAND_DISPLAY");
  }
  return platform;
}

#ifdef Q_OS_UNIX
// Whether `path` is itself a folder (not a link to one) that this user owns
// and nobody else may enter.
bool IsOwnPrivateFolder(const QString& path) {
  struct stat status {};
  return !path.isEmpty() && ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode) &&
         status.st_uid == ::geteuid() && (status.st_mode & 0777) == 0700;
}
#endif

}  // namespace

QString PrivateFolder() {
#ifdef Q_OS_UNIX
  QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (IsOwnPrivateFolder(runtime)) return runtime;
  const QString own = QDir(QDir::tempPath()).filePath(QStringLiteral("quillport-") + QString::number(::geteuid()));
  ::mkdir(QFile::encodeName(own).constData(), 0700);  // when missing; checked below either way
  return IsOwnPrivateFolder(own) ? own : QString();
#else
  return QDir::tempPath();
#endif
}

QString InstanceKey(const QString& user, const QString& display, const QString& program) {
  const QByteArray identity = (user + '\n' + display + '\n' + program).toUtf8();
  const QByteArray digest = QCryptographicHash::hash(identity, QCryptographicHash::Sha256);
  return QStringLiteral("quillport-") + QString::fromLatin1(digest.toHex().left(32));
}

QString CurrentInstanceKey() {
  const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
  return InstanceKey(CurrentUser(), CurrentDisplay(), program);
}

SingleInstance::SingleInstance(const QString& key) {
  const QString folder = PrivateFolder();
  if (folder.isEmpty()) return;
  socket_ = QDir(folder).filePath(key);
  lock_ = std::make_unique<QLockFile>(socket_ + QStringLiteral(".lock"));
  // The lock is held for the whole run; only a dead holder makes it stale.
  lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::AnotherInstanceRuns() {
  // Without a private folder, or when the lock cannot be made there, run
  // unguarded rather than not at all; the drop folder's own lock still
  // keeps a second relay from its files.
  if (!lock_) {
    std::cerr << "quillport: no private folder of this user for the single-instance guard "
                 "(XDG_RUNTIME_DIR, or quillport-UID in the temporary folder); running unguarded"
              << std::endl;
    return false;
  }
  if (!lock_->tryLock(0)) {
    if (lock_->error() == QLockFile::LockFailedError) return true;
    std::cerr << "quillport: no single-instance lock at " << lock_->fileName().toStdString() << "; running unguarded"
              << std::endl;
    return false;
  }
  Listen();
  return false;
}

void SingleInstance::Listen() {
  QLocalServer::removeServer(socket_);  // a socket a crashed instance left behind
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] { AcceptRequests(); });
  if (!server_->listen(socket_)) {
    std::cerr << "quillport: later starts cannot reach this instance: " << server_->errorString().toStdString()
              << std::endl;
  }
}

void SingleInstance::AcceptRequests() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    const bool goes_on = !on_request_ || on_request_();
    QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(goes_on ? kForwardAnswer : kEndingAnswer);
    socket->disconnectFromServer();  // once the answer is written
  }
}

Activation SingleInstance::ActivatePreviousInstance() {
  QLocalSocket socket;
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    socket.connectToServer(socket_);
    if (socket.waitForConnected(kConnectWaitMs)) return Ask(socket);
    socket.abort();
    // Ended since it was found: this start now holds the lock.
    if (lock_->tryLock(0)) return Activation::kEnding;
    QThread::msleep(kRetryPauseMs);
  }
  std::cerr << "quillport: another instance runs but cannot be reached at " << socket_.toStdString()
            << "; its window was not brought forward" << std::endl;
  return Activation::kUnreachable;
}

Activation SingleInstance::Ask(QLocalSocket& socket) {
  socket.write("activate\n");
  QByteArray answer;
  const QDeadlineTimer deadline(kAnswerWaitMs);
  while (!answer.contains('\n') && socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
    answer += socket.readAll();
  }
  answer += socket.readAll();
  if (answer.startsWith(kForwardAnswer)) return Activation::kCameForward;
  // Closed without an answer: the instance went away before it read the request.
  if (answer.startsWith(kEndingAnswer) || socket.state() == QLocalSocket::UnconnectedState) {
    return Activation::kEnding;
  }
  std::cerr << "quillport: another instance runs but did not answer within " << kAnswerWaitMs / 1000
            << " s; its window was not brought forward" << std::endl;
  return Activation::kUnreachable;
}

bool SingleInstance::TakeOverFromEndingInstance() {
  if (!lock_->isLocked()) {
    std::cerr << "quillport: the running instance is ending; this start waits for it to end (at most "
              << kTakeOverWaitMs / 1000 << " s) and then takes its place" << std::endl;
    if (!lock_->tryLock(kTakeOverWaitMs)) {
      std::cerr << "quillport: not started: "
                << (lock_->error() == QLockFile::LockFailedError
                        ? "the running instance has not ended in time"
                        : "the single-instance lock cannot be taken at " + lock_->fileName().toStdString())
                << std::endl;
      return false;
    }
  }
  Listen();
  return true;
}

}  // namespace quillport

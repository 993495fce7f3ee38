#include "app/single_instance.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <iostream>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace quillport {
namespace {

// How long a later start keeps trying to reach the running instance, which
// may hold the lock but not listen yet.
constexpr int kConnectAttempts = 20;
constexpr int kConnectWaitMs = 250;
constexpr int kRetryPauseMs = 100;

QString CurrentUser() {
#ifdef Q_OS_UNIX
  return QString::number(::getuid());
#else
  return qEnvironmentVariable("USERNAME");
#endif
}

QString CurrentDisplay() {
  const QString platform = QGuiApplication::platformName();
  if (platform == QLatin1String("xcb")) return platform + ':' + qEnvironmentVariable("DISPLAY");
  if (platform == QLatin1String("wayland")) {
    return platform + ':' + qEnvironmentVariable("WAYLAND_DISPLAY");
  }
  return platform;
}

}  // namespace

QString InstanceKey(const QString& user, const QString& display, const QString& program) {
  const QByteArray identity = (user + '\n' + display + '\n' + program).toUtf8();
  const QByteArray digest = QCryptographicHash::hash(identity, QCryptographicHash::Sha256);
  return QStringLiteral("quillport-") + QString::fromLatin1(digest.toHex().left(32));
}

QString CurrentInstanceKey() {
  const QString program = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
  return InstanceKey(CurrentUser(), CurrentDisplay(), program);
}

SingleInstance::SingleInstance(const QString& key)
    : key_(key), lock_(QDir(QDir::tempPath()).filePath(key + QStringLiteral(".lock"))) {
  // The lock is held for the whole run; only a dead holder makes it stale.
  lock_.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::AnotherInstanceRuns() {
  if (!lock_.tryLock(0)) {
    if (lock_.error() == QLockFile::LockFailedError) return true;
    // The lock cannot be made at all (no temporary folder, no right to
    // write there): run unguarded rather than not at all.
    std::cerr << "quillport: no single-instance lock in " << QDir::tempPath().toStdString()
              << "; running unguarded" << std::endl;
    return false;
  }
  QLocalServer::removeServer(key_);  // a socket a crashed instance left behind
  server_ = std::make_unique<QLocalServer>();
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(),
                   [this] { AcceptRequests(); });
  if (!server_->listen(key_)) {
    std::cerr << "quillport: later starts cannot reach this instance: "
              << server_->errorString().toStdString() << std::endl;
  }
  return false;
}

void SingleInstance::AcceptRequests() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    socket->disconnectFromServer();
    socket->deleteLater();
    if (on_request_) on_request_();
  }
}

void SingleInstance::ActivatePreviousInstance() {
  QLocalSocket socket;
  for (int attempt = 0; attempt < kConnectAttempts; ++attempt) {
    socket.connectToServer(key_);
    if (socket.waitForConnected(kConnectWaitMs)) {
      socket.write("activate\n");
      socket.waitForBytesWritten(kConnectWaitMs);
      socket.disconnectFromServer();
      return;
    }
    socket.abort();
    QThread::msleep(kRetryPauseMs);
  }
}

}  // namespace quillport

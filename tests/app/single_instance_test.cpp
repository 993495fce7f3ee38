#include "app/single_instance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QLockFile>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#endif

namespace quillport {
namespace {

// A key of this test process alone, so a running Quillport is never met.
QString TestKey(const char* name) {
  return InstanceKey(QStringLiteral("test"), QString::number(QCoreApplication::applicationPid()),
                     QString::fromLatin1(name));
}

// Processes events until `done` or two seconds have passed.
template <class Done>
bool WaitFor(Done done) {
  const QDeadlineTimer deadline(2000);
  while (!done() && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return done();
}

TEST(SingleInstance, LaterStartFindsTheFirstAndAsksItForward) {
  const QString key = TestKey("later-start");
  int requests = 0;
  {
    SingleInstance first(key);
    first.SetRequestHandler([&] { ++requests; });
    ASSERT_FALSE(first.AnotherInstanceRuns());

    SingleInstance second(key);
    ASSERT_TRUE(second.AnotherInstanceRuns());
    second.ActivatePreviousInstance();
    EXPECT_TRUE(WaitFor([&] { return requests == 1; }));

    SingleInstance third(key);
    ASSERT_TRUE(third.AnotherInstanceRuns());
    third.ActivatePreviousInstance();
    EXPECT_TRUE(WaitFor([&] { return requests == 2; }));
  }
  // The first has ended: the next start is first again, and nobody answers
  // an activation that finds no running instance.
  SingleInstance next(key);
  EXPECT_FALSE(next.AnotherInstanceRuns());
}

#ifdef Q_OS_UNIX
TEST(SingleInstance, CrashedInstanceDoesNotBlockTheNextStart) {
  const QString key = TestKey("crashed");
  const QByteArray lock_path = QDir(QDir::tempPath()).filePath(key + ".lock").toLocal8Bit();
  const QByteArray socket_path = QDir(QDir::tempPath()).filePath(key).toLocal8Bit();

  // A child takes the lock and leaves a socket behind, then dies without
  // cleaning up, as a crashed instance would.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QLockFile lock(QString::fromLocal8Bit(lock_path));
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) _exit(1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket_path.constData(), sizeof(address.sun_path) - 1);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) _exit(2);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(lock_path)));
  ASSERT_TRUE(QFile::exists(QString::fromLocal8Bit(socket_path)));

  int requests = 0;
  SingleInstance first(key);
  first.SetRequestHandler([&] { ++requests; });
  ASSERT_FALSE(first.AnotherInstanceRuns());
  SingleInstance second(key);
  ASSERT_TRUE(second.AnotherInstanceRuns());
  second.ActivatePreviousInstance();
  EXPECT_TRUE(WaitFor([&] { return requests == 1; }));
}
#endif

}  // namespace
}  // namespace quillport

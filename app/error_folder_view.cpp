#include "app/error_folder_view.h"

#include <QProcess>
#include <QString>
#include <string>

#include "app/event_handler.h"

namespace quillport {
namespace {

constexpr char kOpener[] = "xdg-open";
constexpr char kHandler[] = "View";

// xdg-open, run for one folder. Under a desktop it hands the folder on and
// ends; elsewhere it runs the file browser itself and ends with it. Either
// way its exit status tells whether a browser could show the folder.
class FolderOpener : public QProcess {
 public:
  using QProcess::QProcess;
  ~FolderOpener() override {
    disconnect();  // the window it would report to is going
    if (state() == NotRunning) return;
    kill();  // xdg-open alone: a file browser it started keeps running
    waitForFinished();
  }
};

// What xdg-open's end tells: why no file browser could show `folder`, or
// nothing when one does.
std::string FailureOf(const std::string& folder, int code, QProcess::ExitStatus status) {
  if (status == QProcess::NormalExit && code == 0) return {};
  const std::string how = status == QProcess::CrashExit ? "crashed" : "ended with status " + std::to_string(code);
  return "no file browser could show " + folder + " (" + kOpener + " " + how + ")";
}

}  // namespace

void ViewErrorFolder(std::string_view folder, MainWindow& window) {
  const std::string named(folder);
  auto* opener = new FolderOpener(&window);                    // deletes itself once it has ended
  opener->setProcessChannelMode(QProcess::ForwardedChannels);  // its messages: standard error
  opener->setStandardInputFile(QProcess::nullDevice());
  QObject::connect(opener, &QProcess::errorOccurred, opener, [&window, opener, named](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;  // a crash: finished tells
    ShowLateFailure(window, kHandler,
                    "no file browser could be started for " + named + " (" + kOpener + ": " +
                        opener->errorString().toStdString() + ")");
    opener->deleteLater();
  });
  QObject::connect(opener, &QProcess::finished, opener,
                   [&window, opener, named](int code, QProcess::ExitStatus status) {
                     const std::string failure = FailureOf(named, code, status);
                     if (!failure.empty()) ShowLateFailure(window, kHandler, failure);
                     opener->deleteLater();
                   });
  opener->start(QString::fromLatin1(kOpener), {QString::fromUtf8(named.data(), static_cast<qsizetype>(named.size()))});
}

}  // namespace quillport

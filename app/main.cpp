// Quillport: relays message files from the drop folder to the news server,
// one window showing everything. No command line, no configuration: the
// settings are compiled in.
#include <syslog.h>
#include <unistd.h>

#include <QApplication>
#include <memory>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/error_folder_tools.h"
#include "app/error_folder_view.h"
#include "app/event_handler.h"
#include "app/main_window.h"
#include "app/pictures.h"
#include "app/relay_runner.h"
#include "app/scheduler.h"
#include "app/single_instance.h"
#include "app/startup.h"
#include "app/stop_signals.h"
#include "common/settings.h"
#include "common/system_log.h"
#include "news/nntp_client.h"

int main(int argc, char* argv[]) {
  using namespace quillport;
  QApplication qt(argc, argv);
  const QString name =
      QString::fromUtf8(settings::kApplicationName.data(), static_cast<qsizetype>(settings::kApplicationName.size()));
  QApplication::setApplicationName(name);  // the window's class
  QApplication::setDesktopFileName(name);
  QApplication::setWindowIcon(pictures::ProgramIcon());

  MainWindow window;
  SingleInstance guard(CurrentInstanceKey());
  Application app(window, guard, std::make_unique<NntpClient>());

  if (const StartupOutcome outcome = app.Start(); outcome != StartupOutcome::kGoesOn) {
    return outcome == StartupOutcome::kEndsHere ? 0 : 1;
  }
  WriteSystemLog(LOG_NOTICE, "started: quillport " QUILLPORT_VERSION ", process " + std::to_string(::getpid()) +
                                 "; drop folder " + std::string(settings::kDropFolder) + ", error folder " +
                                 std::string(settings::kErrorFolder) + ", log file " + std::string(settings::kLogFile) +
                                 ", news server " + std::string(settings::kServerHost) + " port " +
                                 std::string(settings::kServerPort));
  QString stopped_by = QStringLiteral("the window was closed");

  const RelaySettings relay_settings = RelaySettings::Compiled();
  const auto refresh = [&] {
    RefreshErrorFigures(window, relay_settings.error_folder, relay_settings.message_pattern);
  };
  // Declared after the window, so it is gone (its Action ended) before the window is.
  RelayRunner relay(window, app.news(), relay_settings, app.clock(), refresh);
  Scheduler scheduler(window,
                      {[&](ActionTrigger trigger, bool refresh_after) { relay.StartAction(trigger, refresh_after); },
                       [&] { return relay.Running(); }},
                      app.clock(), app.start_time());
  window.SetHooks({
      .tick = [&] { scheduler.Tick(); },
      .remaining_double_clicked = [&] { scheduler.RunNow(); },
      .refresh = refresh,
      .purge = [&] { PurgeErrorFolder(window, relay_settings.error_folder, relay_settings.message_pattern); },
      .view = [&] { ViewErrorFolder(relay_settings.error_folder, window); },
      .may_close = [&] { return relay.MayClose(); },
  });

  // A signal stops the relay as closing the window does: at once when it is
  // idle, else once the Action under way is done. Unlike a close, no later
  // start takes it back.
  StopSignals stop_signals([&](const QString& why) {
    stopped_by = why;
    if (relay.StopOnSignal()) {
      QCoreApplication::quit();
    } else {
      window.hide();
    }
  });

  // Started again: unless the program is ending, a close under way is taken
  // back and the window comes forward. The later start is told which.
  guard.SetRequestHandler([&] {
    bool goes_on = false;
    RunEventHandler(window, "Activation", [&] {
      goes_on = relay.TakeBackClose();
      if (goes_on) window.ComeForward();
    });
    return goes_on;
  });

  window.show();
  const int status = QApplication::exec();
  WriteSystemLog(LOG_NOTICE, "stopped: " + stopped_by.toStdString() + ", process " + std::to_string(::getpid()));
  return status;
}

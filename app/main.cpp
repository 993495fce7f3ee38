// Quillport: relays message files from the drop folder to the news server,
// one window showing everything. No command line, no configuration: the
// settings are compiled in.
#include <QApplication>
#include <memory>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/error_folder_tools.h"
#include "app/error_folder_view.h"
#include "app/main_window.h"
#include "app/pictures.h"
#include "app/process_events.h"
#include "app/scheduler.h"
#include "app/single_instance.h"
#include "common/settings.h"
#include "news/nntp_client.h"
#include "relay/event_failure.h"
#include "relay/relay_cycle.h"

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
  // While an Action waits on the server the window goes on repainting and
  // answering the window manager; being disabled, it takes no input.
  auto news = std::make_unique<NntpClient>();
  news->SetWaitHook(&ProcessPendingEvents);
  Application app(window, guard, std::move(news));
  guard.SetRequestHandler([&window] { RunEventHandler(window, "Activation", [&window] { window.ComeForward(); }); });

  if (!app.Start()) return 0;

  const RelaySettings relay_settings = RelaySettings::Compiled();
  RelayCycle relay(window, app.news(), &ProcessPendingEvents, relay_settings, app.clock());
  relay.SetKeepAlive(&ProcessPendingEvents);  // the same during the pause after each file
  const auto refresh = [&] {
    RefreshErrorFigures(window, relay_settings.error_folder, relay_settings.message_pattern, &ProcessPendingEvents);
  };
  Scheduler scheduler(window,
                      {[&] { relay.DoAction(); }, [&] { return relay.Running(); }, refresh, &ProcessPendingEvents},
                      app.clock(), app.start_time());
  window.SetHooks({
      .tick = [&] { scheduler.Tick(); },
      .remaining_double_clicked = [&] { scheduler.RunNow(); },
      .refresh = refresh,
      .purge =
          [&] {
            PurgeErrorFolder(window, relay_settings.error_folder, relay_settings.message_pattern,
                             &ProcessPendingEvents);
          },
      .view = [&] { ViewErrorFolder(relay_settings.error_folder, window); },
  });

  window.show();
  return QApplication::exec();
}

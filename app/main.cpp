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
#include "app/event_handler.h"
#include "app/main_window.h"
#include "app/pictures.h"
#include "app/relay_runner.h"
#include "app/scheduler.h"
#include "app/single_instance.h"
#include "common/settings.h"
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
  guard.SetRequestHandler([&window] { RunEventHandler(window, "Activation", [&window] { window.ComeForward(); }); });

  if (!app.Start()) return 0;

  const RelaySettings relay_settings = RelaySettings::Compiled();
  const auto refresh = [&] {
    RefreshErrorFigures(window, relay_settings.error_folder, relay_settings.message_pattern);
  };
  // Declared after the window, so it is gone (its Action ended) before the window is.
  RelayRunner relay(window, app.news(), relay_settings, app.clock(), refresh);
  Scheduler scheduler(window,
                      {[&](std::string_view handler, bool refresh_after) { relay.StartAction(handler, refresh_after); },
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

  window.show();
  return QApplication::exec();
}

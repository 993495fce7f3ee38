// Quillport: relays message files from the drop folder to the news server,
// one window showing everything. No command line, no configuration: the
// settings are compiled in.
#include <QApplication>
#include <memory>

#include "app/application.h"
#include "app/event_failure.h"
#include "app/main_window.h"
#include "app/pictures.h"
#include "app/single_instance.h"
#include "common/settings.h"
#include "news/nntp_client.h"

int main(int argc, char* argv[]) {
  QApplication qt(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(quillport::settings::kApplicationTitle.data(),
                                                     quillport::settings::kApplicationTitle.size()));
  QApplication::setWindowIcon(quillport::pictures::ProgramIcon());

  quillport::MainWindow window;
  quillport::SingleInstance guard(quillport::CurrentInstanceKey());
  quillport::Application app(window, guard, std::make_unique<quillport::NntpClient>());
  guard.SetRequestHandler([&window] {
    quillport::RunEventHandler(window, "Activation", [&window] { window.ComeForward(); });
  });

  // The scheduler and the error-folder tools are wired to the window's
  // hooks here (window.SetHooks); until then the timer and the buttons do
  // nothing.

  if (!app.Start()) return 0;
  window.show();
  return QApplication::exec();
}

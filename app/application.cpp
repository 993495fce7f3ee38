#include "app/application.h"

#include "app/event_handler.h"
#include "app/startup.h"

namespace quillport {

Application::Application(MainWindow& window, InstanceGuard& guard, std::unique_ptr<NewsClient> news, Clock clock)
    : window_(window), guard_(guard), news_(std::move(news)), clock_(std::move(clock)), start_time_(clock_()) {}

StartupOutcome Application::Start() {
  StartupOutcome outcome = StartupOutcome::kGoesOn;
  RunEventHandler(window_, "Start-up", [&] { outcome = RunStartup(window_, guard_, *news_, clock_, start_time_); });
  return outcome;
}

}  // namespace quillport

#include "daemon/relay_service.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <stdexcept>

#include "common/printable_text.h"
#include "relay/system_log.h"

namespace quillport {
namespace {

// Every wait is bounded: the loop looks at the drop folder's watch again at
// least this often, should it have been lost.
constexpr std::chrono::seconds kLongestWait{5};

// The name an Action goes by on the error line when it fails ("Timed Action failed: ...").
std::string_view Name(ActionTrigger trigger) {
  switch (trigger) {
    case ActionTrigger::kTimer: return "Timed Action";
    case ActionTrigger::kArrival: return "Action for new files";
    case ActionTrigger::kSignal: return "Action on SIGUSR1";
    case ActionTrigger::kOperator: break;
  }
  return "Action";
}

// Why an Action ran, for the status line.
std::string_view Reason(ActionTrigger trigger) {
  switch (trigger) {
    case ActionTrigger::kTimer: return "timed";
    case ActionTrigger::kArrival: return "for new files";
    case ActionTrigger::kSignal: return "on SIGUSR1";
    case ActionTrigger::kOperator: break;
  }
  return "";
}

std::string LocalTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

std::string Files(std::int64_t count, std::string_view what) {
  return std::to_string(count) + " " + std::string(what) + (count == 1 ? "" : "s");
}

int MakeEventFd() {
  const int descriptor = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (descriptor < 0) throw std::runtime_error(std::string("cannot make an eventfd: ") + std::strerror(errno));
  return descriptor;
}

}  // namespace

std::string ActionSummary(const ActionReport& report, std::chrono::system_clock::time_point started) {
  const RelayState& state = report.state;
  std::string summary = "Action " + std::to_string(state.actions) + " (" + std::string(Reason(report.trigger)) +
                        ") at " + LocalTime(started) + ": " + Files(state.action_messages.count, "message") + " (" +
                        std::to_string(state.action_messages.volume) + " bytes), " +
                        Files(state.action_empty.count, "empty file");
  if (!state.status_line.empty()) summary += "; " + state.status_line;
  if (report.broken_off) {
    summary += "; broken off: " + report.broken_off->Described();
  } else if (report.last_failure) {
    summary += "; last failure: " + report.last_failure->text;
  }
  return summary;
}

RelayService::RelayService(ServiceSettings settings)
    : settings_(std::move(settings)),
      arrivals_(settings_.relay.drop_folder, settings_.relay.message_pattern, settings_.relay.quiet_period),
      action_ended_(MakeEventFd()),
      next_timed_(Clock::now() + settings_.first_action),
      engine_(client_, *this, settings_.relay) {
  client_.Configure(settings_.news);
}

int RelayService::Run() {
  WriteSystemLog(LOG_NOTICE, "started: " + settings_.program + " " QUILLPORT_VERSION ", process " +
                                 std::to_string(::getpid()) + "; drop folder " + settings_.relay.drop_folder +
                                 ", error folder " + settings_.relay.error_folder + ", log file " +
                                 settings_.relay.log_file + ", news server " + settings_.news.host + " port " +
                                 settings_.news.port);
  if (!arrivals_.watching()) {
    const std::string problem = "new files wait for the timed Action: " + arrivals_.problem();
    WriteSystemLog(LOG_ERR, problem);
    std::cerr << settings_.program << ": " << Printable(problem) << std::endl;
  }
  notifier_.Ready();
  notifier_.Status("waiting: the first timed Action at " +
                   LocalTime(std::chrono::system_clock::now() + settings_.first_action));
  for (;;) {
    const Clock::time_point now = Clock::now();
    notifier_.KeepAlive(now);
    arrivals_.Update(now);
    if (!running_) {
      if (stopped_by_) break;
      if (const std::optional<ActionTrigger> trigger = Due(now)) Start(*trigger, now);
    }
    Wait(now);
    TakeSignals();
    TakeEnd();
  }
  WriteSystemLog(LOG_NOTICE, "stopped: " + *stopped_by_ + ", process " + std::to_string(::getpid()));
  return 0;
}

std::optional<ActionTrigger> RelayService::Due(Clock::time_point now) const {
  if (action_asked_) return ActionTrigger::kSignal;
  if (now >= next_timed_) return ActionTrigger::kTimer;
  if (const auto settled = arrivals_.SettledAt(); settled && now >= *settled) return ActionTrigger::kArrival;
  return std::nullopt;
}

void RelayService::Start(ActionTrigger trigger, Clock::time_point now) {
  const std::string_view name = Name(trigger);
  if (!engine_.RunAction(trigger)) throw std::logic_error("an Action was started while another ran");
  running_ = true;
  running_since_ = std::chrono::system_clock::now();
  action_asked_ = false;
  // As in the window, any Action starts the countdown to the next timed one afresh.
  next_timed_ = now + settings_.period;
  arrivals_.ActionStarted(now);
  notifier_.Status(std::string(name) + " running since " + LocalTime(running_since_));
}

void RelayService::Wait(Clock::time_point now) {
  Clock::time_point until = now + kLongestWait;
  if (!running_ && !stopped_by_) {
    until = std::min(until, next_timed_);
    if (const auto settled = arrivals_.SettledAt()) until = std::min(until, *settled);
  }
  if (const auto keep_alive = notifier_.NextKeepAlive()) until = std::min(until, *keep_alive);
  const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(std::max(until - now, Clock::duration::zero()));
  pollfd waits[] = {{signals_.descriptor(), POLLIN, 0},
                    {action_ended_.get(), POLLIN, 0},
                    {arrivals_.descriptor(), POLLIN, 0}};  // ignored by poll while -1
  if (::poll(waits, std::size(waits), static_cast<int>(timeout.count())) < 0 && errno != EINTR) {
    throw std::runtime_error(std::string("cannot wait: ") + std::strerror(errno));
  }
}

void RelayService::TakeSignals() {
  while (const std::optional<ServiceSignals::Arrival> signal = signals_.Next()) {
    if (!signal->stop) {
      action_asked_ = true;
      continue;
    }
    if (stopped_by_) continue;  // already stopping
    stopped_by_ = signal->name;
    engine_.StopAfterFile();
    notifier_.Stopping();
    notifier_.Status("stopping (" + signal->name + ")" + (running_ ? " after the file in progress" : ""));
  }
}

void RelayService::TakeEnd() {
  std::uint64_t ended = 0;
  if (::read(action_ended_.get(), &ended, sizeof ended) != static_cast<ssize_t>(sizeof ended)) return;
  std::optional<ActionReport> report;
  {
    std::lock_guard lock(mutex_);
    report.swap(ended_);
  }
  if (!report) return;
  running_ = false;
  arrivals_.ActionEnded();
  notifier_.Status(ActionSummary(*report, running_since_));
}

void RelayService::ActionEnded(const ActionReport& report) {
  {
    std::lock_guard lock(mutex_);
    ended_ = report;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(action_ended_.get(), &one, sizeof one);
}

}  // namespace quillport

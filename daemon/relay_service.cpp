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
#include "common/system_log.h"

namespace quillport {
namespace {

// Every wait is bounded: the loop looks at the drop folder's watch again at
// least this often, should it have been lost; and this often while it is
// lost, so that a folder made again is watched again at once.
constexpr std::chrono::seconds kLongestWait{5};
constexpr std::chrono::milliseconds kUnwatchedWait{200};

// An Action cut short by a failure is tried again after the first of these,
// doubled at each failure until the second.
constexpr std::chrono::milliseconds kFirstRetry{1000};
constexpr std::chrono::milliseconds kLongestRetry{30000};

// The name an Action goes by on the error line when it fails ("Timed Action failed: ...").
std::string_view Name(ActionTrigger trigger) {
  switch (trigger) {
    case ActionTrigger::kTimer: return "Timed Action";
    case ActionTrigger::kArrival: return "Action for new files";
    case ActionTrigger::kSignal: return "Action on request";
    case ActionTrigger::kStart: return "Action at start";
    case ActionTrigger::kRetry: return "Action tried again";
    case ActionTrigger::kOperator: break;
  }
  return "Action";
}

// Why an Action ran, for the status line.
std::string_view Reason(ActionTrigger trigger) {
  switch (trigger) {
    case ActionTrigger::kTimer: return "timed";
    case ActionTrigger::kArrival: return "for new files";
    case ActionTrigger::kSignal: return "on request";
    case ActionTrigger::kStart: return "at start";
    case ActionTrigger::kRetry: return "tried again after a failure";
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
      next_timed_(std::chrono::steady_clock::now() + settings_.first_action),
      retry_after_(kFirstRetry),
      engine_(client_, *this, settings_.relay) {
  client_.Configure(settings_.news);
}

int RelayService::Run() {
  WriteSystemLog(LOG_NOTICE, "started: " + settings_.program + " " QUILLPORT_VERSION ", process " +
                                 std::to_string(::getpid()) + "; drop folder " + settings_.relay.drop_folder +
                                 ", error folder " + settings_.relay.error_folder + ", log file " +
                                 settings_.relay.log_file + ", news server " + settings_.news.host + " port " +
                                 settings_.news.port);
  FollowWatch(std::chrono::steady_clock::now());
  notifier_.Ready();
  for (;;) {
    const Time now = std::chrono::steady_clock::now();
    notifier_.KeepAlive(now);
    arrivals_.Update(now);
    FollowWatch(now);
    if (!running_) {
      if (stopped_by_) break;
      if (const std::optional<ActionTrigger> trigger = Due(now)) Start(*trigger, now);
    }
    Wait(now);
    TakeSignals();
    TakeEnd(std::chrono::steady_clock::now());
  }
  WriteSystemLog(LOG_NOTICE, "stopped: " + *stopped_by_ + ", process " + std::to_string(::getpid()));
  return 0;
}

void RelayService::FollowWatch(Time now) {
  if (!arrivals_.watching() && !unwatched_since_) {
    unwatched_since_ = now;
    WriteSystemLog(
        LOG_ERR, "new files wait for the timed Action until the drop folder is watched again: " + arrivals_.problem());
  } else if (arrivals_.watching()) {
    unwatched_since_.reset();
  }
  if (const auto stretch = arrivals_.TakeRestored()) {
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(*stretch).count();
    WriteSystemLog(LOG_NOTICE, "the drop folder " + settings_.relay.drop_folder + " is watched again after " +
                                   std::to_string(milliseconds) +
                                   " ms unwatched; an Action looks at what came meanwhile");
  }
}

std::optional<ActionTrigger> RelayService::Due(Time now) const {
  if (starting_) return ActionTrigger::kStart;
  if (asked_by_) return ActionTrigger::kSignal;
  if (now >= next_timed_) return ActionTrigger::kTimer;
  if (const auto due = arrivals_.DueAt(); due && now >= *due) return ActionTrigger::kArrival;
  if (retry_at_ && now >= *retry_at_) return ActionTrigger::kRetry;
  return std::nullopt;
}

void RelayService::Start(ActionTrigger trigger, Time now) {
  std::string name(Name(trigger));
  if (trigger == ActionTrigger::kSignal) name += " (" + *asked_by_ + ")";
  if (!engine_.RunAction(trigger)) throw std::logic_error("an Action was started while another ran");
  running_ = true;
  running_since_ = std::chrono::system_clock::now();
  starting_ = false;
  asked_by_.reset();
  retry_at_.reset();
  // As in the window, any Action starts the countdown to the next timed one afresh.
  next_timed_ = now + settings_.period;
  arrivals_.ActionStarted(now);
  notifier_.Status(name + " running since " + LocalTime(running_since_));
}

void RelayService::Wait(Time now) {
  Time until = now + (arrivals_.watching() ? std::chrono::milliseconds(kLongestWait) : kUnwatchedWait);
  if (!running_ && !stopped_by_) {
    until = std::min(until, next_timed_);
    if (const auto due = arrivals_.DueAt()) until = std::min(until, *due);
    if (retry_at_) until = std::min(until, *retry_at_);
  }
  if (const auto keep_alive = notifier_.NextKeepAlive()) until = std::min(until, *keep_alive);
  until = std::max(until, now);
  const auto timeout = std::chrono::ceil<std::chrono::milliseconds>(std::max(until - now, Time::duration::zero()));
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
      asked_by_ = signal->name;
      continue;
    }
    if (stopped_by_) continue;  // already stopping
    stopped_by_ = signal->name;
    engine_.StopAfterFile();
    notifier_.Stopping();
    notifier_.Status("stopping (" + signal->name + ")" + (running_ ? " after the file in progress" : ""));
  }
}

void RelayService::TakeEnd(Time now) {
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
  if (report->interrupted && !report->stopped) {
    retry_at_ = now + retry_after_;
    retry_after_ = std::min(retry_after_ * 2, kLongestRetry);
  } else {
    retry_after_ = kFirstRetry;
  }
  notifier_.Status(ActionSummary(*report, running_since_) + "; " + Waiting());
}

std::string RelayService::Waiting() const {
  return DescribeWaiting(TakeCensus(settings_.relay.drop_folder, settings_.relay.message_pattern),
                         std::chrono::system_clock::now());
}

void RelayService::ActionEnded(const ActionReport& report) {
  {
    std::lock_guard lock(mutex_);
    ended_ = report;
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(action_ended_.get(), &one, sizeof one);
}

void RelayService::Recorded(const RecordLine& line) { WriteSystemLog(line.severity, line.text); }

}  // namespace quillport

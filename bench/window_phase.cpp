#include "bench/window_phase.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "board/board_fields.h"
#include "board/board_layout.h"
#include "common/settings.h"

namespace quillport::bench {
namespace {

namespace fs = std::filesystem;
using Steady = std::chrono::steady_clock;

constexpr std::chrono::seconds kStartLimit{20};
constexpr std::chrono::seconds kActionStartLimit{10};
constexpr std::chrono::milliseconds kPingPatience{10000};

double Seconds(Steady::duration length) { return std::chrono::duration<double>(length).count(); }

// Runs `check` every `step` until it holds or `limit` has passed.
template <typename Check>
bool WaitUntil(std::chrono::milliseconds limit, std::chrono::milliseconds step, Check check) {
  const auto end = Steady::now() + limit;
  for (;;) {
    if (check()) return true;
    if (Steady::now() >= end) return false;
    std::this_thread::sleep_for(step);
  }
}

// The display number Xvfb writes to its -displayfd once it takes clients.
std::string ReadDisplayNumber(int fd, std::chrono::milliseconds limit) {
  std::string text;
  const auto end = Steady::now() + limit;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Steady::now());
    pollfd readable{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) return {};
    char buffer[16];
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got <= 0) return {};
    text.append(buffer, static_cast<std::size_t>(got));
  }
  return text.substr(0, text.find('\n'));
}

// The centre of control `name` in window pixels, from the table the window
// is laid out by (a control's place is relative to its frame).
std::pair<int, int> ControlCentre(std::string_view name) {
  const auto controls = WindowControls();
  const auto find = [&](std::string_view wanted) {
    const auto it = std::find_if(controls.begin(), controls.end(), [&](const auto& c) { return c.name == wanted; });
    if (it == controls.end()) throw std::runtime_error("the window has no control " + std::string(wanted));
    return *it;
  };
  const ControlSpec control = find(name);
  int x = control.left / kTwipsPerPixel + control.width / kTwipsPerPixel / 2;
  int y = control.top / kTwipsPerPixel + control.height / kTwipsPerPixel / 2;
  if (!control.container.empty()) {
    const ControlSpec frame = find(control.container);
    x += frame.left / kTwipsPerPixel;
    y += frame.top / kTwipsPerPixel;
  }
  return {x, y};
}

// The user + system time of process `pid` so far, all its threads.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
  std::string stat((std::istreambuf_iterator<char>(file)), {});
  const std::size_t name_end = stat.rfind(')');
  if (name_end == std::string::npos) throw std::runtime_error("cannot read the program's CPU time");
  std::istringstream fields(stat.substr(name_end + 2));
  std::string skipped;
  for (int field = 3; field < 14; ++field) fields >> skipped;  // state .. cmajflt
  long long user = 0;
  long long system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The run time of the threads process `pid` has now, from the kernel's
// scheduler statistics (nanoseconds).
double ThreadRunSeconds(pid_t pid) {
  long long nanoseconds = 0;
  std::error_code ignored;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", ignored)) {
    std::ifstream stat(task.path() / "schedstat");
    long long run = 0;
    if (stat >> run) nanoseconds += run;
  }
  return static_cast<double>(nanoseconds) / 1e9;
}

// The inodes of the sockets process `pid` holds open.
std::set<unsigned long> SocketInodes(pid_t pid) {
  std::set<unsigned long> inodes;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored)) {
    const std::string target = fs::read_symlink(entry.path(), ignored).string();
    if (target.starts_with("socket:[")) inodes.insert(std::stoul(target.substr(8)));
  }
  return inodes;
}

// Whether process `pid` has an established TCP connection to port `port`.
bool Connected(pid_t pid, int port) {
  const std::set<unsigned long> sockets = SocketInodes(pid);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream lines(table);
    std::string line;
    std::getline(lines, line);  // the column names
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout;
      unsigned long inode = 0;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      const std::size_t colon = remote.rfind(':');
      if (state == "01" && colon != std::string::npos && std::stoi(remote.substr(colon + 1), nullptr, 16) == port &&
          sockets.contains(inode)) {
        return true;
      }
    }
  }
  return false;
}

}  // namespace

int CountMessageFiles(const fs::path& folder) {
  int count = 0;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    if (entry.is_regular_file(ignored) && entry.path().extension() == ".cnm") ++count;
  }
  return count;
}

ProgramUnderX::ProgramUnderX(const fs::path& program, const fs::path& work) {
  StartXServer(work);
  StartProgram(program, work);
}

void ProgramUnderX::StartXServer(const fs::path& work) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  try {
    // -noreset: the server stays as it is between clients.
    xvfb_.emplace(Launch{{"Xvfb", "-displayfd", "3", "-noreset", "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                         {},
                         work / "xvfb.log",
                         pipe_fds[1]});
  } catch (...) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    throw;
  }
  close(pipe_fds[1]);
  const std::string number = ReadDisplayNumber(pipe_fds[0], kStartLimit);
  close(pipe_fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start:\n" + Tail(work / "xvfb.log", 10));
  display_ = ":" + number;
}

void ProgramUnderX::StartProgram(const fs::path& program, const fs::path& work) {
  // A runtime folder of its own: the program's single-instance guard keeps
  // its lock and socket there.
  const fs::path runtime = work / "xdg";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  program_output_ = work / "program.log";
  program_.emplace(Launch{{program.string()},
                          {"DISPLAY=" + display_, "XDG_RUNTIME_DIR=" + runtime.string(), "QT_QPA_PLATFORM=xcb"},
                          program_output_});
  const XConnection x(display_);
  const std::string title_end(settings::kCaptionSuffix);
  const bool found = WaitUntil(kStartLimit, std::chrono::milliseconds(100), [&] {
    if (!program_->Running()) throw std::runtime_error("the program ended at start:\n" + ProgramOutput());
    const auto window = FindWindow(x, program_->pid(), title_end);
    if (window) window_ = *window;
    return window.has_value();
  });
  if (!found) throw std::runtime_error("the program shows no window:\n" + ProgramOutput());
  // It starts minimised; without a window manager it is mapped all the same,
  // else it is mapped here as a window manager would on a click.
  const auto viewable = [&] { return IsShown(x, window_); };
  if (!WaitUntil(std::chrono::seconds(3), std::chrono::milliseconds(50), viewable)) MapWindow(x, window_);
  if (!WaitUntil(std::chrono::seconds(5), std::chrono::milliseconds(50), viewable)) {
    throw std::runtime_error("the program's window cannot be shown");
  }
}

void ProgramUnderX::Xdotool(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "xdotool");
  const std::optional<int> code = RunToEnd({arguments, {"DISPLAY=" + display_}, {}}, std::chrono::seconds(10));
  if (code != 0) throw std::runtime_error("xdotool " + arguments[1] + " ... failed");
}

void ProgramUnderX::SetPeriod(const std::string& minutes) {
  const auto [x, y] = ControlCentre(field::kTimPer);
  // A triple click selects the field's whole text; what is typed replaces it.
  Xdotool({"mousemove", "--window", std::to_string(window_), std::to_string(x), std::to_string(y), "click", "--repeat",
           "3", "--delay", "80", "1", "type", "--delay", "20", minutes});
}

void ProgramUnderX::DoubleClickRemaining() {
  const auto [x, y] = ControlCentre(field::kTimRem);
  Xdotool({"mousemove", "--window", std::to_string(window_), std::to_string(x), std::to_string(y), "click", "--repeat",
           "2", "--delay", "80", "1"});
}

ActionFigures MeasureAction(ProgramUnderX& program, const fs::path& drop_folder, int files, int server_port,
                            std::chrono::seconds limit) {
  ActionFigures figures;
  WindowPinger pinger(program.display(), program.window(), kPingInterval, kPingPatience, kPingLimit);
  pinger.Start();
  const double cpu_start = ProcessCpuSeconds(program.pid());
  program.DoubleClickRemaining();
  const Steady::time_point start = Steady::now();
  bool started = false;
  for (;;) {
    if (!program.Running()) {
      figures.note = "the program ended during the Action:\n" + program.ProgramOutput();
      break;
    }
    const int left = CountMessageFiles(drop_folder);
    const bool connected = Connected(program.pid(), server_port);
    started = started || connected || left < files;
    if (left == 0 && !connected) {
      figures.completed = true;
      break;
    }
    const Steady::duration waited = Steady::now() - start;
    if (!started && waited > kActionStartLimit) {
      figures.note = "the double-click started no Action";
      break;
    }
    if (waited > limit) {
      figures.note =
          std::to_string(left) + " file(s) still in the drop folder after " + std::to_string(limit.count()) + " s";
      break;
    }
    // Coarse while files remain; fine once the last is gone and only the
    // pause after it and the disconnect are left.
    std::this_thread::sleep_for(std::chrono::milliseconds(left > 0 ? 20 : 1));
  }
  figures.wall_seconds = Seconds(Steady::now() - start);
  if (program.Running()) figures.cpu_seconds = ProcessCpuSeconds(program.pid()) - cpu_start;
  figures.pings = pinger.Stop();
  return figures;
}

double IdleFigures::PingCost() const {
  return pings.sent > 0 ? std::max(0.0, pinged_cpu_seconds - quiet_cpu_seconds) / pings.sent : 0.0;
}

IdleFigures MeasureIdle(ProgramUnderX& program, std::chrono::milliseconds length) {
  IdleFigures figures;
  const Steady::time_point start = Steady::now();
  const double quiet_start = ThreadRunSeconds(program.pid());
  std::this_thread::sleep_for(length);
  figures.quiet_cpu_seconds = ThreadRunSeconds(program.pid()) - quiet_start;
  figures.seconds = Seconds(Steady::now() - start);

  WindowPinger pinger(program.display(), program.window(), kPingInterval, kPingPatience, kPingLimit);
  const Steady::time_point pinged_start = Steady::now();
  const double cpu_start = ThreadRunSeconds(program.pid());
  pinger.Start();
  std::this_thread::sleep_for(length);
  figures.pings = pinger.Stop();
  figures.pinged_cpu_seconds = ThreadRunSeconds(program.pid()) - cpu_start;
  // Scaled to the quiet half's length, should the pinged half be longer.
  figures.pinged_cpu_seconds *= figures.seconds / Seconds(Steady::now() - pinged_start);
  return figures;
}

}  // namespace quillport::bench

#include "bench/window_pinger.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <poll.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace quillport::bench {
namespace {

using Steady = std::chrono::steady_clock;

// A window that went away while it was looked at is simply skipped.
int IgnoreXErrors(Display*, XErrorEvent*) { return 0; }

// The bytes of property `name` of `window`, empty when it has none.
std::string Property(Display* display, Window window, const char* name, Atom type) {
  Atom actual_type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long left = 0;
  unsigned char* data = nullptr;
  const Atom property = XInternAtom(display, name, False);
  if (XGetWindowProperty(display, window, property, 0, 1024, False, type, &actual_type, &format, &items, &left,
                         &data) != Success ||
      data == nullptr) {
    return {};
  }
  const std::unique_ptr<unsigned char, int (*)(void*)> owned(data, XFree);
  if (actual_type != type) return {};
  const std::size_t bytes = format == 32 ? items * sizeof(long) : items * static_cast<std::size_t>(format / 8);
  return std::string(reinterpret_cast<const char*>(data), bytes);
}

std::optional<pid_t> WindowPid(Display* display, Window window) {
  const std::string value = Property(display, window, "_NET_WM_PID", XA_CARDINAL);
  if (value.size() < sizeof(long)) return std::nullopt;
  long pid = 0;
  std::copy_n(value.data(), sizeof pid, reinterpret_cast<char*>(&pid));
  return static_cast<pid_t>(pid);
}

std::string WindowTitle(Display* display, Window window) {
  return Property(display, window, "_NET_WM_NAME", XInternAtom(display, "UTF8_STRING", False));
}

std::vector<Window> Children(Display* display, Window window) {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0 || children == nullptr) return {};
  std::vector<Window> result(children, children + count);
  XFree(children);
  return result;
}

std::optional<Window> Search(Display* display, Window window, pid_t pid, const std::string& suffix) {
  if (WindowPid(display, window) == pid && WindowTitle(display, window).ends_with(suffix)) return window;
  for (Window child : Children(display, window)) {
    if (auto found = Search(display, child, pid, suffix)) return found;
  }
  return std::nullopt;
}

// The ping, as a window manager sends it: WM_PROTOCOLS with _NET_WM_PING,
// a time stamp, and the window itself.
XEvent PingEvent(Display* display, Window window, long stamp) {
  XEvent event{};
  XClientMessageEvent& message = event.xclient;
  message.type = ClientMessage;
  message.window = window;
  message.format = 32;
  message.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  message.data.l[0] = static_cast<long>(XInternAtom(display, "_NET_WM_PING", False));
  message.data.l[1] = stamp;
  message.data.l[2] = static_cast<long>(window);
  return event;
}

// The window answers by sending the same message to the root window.
bool IsAnswer(const XEvent& event, const XEvent& ping, Window root) {
  const XClientMessageEvent& answer = event.xclient;
  return event.type == ClientMessage && answer.window == root && answer.message_type == ping.xclient.message_type &&
         answer.data.l[0] == ping.xclient.data.l[0] && answer.data.l[1] == ping.xclient.data.l[1] &&
         answer.data.l[2] == ping.xclient.data.l[2];
}

bool AwaitAnswer(Display* display, const XEvent& ping, Steady::time_point deadline) {
  const Window root = DefaultRootWindow(display);
  for (auto now = Steady::now(); now < deadline; now = Steady::now()) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (IsAnswer(event, ping, root)) return true;
    }
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
    poll(&connection, 1, static_cast<int>(left.count()));
  }
  return false;
}

}  // namespace

XConnection::XConnection(const std::string& display_name) : display_(nullptr, XCloseDisplay) {
  static std::once_flag set_up;
  std::call_once(set_up, [] {
    XInitThreads();
    XSetErrorHandler(&IgnoreXErrors);
  });
  display_.reset(XOpenDisplay(display_name.c_str()));
  if (!display_) throw std::runtime_error("cannot open the X display " + display_name);
}

std::optional<unsigned long> FindWindow(const XConnection& x, pid_t pid, const std::string& suffix) {
  return Search(x.get(), DefaultRootWindow(x.get()), pid, suffix);
}

bool IsShown(const XConnection& x, unsigned long window) {
  XWindowAttributes attributes{};
  return XGetWindowAttributes(x.get(), window, &attributes) != 0 && attributes.map_state == IsViewable;
}

void MapWindow(const XConnection& x, unsigned long window) {
  XMapWindow(x.get(), window);
  XSync(x.get(), False);
}

WindowPinger::WindowPinger(std::string display_name, unsigned long window, std::chrono::milliseconds interval,
                           std::chrono::milliseconds patience, std::chrono::milliseconds limit)
    : display_name_(std::move(display_name)),
      window_(window),
      interval_(interval),
      patience_(patience),
      limit_(limit) {}

void WindowPinger::Start() {
  figures_ = {};
  failure_.clear();
  thread_ = std::jthread([this](const std::stop_token& stop) { Run(stop); });
}

PingFigures WindowPinger::Stop() {
  if (thread_.joinable()) {
    thread_.request_stop();
    thread_.join();
  }
  if (!failure_.empty()) throw std::runtime_error("pinging the window: " + failure_);
  return figures_;
}

void WindowPinger::Run(const std::stop_token& stop) {
  try {
    const XConnection x(display_name_);
    Display* display = x.get();
    // Qt answers with a structure mask, other toolkits with a substructure
    // mask: listen for both.
    XSelectInput(display, DefaultRootWindow(display), StructureNotifyMask | SubstructureNotifyMask);
    for (long stamp = 1; !stop.stop_requested(); ++stamp) {
      XEvent ping = PingEvent(display, window_, stamp);
      const Steady::time_point sent = Steady::now();
      XSendEvent(display, window_, False, NoEventMask, &ping);
      XFlush(display);
      ++figures_.sent;
      const bool answered = AwaitAnswer(display, ping, sent + patience_);
      const Steady::duration took = Steady::now() - sent;
      if (answered) ++figures_.answered;
      if (took > limit_) ++figures_.slower_than_limit;
      figures_.longest_ms = std::max(figures_.longest_ms, std::chrono::duration<double, std::milli>(took).count());
      const Steady::duration rest = sent + interval_ - Steady::now();
      if (rest > Steady::duration::zero() && !stop.stop_requested()) std::this_thread::sleep_for(rest);
    }
  } catch (const std::exception& failure) {
    failure_ = failure.what();
  }
}

}  // namespace quillport::bench

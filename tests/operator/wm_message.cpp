// Plays the window manager towards one X window, for the window tests.
//
//   wm_message ping WINDOW [MILLISECONDS]
//       Sends _NET_WM_PING, as a window manager does to tell a hung program
//       from a live one, and waits for the window's answer on the root
//       window (default 2000 ms). Exit 0: answered; 1: no answer in time.
//   wm_message close WINDOW
//       Sends WM_DELETE_WINDOW, as a window manager's close button does.
//       Exit 0 once sent.
//
// WINDOW is an X window id, decimal or 0x-hexadecimal (xdotool prints it
// so). Exit 2: wrong usage, no display, or no such window.
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

struct DisplayCloser {
  void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

int Usage() {
  std::fputs("usage: wm_message ping WINDOW [MILLISECONDS] | close WINDOW\n", stderr);
  return 2;
}

// Any X error here means the window is not there (or went away).
int ExitOnXError(Display* display, XErrorEvent* error) {
  char text[256];
  XGetErrorText(display, error->error_code, text, sizeof text);
  std::fprintf(stderr, "wm_message: X error: %s\n", text);
  std::exit(2);
}

// A window-manager protocol message as ICCCM has it: WM_PROTOCOLS, the
// protocol's atom, a time stamp, and (for a ping) the window itself.
void SendProtocol(Display* display, Window window, Atom protocol, long stamp) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(protocol);
  event.xclient.data.l[1] = stamp;
  event.xclient.data.l[2] = static_cast<long>(window);
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
}

// Whether `event` is the window's answer to our ping: the same message,
// sent back to the root window.
bool IsPingAnswer(const XEvent& event, Window root, Window window, Atom protocols, Atom ping,
                  long stamp) {
  if (event.type != ClientMessage) return false;
  const XClientMessageEvent& message = event.xclient;
  return message.window == root && message.message_type == protocols && message.format == 32 &&
         static_cast<Atom>(message.data.l[0]) == ping && message.data.l[1] == stamp &&
         static_cast<Window>(message.data.l[2]) == window;
}

int Ping(Display* display, Window window, std::chrono::milliseconds patience) {
  const Window root = DefaultRootWindow(display);
  const Atom protocols = XInternAtom(display, "WM_PROTOCOLS", False);
  const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
  // The answer goes to the root window with a structure mask (Qt) or a
  // substructure mask (other toolkits): listen for both before asking.
  XSelectInput(display, root, StructureNotifyMask | SubstructureNotifyMask);
  XSync(display, False);

  using Steady = std::chrono::steady_clock;
  const Steady::time_point start = Steady::now();
  const long stamp = 1 + static_cast<long>(start.time_since_epoch().count() % 0x7ffffffe);
  SendProtocol(display, window, ping, stamp);
  const Steady::time_point deadline = start + patience;
  for (;;) {
    while (XPending(display) > 0) {
      XEvent event;
      XNextEvent(display, &event);
      if (IsPingAnswer(event, root, window, protocols, ping, stamp)) {
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - start);
        std::printf("answered in %lld ms\n", static_cast<long long>(took.count()));
        return 0;
      }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Steady::now());
    if (left.count() <= 0) break;
    pollfd connection{ConnectionNumber(display), POLLIN, 0};
    poll(&connection, 1, static_cast<int>(left.count()) + 1);
  }
  std::printf("no answer within %lld ms\n", static_cast<long long>(patience.count()));
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc < 3) return Usage();
  const std::string_view command = argv[1];
  char* end = nullptr;
  const Window window = std::strtoul(argv[2], &end, 0);
  if (end == argv[2] || *end != '\0' || window == 0) return Usage();
  long patience_ms = 2000;
  if (command == "ping" && argc == 4) {
    patience_ms = std::strtol(argv[3], &end, 10);
    if (end == argv[3] || *end != '\0' || patience_ms <= 0) return Usage();
  } else if (argc != 3 || (command != "ping" && command != "close")) {
    return Usage();
  }

  const DisplayHandle display(XOpenDisplay(nullptr));
  if (!display) {
    std::fputs("wm_message: cannot open the display\n", stderr);
    return 2;
  }
  XSetErrorHandler(&ExitOnXError);
  XWindowAttributes attributes;
  XGetWindowAttributes(display.get(), window, &attributes);  // no such window: an X error

  if (command == "close") {
    SendProtocol(display.get(), window, XInternAtom(display.get(), "WM_DELETE_WINDOW", False),
                 CurrentTime);
    XSync(display.get(), False);
    return 0;
  }
  return Ping(display.get(), window, std::chrono::milliseconds(patience_ms));
}

// Plays the window manager towards one X window (an id as xdotool prints it):
//   wm_message ping WINDOW [MILLISECONDS]  sends _NET_WM_PING and waits (default 10000 ms) for the answer
//                                          on the root window. Exit 0: answered; 1: no answer in time.
//   wm_message close WINDOW                sends WM_DELETE_WINDOW, as a close button does.
// Exit 2: wrong usage, no display, or no such window.
#include <X11/Xlib.h>
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

int ExitOnXError(Display*, XErrorEvent*) {
  std::fputs("wm_message: X error (no such window?)\n", stderr);
  std::exit(2);
}

// A WM_PROTOCOLS message: the protocol's atom, a time stamp and (for a ping) the window itself.
XEvent Protocol(Display* display, Window window, const char* protocol, long stamp) {
  XEvent event{};
  XClientMessageEvent& message = event.xclient;
  message.type = ClientMessage, message.window = window, message.format = 32;
  message.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  message.data.l[0] = static_cast<long>(XInternAtom(display, protocol, False));
  message.data.l[1] = stamp, message.data.l[2] = static_cast<long>(window);
  return event;
}

}  // namespace

int main(int argc, char* argv[]) {
  const std::string_view command = argc > 1 ? argv[1] : "";
  const Window window = argc > 2 ? std::strtoul(argv[2], nullptr, 0) : 0;
  const long patience_ms = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 10000;
  const std::unique_ptr<Display, int (*)(Display*)> display(XOpenDisplay(nullptr), XCloseDisplay);
  if (window == 0 || patience_ms <= 0 || (command != "ping" && command != "close") || !display) {
    std::fputs("usage: wm_message ping WINDOW [MILLISECONDS] | close WINDOW (with a display)\n", stderr);
    return 2;
  }
  XSetErrorHandler(&ExitOnXError);
  XWindowAttributes attributes;
  XGetWindowAttributes(display.get(), window, &attributes);  // no such window: an X error
  const Window root = DefaultRootWindow(display.get());
  // Qt answers a ping with a structure mask, other toolkits with a substructure mask: listen for both.
  XSelectInput(display.get(), root, StructureNotifyMask | SubstructureNotifyMask);
  const auto start = std::chrono::steady_clock::now();
  const long stamp = command == "close" ? CurrentTime : 1 + start.time_since_epoch().count() % 0x7ffffffe;
  XEvent sent = Protocol(display.get(), window, command == "close" ? "WM_DELETE_WINDOW" : "_NET_WM_PING", stamp);
  XSendEvent(display.get(), window, False, NoEventMask, &sent);
  XSync(display.get(), False);
  if (command == "close") return 0;

  const auto deadline = start + std::chrono::milliseconds(patience_ms);
  for (auto now = start; now < deadline; now = std::chrono::steady_clock::now()) {
    while (XPending(display.get()) > 0) {
      XEvent event;
      XNextEvent(display.get(), &event);
      const XClientMessageEvent& answer = event.xclient;  // the same message, sent back to the root window
      if (event.type == ClientMessage && answer.window == root && answer.message_type == sent.xclient.message_type &&
          answer.data.l[0] == sent.xclient.data.l[0] && answer.data.l[1] == stamp &&
          static_cast<Window>(answer.data.l[2]) == window) {
        const auto took = (std::chrono::steady_clock::now() - start) / std::chrono::milliseconds(1);
        std::printf("answered in %lld ms\n", static_cast<long long>(took));
        return 0;
      }
    }
    pollfd connection{ConnectionNumber(display.get()), POLLIN, 0};
    poll(&connection, 1, static_cast<int>((deadline - now) / std::chrono::milliseconds(1)) + 1);
  }
  std::printf("no answer within %ld ms\n", patience_ms);
  return 1;
}

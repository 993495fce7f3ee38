#include "app/normal_state_hint.h"

#include <QGuiApplication>
#include <QWidget>

// Last: Xlib's macros would clash with the Qt headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quillport {

void AskToBeShownNormal(QWidget& window) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->display() == nullptr || window.internalWinId() == 0) return;
  Display* display = x11->display();
  const auto id = static_cast<Window>(window.internalWinId());
  XWMHints* hints = XGetWMHints(display, id);
  XWMHints fresh{};
  XWMHints& changed = hints != nullptr ? *hints : fresh;
  changed.flags |= StateHint;
  changed.initial_state = NormalState;
  XSetWMHints(display, id, &changed);
  if (hints != nullptr) XFree(hints);
  XFlush(display);  // before Qt maps the window on its own connection's queue
}

}  // namespace quillport

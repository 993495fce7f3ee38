#include "app/startup.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <string>

#include "board/board_fields.h"
#include "common/settings.h"

// Last: Xlib's macros would clash with the Qt headers.
#include <X11/Xlib.h>

namespace quillport {
namespace {

// Before the window is first shown its frame is not known yet; its outer
// size is then its client size.
void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  window.move(CentredTopLeft(screen->geometry(), window.frameGeometry().size()));
}

// Puts the framed window's outer top-left corner at `corner`. Under X, Qt
// restores a minimised window whenever it moves it, so the move is asked of
// the X server directly: the window manager places the frame's corner where
// asked (Qt gives the window north-west gravity, start-up having placed it
// by its outer corner) and the window stays minimised.
void MoveFrame(QWidget& window, QPoint corner) {
  auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->display() == nullptr) {
    window.move(corner);
    return;
  }
  // The X server counts in device pixels.
  const QPoint device = corner * window.devicePixelRatioF();
  XMoveWindow(x11->display(), static_cast<Window>(window.winId()), device.x(), device.y());
  XFlush(x11->display());
}

// A window manager frames the window when it takes it on, which under X is
// while the window is still minimised; Qt then reports a move. On the first
// move that comes with a frame the window is centred again, now by its outer
// size, and the filter goes: a window the operator moves later stays where
// he puts it. With no window manager no frame comes and the first centring
// stands.
class CentreOnceFramed : public QObject {
 public:
  explicit CentreOnceFramed(QWidget& window) : QObject(&window), window_(window) { window.installEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == &window_ && event->type() == QEvent::Move && window_.frameGeometry().size() != window_.size()) {
      window_.removeEventFilter(this);
      deleteLater();
      if (const QScreen* screen = window_.screen()) {
        MoveFrame(window_, CentredTopLeft(screen->geometry(), window_.frameGeometry().size()));
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget& window_;
};

void WriteSettings(StatusBoard& board) {
  board.SetText(field::InfoK(0), settings::kDropFolder);
  board.SetText(field::InfoK(1), settings::kServerHost);
  board.SetText(field::InfoK(2), settings::kMessagePattern);
  board.SetText(field::InfoK(3), settings::kLogFile);
}

void ConfigureNewsClient(NewsClient& news) {
  NewsOptions options;
  options.host = settings::kServerHost;
  options.port = settings::kServerPort;
  options.reader_mode = true;
  options.timeout = std::chrono::seconds(30);
  options.trace = false;
  news.Configure(options);
}

}  // namespace

QPoint CentredTopLeft(const QRect& screen, const QSize& outer) {
  const float left = static_cast<float>(screen.width() - outer.width()) / 2.0f;
  const float top = static_cast<float>(screen.height() - outer.height()) / 2.0f;
  return {screen.x() + static_cast<int>(std::floor(left)), screen.y() + static_cast<int>(std::floor(top))};
}

StartupOutcome RunStartup(MainWindow& window, InstanceGuard& guard, NewsClient& news,
                          const std::function<std::chrono::system_clock::time_point()>& clock,
                          std::chrono::system_clock::time_point& start_time) {
  CentreOnScreen(window);
  new CentreOnceFramed(window);  // owned by the window
  window.SetText(field::kWindow, window.Text(field::kWindow) + " " + std::string(settings::kDropFolder) +
                                     std::string(settings::kCaptionSuffix));
  window.setWindowState(window.windowState() | Qt::WindowMinimized);

  if (guard.AnotherInstanceRuns()) {
    switch (guard.ActivatePreviousInstance()) {
      case Activation::kCameForward: return StartupOutcome::kEndsHere;
      case Activation::kUnreachable: return StartupOutcome::kCannotStart;
      case Activation::kEnding:
        if (!guard.TakeOverFromEndingInstance()) return StartupOutcome::kCannotStart;
        break;
    }
  }

  WriteSettings(window);
  window.SetVisible(field::kImgBad, false);
  window.SetVisible(field::kImgGoo, false);
  window.ShowWindowIcon(field::kImgIco);
  ConfigureNewsClient(news);
  start_time = clock();
  return StartupOutcome::kGoesOn;
}

}  // namespace quillport

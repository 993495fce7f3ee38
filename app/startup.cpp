#include "app/startup.h"

#include <QScreen>
#include <cmath>
#include <string>

#include "board/board_fields.h"
#include "relay/server_connection.h"
#include "common/settings.h"

namespace quillport {
namespace {

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen();
  if (screen == nullptr) return;
  // Before the window is first shown the frame is not known yet; its outer
  // size is then its client size.
  window.move(CentredTopLeft(screen->geometry(), window.frameGeometry().size()));
}

void WriteSettings(StatusBoard& board) {
  board.SetText(field::InfoK(0), settings::kDropFolder);
  board.SetText(field::InfoK(1), settings::kServerHost);
  board.SetText(field::InfoK(2), settings::kMessagePattern);
  board.SetText(field::InfoK(3), settings::kLogFile);
}

void ConfigureNewsClient(NewsClient& news) {
  news.SetSetting(NewsSetting::kTrace, false);
  news.SetSetting(NewsSetting::kReaderMode, true);
  news.SetSetting(NewsSetting::kTimeout, std::int16_t{30});
  news.SetSetting(NewsSetting::kServerHost, std::string(settings::kServerHost));
  news.SetSetting(NewsSetting::kServerPort, std::string(settings::kServerPort));
  news.SetSetting(NewsSetting::kUserName, std::string());
  news.SetSetting(NewsSetting::kPassword, std::string());
}

}  // namespace

QPoint CentredTopLeft(const QRect& screen, const QSize& outer) {
  const float left = static_cast<float>(screen.width() - outer.width()) / 2.0f;
  const float top = static_cast<float>(screen.height() - outer.height()) / 2.0f;
  return {screen.x() + static_cast<int>(std::floor(left)),
          screen.y() + static_cast<int>(std::floor(top))};
}

bool RunStartup(MainWindow& window, InstanceGuard& guard, NewsClient& news,
                const std::function<std::chrono::system_clock::time_point()>& clock,
                std::chrono::system_clock::time_point& start_time) {
  CentreOnScreen(window);
  window.SetText(field::kWindow, window.Text(field::kWindow) + " " +
                                     std::string(settings::kDropFolder) +
                                     std::string(settings::kCaptionSuffix));
  window.setWindowState(window.windowState() | Qt::WindowMinimized);

  if (guard.AnotherInstanceRuns()) {
    guard.ActivatePreviousInstance();
    return false;
  }

  WriteSettings(window);
  window.SetVisible(field::kImgBad, false);
  window.SetVisible(field::kImgGoo, false);
  window.ShowWindowIcon(field::kImgIco);
  ShowNewsErrors(news, window);
  ConfigureNewsClient(news);
  start_time = clock();
  return true;
}

}  // namespace quillport

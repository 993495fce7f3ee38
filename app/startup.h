// Start-up: what happens once, when the window has been made and before it
// is first shown. In this order: centre the window on the screen (once more,
// by its outer size, when a window manager has given it a frame); extend
// its caption with the drop folder; minimise it; ask whether another
// instance runs, and if so have it come forward and stop here (when that
// instance is ending instead, wait for it to end and go on). Otherwise:
// write the settings onto the board; hide the two indicators; show the
// window's icon in img_Ico; configure the news client; take the start time.
// Start-up never yields.
#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <chrono>
#include <functional>

#include "app/instance_guard.h"
#include "app/main_window.h"
#include "news/news_client.h"

namespace quillport {

// How start-up ended.
enum class StartupOutcome {
  kGoesOn,       // this instance runs
  kEndsHere,     // an earlier instance came forward: this one ends, successfully
  kCannotStart,  // an earlier instance runs that neither came forward nor ended in time (said on standard error)
};

// Runs start-up. Unless it returns kGoesOn, this window must close without
// being shown; neither the board (beyond the caption) nor `news` has been
// touched then. With kGoesOn, `start_time` holds the time start-up ended
// with, read from `clock`. A failing step throws and leaves the rest undone.
StartupOutcome RunStartup(MainWindow& window, InstanceGuard& guard, NewsClient& news,
                          const std::function<std::chrono::system_clock::time_point()>& clock,
                          std::chrono::system_clock::time_point& start_time);

// Top-left corner that centres a window of outer size `outer` (frame
// included) on `screen`: half the difference each way, rounded down.
// Negative when the screen is the smaller.
QPoint CentredTopLeft(const QRect& screen, const QSize& outer);

}  // namespace quillport

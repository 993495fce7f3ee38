// Opening the error folder in the desktop's file browser.
#pragma once

#include <string_view>

#include "app/main_window.h"

namespace quillport {

// Asks the desktop's opener, xdg-open, to show `folder` in its file browser
// and returns without waiting for it. Whether the folder exists is the
// browser's concern. When xdg-open cannot be started, or ends with a failure
// (no file browser could show the folder), the window shows that on its
// error line and standard error as a failure of "View", once xdg-open has
// ended. xdg-open belongs to `window` while it runs; a window that goes
// first stops it without a word (a file browser it started stays open).
void ViewErrorFolder(std::string_view folder, MainWindow& window);

}  // namespace quillport

// Opening the error folder in the desktop's file browser.
#pragma once

#include <string_view>

namespace quillport {

// Asks the desktop to show `folder` in its file browser and returns without
// waiting for it. Whether the folder exists is the browser's concern.
// Throws std::runtime_error when no file browser could be started.
void ViewErrorFolder(std::string_view folder);

}  // namespace quillport

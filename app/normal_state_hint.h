// The state a window manager gives a window when it maps it, as the window
// asks in its hints: under X, the initial state of WM_HINTS.
#pragma once

class QWidget;

namespace quillport {

// Under X, asks that `window`, when it is next shown, be mapped restored
// rather than minimised. Start-up minimises the window, which Qt writes into
// its hints as Iconic and leaves there after the window manager has
// restored it; a window hidden (closed during an Action) and shown again
// would come back minimised and out of sight. Does nothing on other
// platforms or before the window has been made.
void AskToBeShownNormal(QWidget& window);

}  // namespace quillport

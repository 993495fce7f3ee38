// The yield: lets the window draw and handle what is pending (paints, timer
// ticks, clicks) from inside a long piece of work, then returns to it. The
// relay engine receives it as its yield callback.
#pragma once

namespace quillport {

void ProcessPendingEvents();

}  // namespace quillport

// The yield: lets the window draw and handle what is pending (paints, timer
// ticks, window-manager messages, clicks) from inside a long piece of work,
// then returns to it. The relay engine receives it as its yield callback,
// as the keep-alive of its pauses and as the news client's network-wait
// hook, so the window never stops repainting or answering the window
// manager while an Action runs.
//
// All pending events are processed, user input included: during an Action
// the window is disabled, and input that reaches a disabled window is
// dropped. Holding input back (QEventLoop::ExcludeUserInputEvents) would
// keep it queued for a later round, which may come after the window is
// enabled again and set off work the operator asked for while it was busy.
// A close from the window manager hides the window; the program then ends
// when the work under way has returned.
#pragma once

namespace quillport {

void ProcessPendingEvents();

}  // namespace quillport

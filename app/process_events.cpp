#include "app/process_events.h"

#include <QCoreApplication>

namespace quillport {

void ProcessPendingEvents() { QCoreApplication::processEvents(); }

}  // namespace quillport

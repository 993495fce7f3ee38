// quillport-deliver from its arguments to its exit status: one message from
// an input descriptor into the drop folder.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "deliver/delivery_disk.h"

namespace quillport {

// Reads one message from `input` to its end, converts it (MessageConverter)
// and leaves it in `drop_folder` as a message file (DropFile), streaming:
// memory does not grow with the message. Returns the exit status of
// sysexits.h: EX_OK only once the file is on disk under its message name;
// otherwise nothing is left in the folder and one line on `err` says why.
// The status is the message's, not the disk's: one that can never be posted
// is EX_DATAERR even when writing it failed first. A refused message is read
// to its end all the same, so the mail system never meets a closed pipe.
// --help and --version answer on `out`. The file is flushed through `disk`.
int RunDelivery(const std::vector<std::string>& arguments, int input, const std::string& drop_folder, std::ostream& out,
                std::ostream& err, DeliveryDisk& disk = SystemDeliveryDisk());

// Makes SIGTERM, SIGINT and SIGHUP end a delivery instead of the process:
// they are blocked, and let through only while RunDelivery waits for input,
// where they end the wait; the delivery then fails with EX_TEMPFAIL and
// leaves nothing behind. A signal that comes while the message is written
// waits for the next wait, or is ignored once the message is complete.
// SIGXFSZ is ignored, so that a file-size limit makes the write fail and the
// delivery with it, with EX_TEMPFAIL.
void SetUpDeliverySignals();

}  // namespace quillport

// What became of one message file the relay handled: a value the engine
// reports to whoever shows or records it.
#pragma once

#include <string>

namespace quillport {

// What became of a message that the relay handled without failing.
struct MessageOutcome {
  enum class Disposal {
    kDeletedUnposted,  // no "Newsgroups: ", or a header that never ends
    kPosted,           // accepted by the server, deleted
    kHeld,             // refused, but the server holds its message id: deleted
    kFiled,            // refused and filed in the error folder
    kFiledUnposted,    // can never be posted: filed in the error folder
  };
  Disposal disposal;
  std::string message_id;  // as the header gave it; empty when it had none
  // kDeletedUnposted: why it was not posted. kHeld and kFiled: the server's
  // refusal, as the error line shows it. kFiledUnposted: the report, what is
  // wrong with the message and where it was filed.
  std::string detail;
  std::string filed_as;  // kFiled, kFiledUnposted: its path in the error folder
};

}  // namespace quillport

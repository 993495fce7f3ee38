// Why a delivery failed, with the exit status (sysexits.h) that tells the
// mail system what to do about it.
#pragma once

#include <sysexits.h>

#include <stdexcept>
#include <string>

namespace quillport {

class DeliveryFailure : public std::runtime_error {
 public:
  // `status`: EX_USAGE for a bad command line, EX_DATAERR for a message that
  // can never be posted (the sender gets a bounce), EX_TEMPFAIL for what may
  // work later (the mail system keeps the message and tries again).
  DeliveryFailure(int status, const std::string& what) : std::runtime_error(what), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

}  // namespace quillport

// The signals quillportd answers, read from a signalfd in its main loop:
// SIGTERM and SIGINT ask it to stop; SIGUSR1 and SIGHUP to run an Action at
// once (`systemctl kill -s USR1 quillportd`, `systemctl reload quillportd`
// where the unit allows it). A hang-up asks a service to look again, never
// to go away.
#pragma once

#include <optional>
#include <string>

#include "common/file_descriptor.h"

namespace quillport {

class ServiceSignals {
 public:
  // A signal that arrived: a stop, with the record's reason, or a request
  // for an Action.
  struct Arrival {
    bool stop = false;
    std::string name;  // "SIGTERM", "SIGUSR1", ...
  };

  // Blocks the signals in the calling thread, and so in every thread it
  // starts from now on (make this before any thread), and opens the
  // signalfd. Throws std::runtime_error when it cannot. The signals stay
  // blocked after it is gone: a second SIGTERM while the program ends must
  // not kill it halfway.
  ServiceSignals();
  ServiceSignals(const ServiceSignals&) = delete;
  ServiceSignals& operator=(const ServiceSignals&) = delete;

  // The descriptor to wait on for reading.
  int descriptor() const { return descriptor_.get(); }

  // The next signal that arrived, without waiting; nullopt when none.
  std::optional<Arrival> Next();

 private:
  FileDescriptor descriptor_;
};

}  // namespace quillport

#include "relay/outcome_record.h"

#include <syslog.h>
#include <unistd.h>

namespace quillport {
namespace {

std::string Join(std::string_view a, std::string_view b, std::string_view c = {},
                 std::string_view d = {}) {
  std::string line;
  line.reserve(a.size() + b.size() + c.size() + d.size());
  line.append(a).append(b).append(c).append(d);
  return line;
}

std::string MessageId(std::string_view message_id) {
  return message_id.empty() ? std::string("no Message-ID in its header")
                            : Join("Message-ID ", message_id);
}

}  // namespace

OutcomeRecord::OutcomeRecord(std::string_view drop_folder)
    : available_(::access(_PATH_LOG, W_OK) == 0) {
  if (available_) ::openlog("quillport", LOG_PID | LOG_NDELAY, LOG_NEWS);
  Write(Join("action started: drop folder ", drop_folder));
}

OutcomeRecord::~OutcomeRecord() {
  if (available_) ::closelog();
}

void OutcomeRecord::Posted(std::string_view file, std::string_view message_id) {
  ++posted_;
  Write(Join(file, ": posted, ", MessageId(message_id)));
}

void OutcomeRecord::AlreadyOnServer(std::string_view file, std::string_view message_id) {
  ++held_;
  Write(Join(file, ": already on the server (", MessageId(message_id), "), deleted"));
}

void OutcomeRecord::RefusedAndFiled(std::string_view file, std::string_view filed_as,
                                    std::string_view reply) {
  ++filed_;
  Write(Join(file, ": refused and filed as ", filed_as, Join(": ", reply)));
}

void OutcomeRecord::FiledUnposted(std::string_view file, std::string_view why) {
  ++filed_;
  Write(Join(file, ": filed unposted: ", why));
}

void OutcomeRecord::DeletedUnposted(std::string_view file, std::string_view why) {
  ++deleted_;
  Write(Join(file, ": deleted unposted: ", why));
}

void OutcomeRecord::LeftInPlace(std::string_view file, std::string_view why) {
  ++left_;
  Write(Join(file, ": left in place: ", why));
}

void OutcomeRecord::Gone(std::string_view file, std::string_view why) {
  Write(Join(file, ": gone: ", why));
}

void OutcomeRecord::Failure(std::string_view text) const { Write(std::string(text)); }

void OutcomeRecord::Ended(std::string_view cut_short) {
  std::string line = "action ended: " + std::to_string(posted_) + " posted, " +
                     std::to_string(held_) + " already on the server, " + std::to_string(filed_) +
                     " filed, " + std::to_string(deleted_) + " deleted unposted, " +
                     std::to_string(left_) + " left in place";
  if (!cut_short.empty()) line += Join("; cut short: ", cut_short);
  Write(line);
}

void OutcomeRecord::Write(const std::string& line) const {
  if (available_) ::syslog(LOG_NEWS | LOG_NOTICE, "%s", line.c_str());
}

}  // namespace quillport

#include "relay/outcome_record.h"

#include <syslog.h>
#include <unistd.h>

#include "common/printable_text.h"

namespace quillport {
namespace {

std::string MessageId(std::string_view message_id) {
  return message_id.empty() ? "no Message-ID in its header" : "Message-ID " + std::string(message_id);
}

}  // namespace

OutcomeRecord::OutcomeRecord(std::string_view drop_folder) : available_(::access(_PATH_LOG, W_OK) == 0) {
  if (available_) ::openlog("quillport", LOG_PID | LOG_NDELAY, LOG_NEWS);
  Write("action started: drop folder " + std::string(drop_folder));
}

OutcomeRecord::~OutcomeRecord() {
  if (available_) ::closelog();
}

void OutcomeRecord::Posted(std::string_view file, std::string_view message_id) {
  ++posted_;
  About(file, "posted, " + MessageId(message_id));
}

void OutcomeRecord::AlreadyOnServer(std::string_view file, std::string_view message_id) {
  ++held_;
  About(file, "already on the server (" + MessageId(message_id) + "), deleted");
}

void OutcomeRecord::RefusedAndFiled(std::string_view file, std::string_view filed_as, std::string_view reply) {
  ++filed_;
  About(file, "refused and filed as " + std::string(filed_as) + ": " + std::string(reply));
}

void OutcomeRecord::FiledUnposted(std::string_view file, std::string_view why) {
  ++filed_;
  About(file, "filed unposted: " + std::string(why));
}

void OutcomeRecord::DeletedUnposted(std::string_view file, std::string_view why) {
  ++deleted_;
  About(file, "deleted unposted: " + std::string(why));
}

void OutcomeRecord::LeftInPlace(std::string_view file, std::string_view why) {
  ++left_;
  About(file, "left in place: " + std::string(why));
}

void OutcomeRecord::Gone(std::string_view file, std::string_view why) { About(file, "gone: " + std::string(why)); }

void OutcomeRecord::Failure(std::string_view text) const { Write(std::string(text)); }

void OutcomeRecord::Ended(std::string_view cut_short) {
  std::string line = "action ended: " + std::to_string(posted_) + " posted, " + std::to_string(held_) +
                     " already on the server, " + std::to_string(filed_) + " filed, " + std::to_string(deleted_) +
                     " deleted unposted, " + std::to_string(left_) + " left in place";
  if (!cut_short.empty()) line += "; cut short: " + std::string(cut_short);
  Write(line);
}

void OutcomeRecord::About(std::string_view file, const std::string& what) const {
  Write(std::string(file) + ": " + what);
}

void OutcomeRecord::Write(const std::string& line) const {
  // File names and server replies may hold control characters: escaped, a
  // record stays one line and cannot forge another.
  if (available_) ::syslog(LOG_NEWS | LOG_NOTICE, "%s", Printable(line).c_str());
}

}  // namespace quillport

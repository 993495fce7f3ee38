#include "relay/outcome_record.h"

#include <syslog.h>

namespace quillport {
namespace {

std::string MessageId(std::string_view message_id) {
  return message_id.empty() ? "no Message-ID in its header" : "Message-ID " + std::string(message_id);
}

}  // namespace

bool ProblemMemory::Due(std::string& line, std::chrono::steady_clock::time_point now) {
  const auto found = seen_.find(line);
  if (found == seen_.end()) {
    seen_.emplace(line, Seen{now});
    return true;
  }
  Seen& seen = found->second;
  seen.met = true;
  if (now - seen.written < kRepeatAfter) {
    ++seen.unwritten;
    return false;
  }
  if (seen.unwritten > 0) line += " (met " + std::to_string(seen.unwritten) + " more times since last recorded)";
  seen.written = now;
  seen.unwritten = 0;
  return true;
}

void ProblemMemory::ActionEnded() {
  std::erase_if(seen_, [](const auto& entry) { return !entry.second.met; });
  for (auto& [line, seen] : seen_) seen.met = false;
}

OutcomeRecord::OutcomeRecord(ProblemMemory& problems, Sink sink) : problems_(problems), sink_(std::move(sink)) {}

OutcomeRecord::~OutcomeRecord() { problems_.ActionEnded(); }

void OutcomeRecord::Posted(std::string_view file, std::string_view message_id) {
  ++posted_;
  About(LOG_NOTICE, file, "posted, " + MessageId(message_id));
}

void OutcomeRecord::AlreadyOnServer(std::string_view file, std::string_view message_id) {
  ++held_;
  About(LOG_NOTICE, file, "already on the server (" + MessageId(message_id) + "), deleted");
}

void OutcomeRecord::RefusedAndFiled(std::string_view file, std::string_view filed_as, std::string_view reply) {
  ++filed_;
  About(LOG_WARNING, file, "refused and filed as " + std::string(filed_as) + ": " + std::string(reply));
}

void OutcomeRecord::FiledUnposted(std::string_view file, std::string_view why) {
  ++filed_;
  About(LOG_WARNING, file, "filed unposted: " + std::string(why));
}

void OutcomeRecord::DeletedUnposted(std::string_view file, std::string_view why) {
  ++deleted_;
  About(LOG_WARNING, file, "deleted unposted: " + std::string(why));
}

void OutcomeRecord::LeftInPlace(std::string_view file, std::string_view why, Stay stay) {
  ++left_;
  const std::string line = std::string(file) + ": left in place: " + std::string(why);
  if (stay == Stay::kProblem) {
    Problem(LOG_WARNING, line);
  } else {
    Write(LOG_INFO, line);
  }
}

void OutcomeRecord::Gone(std::string_view file, std::string_view why) {
  ++gone_;
  About(LOG_INFO, file, "gone: " + std::string(why));
}

void OutcomeRecord::Failure(std::string_view text) { Problem(LOG_ERR, std::string(text)); }

void OutcomeRecord::Ended(std::string_view cut_short) {
  std::string line = "action ended: " + std::to_string(posted_) + " posted, " + std::to_string(held_) +
                     " already on the server, " + std::to_string(filed_) + " filed, " + std::to_string(deleted_) +
                     " deleted unposted, " + std::to_string(left_) + " left in place";
  if (!cut_short.empty()) {
    Problem(LOG_ERR, line + "; cut short: " + std::string(cut_short));
  } else if (posted_ + held_ + filed_ + deleted_ + left_ + gone_ > 0) {
    Write(LOG_INFO, line);
  }
}

void OutcomeRecord::About(int priority, std::string_view file, const std::string& what) {
  Write(priority, std::string(file) + ": " + what);
}

void OutcomeRecord::Problem(int priority, std::string line) {
  if (problems_.Due(line, std::chrono::steady_clock::now())) Write(priority, line);
}

void OutcomeRecord::Write(int priority, const std::string& line) const { sink_(priority, line); }

}  // namespace quillport

// The news administrator's record of what became of each message: one line
// per outcome through the system log (facility news, identifier
// "quillport"), with each Action's start and its counts at its end.
#pragma once

#include <string>
#include <string_view>

namespace quillport {

// Lives for one Action and counts its outcomes. Where no system log listens
// (no /dev/log when it is made), lines are only counted, without trying to
// reach a log for each one. Every line starts with the file it concerns,
// when there is one:
//   action started: drop folder D
//   F: posted, Message-ID I
//   F: already on the server (Message-ID I), deleted
//   F: refused and filed as E: REPLY
//   F: filed unposted: WHY
//   F: deleted unposted: WHY
//   F: left in place: WHY
//   F: gone: WHY
//   action ended: P posted, H already on the server, E filed, D deleted
//     unposted, L left in place[; cut short: WHY]
// A failure that belongs to no file is a line of its own.
class OutcomeRecord {
 public:
  explicit OutcomeRecord(std::string_view drop_folder);
  ~OutcomeRecord();
  OutcomeRecord(const OutcomeRecord&) = delete;
  OutcomeRecord& operator=(const OutcomeRecord&) = delete;

  void Posted(std::string_view file, std::string_view message_id);
  void AlreadyOnServer(std::string_view file, std::string_view message_id);
  void RefusedAndFiled(std::string_view file, std::string_view filed_as, std::string_view reply);
  void FiledUnposted(std::string_view file, std::string_view why);
  void DeletedUnposted(std::string_view file, std::string_view why);
  void LeftInPlace(std::string_view file, std::string_view why);
  void Gone(std::string_view file, std::string_view why);
  void Failure(std::string_view text) const;

  // Writes the closing line with the counts; `cut_short` is the failure that
  // ended the Action early, empty when it ran to its end. Call it once.
  void Ended(std::string_view cut_short);

 private:
  void About(std::string_view file, const std::string& what) const;
  void Write(const std::string& line) const;

  bool available_ = false;
  int posted_ = 0, held_ = 0, filed_ = 0, deleted_ = 0, left_ = 0;
};

}  // namespace quillport

// The news administrator's record of what became of each message: one line
// per outcome through the system log (facility news, identifier
// "quillport"), with a severity by meaning, and a summary at the end of an
// Action that handled files.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace quillport {

// The problems recorded lately, so that one that lasts is recorded once,
// then at most once an hour with a count, instead of at every Action. It
// outlives the Actions; a problem that an Action did not meet again is
// forgotten at the Action's end (it is over).
class ProblemMemory {
 public:
  static constexpr std::chrono::hours kRepeatAfter{1};

  // Whether `line` is to be written now; when it is, `line` gets the count
  // of the times it was met unwritten since, if any.
  bool Due(std::string& line, std::chrono::steady_clock::time_point now);

  // Ends an Action: forgets what it did not meet.
  void ActionEnded();

 private:
  struct Seen {
    std::chrono::steady_clock::time_point written;
    int unwritten = 0;
    bool met = true;  // during the Action under way
  };
  std::map<std::string, Seen, std::less<>> seen_;
};

// Lives for one Action and counts its outcomes, and makes the lines of the
// news administrator's record, each handed once to its sink (the engine's
// listener, which writes them to the system log). Every line starts with
// the file it concerns, when there is one, and goes out with the severity
// given (syslog.h):
//   F: posted, Message-ID I                                     notice
//   F: already on the server (Message-ID I), deleted            notice
//   F: refused and filed as E: REPLY                            warning
//   F: filed unposted: WHY                                      warning
//   F: deleted unposted: WHY                                    warning
//   F: left in place: WHY        (it cannot be read: warning; being written, empty: info)
//   F: gone: WHY                                                info
//   a failure that belongs to no file, a line of its own        err
//   action ended: P posted, H already on the server, E filed, D deleted
//     unposted, L left in place[; cut short: WHY]
//                 (info; err when cut short; nothing when the Action met no file)
// Warnings and errors that repeat an earlier Action's are held back by the
// ProblemMemory.
class OutcomeRecord {
 public:
  // Where each line goes, with its severity.
  using Sink = std::function<void(int severity, std::string line)>;

  OutcomeRecord(ProblemMemory& problems, Sink sink);
  ~OutcomeRecord();
  OutcomeRecord(const OutcomeRecord&) = delete;
  OutcomeRecord& operator=(const OutcomeRecord&) = delete;

  // Why a file stays in the drop folder: a problem to look into, or a
  // routine wait (another program writes it, it is empty, it just changed).
  enum class Stay { kProblem, kRoutine };

  void Posted(std::string_view file, std::string_view message_id);
  void AlreadyOnServer(std::string_view file, std::string_view message_id);
  void RefusedAndFiled(std::string_view file, std::string_view filed_as, std::string_view reply);
  void FiledUnposted(std::string_view file, std::string_view why);
  void DeletedUnposted(std::string_view file, std::string_view why);
  void LeftInPlace(std::string_view file, std::string_view why, Stay stay = Stay::kRoutine);
  void Gone(std::string_view file, std::string_view why);
  void Failure(std::string_view text);

  // Writes the closing line with the counts; `cut_short` is the failure that
  // ended the Action early, empty when it ran to its end. Call it once.
  void Ended(std::string_view cut_short);

 private:
  void About(int priority, std::string_view file, const std::string& what);
  void Problem(int priority, std::string line);
  void Write(int priority, const std::string& line) const;

  ProblemMemory& problems_;
  Sink sink_;
  int posted_ = 0, held_ = 0, filed_ = 0, deleted_ = 0, left_ = 0, gone_ = 0;
};

}  // namespace quillport

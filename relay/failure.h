// What went wrong with a message file, the folders or the news server: the
// one failure value of the engine. Expected failures travel as values
// (Failure, Status, Result); exceptions are kept for broken invariants.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <variant>

namespace quillport {

struct Failure {
  // How far the failure reaches. kFile: only the message in hand; the Action
  // goes on with the next one. kAction: the server, the session or the log
  // file; the Action ends and every file left waits for the next.
  enum class Reach { kFile, kAction };
  // What became of the message in hand: it stays where it was (the usual
  // case), or it is gone from the drop folder.
  enum class Fate { kLeftInPlace, kGone };

  std::string text;  // as the operator reads it, without a prefix
  Reach reach = Reach::kFile;
  Fate fate = Fate::kLeftInPlace;
  int number = 0;  // the news client's error number, when it has one; else 0

  static Failure OfFile(std::string text, Fate fate = Fate::kLeftInPlace) {
    return {std::move(text), Reach::kFile, fate, 0};
  }
  static Failure OfAction(std::string text, int number = 0) {
    return {std::move(text), Reach::kAction, Fate::kLeftInPlace, number};
  }
  // The text with the error number in brackets, when it has one.
  std::string Described() const { return number == 0 ? text : text + " (" + std::to_string(number) + ")"; }

  friend bool operator==(const Failure&, const Failure&) = default;
};

// Success, or the failure of a step that yields nothing. Reads as
// leveldb's: `if (!status.ok())` is the failed case.
class Status {
 public:
  Status() = default;                                        // success
  Status(Failure failure) : failure_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)
  static Status Ok() { return {}; }

  bool ok() const { return !failure_.has_value(); }

  // Only when !ok(); anything else is a broken invariant.
  const Failure& failure() const {
    if (ok()) throw std::logic_error("no failure");
    return *failure_;
  }
  Failure& failure() {
    if (ok()) throw std::logic_error("no failure");
    return *failure_;
  }

 private:
  std::optional<Failure> failure_;
};

// The value of a step, or its failure.
template <class Value>
class Result {
 public:
  Result(Value value) : held_(std::move(value)) {}        // NOLINT(google-explicit-constructor)
  Result(Failure failure) : held_(std::move(failure)) {}  // NOLINT(google-explicit-constructor)

  bool ok() const { return std::holds_alternative<Value>(held_); }
  explicit operator bool() const { return ok(); }

  // Only when ok(); anything else is a broken invariant.
  Value& value() {
    if (!ok()) throw std::logic_error("no value: " + std::get<Failure>(held_).text);
    return std::get<Value>(held_);
  }
  Value& operator*() { return value(); }
  Value* operator->() { return &value(); }

  // Only when !ok().
  const Failure& failure() const {
    if (ok()) throw std::logic_error("no failure");
    return std::get<Failure>(held_);
  }
  // The failure as a Status: empty when ok().
  Status status() const { return ok() ? Status() : Status(failure()); }

 private:
  std::variant<Value, Failure> held_;
};

}  // namespace quillport

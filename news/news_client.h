// The news client: everything the relay says to the news server goes
// through this interface. NntpClient speaks NNTP over TCP; tests may put a
// scripted stand-in in its place.
//
// One error model: a reply by which the server refuses a step is returned
// as a Refusal value; only a failure of the transport (no connection, a
// timeout, a reply that makes no sense) or a misuse of the client is thrown,
// as NewsError. Either leaves nothing half-done on the server.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/printable_text.h"
#include "news/news_error.h"

namespace quillport {

// How the client reaches the server and talks to it.
struct NewsOptions {
  std::string host;          // host name or address
  std::string port = "119";  // port number, checked when connecting
  std::string user;          // with a password: Connect logs in with AUTHINFO
  std::string password;
  bool reader_mode = true;           // send MODE READER after the greeting
  std::chrono::seconds timeout{30};  // bound on every network wait and reply; at least 1 s
  std::size_t read_size = 1024;      // most bytes ReceivedText returns; at least 1
  bool read_lines = false;           // ReceivedText returns whole lines instead
  bool trace = false;                // copy the dialogue to standard error
};

// The server's refusal of a step: its reply code and status line (which
// starts with the code).
struct Refusal {
  std::int16_t code = 0;
  std::string line;
};

// What the administrator can do about a refusal with this code; empty when
// the server's own words say all there is.
inline std::string_view RefusalAdvice(std::int16_t code) {
  if (code == 440) return "the server does not let this host post; check its access rules (INN: readers.conf)";
  return {};
}

// The texts failures are shown with, control characters escaped. A refusal
// is the server's status line, its code once, with the advice after a
// colon: "440 Posting not allowed: the server does not let ...". A failure
// of the client is "<description> (<number>)".
inline std::string FailureLine(const Refusal& refusal) {
  std::string text = Printable(refusal.line);
  const std::string_view advice = RefusalAdvice(refusal.code);
  if (!advice.empty()) text.append(": ").append(advice);
  return text;
}
inline std::string FailureLine(const NewsError& error) {
  return Printable(error.what()) + " (" + std::to_string(error.number()) + ")";
}

class NewsClient {
 public:
  virtual ~NewsClient() = default;

  // Takes new options, for the next connection. Throws NewsError
  // (kInvalidArgument) for a timeout or read size below its least value.
  virtual void Configure(const NewsOptions& options) = 0;
  virtual const NewsOptions& options() const = 0;

  // Opens the connection: reads the greeting, switches to reader mode and
  // logs in as the options ask. Returns nothing when connected, otherwise
  // the refusal (of the greeting, of reader mode or of the login), with the
  // connection closed. Throws NewsError when the server cannot be reached.
  virtual std::optional<Refusal> Connect() = 0;

  // Says goodbye and closes the connection. Returns nothing when the server
  // acknowledged, otherwise its answer. The connection is closed in every
  // case, also when a NewsError is thrown.
  virtual std::optional<Refusal> Disconnect() = 0;

  // Starts an article. Returns nothing when the server invites it,
  // otherwise its refusal; no article is then under way. Throws NewsError on
  // a network failure.
  virtual std::optional<Refusal> BeginArticle() = 0;

  // Adds one piece to the article; it may be gathered with the next ones
  // before it goes out on the wire. Lines that begin with "." are
  // dot-stuffed, and a CR or LF standing alone is sent as a line end, so no
  // content can end the article early. A piece longer than 32767 characters
  // throws NewsError(kOverflow) before anything of it is sent. Any failure
  // drops the connection, so a partial article is never posted.
  virtual void WriteText(std::string_view text) = 0;

  // Ends the article. Returns nothing exactly when the server accepted it,
  // otherwise its refusal. Throws NewsError on a network failure; the
  // connection is then dropped.
  virtual std::optional<Refusal> EndArticle() = 0;

  // Ends the article under way without completing it on the server: the
  // connection is dropped, so the server discards what it received, and no
  // terminating line is sent. With no article begun it does nothing.
  virtual void AbandonArticle() noexcept = 0;

  // Sends one command line and reads the reply's status line. Returns the
  // refusal when the reply has a 4xx or 5xx code. A text holding CR, LF or
  // NUL throws NewsError(kInvalidArgument) and nothing is sent; a network
  // failure throws too. The rest of a multi-line reply is read with
  // ReceivedText.
  virtual std::optional<Refusal> Command(std::string_view line) = 0;

  // The next piece of the pending reply, at most `read_size` bytes (one
  // line with `read_lines`), as it stands on the wire. Empty when nothing is
  // pending. Throws NewsError on a network failure.
  virtual std::string ReceivedText() = 0;

  // True while a multi-line reply has not been received to its terminating
  // line.
  virtual bool Readable() const = 0;
};

}  // namespace quillport

// The news client: everything the relay says to the news server goes
// through this interface. NntpClient speaks NNTP over TCP; tests may put a
// scripted stand-in in its place.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "news/news_error.h"

namespace quillport {

// Settings, numbered by their dispatch ids.
enum class NewsSetting : int {
  kReaderMode = 3,   // bool, default true: send MODE READER after the greeting
  kServerHost = 8,   // text: host name or address
  kPassword = 12,    // text: AUTHINFO password; with a user name, Connect logs in
  kReadSize = 13,    // 16-bit integer, default 1024: most bytes ReceivedText returns
  kServerPort = 14,  // text: port number
  kTimeout = 17,     // 16-bit integer, seconds, default 30: bound on every network wait and reply
  kUserName = 18,    // text: AUTHINFO user name
  kTrace = 19,       // bool, default false: copy the dialogue to standard error
  kReadLines = 43,   // bool, default false: ReceivedText returns whole lines
};

// A setting's value. The type must match the setting: bool, 16-bit integer
// or text; a mismatch is refused with news_error::kInvalidArgument.
using NewsValue = std::variant<bool, std::int16_t, std::string>;

// Receives every failure the client reports, as it happens: the error number
// and its description.
using NewsErrorHandler = std::function<void(std::int16_t number, const std::string& description)>;

class NewsClient {
 public:
  virtual ~NewsClient() = default;

  // Settings. SetSetting throws NewsError for a value of the wrong type.
  virtual void SetSetting(NewsSetting setting, const NewsValue& value) = 0;
  virtual NewsValue Setting(NewsSetting setting) const = 0;

  // Called with every failure, whether it is returned as a status or thrown.
  virtual void SetErrorHandler(NewsErrorHandler handler) = 0;

  // Opens the connection: reads the greeting, switches to reader mode and
  // logs in as the settings ask. Returns 0 when connected, otherwise a
  // non-zero status (the refusing reply code or an error number). Never
  // throws for a refused or failed connection.
  virtual std::int16_t Connect() = 0;

  // Says goodbye and closes the connection. Returns 0 when the server
  // acknowledged, otherwise a non-zero status. The connection is closed in
  // every case. Never throws.
  virtual std::int16_t Disconnect() = 0;

  // Starts an article. Returns 0 when the server invites it, otherwise the
  // refusing reply code; the article is then refused and EndArticle will
  // return that code. Throws NewsError on a network failure.
  virtual std::int16_t BeginArticle() = 0;

  // Adds one piece to the article; it may be gathered with the next ones
  // before it goes out on the wire. Lines that begin with "." are
  // dot-stuffed, and a CR or LF standing alone is sent as a line end, so no
  // content can end the article early. A piece longer than 32767 characters
  // throws NewsError(kOverflow) before anything of it is sent. Any failure
  // drops the connection, so a partial article is never posted.
  virtual void WriteText(std::string_view text) = 0;

  // Ends the article. Returns 0 exactly when the server accepted it,
  // otherwise a non-zero status (the refusing reply code). Throws NewsError
  // on a network failure; the connection is then dropped.
  virtual std::int16_t EndArticle() = 0;

  // Ends the article under way without completing it on the server: the
  // connection is dropped, so the server discards what it received, and no
  // terminating line is sent. An article the server refused is just
  // forgotten, and the connection stays. With no article begun it does
  // nothing. Never throws, and raises no error event.
  virtual void AbandonArticle() = 0;

  // Sends one command line and reads the reply's status line. A text holding
  // CR, LF or NUL is refused with kInvalidArgument and nothing is sent. A
  // reply with a 4xx or 5xx code throws NewsError under that code; a network
  // failure throws too. The rest of a multi-line reply is read with
  // ReceivedText.
  virtual void CommandText(std::string_view line) = 0;

  // The next piece of the pending reply, at most ReadSize bytes (one line
  // when ReadLines is set), as it stands on the wire. Empty when nothing is
  // pending. Throws NewsError on a network failure.
  virtual std::string ReceivedText() = 0;

  // True while a multi-line reply has not been received to its terminating
  // line.
  virtual bool Readable() const = 0;
};

}  // namespace quillport

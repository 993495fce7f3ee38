#include "news/nntp_client.h"

#include <charconv>
#include <chrono>
#include <iostream>
#include <utility>

#include "common/printable_text.h"
#include "news/timed_connection.h"

namespace quillport {

namespace {

constexpr std::size_t kMaxStatusLine = 64 * 1024;
constexpr std::size_t kMaxBodyLine = 1024 * 1024;
// An article's wire text is gathered and written once it passes this size,
// so a long article costs a few large writes rather than one per line.
constexpr std::size_t kArticleWriteSize = 64 * 1024;

bool HoldsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos;
}

// A refusal as the server gave it.
Refusal Refused(const NntpStatus& status) { return Refusal{static_cast<std::int16_t>(status.code), status.line}; }

// A news server greets with 200 or 201 (ready), 400 (no service for now) or
// 502 (no service for this client). Any other first line comes from some
// other kind of server: a mail or web server on the port, say.
bool IsNewsGreeting(const std::optional<NntpStatus>& status) {
  return status && (status->code == 200 || status->code == 201 || status->code == 400 || status->code == 502);
}

// A line the server sent, as a failure quotes it: its start, without its
// line end, control characters escaped.
std::string Quoted(std::string_view raw) {
  std::string_view shown = raw.substr(0, 200);
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
  return Printable(shown);
}

std::optional<std::uint16_t> ParsePort(std::string_view text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || text.empty() || text.front() == '-' || value < 1 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

NntpClient::NntpClient() : link_(std::make_unique<TimedConnection>()) {}

NntpClient::~NntpClient() = default;

// ---- Failures ---------------------------------------------------------

// Runs one operation of the interface. A failure it raises is passed on; if
// an article was open, or the failure already closed the link, the
// connection is dropped so nothing half-sent can be taken for a finished
// article.
template <typename Operation>
auto NntpClient::Guarded(Operation operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const NewsError& error) {
    if (options_.trace) std::cerr << "NNTP ! " << error.number() << " " << error.what() << "\n";
    if (article_open_ || !link_->is_open()) DropConnection();
    throw;
  }
}

void NntpClient::DropConnection() noexcept {
  if (options_.trace && link_->is_open()) std::cerr << "NNTP * closing the connection to " << link_->peer() << "\n";
  link_->Close();
  article_open_ = false;
  article_wire_.clear();
  body_pending_ = false;
}

void NntpClient::RequireConnection() const {
  if (!link_->is_open()) throw NewsError(news_error::kNotConnected, "Not connected to a news server");
}

// ---- Options ----------------------------------------------------------

void NntpClient::Configure(const NewsOptions& options) {
  if (options.timeout < std::chrono::seconds(1)) {
    throw NewsError(news_error::kInvalidArgument, "The timeout must be at least 1 second");
  }
  if (options.read_size < 1) throw NewsError(news_error::kInvalidArgument, "The read size must be at least 1");
  options_ = options;
}

// ---- The dialogue -----------------------------------------------------

void NntpClient::Trace(char direction, std::string_view bytes) const {
  if (!options_.trace) return;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    std::string_view line = bytes.substr(0, lf);
    bytes.remove_prefix(lf == bytes.npos ? bytes.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::cerr << "NNTP " << direction << " " << line << "\n";
  }
}

void NntpClient::Send(std::string_view wire) { link_->Write(wire, TimedConnection::Clock::now() + options_.timeout); }

void NntpClient::AwaitReply() { reply_deadline_ = TimedConnection::Clock::now() + options_.timeout; }

NntpStatus NntpClient::ReadStatus() {
  const std::string raw = link_->ReadLine(reply_deadline_, kMaxStatusLine);
  Trace('<', raw);
  std::optional<NntpStatus> status = ParseStatusLine(raw);
  if (!status) {
    link_->Close();
    throw NewsError(news_error::kProtocol, "The server's reply makes no sense: \"" + Quoted(raw) + "\"");
  }
  last_reply_ = status->line;
  return *std::move(status);
}

NntpStatus NntpClient::ReadGreeting() {
  const std::string raw = link_->ReadLine(reply_deadline_, kMaxStatusLine);
  Trace('<', raw);
  std::optional<NntpStatus> status = ParseStatusLine(raw);
  if (!IsNewsGreeting(status)) {
    link_->Close();
    throw NewsError(news_error::kProtocol, link_->peer() + " is not a news server (it answered: " + Quoted(raw) + ")");
  }
  last_reply_ = status->line;
  return *std::move(status);
}

// Sends one command line and reads the status line of its reply. `shown`
// replaces the command in the trace (to keep a password out of it).
NntpStatus NntpClient::Exchange(std::string_view command, std::string_view shown) {
  std::string wire(command);
  wire += "\r\n";
  Trace('>', shown.empty() ? command : shown);
  Send(wire);
  AwaitReply();
  return ReadStatus();
}

void NntpClient::SkipPendingBody() {
  while (body_pending_) {
    if (link_->received().empty()) {
      link_->ReadMore(reply_deadline_);
    }
    link_->Take(body_.Take(link_->received(), link_->received().size()));
    body_pending_ = !body_.Complete();
  }
}

// ---- Operations -------------------------------------------------------

std::optional<Refusal> NntpClient::Connect() {
  DropConnection();
  return Guarded([&]() -> std::optional<Refusal> {
    const NewsOptions& o = options_;
    const std::optional<std::uint16_t> port = ParsePort(o.port);
    if (!port) throw NewsError(news_error::kInvalidArgument, "The server port \"" + o.port + "\" is not a port number");
    if (o.host.empty()) throw NewsError(news_error::kInvalidArgument, "No server host is set");
    const bool login = !o.user.empty() && !o.password.empty();
    if (login && (HoldsLineBreakOrNul(o.user) || HoldsLineBreakOrNul(o.password))) {
      throw NewsError(news_error::kInvalidArgument, "The user name or password holds a CR, LF or NUL character");
    }

    if (o.trace) std::cerr << "NNTP * connecting to " << o.host << ":" << *port << "\n";
    link_->Open(o.host, *port, o.timeout);
    AwaitReply();  // the greeting
    std::optional<NntpStatus> refused;
    const NntpStatus greeting = ReadGreeting();
    if (greeting.code != 200 && greeting.code != 201) refused = greeting;
    if (!refused && o.reader_mode) {
      // Nothing may follow MODE READER before its answer has come.
      const NntpStatus reader = Exchange("MODE READER");
      if (reader.code != 200 && reader.code != 201) refused = reader;
    }
    if (!refused && login) {
      NntpStatus reply = Exchange("AUTHINFO USER " + o.user);
      if (reply.code == 381) reply = Exchange("AUTHINFO PASS " + o.password, "AUTHINFO PASS ********");
      if (reply.code != 281) refused = reply;
    }
    if (!refused) return std::nullopt;
    DropConnection();
    return Refused(*refused);
  });
}

std::optional<Refusal> NntpClient::Disconnect() {
  try {
    RequireConnection();
    if (article_open_) {
      throw NewsError(news_error::kInvalidArgument,
                      "Disconnected in the middle of an article: the article was abandoned");
    }
    SkipPendingBody();
    const NntpStatus reply = Exchange("QUIT");
    DropConnection();
    if (reply.code != 205) return Refused(reply);
    return std::nullopt;
  } catch (const NewsError&) {
    DropConnection();
    throw;
  }
}

std::optional<Refusal> NntpClient::BeginArticle() {
  return Guarded([&]() -> std::optional<Refusal> {
    RequireConnection();
    if (article_open_) throw NewsError(news_error::kInvalidArgument, "An article is already under way");
    SkipPendingBody();
    const NntpStatus reply = Exchange("POST");
    if (reply.code != 340) return Refused(reply);
    article_open_ = true;
    encoder_.Reset();
    article_wire_.clear();
    return std::nullopt;
  });
}

void NntpClient::WriteText(std::string_view text) {
  Guarded([&] {
    if (text.size() > kMaxPiece) {
      throw NewsError(news_error::kOverflow, "A piece of " + std::to_string(text.size()) +
                                                 " characters is longer than " + std::to_string(kMaxPiece));
    }
    RequireConnection();
    if (!article_open_) throw NewsError(news_error::kInvalidArgument, "No article has been begun");
    const std::size_t start = article_wire_.size();
    encoder_.Encode(text, article_wire_);
    Trace('>', std::string_view(article_wire_).substr(start));
    if (article_wire_.size() >= kArticleWriteSize) {
      Send(article_wire_);
      article_wire_.clear();
    }
  });
}

std::optional<Refusal> NntpClient::EndArticle() {
  return Guarded([&]() -> std::optional<Refusal> {
    RequireConnection();
    if (!article_open_) throw NewsError(news_error::kInvalidArgument, "No article has been begun");
    const std::size_t start = article_wire_.size();
    encoder_.Finish(article_wire_);
    Trace('>', std::string_view(article_wire_).substr(start));
    Send(article_wire_);  // the rest of the article and its end in one write
    article_wire_.clear();
    AwaitReply();
    const NntpStatus reply = ReadStatus();
    article_open_ = false;
    if (reply.code == 240) return std::nullopt;
    return Refused(reply);
  });
}

void NntpClient::AbandonArticle() noexcept {
  if (article_open_) DropConnection();
}

std::optional<Refusal> NntpClient::Command(std::string_view line) {
  return Guarded([&]() -> std::optional<Refusal> {
    if (HoldsLineBreakOrNul(line)) {
      throw NewsError(news_error::kInvalidArgument, "A command text may not hold a CR, LF or NUL character");
    }
    RequireConnection();
    if (article_open_) throw NewsError(news_error::kInvalidArgument, "An article is under way");
    SkipPendingBody();
    const NntpStatus reply = Exchange(line);
    if (reply.code >= 400) return Refused(reply);
    if (HasBody(line, reply.code)) {
      body_pending_ = true;
      body_.Reset();
    }
    return std::nullopt;
  });
}

std::string NntpClient::ReceivedText() {
  return Guarded([&]() -> std::string {
    RequireConnection();
    if (!body_pending_) return {};
    std::string piece;
    if (options_.read_lines) {
      // The terminating line ends at an LF like any other, so a whole line
      // never reaches past it.
      piece = link_->ReadLine(reply_deadline_, kMaxBodyLine);
      body_.Take(piece, piece.size());
    } else {
      // What has arrived, up to the read size and the end of the reply; a
      // piece is never empty while the reply goes on.
      if (link_->received().empty()) link_->ReadMore(reply_deadline_);
      piece = link_->Take(body_.Take(link_->received(), options_.read_size));
    }
    Trace('<', piece);
    body_pending_ = !body_.Complete();
    return piece;
  });
}

bool NntpClient::Readable() const { return body_pending_; }

}  // namespace quillport

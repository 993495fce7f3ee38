#include "news/nntp_client.h"

#include <charconv>
#include <chrono>
#include <iostream>
#include <utility>

#include "news/timed_connection.h"

namespace quillport {

namespace {

constexpr std::size_t kMaxStatusLine = 64 * 1024;
constexpr std::size_t kMaxBodyLine = 1024 * 1024;
// An article's wire text is gathered and written once it passes this size,
// so a long article costs a few large writes rather than one per line.
constexpr std::size_t kArticleWriteSize = 64 * 1024;

enum class Kind : std::size_t { kBool = 0, kInt16 = 1, kText = 2 };  // NewsValue's alternatives

std::optional<Kind> KindOf(NewsSetting setting) {
  switch (setting) {
    case NewsSetting::kReaderMode:
    case NewsSetting::kTrace:
    case NewsSetting::kReadLines: return Kind::kBool;
    case NewsSetting::kReadSize:
    case NewsSetting::kTimeout: return Kind::kInt16;
    case NewsSetting::kServerHost:
    case NewsSetting::kServerPort:
    case NewsSetting::kUserName:
    case NewsSetting::kPassword: return Kind::kText;
  }
  return std::nullopt;
}

const char* KindName(std::size_t index) {
  switch (static_cast<Kind>(index)) {
    case Kind::kBool: return "a Boolean";
    case Kind::kInt16: return "a 16-bit integer";
    case Kind::kText: return "a text";
  }
  return "unknown";
}

bool HoldsLineBreakOrNul(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != text.npos;
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

// Runs one operation of the interface. A failure it raises is reported to
// the error handler and passed on; if an article was open, or the failure
// already closed the link, the connection is dropped so nothing half-sent
// can be taken for a finished article.
template <typename Operation>
auto NntpClient::Guarded(Operation operation) -> decltype(operation()) {
  try {
    return operation();
  } catch (const NewsError& error) {
    if (article_ == Article::kOpen || !link_->is_open()) DropConnection();
    Notify(error);
    throw;
  }
}

NewsError NntpClient::Refusal(const NntpStatus& status) const { return NewsError(status.code, status.line); }

void NntpClient::Notify(const NewsError& error) const {
  if (trace_) std::cerr << "NNTP ! " << error.number() << " " << error.description() << "\n";
  if (handler_) handler_(error.number(), error.description());
}

void NntpClient::DropConnection() noexcept {
  if (trace_ && link_->is_open()) std::cerr << "NNTP * closing the connection to " << link_->peer() << "\n";
  link_->Close();
  article_ = Article::kNone;
  article_wire_.clear();
  body_pending_ = false;
}

void NntpClient::RequireConnection() const {
  if (!link_->is_open()) throw NewsError(news_error::kNotConnected, "Not connected to a news server");
}

// ---- Settings ---------------------------------------------------------

void NntpClient::SetSetting(NewsSetting setting, const NewsValue& value) {
  const std::optional<Kind> kind = KindOf(setting);
  auto refuse = [this](const std::string& description) {
    NewsError error(news_error::kInvalidArgument, description);
    Notify(error);
    throw error;
  };
  const std::string name = "Setting " + std::to_string(static_cast<int>(setting));
  if (!kind) refuse(name + " does not exist");
  if (value.index() != static_cast<std::size_t>(*kind)) {
    refuse(name + " takes " + KindName(static_cast<std::size_t>(*kind)) + ", not " + KindName(value.index()));
  }
  switch (setting) {
    case NewsSetting::kReaderMode: reader_mode_ = std::get<bool>(value); break;
    case NewsSetting::kTrace: trace_ = std::get<bool>(value); break;
    case NewsSetting::kReadLines: read_lines_ = std::get<bool>(value); break;
    case NewsSetting::kServerHost: host_ = std::get<std::string>(value); break;
    case NewsSetting::kServerPort: port_ = std::get<std::string>(value); break;
    case NewsSetting::kUserName: user_ = std::get<std::string>(value); break;
    case NewsSetting::kPassword: password_ = std::get<std::string>(value); break;
    case NewsSetting::kReadSize:
    case NewsSetting::kTimeout: {
      const std::int16_t number = std::get<std::int16_t>(value);
      if (number < 1) refuse(name + " must be at least 1, not " + std::to_string(number));
      (setting == NewsSetting::kReadSize ? read_size_ : timeout_) = number;
      break;
    }
  }
}

NewsValue NntpClient::Setting(NewsSetting setting) const {
  switch (setting) {
    case NewsSetting::kReaderMode: return reader_mode_;
    case NewsSetting::kTrace: return trace_;
    case NewsSetting::kReadLines: return read_lines_;
    case NewsSetting::kServerHost: return host_;
    case NewsSetting::kServerPort: return port_;
    case NewsSetting::kUserName: return user_;
    case NewsSetting::kPassword: return password_;
    case NewsSetting::kReadSize: return read_size_;
    case NewsSetting::kTimeout: return timeout_;
  }
  NewsError error(news_error::kInvalidArgument,
                  "Setting " + std::to_string(static_cast<int>(setting)) + " does not exist");
  Notify(error);
  throw error;
}

void NntpClient::SetErrorHandler(NewsErrorHandler handler) { handler_ = std::move(handler); }

// ---- The dialogue -----------------------------------------------------

void NntpClient::Trace(char direction, std::string_view bytes) const {
  if (!trace_) return;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    std::string_view line = bytes.substr(0, lf);
    bytes.remove_prefix(lf == bytes.npos ? bytes.size() : lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::cerr << "NNTP " << direction << " " << line << "\n";
  }
}

void NntpClient::Send(std::string_view wire) {
  link_->Write(wire, TimedConnection::Clock::now() + std::chrono::seconds(timeout_));
}

void NntpClient::AwaitReply() { reply_deadline_ = TimedConnection::Clock::now() + std::chrono::seconds(timeout_); }

NntpStatus NntpClient::ReadStatus() {
  const std::string raw = link_->ReadLine(reply_deadline_, kMaxStatusLine);
  Trace('<', raw);
  std::optional<NntpStatus> status = ParseStatusLine(raw);
  if (!status) {
    link_->Close();
    std::string shown = raw.substr(0, 200);
    while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.pop_back();
    throw NewsError(news_error::kProtocol, "The server's reply makes no sense: \"" + shown + "\"");
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

std::int16_t NntpClient::Connect() {
  DropConnection();
  try {
    const std::optional<std::uint16_t> port = ParsePort(port_);
    if (!port) throw NewsError(news_error::kInvalidArgument, "The server port \"" + port_ + "\" is not a port number");
    if (host_.empty()) throw NewsError(news_error::kInvalidArgument, "No server host is set");
    const bool login = !user_.empty() && !password_.empty();
    if (login && (HoldsLineBreakOrNul(user_) || HoldsLineBreakOrNul(password_))) {
      throw NewsError(news_error::kInvalidArgument, "The user name or password holds a CR, LF or NUL character");
    }

    if (trace_) std::cerr << "NNTP * connecting to " << host_ << ":" << *port << "\n";
    link_->Open(host_, *port, std::chrono::seconds(timeout_));
    AwaitReply();  // the greeting
    const NntpStatus greeting = ReadStatus();
    if (greeting.code != 200 && greeting.code != 201) throw Refusal(greeting);

    if (reader_mode_) {
      // Nothing may follow MODE READER before its answer has come.
      const NntpStatus reader = Exchange("MODE READER");
      if (reader.code != 200 && reader.code != 201) throw Refusal(reader);
    }
    if (login) {
      NntpStatus reply = Exchange("AUTHINFO USER " + user_);
      if (reply.code == 381) reply = Exchange("AUTHINFO PASS " + password_, "AUTHINFO PASS ********");
      if (reply.code != 281) throw Refusal(reply);
    }
    return 0;
  } catch (const NewsError& error) {
    DropConnection();
    Notify(error);
    return error.number();
  }
}

std::int16_t NntpClient::Disconnect() {
  try {
    RequireConnection();
    if (article_ == Article::kOpen) {
      throw NewsError(news_error::kInvalidArgument,
                      "Disconnected in the middle of an article: the article was abandoned");
    }
    SkipPendingBody();
    const NntpStatus reply = Exchange("QUIT");
    DropConnection();
    if (reply.code != 205) throw Refusal(reply);
    return 0;
  } catch (const NewsError& error) {
    DropConnection();
    Notify(error);
    return error.number();
  }
}

std::int16_t NntpClient::BeginArticle() {
  return Guarded([&]() -> std::int16_t {
    RequireConnection();
    if (article_ == Article::kOpen) throw NewsError(news_error::kInvalidArgument, "An article is already under way");
    SkipPendingBody();
    const NntpStatus reply = Exchange("POST");
    if (reply.code == 340) {
      article_ = Article::kOpen;
      encoder_.Reset();
      article_wire_.clear();
      return 0;
    }
    article_ = Article::kRefused;
    post_refusal_ = reply;
    Notify(Refusal(reply));
    return reply.code;
  });
}

void NntpClient::WriteText(std::string_view text) {
  Guarded([&] {
    if (text.size() > kMaxPiece) {
      throw NewsError(news_error::kOverflow, "A piece of " + std::to_string(text.size()) +
                                                 " characters is longer than " + std::to_string(kMaxPiece));
    }
    RequireConnection();
    if (article_ == Article::kRefused) return;  // the server refused the article: nothing to send
    if (article_ == Article::kNone) throw NewsError(news_error::kInvalidArgument, "No article has been begun");
    const std::size_t start = article_wire_.size();
    encoder_.Encode(text, article_wire_);
    Trace('>', std::string_view(article_wire_).substr(start));
    if (article_wire_.size() >= kArticleWriteSize) {
      Send(article_wire_);
      article_wire_.clear();
    }
  });
}

std::int16_t NntpClient::EndArticle() {
  return Guarded([&]() -> std::int16_t {
    RequireConnection();
    if (article_ == Article::kRefused) {
      article_ = Article::kNone;
      Notify(Refusal(post_refusal_));
      return post_refusal_.code;
    }
    if (article_ == Article::kNone) throw NewsError(news_error::kInvalidArgument, "No article has been begun");
    const std::size_t start = article_wire_.size();
    encoder_.Finish(article_wire_);
    Trace('>', std::string_view(article_wire_).substr(start));
    Send(article_wire_);  // the rest of the article and its end in one write
    article_wire_.clear();
    AwaitReply();
    const NntpStatus reply = ReadStatus();
    article_ = Article::kNone;
    if (reply.code == 240) return 0;
    Notify(Refusal(reply));
    return reply.code;
  });
}

void NntpClient::AbandonArticle() {
  if (article_ == Article::kNone) return;
  if (article_ == Article::kOpen) DropConnection();
  article_ = Article::kNone;
}

void NntpClient::CommandText(std::string_view line) {
  Guarded([&] {
    if (HoldsLineBreakOrNul(line)) {
      throw NewsError(news_error::kInvalidArgument, "A command text may not hold a CR, LF or NUL character");
    }
    RequireConnection();
    if (article_ == Article::kOpen) throw NewsError(news_error::kInvalidArgument, "An article is under way");
    SkipPendingBody();
    const NntpStatus reply = Exchange(line);
    if (reply.code >= 400) throw Refusal(reply);
    if (HasBody(line, reply.code)) {
      body_pending_ = true;
      body_.Reset();
    }
  });
}

std::string NntpClient::ReceivedText() {
  return Guarded([&]() -> std::string {
    RequireConnection();
    if (!body_pending_) return {};
    std::string piece;
    if (read_lines_) {
      // The terminating line ends at an LF like any other, so a whole line
      // never reaches past it.
      piece = link_->ReadLine(reply_deadline_, kMaxBodyLine);
      body_.Take(piece, piece.size());
    } else {
      // What has arrived, up to ReadSize and the end of the reply; a piece
      // is never empty while the reply goes on.
      if (link_->received().empty()) link_->ReadMore(reply_deadline_);
      piece = link_->Take(body_.Take(link_->received(), static_cast<std::size_t>(read_size_)));
    }
    Trace('<', piece);
    body_pending_ = !body_.Complete();
    return piece;
  });
}

bool NntpClient::Readable() const { return body_pending_; }

}  // namespace quillport

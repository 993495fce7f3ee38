// The news client over NNTP/TCP.
//
// Every call blocks its caller and runs on the caller's thread; every wait
// on the network is bounded by the Timeout setting. The rules the relay can
// count on, beyond those of NewsClient:
//   - Connect closes a connection that is still open, reads the greeting
//     (200 or 201), sends MODE READER when ReaderMode is set and waits for
//     its answer before saying anything more (INN hands the connection to
//     its reader process then and loses whatever came in the same write),
//     and logs in with AUTHINFO USER/PASS when both a user name and a
//     password are set. Any other answer is returned as its refusal, but
//     a greeting that is not a news server's (200, 201, 400 or 502) is a
//     failure: "<host>:<port> is not a news server (it answered: <line>)".
//   - An article's wire text is gathered in the client and written in
//     large blocks: whenever 64 KiB or more have gathered, and the rest
//     together with the terminating line by EndArticle. The terminating
//     line goes out only there, so a connection that breaks off never
//     leaves a finished-looking article. Any failure while an article is
//     open, and AbandonArticle, close the connection and throw away what
//     was not yet written; the server then discards what it received.
//     Commands go out at once, each in one write.
//   - Every reply, status line and body together, must come in full within
//     Timeout seconds of sending its command (or the article's end),
//     however slowly it is read: a server that dribbles out a reply that
//     never ends times out like a silent one.
//   - A multi-line reply left unread is read to its end and discarded before
//     the next command is sent.
//   - A failure of the network (including a timeout) or a reply that makes
//     no sense closes the connection. A refusal by the server does not.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "news/article_encoder.h"
#include "news/news_client.h"
#include "news/nntp_reply.h"

namespace quillport {

class TimedConnection;

class NntpClient : public NewsClient {
 public:
  NntpClient();
  ~NntpClient() override;  // closes the connection quietly, without QUIT
  NntpClient(const NntpClient&) = delete;
  NntpClient& operator=(const NntpClient&) = delete;

  void Configure(const NewsOptions& options) override;
  const NewsOptions& options() const override { return options_; }

  std::optional<Refusal> Connect() override;
  std::optional<Refusal> Disconnect() override;
  std::optional<Refusal> BeginArticle() override;
  void WriteText(std::string_view text) override;
  std::optional<Refusal> EndArticle() override;
  void AbandonArticle() noexcept override;
  std::optional<Refusal> Command(std::string_view line) override;
  std::string ReceivedText() override;
  bool Readable() const override;

  // The status line of the server's last reply, without its line end.
  const std::string& LastReply() const { return last_reply_; }

  // The longest piece WriteText takes: the most a 16-bit length can count.
  static constexpr std::size_t kMaxPiece = 32767;

 private:
  template <typename Operation>
  auto Guarded(Operation operation) -> decltype(operation());
  void DropConnection() noexcept;
  void RequireConnection() const;

  void Send(std::string_view wire);
  void AwaitReply();
  NntpStatus ReadStatus();
  NntpStatus ReadGreeting();  // a first line no news server gives is a failure
  NntpStatus Exchange(std::string_view command, std::string_view shown = {});
  void SkipPendingBody();
  void Trace(char direction, std::string_view bytes) const;

  NewsOptions options_;
  std::unique_ptr<TimedConnection> link_;
  bool article_open_ = false;  // POST accepted; the article is going out on the wire
  ArticleEncoder encoder_;
  std::string article_wire_;   // the open article's wire text not yet written
  bool body_pending_ = false;  // a multi-line reply is not read to its end
  // When the reply awaited now must have come in full: its status line and
  // any body. Fixed once its command (or the article's end) has been sent.
  std::chrono::steady_clock::time_point reply_deadline_;
  ReplyBodyTracker body_;
  std::string last_reply_;
};

}  // namespace quillport

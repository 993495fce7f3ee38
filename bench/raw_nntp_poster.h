// The least a client can do to post articles: one plain blocking TCP
// connection and nothing but the NNTP the posting needs. The benchmark
// measures the relay engine against it.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace quillport::bench {

class RawNntpPoster {
 public:
  // Connects to `address`:`port` (a dotted IPv4 address), reads the
  // greeting, sends MODE READER and waits for its reply before anything
  // else (a server may drop what comes in the same write). Every read and
  // write gives up after `timeout`. Throws std::runtime_error on any
  // failure or on a greeting or reply other than 200/201.
  RawNntpPoster(const std::string& address, int port, std::chrono::seconds timeout);
  ~RawNntpPoster();  // sends QUIT when still connected, then closes
  RawNntpPoster(const RawNntpPoster&) = delete;
  RawNntpPoster& operator=(const RawNntpPoster&) = delete;

  // POST; on 340, one write of `article` (CR LF lines) dot-stuffed and
  // followed by the terminating line. Returns the final reply code: 240
  // when taken, otherwise the refusal of POST or of the article. Throws
  // std::runtime_error on a network failure.
  int Post(std::string_view article);

  // Like Post for an article too large to hold: sends `header` and then
  // every chunk `body` passes to its sink, dot-stuffed, as it comes. Each
  // piece must start at the start of a line.
  using BodySource = std::function<void(const std::function<void(std::string_view)>& sink)>;
  int PostStreamed(std::string_view header, const BodySource& body);

  // The last reply's status line, without its CR LF.
  const std::string& last_reply() const { return last_reply_; }

 private:
  void SendAll(std::string_view bytes);
  int ReadReply();
  int Command(std::string_view line);

  int fd_ = -1;
  std::string input_;  // received bytes not yet consumed
  std::string wire_;   // reused output buffer
  std::string last_reply_;
};

// Appends `text` to `wire`, doubling the dot of every line that starts with
// one. `at_line_start` says whether `text` begins a line, and is left saying
// whether the next text will.
void AppendDotStuffed(std::string& wire, std::string_view text, bool& at_line_start);

}  // namespace quillport::bench

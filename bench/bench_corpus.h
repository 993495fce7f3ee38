// The messages the benchmark posts: small messages shaped like the mail the
// relay carries, and one large message whose body is produced in chunks so
// that neither writing it nor streaming it ever holds it in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace quillport::bench {

// One small message in its two forms: the .cnm file as the mail program
// drops it (transport headers Received (folded), Return-path, Date, To and
// CC first), and the article the relay makes of it, byte for byte what it
// hands to the news client (those headers gone). Lines end with CR LF.
struct SmallMessage {
  std::string file;
  std::string article;
};

// Message number `index` for `group`, Message-ID "<tag-index@quillport.bench>",
// with about 2 KB of body, one line of which starts with a dot.
SmallMessage MakeSmallMessage(std::string_view tag, int index, std::string_view group);

// A large message: a short header and a body of whole lines of 76
// characters plus CR LF, none starting with a dot.
class LargeMessage {
 public:
  // A body of `body_bytes` rounded down to whole lines (at least one line).
  LargeMessage(std::string_view message_id, std::string_view group, std::uint64_t body_bytes);

  // The transport headers the relay drops; they open the .cnm file.
  const std::string& transport_header() const { return transport_; }
  // The header the article keeps, ended by its empty line.
  const std::string& article_header() const { return header_; }
  std::uint64_t body_bytes() const { return body_lines_ * kLineBytes; }
  // Bytes of the article the relay posts: kept header and body.
  std::uint64_t article_bytes() const { return header_.size() + body_bytes(); }

  // Calls `sink` with the body in consecutive chunks of whole lines, about
  // 1 MiB each; a chunk's text lives until the next call only.
  void ForEachBodyChunk(const std::function<void(std::string_view)>& sink) const;

  static constexpr std::uint64_t kLineBytes = 78;

 private:
  std::string transport_;
  std::string header_;
  std::uint64_t body_lines_;
  std::string chunk_;  // the lines every full chunk repeats
};

}  // namespace quillport::bench

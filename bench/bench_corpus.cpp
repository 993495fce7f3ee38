#include "bench/bench_corpus.h"

#include <algorithm>
#include <cstdio>

namespace quillport::bench {
namespace {

std::string TransportHeader() {
  return "Received: from mail.example.org by relay.example.org\r\n"
         "\twith ESMTP id 4711; Sun, 6 Dec 2026 09:00:00 +0000\r\n"
         "Return-path: <sender@example.org>\r\n"
         "Date: Sun, 6 Dec 2026 09:00:00 +0000\r\n"
         "To: list@example.org\r\n"
         "CC: archive@example.org\r\n";
}

std::string KeptHeader(std::string_view subject, std::string_view group, std::string_view message_id) {
  std::string header = "From: Bench Sender <sender@example.org>\r\n";
  header += "Subject: ";
  header += subject;
  header += "\r\nNewsgroups: ";
  header += group;
  header += "\r\nMessage-ID: ";
  header += message_id;
  header += "\r\n\r\n";
  return header;
}

// A line of exactly `width` characters: `lead`, then filler text.
std::string FilledLine(const std::string& lead, std::size_t width) {
  static constexpr std::string_view kFiller =
      " the relay carries this line unchanged to the news server and back again";
  std::string line = lead;
  while (line.size() < width) line += kFiller.substr(0, std::min(kFiller.size(), width - line.size()));
  return line;
}

constexpr int kSmallBodyLines = 27;  // 27 lines of 74 bytes: 1998 bytes
constexpr std::size_t kSmallLineWidth = 72;
constexpr std::uint64_t kChunkLines = 13443;  // 13443 * 78 bytes: just under 1 MiB

}  // namespace

SmallMessage MakeSmallMessage(std::string_view tag, int index, std::string_view group) {
  char number[16];
  std::snprintf(number, sizeof number, "%06d", index);
  const std::string id = std::string("<").append(tag) + "-" + number + "@quillport.bench>";
  std::string body;
  for (int line = 1; line <= kSmallBodyLines; ++line) {
    char lead[48];
    std::snprintf(lead, sizeof lead, "%sLine %02d of message %s:", line == 14 ? "." : "", line, number);
    body += FilledLine(lead, kSmallLineWidth) + "\r\n";
  }
  SmallMessage message;
  message.article = KeptHeader("bench " + std::string(tag) + " " + number, group, id) + body;
  message.file = TransportHeader() + message.article;
  return message;
}

LargeMessage::LargeMessage(std::string_view message_id, std::string_view group, std::uint64_t body_bytes)
    : transport_(TransportHeader()),
      header_(KeptHeader("bench large message", group, message_id)),
      body_lines_(std::max<std::uint64_t>(1, body_bytes / kLineBytes)) {
  for (std::uint64_t line = 0; line < kChunkLines; ++line) {
    char lead[32];
    std::snprintf(lead, sizeof lead, "L%05llu", static_cast<unsigned long long>(line));
    chunk_ += FilledLine(lead, kLineBytes - 2) + "\r\n";
  }
}

void LargeMessage::ForEachBodyChunk(const std::function<void(std::string_view)>& sink) const {
  for (std::uint64_t left = body_lines_; left > 0;) {
    const std::uint64_t lines = std::min(left, kChunkLines);
    sink(std::string_view(chunk_).substr(0, lines * kLineBytes));
    left -= lines;
  }
}

}  // namespace quillport::bench

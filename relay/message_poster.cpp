#include "relay/message_poster.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <string_view>

#include "board/board_fields.h"
#include "relay/error_filing.h"
#include "relay/message_file.h"

namespace quillport {
namespace {

bool StartsWith(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(line[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

bool ContainsNoSpam(std::string_view line) {
  static constexpr std::string_view kMarker = "_nospam";
  for (std::size_t i = 0; i + kMarker.size() <= line.size(); ++i) {
    if (StartsWith(line.substr(i), kMarker)) return true;
  }
  return false;
}

void ReplaceAll(std::string& text, char from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  text = std::move(out);
}

// The longest piece the news client takes.
constexpr std::size_t kMaxPiece = 32767;

// Transport headers that never reach the article.
constexpr std::array<std::string_view, 6> kDroppedHeaders = {
    "Received: ", "Return-path: ", "X-Envelope-To: ", "Date: ", "To: ", "CC: "};

// What the header filter keeps of a message.
struct Header {
  std::string block;  // kept lines, each followed by CR LF
  bool has_newsgroups = false;
  std::string message_id;
};

// Reads the header up to and including its empty line. Returns false when
// the file ends first.
bool ReadHeader(MessageFile& file, Header& header) {
  bool skipping = false;
  bool guard = false;
  std::string line = "-";
  while (!line.empty()) {
    if (file.AtEnd()) return false;
    line = file.ReadLine();

    const auto dropped = std::find_if(kDroppedHeaders.begin(), kDroppedHeaders.end(),
                                      [&](std::string_view p) { return StartsWith(line, p); });
    if (dropped != kDroppedHeaders.end()) {
      skipping = true;
      if (*dropped == "X-Envelope-To: ") guard = ContainsNoSpam(line);
      continue;
    }
    if (skipping && !line.empty() && (line[0] == ' ' || line[0] == '\t')) continue;

    skipping = false;
    if (guard && StartsWith(line, "From: ")) {
      ReplaceAll(line, '.', " DOT ");
      ReplaceAll(line, '@', " AT ");
    }
    if (StartsWith(line, "Newsgroups: ")) header.has_newsgroups = true;
    if (StartsWith(line, "Message-ID: ")) header.message_id = line.substr(12);
    header.block += line;
    header.block += "\r\n";
  }
  return true;
}

void DeleteFile(const std::string& path) {
  std::filesystem::remove(path);  // throws when the file cannot be deleted
}

std::string FileName(const std::string& path, const RelaySettings& settings) {
  return path.substr(std::min(path.size(), settings.drop_folder.size() + 1));
}

void FileInErrorFolder(const std::string& path, PostingContext& context) {
  MySafeRename(context.settings.drop_folder, context.settings.error_folder,
               FileName(path, context.settings), context.names);
}

// Posts the header block and the body; returns the server's verdict.
std::int16_t PostArticle(MessageFile& file, const Header& header, NewsClient& client) {
  client.BeginArticle();
  client.WriteText(header.block);
  while (!file.AtEnd()) {
    client.WriteText(file.ReadLine() + "\r\n");
  }
  file.Close();
  return client.EndArticle();
}

// A message that can never be posted: filed in the error folder so it does
// not stop every later Action at the same point, then reported.
[[noreturn]] void RejectOverlong(MessageFile& file, const std::string& path,
                                 PostingContext& context) {
  file.Close();
  FileInErrorFolder(path, context);
  const bool filed = !std::filesystem::exists(path);
  throw NewsError(news_error::kOverflow,
                  path + " holds a header or a line longer than 32767 characters and cannot be "
                         "posted; " +
                      (filed ? "it was filed in the error folder"
                             : "it could not be filed and stays in the drop folder"));
}

}  // namespace

void TrtMsg(const std::string& path, PostingContext& context) {
  std::int16_t status = 0;
  Header header;
  {
    MessageFile file(path);
    if (!ReadHeader(file, header) || !header.has_newsgroups) {
      file.Close();
      DeleteFile(path);
      return;
    }
    // Nothing of an article whose header cannot be sent goes to the server.
    if (header.block.size() > kMaxPiece) RejectOverlong(file, path, context);
    try {
      status = PostArticle(file, header, context.client);
    } catch (const NewsError& error) {
      // The client dropped the connection on the overlong line, so the part
      // already sent is never posted.
      if (error.number() != news_error::kOverflow) throw;
      RejectOverlong(file, path, context);
    }
  }

  if (status == 0) {
    context.board.SetVisible(field::kStatusE, false);
    DeleteFile(path);
    return;
  }
  context.board.SetVisible(field::kStatusE, true);
  if (ArticleExists(context.client, header.message_id, context.yield)) {
    DeleteFile(path);
  } else {
    FileInErrorFolder(path, context);
  }
}

}  // namespace quillport

#include "relay/message_poster.h"

#include <algorithm>
#include <array>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "common/header_field.h"
#include "common/ignoring_case.h"
#include "news/news_error.h"
#include "relay/derived_message_id.h"
#include "relay/error_filing.h"
#include "relay/message_file.h"
#include "relay/presence_check.h"

namespace quillport {
namespace {

bool ContainsNoSpam(std::string_view line) {
  static constexpr std::string_view kMarker = "_nospam";
  for (std::size_t i = 0; i + kMarker.size() <= line.size(); ++i) {
    if (StartsWithIgnoringCase(line.substr(i), kMarker)) return true;
  }
  return false;
}

// The reply to an article that refuses that very article ("441 posting
// failed"); every other refusal is about the server or the session.
constexpr std::int16_t kArticleRefused = 441;

std::string ReplaceAll(std::string_view text, char from, std::string_view to) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == from) {
      out += to;
    } else {
      out += c;
    }
  }
  return out;
}

// The longest piece the news client takes.
constexpr std::size_t kMaxPiece = 32767;
// The empty line that ends the header on the wire.
constexpr std::string_view kEndOfHeader = "\r\n";

// Transport headers that never reach the article, by field name.
constexpr std::array<std::string_view, 6> kDroppedHeaders = {"Received", "Return-path", "X-Envelope-To",
                                                             "Date",     "To",          "CC"};

// What the header filter keeps of a message, and where it stands.
struct Header {
  std::string block;  // kept lines, each followed by CR LF; no empty line yet
  bool has_newsgroups = false;
  int message_ids = 0;     // how many Message-ID fields it has
  std::string message_id;  // the first one's value
  bool skipping = false;   // the last line belonged to a dropped header
  bool envelope = false;   // the dropped header is X-Envelope-To
  bool guard = false;      // From addresses are to be disguised
  // A Message-ID field being read: its lines so far, unfolded (joined
  // without their line ends), for its value may start on a continuation
  // line. Empty when none is.
  std::string id_field;
};

std::string_view TrimBlanks(std::string_view text) {
  const auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
  while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
  return text;
}

bool IsContinuation(std::string_view line) { return line[0] == ' ' || line[0] == '\t'; }

// The Message-ID field read so far is complete. One whose value is empty
// or blank names nothing: it is left out, and the message counts as one
// without an id. Any other is kept unfolded, on one line, as news servers
// take it.
void EndMessageIdField(Header& header) {
  if (header.id_field.empty()) return;
  const std::string_view id = TrimBlanks(HeaderFieldValue(header.id_field, "Message-ID").value_or(""));
  if (!id.empty()) {
    if (++header.message_ids == 1) header.message_id = id;
    header.block += header.id_field;
    header.block += "\r\n";
  }
  header.id_field.clear();
}

// The length of the kept header so far with the empty line that will end it.
std::size_t KeptLength(const Header& header) {
  const std::size_t held = header.id_field.empty() ? 0 : header.id_field.size() + kEndOfHeader.size();
  return header.block.size() + held + kEndOfHeader.size();
}

// Judges one header line (never empty): drops it, or keeps it in the block.
// A continuation line belongs to the field before it: dropped with a
// dropped one, joined to a Message-ID, kept after any other.
void FilterLine(std::string_view line, Header& header) {
  if (IsContinuation(line)) {
    if (header.skipping) {
      if (header.envelope && ContainsNoSpam(line)) header.guard = true;
      return;
    }
    if (!header.id_field.empty()) {
      header.id_field += line;
      return;
    }
  }
  EndMessageIdField(header);
  if (IsContinuation(line)) {
    header.block += line;
    header.block += "\r\n";
    return;
  }
  const auto dropped = std::find_if(kDroppedHeaders.begin(), kDroppedHeaders.end(),
                                    [&](std::string_view name) { return IsHeaderField(line, name); });
  header.skipping = dropped != kDroppedHeaders.end();
  if (header.skipping) {
    header.envelope = *dropped == "X-Envelope-To";
    if (header.envelope) header.guard = ContainsNoSpam(line);
    return;
  }
  std::string kept(line);
  if (header.guard && IsHeaderField(kept, "From")) {
    kept = ReplaceAll(ReplaceAll(kept, '.', " DOT "), '@', " AT ");
  }
  if (IsHeaderField(kept, "Newsgroups")) header.has_newsgroups = true;
  if (IsHeaderField(kept, "Message-ID")) {
    header.id_field = std::move(kept);
    return;
  }
  header.block += kept;
  header.block += "\r\n";
}

enum class HeaderEnd { kComplete, kFileEnded, kTooLong };

// Reads the header up to and including its empty line, which is not added
// to the block. Stops as soon as a line, or the kept block with the empty
// line after it, is longer than can ever be posted, so a huge header or
// line is never read to its end nor held in memory.
Result<HeaderEnd> ReadHeader(MessageFile& reader, Header& header) {
  std::string line;
  for (;;) {
    Result<MessageFile::Line> read = reader.ReadLine(line);
    if (!read) return read.failure();
    if (*read == MessageFile::Line::kNone) {
      EndMessageIdField(header);  // for the report
      return HeaderEnd::kFileEnded;
    }
    if (*read == MessageFile::Line::kTooLong) return HeaderEnd::kTooLong;
    if (line.empty()) {
      header.skipping = false;
      EndMessageIdField(header);
      return HeaderEnd::kComplete;
    }
    FilterLine(line, header);
    if (KeptLength(header) > kMaxPiece) return HeaderEnd::kTooLong;
  }
}

Filing FileInErrorFolder(QueuedFile& file, PostingContext& context) {
  file.Close();
  return MoveUnderFreeName(context.files, file.message(), context.settings.error_folder, context.names);
}

void AbandonArticle(PostingContext& context) {
  context.client.AbandonArticle();
  context.connection_dropped = true;
}

constexpr std::string_view kOverlong = "holds a header or a line longer than 32767 characters";

// A message that can never be posted (`why` says what is wrong with it):
// filed in the error folder so it does not come back at every Action. Fails
// when it cannot be filed.
Result<MessageOutcome> FileUnpostable(QueuedFile& file, PostingContext& context, const std::string& message_id,
                                      std::string_view why) {
  const Filing filing = FileInErrorFolder(file, context);
  const std::string what = file.path() + " " + std::string(why) + " and cannot be posted; ";
  if (!filing.filed()) {
    return Failure::OfFile(what + "it could not be filed (" + filing.problem + ") and stays in the drop folder");
  }
  return MessageOutcome{MessageOutcome::Disposal::kFiledUnposted, message_id, what + "it was filed as " + filing.target,
                        filing.target};
}

// Deletes a message the server holds now. When that fails the failure says
// so: the file stays, but it must not read as a message never posted.
Status RemoveDelivered(const QueuedFile& file, const std::string& message_id) {
  Status removed = file.Remove();
  if (!removed.ok()) {
    removed.failure().text = "the server holds it" + (message_id.empty() ? std::string() : " as " + message_id) +
                             ", but " + removed.failure().text;
  }
  return removed;
}

Failure ChangedWhileRead(const QueuedFile& file, std::string_view what_then) {
  return Failure::OfFile(file.path() + " changed while it was read; " + std::string(what_then));
}

// How sending an article ended.
struct Sent {
  std::optional<Refusal> refusal;  // the server's, when it refused the article
  bool overlong = false;           // a line too long met: the article was abandoned
};

// Sends the body line by line; true when a line too long was met.
Result<bool> SendBody(MessageFile& reader, NewsClient& client) {
  std::string line;
  for (;;) {
    Result<MessageFile::Line> read = reader.ReadLine(line);
    if (!read) return read.failure();
    if (*read == MessageFile::Line::kNone) return false;
    if (*read == MessageFile::Line::kTooLong || line.size() + 2 > kMaxPiece) return true;
    line += "\r\n";
    client.WriteText(line);
  }
}

// Posts the header block and the body. The article is completed only when
// the file is exactly what was opened, and abandoned at a line too long or a
// failure of the file.
Result<Sent> PostArticle(MessageFile& reader, QueuedFile& file, const Header& header, PostingContext& context) {
  NewsClient& client = context.client;
  if (std::optional<Refusal> refusal = client.BeginArticle()) return Sent{std::move(refusal)};
  client.WriteText(header.block);
  Result<bool> overlong = SendBody(reader, client);
  if (overlong && !*overlong && (file.ChangedSinceOpened() || reader.bytes_read() != file.size())) {
    overlong = ChangedWhileRead(file, "the article was abandoned and the file stays for a later Action");
  }
  if (!overlong || *overlong) AbandonArticle(context);
  if (!overlong) return overlong.failure();
  if (*overlong) return Sent{std::nullopt, true};
  file.Close();
  return Sent{client.EndArticle()};
}

// Reads the header and makes it ready to post: the kept block gets the
// derived Message-ID when it has none, and its empty line. Returns the
// disposal when the message is not to be posted at all.
Result<std::optional<MessageOutcome>> PrepareHeader(MessageFile& reader, QueuedFile& file, Header& header,
                                                    PostingContext& context) {
  using Disposal = MessageOutcome::Disposal;
  using Prepared = Result<std::optional<MessageOutcome>>;
  const auto unpostable = [&](const std::string& message_id, std::string_view why) -> Prepared {
    Result<MessageOutcome> filed = FileUnpostable(file, context, message_id, why);
    if (!filed) return filed.failure();
    return std::optional<MessageOutcome>(*std::move(filed));
  };
  Result<HeaderEnd> read = ReadHeader(reader, header);
  if (!read) return read.failure();
  const HeaderEnd end = *read;
  if (end == HeaderEnd::kTooLong) return unpostable(header.message_id, kOverlong);
  if (end == HeaderEnd::kFileEnded || !header.has_newsgroups) {
    if (file.ChangedSinceOpened()) return ChangedWhileRead(file, "it stays for a later Action");
    file.Close();
    if (Status removed = file.Remove(); !removed.ok()) return removed.failure();
    return std::optional<MessageOutcome>(
        MessageOutcome{Disposal::kDeletedUnposted,
                       header.message_id,
                       end == HeaderEnd::kFileEnded ? "the header never ends" : "no Newsgroups header",
                       {}});
  }
  // Which of two ids the server would take, and which one a presence check
  // should ask for, cannot be told: such a message is malformed.
  if (header.message_ids > 1) {
    return unpostable(header.message_id, "holds " + std::to_string(header.message_ids) + " Message-ID headers");
  }
  if (header.message_ids == 0) {
    Result<std::optional<std::string>> derived = DerivedMessageId(context.files, file, kMaxPiece - kEndOfHeader.size());
    if (!derived) return derived.failure();
    if (!*derived) return unpostable({}, kOverlong);
    header.message_id = **std::move(derived);
    header.block += "Message-ID: " + header.message_id + "\r\n";
  }
  header.block += kEndOfHeader;
  if (header.block.size() > kMaxPiece) return unpostable(header.message_id, kOverlong);
  return std::optional<MessageOutcome>();
}

// PostMessageFile, but for the news client's failures, which it throws.
Result<MessageOutcome> Post(QueuedFile& file, PostingContext& context) {
  using Disposal = MessageOutcome::Disposal;
  std::optional<Refusal> refused;
  Header header;
  {
    MessageFile reader(context.files, file.descriptor(), file.path());
    Result<std::optional<MessageOutcome>> prepared = PrepareHeader(reader, file, header, context);
    if (!prepared) return prepared.failure();
    if (*prepared) return **std::move(prepared);
    if (Status removable = file.RequireRemovable(); !removable.ok()) return removable.failure();
    Result<Sent> sent = PostArticle(reader, file, header, context);
    if (!sent) return sent.failure();
    if (sent->overlong) return FileUnpostable(file, context, header.message_id, kOverlong);
    refused = std::move(sent->refusal);
  }

  if (!refused) {
    if (Status removed = RemoveDelivered(file, header.message_id); !removed.ok()) return removed.failure();
    return MessageOutcome{Disposal::kPosted, header.message_id, {}, {}};
  }
  const std::string refusal = FailureLine(*refused);
  // Any other answer concerns the service or the session (authentication,
  // service unavailable, posting not allowed ...): it would refuse every
  // message alike, so none is filed and the Action ends.
  if (refused->code != kArticleRefused) {
    return Failure::OfAction("the server answered " + refusal + "; the answer is not about " + file.path() +
                             ", which stays for the next Action");
  }
  if (ArticleExists(context.client, header.message_id)) {
    if (Status removed = RemoveDelivered(file, header.message_id); !removed.ok()) return removed.failure();
    return MessageOutcome{Disposal::kHeld, header.message_id, refusal, {}};
  }
  const Filing filing = FileInErrorFolder(file, context);
  if (!filing.filed()) {
    return Failure::OfFile(file.path() + " was refused by the server (" + refusal +
                           ") and could not be filed: " + filing.problem + "; it stays in the drop folder");
  }
  return MessageOutcome{Disposal::kFiled, header.message_id, refusal, filing.target};
}

}  // namespace

Result<MessageOutcome> PostMessageFile(QueuedFile& file, PostingContext& context) {
  try {
    return Post(file, context);
  } catch (const NewsError& failure) {
    return Failure::OfAction(failure.what(), failure.number());
  } catch (const std::logic_error&) {
    throw;  // a broken invariant, not a failure of the client
  } catch (const std::exception& failure) {
    return Failure::OfAction(failure.what());
  }
}

}  // namespace quillport

// Fuzzes quillport-deliver's converter; the first byte picks the piece size and whether -n names groups.
// Fed whole or in pieces, the outcome is the same, the added Message-ID included; a message taken has CR LF
// line ends only, ends with one, and has a header that ends, names its newsgroups and has a Message-ID, none
// of them blank; a message refused is refused as unpostable (65).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/header_field.h"
#include "deliver/delivery_failure.h"
#include "deliver/message_converter.h"

namespace quillport {
namespace {

[[noreturn]] void Broken(const char* what, std::string_view text) {
  std::fprintf(stderr, "invariant broken: %s\n--- output ---\n%.*s\n", what, static_cast<int>(text.size()),
               text.data());
  std::abort();
}

// The converted message with its added Message-ID written over the placeholder, or "refused".
std::string Convert(std::string_view input, const std::string& groups, std::size_t piece) {
  MessageConverter converter(groups);
  std::string out;
  try {
    for (std::size_t at = 0; at < input.size(); at += piece) converter.Feed(input.substr(at, piece), out);
    converter.Finish(out);
  } catch (const DeliveryFailure& failure) {
    if (failure.status() != EX_DATAERR) Broken("refused with a status other than 65", failure.what());
    return "refused";
  }
  if (const auto& id = converter.added_message_id()) {
    const std::string placeholder = "Message-ID: <qpd." + std::string(32, '0') + "@quillport.invalid>\r\n";
    if (out.compare(id->offset, placeholder.size(), placeholder) != 0 || id->line.size() != placeholder.size()) {
      Broken("no placeholder where the id goes", out);
    }
    out.replace(id->offset, id->line.size(), id->line);
  }
  return out;
}

void CheckMessage(std::string_view out) {
  if (!out.ends_with("\r\n")) Broken("does not end with CR LF", out);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const bool lone_lf = i == 0 && out[0] == '\n';
    if ((out[i] == '\r') != (i + 1 < out.size() && out[i + 1] == '\n') || lone_lf) Broken("a lone CR or LF", out);
  }
  bool newsgroups = false, message_id = false;
  for (std::size_t start = 0, end; (end = out.find("\r\n", start)) != start; start = end + 2) {
    if (end == std::string_view::npos) Broken("the header never ends", out);
    const std::string_view line = out.substr(start, end - start);
    newsgroups = newsgroups || IsHeaderField(line, "Newsgroups");
    if (const auto id = HeaderFieldValue(line, "Message-ID")) {
      if (id->empty()) Broken("a blank Message-ID", out);
      message_id = true;
    }
  }
  if (!newsgroups) Broken("no Newsgroups header", out);
  if (!message_id) Broken("no Message-ID", out);
}

}  // namespace
}  // namespace quillport

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string groups = (data[0] & 0x80) != 0 ? "local.test" : "";
  const std::size_t piece = 1 + (data[0] & 0x3f);
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string whole = quillport::Convert(input, groups, input.size() + 1);
  if (quillport::Convert(input, groups, piece) != whole) quillport::Broken("pieces change the outcome", whole);
  if (whole != "refused") quillport::CheckMessage(whole);
  return 0;
}

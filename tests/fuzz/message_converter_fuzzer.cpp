// Fuzzes quillport-deliver's converter. The first byte picks the size of the pieces the input is
// fed in and whether -n names groups; the rest is the message. On every input: fed whole or in
// pieces, the outcome is the same; a message it takes has only CR LF line ends, ends with one,
// and has a header that ends and names its newsgroups (so the relay never deletes it unposted
// for its form); a message it refuses is refused as unpostable (65).
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

// The converted message, or "refused <status>".
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
  return out;
}

void CheckMessage(std::string_view out) {
  if (out.size() < 2 || !out.ends_with("\r\n")) Broken("does not end with CR LF", out);
  for (std::size_t i = 0; i < out.size(); ++i) {
    if ((out[i] == '\r' && (i + 1 == out.size() || out[i + 1] != '\n')) ||
        (out[i] == '\n' && (i == 0 || out[i - 1] != '\r'))) {
      Broken("a lone CR or LF", out);
    }
  }
  bool newsgroups = false;
  for (std::size_t start = 0;;) {
    const std::size_t end = out.find("\r\n", start);
    if (end == std::string_view::npos) Broken("the header never ends", out);
    const std::string_view line = out.substr(start, end - start);
    if (line.empty()) break;
    newsgroups = newsgroups || IsHeaderField(line, "Newsgroups");
    start = end + 2;
  }
  if (!newsgroups) Broken("no Newsgroups header", out);
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

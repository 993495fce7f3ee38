// The article encoder: dot-stuffing and line ends, wherever the pieces are cut.
#include "news/article_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillport {
namespace {

using namespace std::string_literals;

// The whole wire text for `pieces`, appended after `before`.
std::string Encoded(const std::vector<std::string>& pieces, std::string before = "") {
  ArticleEncoder encoder;
  for (const std::string& piece : pieces) encoder.Encode(piece, before);
  encoder.Finish(before);
  return before;
}

TEST(ArticleEncoder, StuffsDotsAndEndsLinesWithCrLfWhereverThePiecesAreCut) {
  for (const auto& [text, wire] : std::initializer_list<std::pair<std::string, std::string>>{
           {"", ".\r\n"},
           {"plain", "plain\r\n.\r\n"},
           {"a\r\nb\r\n", "a\r\nb\r\n.\r\n"},
           {".dot\r\n..two\r\nmid.dot\r\n.", "..dot\r\n...two\r\nmid.dot\r\n..\r\n.\r\n"},
           {"lone LF\nlone CR\rboth\r\n\n\r\r\n.", "lone LF\r\nlone CR\r\nboth\r\n\r\n\r\n\r\n..\r\n.\r\n"},
           {"\r\n.\r\nQUIT\r\n", "\r\n..\r\nQUIT\r\n.\r\n"},
           {"nul\0inside\n"s, "nul\0inside\r\n.\r\n"s}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(Encoded({text}), wire);
    EXPECT_EQ(Encoded({text}, "kept"), "kept" + wire);
    std::vector<std::string> characters;
    for (char c : text) characters.emplace_back(1, c);
    EXPECT_EQ(Encoded(characters), wire);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      EXPECT_EQ(Encoded({text.substr(0, cut), "", text.substr(cut)}), wire) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace quillport

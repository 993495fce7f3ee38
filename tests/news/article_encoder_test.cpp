#include "news/article_encoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quillport {
namespace {

std::string Wire(const std::vector<std::string>& pieces) {
  ArticleEncoder encoder;
  std::string wire;
  for (const std::string& piece : pieces) wire += encoder.Encode(piece);
  return wire + encoder.Finish();
}

TEST(ArticleEncoder, StuffsDotsAndSendsEveryLineEndAsCrLf) {
  // Dots: only at the start of a line, however the line started.
  EXPECT_EQ(Wire({"a.b\r\n.x\r\n..y\r\n"}), "a.b\r\n..x\r\n...y\r\n.\r\n");
  EXPECT_EQ(Wire({".", "\r\n"}), "..\r\n.\r\n");
  EXPECT_EQ(Wire({"a\n.b\r.c"}), "a\r\n..b\r\n..c\r\n.\r\n");
  // An article's own terminator and a command after it stay inside the article.
  EXPECT_EQ(Wire({"text\r\n.\r\nQUIT\r\n"}), "text\r\n..\r\nQUIT\r\n.\r\n");

  // Lone CR, lone LF, LF CR (two line ends), CR CR LF (two line ends).
  EXPECT_EQ(Wire({"a\rb\nc\n\rd\r\r\ne\r\n"}), "a\r\nb\r\nc\r\n\r\nd\r\n\r\ne\r\n.\r\n");

  // A piece cut between CR and LF makes one line end, and the dot after it
  // still starts a line.
  EXPECT_EQ(Wire({"x\r", "\n.y\r\n"}), "x\r\n..y\r\n.\r\n");
  EXPECT_EQ(Wire({"x\r", "\r", "\n"}), "x\r\n\r\n.\r\n");
  EXPECT_EQ(Wire({"x\r", "", "\n"}), "x\r\n.\r\n");

  // Finish completes an unfinished line, and only then.
  EXPECT_EQ(Wire({"no line end"}), "no line end\r\n.\r\n");
  EXPECT_EQ(Wire({"ends in CR\r"}), "ends in CR\r\n.\r\n");
  EXPECT_EQ(Wire({}), ".\r\n");
}

TEST(ArticleEncoder, EachArticleStartsAtTheStartOfALine) {
  ArticleEncoder encoder;
  EXPECT_EQ(encoder.Encode("half"), "half");
  EXPECT_EQ(encoder.Finish(), "\r\n.\r\n");
  EXPECT_EQ(encoder.Encode(".next"), "..next");
  encoder.Reset();
  EXPECT_EQ(encoder.Encode(".again"), "..again");
}

}  // namespace
}  // namespace quillport

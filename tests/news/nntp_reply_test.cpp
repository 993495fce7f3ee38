#include "news/nntp_reply.h"

#include <gtest/gtest.h>

#include <string>

namespace quillport {
namespace {

TEST(NntpReply, StatusLinesAreReadOrRejected) {
  const auto ok = ParseStatusLine("221 0 <a@b> head follows\r\n");
  ASSERT_TRUE(ok);
  EXPECT_EQ(ok->code, 221);
  EXPECT_EQ(ok->line, "221 0 <a@b> head follows");
  ASSERT_TRUE(ParseStatusLine("205"));
  EXPECT_EQ(ParseStatusLine("205")->code, 205);

  for (const char* bad : {"", "20", "2000 x", "20x ok", "abc", "600 out of range", "099 low", "200\tx", " 200 x"}) {
    EXPECT_FALSE(ParseStatusLine(bad)) << bad;
  }
}

TEST(NntpReply, BodiesFollowOnlyTheMultiLineCodes) {
  EXPECT_TRUE(HasBody("HEAD <a@b>", 221));
  EXPECT_TRUE(HasBody("LIST", 215));
  EXPECT_TRUE(HasBody("listgroup local.test", 211));
  EXPECT_FALSE(HasBody("GROUP local.test", 211));
  EXPECT_FALSE(HasBody("LISTGROUPS", 211));
  EXPECT_FALSE(HasBody("STAT <a@b>", 223));
  EXPECT_FALSE(HasBody("HEAD <a@b>", 430));
  EXPECT_FALSE(HasBody("POST", 340));
}

TEST(NntpReply, TheBodyEndsRightAfterItsTerminatingLineWhereverPiecesAreCut) {
  const std::string body = "Subject: x\r\n..stuffed\r\nmid.\r\n.\r\n";
  const std::string wire = body + "223 next reply\r\n";
  // Every cut into two pieces, and pieces of every size limit.
  for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
    ReplyBodyTracker tracker;
    std::size_t taken = tracker.Take(std::string_view(wire).substr(0, cut), cut);
    EXPECT_EQ(tracker.Complete(), cut >= body.size()) << cut;
    if (!tracker.Complete()) taken += tracker.Take(std::string_view(wire).substr(taken), wire.size());
    EXPECT_TRUE(tracker.Complete());
    EXPECT_EQ(taken, body.size()) << cut;
  }
  for (std::size_t limit = 1; limit <= 5; ++limit) {
    ReplyBodyTracker tracker;
    std::size_t taken = 0;
    while (!tracker.Complete()) {
      const std::size_t n = tracker.Take(std::string_view(wire).substr(taken), limit);
      ASSERT_GE(n, 1u);
      ASSERT_LE(n, limit);
      taken += n;
    }
    EXPECT_EQ(taken, body.size()) << limit;
  }

  ReplyBodyTracker bare_lf;  // a server that ends lines with LF alone
  EXPECT_EQ(bare_lf.Take("line\n.\nmore", 100), 7u);
  EXPECT_TRUE(bare_lf.Complete());
  ReplyBodyTracker not_yet;
  not_yet.Take(".x\r\n.\r", 100);
  EXPECT_FALSE(not_yet.Complete());
}

}  // namespace
}  // namespace quillport

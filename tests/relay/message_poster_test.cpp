#include "relay/message_poster.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/testing/crash_file_system.h"
#include "tests/testing/fake_news_client.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
constexpr auto kFiledUnposted = MessageOutcome::Disposal::kFiledUnposted;
using testing::Names;
namespace fs = std::filesystem;

class PostMessageFileTest : public ::testing::Test {
 protected:
  PostMessageFileTest() {
    fs::create_directories(settings_.drop_folder);
    fs::create_directories(settings_.error_folder);
  }
  // Writes a message file into the drop folder and posts it.
  Result<MessageOutcome> TryPost(const std::string& name, const std::string& bytes) {
    testing::WriteFile(settings_.drop_folder + "/" + name, bytes);
    files_.Watch(settings_.drop_folder);  // the test's files count as on disk
    files_.Watch(settings_.error_folder);
    QueuedFile file = std::move(
        QueuedFile::Open(files_, {settings_.drop_folder, name, bytes.size()}, {}, std::chrono::system_clock::now())
            .value());
    context_.connection_dropped = false;
    return PostMessageFile(file, context_);
  }
  MessageOutcome Post(const std::string& name, const std::string& bytes) { return *TryPost(name, bytes); }
  // A crash once the relay's word is that what it did lasts: PostMessageFile's outcome says so of its deletion
  // or filing. (Were deletions flushed once per batch, the crash would come after the batch's flush.)
  void CrashOnceTheRelaySaysItsWorkLasts() { files_.Crash(); }

  testing::TempFolder folder_;
  RelaySettings settings_{folder_ / "drop", "*.cnm", folder_ / "errors", ""};
  testing::FakeNewsClient client_;
  testing::CrashFileSystem files_;
  QueueNameGenerator names_;
  PostingContext context_{client_, names_, settings_, files_};
};

TEST_F(PostMessageFileTest, HeaderFilterAndBodyLinesThenTheFileIsDeleted) {
  const MessageOutcome outcome =
      Post("filter.cnm",
           "From: early.bird@host\r\n"  // above the guard: not rewritten
           "RECEIVED: upper case counts\r\n continued\r\n"
           "    \r\n"  // spaces after a dropped line: dropped
           "cc: lower case counts\r\n"
           "Date:\tTab after the colon\r\n"  // a field name ends at the colon, whatever follows it
           "To:nothing@after.the.colon\r\n"
           "Cc :\tblank before the colon\r\n"
           "Tooth: a longer name is another field\r\n"
           "Subject: folded\r\n kept continuation\r\n"
           "    \r\n"  // spaces after a kept line: kept
           "Reply-To: kept\r\n"
           "X-Envelope-To:\r\n\tbox_NOSPAM@site\r\n"  // folded: the guard is on the continuation line
           "From:J.Doe <j.doe@mail.org>\r\n"
           "\tcontinued.line@host\r\n"    // continuation of From: kept as is
           "X-Envelope-To: box@site\r\n"  // the last one decides: no guard
           "From: plain.name@host\r\n"
           "newsgroups:\tlocal.test\r\n"
           "Message-Id:\r\n <first@host> \r\n"  // folded: one field, sent unfolded
           "\r\n"
           "..two dots\r"  // a line may end at CR alone
           "\r\n"
           "lone\nfeed\r\n"  // a lone LF ends a line too
           "no ending");
  EXPECT_THAT(client_.pieces,
              ElementsAre("From: early.bird@host\r\nTooth: a longer name is another field\r\n"
                          "Subject: folded\r\n kept continuation\r\n    \r\nReply-To: kept\r\n"
                          "From:J DOT Doe <j DOT doe AT mail DOT org>\r\n\tcontinued.line@host\r\n"
                          "From: plain.name@host\r\nnewsgroups:\tlocal.test\r\nMessage-Id: <first@host> \r\n\r\n",
                          "..two dots\r\n", "\r\n", "lone\r\n", "feed\r\n", "no ending\r\n"));
  EXPECT_EQ(outcome.disposal, MessageOutcome::Disposal::kPosted);
  EXPECT_EQ(outcome.message_id, "<first@host>");
  EXPECT_FALSE(fs::exists(settings_.drop_folder + "/filter.cnm"));
}

// A message without a Message-ID (a blank one is none) gets one made from its content, whatever its name, inode
// or times; one byte more gives another. Two ids in one header are relay_server_test's part.
TEST_F(PostMessageFileTest, TheDerivedMessageIdBelongsToTheContent) {
  const auto header_posted = [&](const std::string& name, const std::string& content) {
    client_.pieces.clear();
    Post(name, content);
    return client_.pieces.at(0);
  };
  const std::string bytes = "Newsgroups: local.test\r\n\r\nbody\r\n";
  const auto derived = ::testing::MatchesRegex(
      "Newsgroups: local.test\r\nMessage-ID: <qp\\.[0-9a-f]{32}"
      "@quillport\\.invalid>\r\n\r\n");
  const std::string first = header_posted("a.cnm", bytes);
  EXPECT_THAT(first, derived);
  EXPECT_EQ(header_posted("b.cnm", bytes), first);  // a copy: another name, inode and time
  EXPECT_NE(header_posted("c.cnm", bytes + "x"), first);
  EXPECT_THAT(header_posted("d.cnm", "Message-ID: \t\r\n \r\n" + bytes), derived);

  // Past the first 64 KiB, which one read takes: a CR LF across the reads is one line end, and every byte
  // counts for the id.
  std::string lines;
  while (bytes.size() + lines.size() < 65536 - 1000) lines += std::string(998, 'x') + "\r\n";
  lines += std::string(65535 - bytes.size() - lines.size(), 'y') + "\r\nlast\r\n";  // the CR is the read's last byte
  const std::string long_one = header_posted("e.cnm", bytes + lines);
  EXPECT_THAT(client_.pieces, ::testing::Not(::testing::Contains("\r\n")));
  EXPECT_NE(header_posted("f.cnm", bytes + lines + "!"), long_one);
}

TEST_F(PostMessageFileTest, NothingIsPostedThatCannotBeFinishedCleanly) {
  // The file grows while it is posted: the article is abandoned, never completed; the file stays.
  const std::string path = settings_.drop_folder + "/growing.cnm";
  client_.on_write = [&] {
    std::ofstream(path, std::ios::app | std::ios::binary) << "more\r\n";
    client_.on_write = nullptr;
  };
  EXPECT_THAT(TryPost("growing.cnm", "Newsgroups: x\r\n\r\nbody\r\n").failure().text, HasSubstr("changed while"));
  EXPECT_THAT(client_.calls, ::testing::Contains("AbandonArticle"));
  EXPECT_THAT(client_.calls, ::testing::Not(::testing::Contains("EndArticle")));
  EXPECT_TRUE(context_.connection_dropped);
  EXPECT_TRUE(fs::exists(path));
}

// The server's answer decides where the message goes, and that lasts a crash once PostMessageFile has
// returned; a failure leaves it where it was. Only what the server confirmed is ever deleted, and a file that
// cannot be read, or could not be deleted after posting, is never posted: later Actions could post it again.
TEST_F(PostMessageFileTest, TheServersAnswerDecidesWhereTheMessageGoesAndThatLastsACrash) {
  using Disposal = MessageOutcome::Disposal;
  using Operation = testing::Operation;
  constexpr std::int16_t kLost = testing::FakeNewsClient::kFailure;
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::int16_t>> answers;
    std::optional<Operation> fault;
    std::optional<Disposal> disposal;  // none: a failure
    std::string left;                  // the folder it is left in; none when deleted
    bool posted = true;                // an article was begun
  } rows[] = {
      {"accepted", {}, {}, Disposal::kPosted, ""},
      {"refused, held", {{"EndArticle", 441}}, {}, Disposal::kHeld, ""},
      {"refused, not held", {{"EndArticle", 441}, {"Command:Head", 430}}, {}, Disposal::kFiled, "errors"},
      {"refused, not held, cannot be filed",
       {{"EndArticle", 441}, {"Command:Head", 430}},
       Operation::kRename,
       {},
       "drop"},
      {"refused, the check fails", {{"EndArticle", 441}, {"Command:Head", kLost}}, {}, {}, "drop"},
      {"an answer about the session", {{"EndArticle", 480}}, {}, {}, "drop"},
      {"not invited", {{"BeginArticle", 440}}, {}, {}, "drop"},
      {"the connection lost at the end", {{"EndArticle", kLost}}, {}, {}, "drop"},
      {"accepted, cannot be deleted", {}, Operation::kDelete, {}, "drop"},
      {"accepted, the deletion cannot be flushed", {}, Operation::kSyncFolder, {}, "drop"},
      {"cannot be read", {}, Operation::kRead, {}, "drop", false},
      {"its id cannot be derived", {}, Operation::kReadAt, {}, "drop", false},
      {"its folder is read-only", {}, Operation::kCheckWritable, {}, "drop", false},
      {"undeletable", {}, Operation::kUndeletable, {}, "drop", false},
  };
  const std::string bytes = "Newsgroups: local.test\r\n\r\nbody\r\n";
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    client_.calls.clear();
    for (const auto& [call, code] : row.answers) client_.Answer(call, code);
    if (row.fault) files_.Add(*row.fault, EIO);
    Result<MessageOutcome> outcome = TryPost("a.cnm", bytes);
    files_.Clear();
    EXPECT_EQ(outcome ? std::optional(outcome->disposal) : std::nullopt, row.disposal);
    EXPECT_EQ(std::ranges::count(client_.calls, "BeginArticle"), row.posted ? 1 : 0);
    CrashOnceTheRelaySaysItsWorkLasts();
    for (const std::string folder : {"drop", "errors"}) {
      EXPECT_EQ(Names(folder_ / folder),
                folder == row.left ? std::vector<std::string>{"a.cnm"} : std::vector<std::string>{});
      fs::remove(folder_ / (folder + "/a.cnm"));
    }
  }
}

// A line of 32765 characters and CR LF fits, in the body or, with the empty line after it, as the header; a byte
// more is filed unposted: a body line once the article is begun, which is then abandoned, never ended, and its
// connection dropped; a header before anything reaches the client.
TEST_F(PostMessageFileTest, OverlongLinesAreFiledAndNeverEndTheArticle) {
  const std::string head = "Newsgroups: local.test\r\nMessage-ID: <l@x>\r\n";  // 43 bytes
  const auto header_of = [&](std::size_t size) { return head + "X: " + std::string(size - 50, 'h') + "\r\n\r\nb\r\n"; };
  for (const auto& [bytes, calls] : std::initializer_list<std::pair<std::string, std::string>>{
           {head + "\r\n" + std::string(32765, 'y') + "\r\n", "BeginArticle 45 32767 EndArticle "},
           {head + "\r\nshort\r\n" + std::string(32766, 'x') + "\r\n", "BeginArticle 45 7 AbandonArticle "},
           {header_of(32767), "BeginArticle 32767 3 EndArticle "},
           {header_of(32768), ""}}) {
    client_.calls.clear();
    client_.pieces.clear();
    const MessageOutcome outcome = Post("Long.cnm", bytes);
    std::string made;  // each WriteText by the size of its piece
    for (std::size_t call = 0, piece = 0; call < client_.calls.size(); ++call) {
      const bool text = client_.calls[call] == "WriteText";
      made += (text ? std::to_string(client_.pieces[piece++].size()) : client_.calls[call]) + " ";
    }
    EXPECT_EQ(made, calls);
    const bool filed = !calls.ends_with("EndArticle ");
    EXPECT_EQ(outcome.disposal == kFiledUnposted, filed) << calls;
    EXPECT_EQ(context_.connection_dropped, calls.ends_with("AbandonArticle ")) << calls;
    EXPECT_EQ(outcome.detail.find("it was filed as " + settings_.error_folder + "/long.cnm") != std::string::npos,
              filed);
    EXPECT_EQ(fs::remove(settings_.error_folder + "/long.cnm"), filed) << calls;
  }
}

}  // namespace
}  // namespace quillport

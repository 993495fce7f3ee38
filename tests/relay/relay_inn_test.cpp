// The relay engine end to end: the real news client against a private INN,
// with drop folder, error folder and log in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "board/board_fields.h"
#include "board/event_failure.h"
#include "board/memory_status_board.h"
#include "common/number_format.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/support/temp_folder.h"
#include "tests/support/inn_server.h"

namespace quillport {
namespace {

using testing::InnServer;
using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

constexpr Rgb kYellow{255, 255, 0};

// One message file of the corpus and what must become of it.
struct Message {
  std::string name;
  std::string bytes;
};

std::string Ordinary(const std::string& id, const std::string& body) {
  return "Received: from mail.example by relay.example\r\n"
         "\tfor <list@example>; Sun, 6 Dec 2026 09:00:00 +0000\r\n"
         "Return-path: <sender@example.org>\r\n"
         "X-Envelope-To: list@example\r\n"
         "Date: Sun, 6 Dec 2026 09:00:00 +0000\r\n"
         "To: list@example\r\n"
         "CC: other@example\r\n"
         "From: Sender <sender@example.org>\r\n"
         "Subject: corpus " + id + "\r\n"
         "Newsgroups: local.test\r\n"
         "Message-ID: <" + id + "@quillport.test>\r\n"
         "\r\n" + body;
}

std::vector<Message> Corpus() {
  return {
      {"01-ordinary.cnm", Ordinary("ordinary", "First line.\r\n.leading dot\r\n..two dots\r\n"
                                               ".\r\n\r\nLast line.\r\n")},
      {"02-emptyline.cnm", Ordinary("emptyline", "\r\n")},
      {"02-nobody.cnm", Ordinary("nobody", "")},
      {"03-held.cnm", Ordinary("held", "The server has this one already.\r\n")},
      {"04-Unknown.CNM", "From: a@example.org\r\nSubject: nowhere\r\nNewsgroups: local.nowhere\r\n"
                         "Message-ID: <unknown1@quillport.test>\r\n\r\nbody\r\n"},
      {"04-unknown.cnm", "From: a@example.org\r\nSubject: nowhere\r\nNewsgroups: local.nowhere\r\n"
                         "Message-ID: <unknown2@quillport.test>\r\n\r\nbody\r\n"},
      {"05-nogroups.cnm", "From: a@example.org\r\nSubject: no groups\r\n"
                          "Message-ID: <nogroups@quillport.test>\r\n\r\nbody\r\n"},
      {"06-neverends.cnm", "From: a@example.org\r\nNewsgroups: local.test\r\n"
                           "Message-ID: <neverends@quillport.test>\r\n"},
      {"07-lfonly.cnm", "From: a@example.org\nNewsgroups: local.test\n"
                        "Message-ID: <lfonly@quillport.test>\n\nbody\n"},
      {"08-empty.cnm", ""},
      {"08-lonelf.cnm", "Subject: hidden\nTo: secret@corp.example\nReceived: from internal.corp\r\n"
                        "\tby relay\r\nFrom: a@example.org\r\nNewsgroups: local.test\r\n"
                        "Message-ID: <lonelf@quillport.test>\r\n\r\nbody\r\n"},
      {"09-nospam.cnm", "X-Envelope-To: list_NoSpam@example\r\nFrom: A. User <a.user@host>\r\n"
                        "Subject: disguised\r\nNewsgroups: local.test\r\n"
                        "Message-ID: <nospam@quillport.test>\r\n\r\nHello.\r\n"},
  };
}

class RelayInnTest : public ::testing::Test {
 protected:
  RelayInnTest() {
    settings_ = {folder_ / "_M2News", "*.cnm", folder_ / "_M2News/Errors", folder_ / "~NNTP.log"};
    settings_.quiet_period = {};
    fs::create_directories(settings_.error_folder);
    fs::create_directories(settings_.drop_folder + "/10-folder.cnm");
    ShowNewsErrors(client_, board_);
    client_.SetSetting(NewsSetting::kTimeout, std::int16_t{10});
    client_.SetSetting(NewsSetting::kServerHost, inn_.host());
    client_.SetSetting(NewsSetting::kServerPort, inn_.port_text());
    relay_ = std::make_unique<RelayCycle>(board_, client_, [this] { ++yields_; }, settings_);
  }

  void DropCorpus() {
    for (const Message& m : Corpus()) WriteFile(settings_.drop_folder + "/" + m.name, m.bytes);
  }
  std::int64_t NonEmptyBytes() {
    std::int64_t total = 0;
    for (const Message& m : Corpus()) total += static_cast<std::int64_t>(m.bytes.size());
    return total;
  }

  InnServer inn_{{"local.test"}};
  TempFolder folder_;
  RelaySettings settings_;
  MemoryStatusBoard board_;
  NntpClient client_;
  int yields_ = 0;
  std::unique_ptr<RelayCycle> relay_;
};

TEST_F(RelayInnTest, OneCorpusEveryOutcomeThenTheSameCorpusAgain) {
  ASSERT_EQ(inn_.Post(Ordinary("held", "Posted before the relay ran.\r\n")), 240);
  DropCorpus();
  relay_->DoAction();

  // Posted, and stored byte for byte as built: transport headers gone.
  EXPECT_EQ(inn_.Body("<ordinary@quillport.test>"),
            "First line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n");
  EXPECT_EQ(inn_.Body("<emptyline@quillport.test>"), "\r\n");
  const std::string head = inn_.Head("<ordinary@quillport.test>").value_or("");
  EXPECT_THAT(head, HasSubstr("From: Sender <sender@example.org>\r\n"));
  EXPECT_THAT(head, HasSubstr("Subject: corpus ordinary\r\n"));
  for (const char* gone : {"Received:", "Return-path:", "X-Envelope-To:", "To: list", "CC:"}) {
    EXPECT_THAT(head, Not(HasSubstr(gone))) << gone;
  }
  // Held already: the server keeps its own copy.
  EXPECT_EQ(inn_.Body("<held@quillport.test>"), "Posted before the relay ran.\r\n");
  // Never posted.
  for (const char* id : {"<unknown1@quillport.test>", "<nogroups@quillport.test>",
                         "<neverends@quillport.test>", "<lfonly@quillport.test>"}) {
    EXPECT_EQ(inn_.Head(id), std::nullopt) << id;
  }
  // A stock INN refuses an article without a body ("441 Article is empty")
  // and the disguised From line ("441 Address in From header field not in
  // Internet syntax"); it does not hold them, so the relay files them.
  EXPECT_EQ(inn_.Head("<nobody@quillport.test>"), std::nullopt);
  EXPECT_EQ(inn_.Head("<nospam@quillport.test>"), std::nullopt);
  // Lone LFs in a kept header line cannot carry dropped headers along.
  const std::string hidden = inn_.Head("<lonelf@quillport.test>").value_or("");
  EXPECT_THAT(hidden, HasSubstr("Subject: hidden\r\n"));
  EXPECT_THAT(hidden, Not(HasSubstr("secret@corp")));
  EXPECT_THAT(hidden, Not(HasSubstr("internal.corp")));
  EXPECT_EQ(inn_.ArticleCount("local.test"), 4);

  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  const std::vector<std::string> filed = Names(settings_.error_folder);
  ASSERT_EQ(filed.size(), 4u);
  EXPECT_EQ(filed[0], "02-nobody.cnm");
  EXPECT_EQ(filed[1], "04-unknown.cnm");
  EXPECT_EQ(filed[2], "09-nospam.cnm");
  EXPECT_THAT(filed[3], ::testing::MatchesRegex("~col[a-z0-9]{4}\\.cnm"));
  EXPECT_THAT(ReadFile(settings_.error_folder + "/09-nospam.cnm"),
              HasSubstr("From: A. User <a.user@host>"));  // filed as it came

  // One log record per non-empty file, in the record format.
  const std::string log = ReadFile(settings_.log_file);
  const std::regex record("#\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d#,\"\\d{7,}\"\r\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), record), {}), 11);
  const auto size = static_cast<std::int64_t>(Corpus()[1].bytes.size());
  EXPECT_THAT(log, HasSubstr(",\"" + FormatNumber(size, kPatternLogSize) + "\"\r\n"));

  // The board.
  EXPECT_EQ(board_.Text(field::Info(5)), FormatNumber(NonEmptyBytes(), kPattern12));
  EXPECT_EQ(board_.Text(field::Info(6)), "11");
  EXPECT_EQ(board_.Text(field::Info(7)), "0");
  EXPECT_EQ(board_.Text(field::Info(8)), "1");
  EXPECT_EQ(board_.Text(field::Info(3)), "");
  EXPECT_EQ(board_.BackColor(field::Info(3)), kYellow);
  EXPECT_TRUE(board_.Visible(field::kImgGoo));
  EXPECT_TRUE(board_.Visible(field::kImgBad));
  EXPECT_EQ(board_.Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  // The last refusal stays in view after the disconnect.
  EXPECT_TRUE(board_.Visible(field::kStatusE));
  EXPECT_THAT(board_.Text(field::kStatusE), HasSubstr("09-nospam.cnm was refused"));
  EXPECT_TRUE(board_.Enabled());
  EXPECT_GE(yields_, 11);

  // The same corpus again: nothing is posted twice, duplicates are deleted,
  // refused ones are filed under further free names.
  DropCorpus();
  relay_->DoAction();
  EXPECT_EQ(inn_.ArticleCount("local.test"), 4);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  EXPECT_EQ(Names(settings_.error_folder).size(), 8u);
  EXPECT_EQ(board_.Text(field::Info(6)), "11");
  EXPECT_EQ(board_.Text(field::Info(9)), FormatNumber(2 * NonEmptyBytes(), kPattern12));
  EXPECT_EQ(board_.Text(field::Info(10)), "22");
  EXPECT_EQ(board_.Text(field::Info(12)), "2");
  EXPECT_EQ(board_.Text(field::kTimNbT), "2");
}

TEST_F(RelayInnTest, NoServerTouchesNothing) {
  DropCorpus();
  inn_.Stop();
  const bool completed = RunEventHandler(board_, "Action", [&] { relay_->DoAction(); });
  EXPECT_TRUE(completed);
  EXPECT_THAT(board_.Text(field::kStatusH),
              ::testing::StartsWith("Unable To Connect To: 127.0.0.1 Error: "));
  EXPECT_TRUE(board_.Visible(field::kStatusE));
  EXPECT_THAT(board_.Text(field::kStatusE), ::testing::MatchesRegex(".+ \\([0-9]+\\)"));
  EXPECT_EQ(Names(settings_.drop_folder).size(), Corpus().size() + 2);
  EXPECT_FALSE(fs::exists(settings_.log_file));
  EXPECT_EQ(board_.Text(field::Info(6)), "0");
}

}  // namespace
}  // namespace quillport

// The relay engine end to end: the real news client against a private INN, folders and log in a temporary folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "common/number_format.h"
#include "news/nntp_client.h"
#include "relay/relay_cycle.h"
#include "tests/support/inn_server.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::ReadFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
namespace fs = std::filesystem;

struct Message {
  std::string name, bytes;
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

const std::vector<Message> kCorpus = {
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

class RelayInnTest : public ::testing::Test {
 protected:
  RelayInnTest() {
    settings_.quiet_period = {};
    fs::create_directories(settings_.error_folder);
    fs::create_directories(settings_.drop_folder + "/10-folder.cnm");
    ShowNewsErrors(client_, board_);
    client_.SetSetting(NewsSetting::kTimeout, std::int16_t{10});
    client_.SetSetting(NewsSetting::kServerHost, inn_.host());
    client_.SetSetting(NewsSetting::kServerPort, inn_.port_text());
  }
  void DropCorpus() {
    for (const Message& m : kCorpus) testing::WriteFile(settings_.drop_folder + "/" + m.name, m.bytes);
  }
  std::string Text(const std::string& control) const { return board_.Text(control); }

  testing::InnServer inn_{{"local.test"}};
  testing::TempFolder folder_;
  RelaySettings settings_{folder_ / "_M2News", "*.cnm", folder_ / "_M2News/Errors", folder_ / "~NNTP.log"};
  MemoryStatusBoard board_;
  NntpClient client_;
  RelayCycle relay_{board_, client_, [] {}, settings_};
};

TEST_F(RelayInnTest, OneCorpusEveryOutcomeThenTheSameCorpusAgain) {
  ASSERT_EQ(inn_.Post(Ordinary("held", "Posted before the relay ran.\r\n")), 240);
  DropCorpus();
  relay_.DoAction();

  // Posted, and stored byte for byte as built: transport headers gone.
  EXPECT_EQ(inn_.Body("<ordinary@quillport.test>"), "First line.\r\n.leading dot\r\n..two dots\r\n.\r\n\r\nLast line.\r\n");
  EXPECT_EQ(inn_.Body("<emptyline@quillport.test>"), "\r\n");
  const std::string head = inn_.Head("<ordinary@quillport.test>").value_or("");
  for (const char* kept : {"From: Sender <sender@example.org>\r\n", "Subject: corpus ordinary\r\n"}) {
    EXPECT_THAT(head, HasSubstr(kept));
  }
  for (const char* gone : {"Received:", "Return-path:", "X-Envelope-To:", "To: list", "CC:"}) {
    EXPECT_THAT(head, Not(HasSubstr(gone))) << gone;
  }
  EXPECT_EQ(inn_.Body("<held@quillport.test>"), "Posted before the relay ran.\r\n");  // the server's own copy
  // Never posted; a stock INN refuses (441) an article without a body and the disguised From line.
  for (const char* id : {"<unknown1@", "<nogroups@", "<neverends@", "<lfonly@", "<nobody@", "<nospam@"}) {
    EXPECT_EQ(inn_.Head(id + std::string("quillport.test>")), std::nullopt) << id;
  }
  // Lone LFs in a kept header line cannot carry dropped headers along.
  const std::string hidden = inn_.Head("<lonelf@quillport.test>").value_or("");
  EXPECT_THAT(hidden, HasSubstr("Subject: hidden\r\n"));
  EXPECT_THAT(hidden, Not(HasSubstr("secret@corp")));
  EXPECT_THAT(hidden, Not(HasSubstr("internal.corp")));
  EXPECT_EQ(inn_.ArticleCount("local.test"), 4);

  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  EXPECT_THAT(Names(settings_.error_folder),
              ElementsAre("02-nobody.cnm", "04-unknown.cnm", "09-nospam.cnm", ::testing::MatchesRegex("~col....\\.cnm")));
  EXPECT_THAT(ReadFile(settings_.error_folder + "/09-nospam.cnm"), HasSubstr("From: A. User <a.user@host>"));

  // One log record per non-empty file.
  const std::string log = ReadFile(settings_.log_file);
  const std::regex record("#\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d#,\"\\d{7,}\"\r\n");
  EXPECT_EQ(std::distance(std::sregex_iterator(log.begin(), log.end(), record), {}), 11);
  std::int64_t bytes = 0;
  for (const Message& m : kCorpus) bytes += static_cast<std::int64_t>(m.bytes.size());
  EXPECT_EQ(Text(field::Info(5)) + "|" + Text(field::Info(6)) + "|" + Text(field::Info(7)) + "|" + Text(field::Info(8)),
            FormatNumber(bytes, kPattern12) + "|11|0|1");
  EXPECT_TRUE(board_.Visible(field::kImgGoo) && board_.Visible(field::kImgBad) && board_.Enabled());
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: 127.0.0.1");
  EXPECT_TRUE(board_.Visible(field::kStatusE));  // the last refusal stays in view after the disconnect
  EXPECT_THAT(Text(field::kStatusE), HasSubstr("09-nospam.cnm was refused"));

  // The same corpus again: nothing is posted twice, duplicates are deleted, refused ones filed under free names.
  DropCorpus();
  relay_.DoAction();
  EXPECT_EQ(inn_.ArticleCount("local.test"), 4);
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("08-empty.cnm", "10-folder.cnm", "Errors"));
  EXPECT_EQ(Names(settings_.error_folder).size(), 8u);
  EXPECT_EQ(Text(field::Info(6)) + "|" + Text(field::Info(9)) + "|" + Text(field::Info(10)) + "|" +
                Text(field::Info(12)) + "|" + Text(field::kTimNbT),
            "11|" + FormatNumber(2 * bytes, kPattern12) + "|22|2|2");
}

}  // namespace
}  // namespace quillport

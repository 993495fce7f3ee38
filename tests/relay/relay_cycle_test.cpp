#include "relay/relay_cycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "app/board_fields.h"
#include "app/memory_status_board.h"
#include "relay/folder_listing.h"
#include "tests/support/fake_news_client.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::FakeNewsClient;
using testing::Names;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

constexpr Rgb kYellow{255, 255, 0}, kGreen{0, 255, 0}, kRed{255, 0, 0};

class RelayCycleTest : public ::testing::Test {
 protected:
  RelayCycleTest() {
    settings_ = {folder_ / "drop", "*.cnm", folder_ / "drop/Errors", folder_ / "nntp.log"};
    fs::create_directories(settings_.error_folder);
  }

  void Drop(const std::string& name, const std::string& bytes) {
    WriteFile(settings_.drop_folder + "/" + name, bytes);
  }
  std::string Text(const std::string& control) const { return board_.Text(control); }

  TempFolder folder_;
  RelaySettings settings_;
  FakeNewsClient client_;
  MemoryStatusBoard board_;
  std::function<void()> on_yield_ = [] {};
  // Relay over this test's folders; constructed after settings_ are set.
  RelayCycle& relay() {
    if (!relay_ptr_) {
      relay_ptr_ = std::make_unique<RelayCycle>(board_, client_, [this] { on_yield_(); },
                                                settings_, [] {
                                                  std::tm t{};
                                                  t.tm_year = 2026 - 1900, t.tm_mon = 11,
                                                  t.tm_mday = 6, t.tm_hour = 9, t.tm_min = 5,
                                                  t.tm_sec = 7, t.tm_isdst = -1;
                                                  return std::chrono::system_clock::from_time_t(
                                                      std::mktime(&t));
                                                });
    }
    return *relay_ptr_;
  }
  std::unique_ptr<RelayCycle> relay_ptr_;
};

TEST_F(RelayCycleTest, EmptyDropFolderOnlyResetsTheFigures) {
  fs::create_directories(settings_.drop_folder);
  board_.SetText(field::kTimPer, "5");
  board_.SetText(field::kTimRem, "0");
  board_.SetText(field::Info(5), "99");
  relay().DoAction();
  EXPECT_EQ(Text(field::kTimRem), "5");
  EXPECT_EQ(Text(field::kTimNbT), "1");
  for (int i = 4; i <= 8; ++i) EXPECT_EQ(Text(field::Info(i)), "0") << i;
  EXPECT_EQ(Text(field::Info(3)), "");
  EXPECT_TRUE(client_.calls.empty());
  EXPECT_FALSE(fs::exists(settings_.log_file));
  EXPECT_TRUE(board_.Enabled());
  EXPECT_EQ(board_.MousePointer(), kPointerDefault);
}

TEST_F(RelayCycleTest, HandlesEveryKindOfEntryAndShowsIt) {
  Drop("b.cnm", "Newsgroups: local.test\r\n\r\nbody\r\n");  // 32 bytes
  Drop("A.CNM", "Newsgroups: local.test\r\n\r\n");          // 26 bytes
  Drop("empty.cnm", "");
  Drop("other.txt", "not a message");
  fs::create_directories(settings_.drop_folder + "/folder.cnm");

  std::vector<std::string> seen;  // file in progress at each yield, with colour and state
  on_yield_ = [&] {
    const Rgb colour = board_.BackColor(field::Info(3));
    seen.push_back(Text(field::Info(3)) + "|" + Text(field::Info(4)) + "|" +
                   (colour == kGreen ? "green" : colour == kRed ? "red" : "yellow") + "|" +
                   (board_.Enabled() ? "enabled" : "busy"));
  };
  relay().DoAction();

  const std::string drop = settings_.drop_folder + "/";
  EXPECT_THAT(seen, ElementsAre("|0|yellow|enabled", drop + "A.CNM|26|green|busy",
                                drop + "b.cnm|32|green|busy", drop + "empty.cnm|0|red|busy"));
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "empty.cnm", "folder.cnm", "other.txt"));
  EXPECT_EQ(Text(field::Info(5)), "58");
  EXPECT_EQ(Text(field::Info(6)), "2");
  EXPECT_EQ(Text(field::Info(7)), "0");
  EXPECT_EQ(Text(field::Info(8)), "1");
  EXPECT_EQ(ReadFile(settings_.log_file),
            "#2026-12-06 09:05:07#,\"0000026\"\r\n#2026-12-06 09:05:07#,\"0000032\"\r\n");
  EXPECT_TRUE(board_.Visible(field::kImgGoo));
  EXPECT_TRUE(board_.Visible(field::kImgBad));
  EXPECT_EQ(Text(field::Info(3)), "");
  EXPECT_EQ(Text(field::Info(4)), "0");
  EXPECT_EQ(board_.BackColor(field::Info(4)), kYellow);
  EXPECT_EQ(Text(field::kStatusH), "Normally Disconnected From: news.example");
  EXPECT_EQ(client_.calls.front(), "Connect");
  EXPECT_EQ(client_.calls.back(), "Disconnect");

  // Grand totals grow across Actions; this Action's totals start again.
  Drop("c.cnm", "Newsgroups: local.test\r\n\r\n");
  relay().DoAction();
  EXPECT_EQ(Text(field::Info(5)), "26");
  EXPECT_EQ(Text(field::Info(6)), "1");
  EXPECT_EQ(Text(field::Info(8)), "1");
  EXPECT_EQ(Text(field::Info(9)), "84");
  EXPECT_EQ(Text(field::Info(10)), "3");
  EXPECT_EQ(Text(field::Info(12)), "2");
  EXPECT_EQ(Text(field::kTimNbT), "2");
}

TEST_F(RelayCycleTest, NoServerTouchesNothing) {
  Drop("wait.cnm", "Newsgroups: local.test\r\n\r\n");
  client_.connect_status = 10061;
  relay().DoAction();
  EXPECT_THAT(client_.calls, ElementsAre("Connect"));
  EXPECT_EQ(Text(field::kStatusH), "Unable To Connect To: news.example Error: 10061");
  EXPECT_TRUE(board_.Visible(field::kStatusE));
  EXPECT_EQ(Text(field::Info(6)), "0");
  EXPECT_TRUE(fs::exists(settings_.drop_folder + "/wait.cnm"));
  EXPECT_FALSE(fs::exists(settings_.log_file));
}

TEST_F(RelayCycleTest, FailureEndsTheActionButNeverLeavesItHalfDone) {
  Drop("a.cnm", "Newsgroups: local.test\r\n\r\nline\r\n");
  Drop("b.cnm", "Newsgroups: local.test\r\n\r\nline\r\n");
  client_.write_failure = {{1, NewsError(news_error::kConnectionLost, "connection lost")}};
  client_.disconnect_status = news_error::kNotConnected;
  EXPECT_THROW(relay().DoAction(), NewsError);
  EXPECT_TRUE(board_.Enabled());
  EXPECT_EQ(board_.MousePointer(), kPointerDefault);
  EXPECT_EQ(Text(field::Info(3)), "");
  EXPECT_EQ(board_.BackColor(field::Info(3)), kYellow);
  EXPECT_EQ(client_.calls.back(), "Disconnect");
  EXPECT_FALSE(relay().connection().Connected());
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm", "b.cnm"));

  // A log that cannot be written stops the Action before anything is posted.
  client_.write_failure.reset();
  client_.calls.clear();
  settings_.log_file = folder_ / "missing/nntp.log";
  relay_ptr_.reset();
  EXPECT_THROW(relay().DoAction(), std::runtime_error);
  EXPECT_THAT(client_.calls, ElementsAre("Connect", "Disconnect"));
  EXPECT_TRUE(board_.Enabled());
}

TEST_F(RelayCycleTest, TickAtAYieldNeverStartsASecondAction) {
  Drop("a.cnm", "Newsgroups: local.test\r\n\r\n");
  Drop("b.cnm", "Newsgroups: local.test\r\n\r\n");
  on_yield_ = [&] { relay().DoAction(); };
  relay().DoAction();
  EXPECT_EQ(Text(field::kTimNbT), "1");
  EXPECT_EQ(std::count(client_.calls.begin(), client_.calls.end(), "Connect"), 1);
  EXPECT_FALSE(relay().Running());
}

TEST_F(RelayCycleTest, SizesOfTwoGibibytesAndMoreCountInFull) {
  const std::string path = settings_.drop_folder + "/huge.cnm";
  fs::create_directories(settings_.drop_folder);
  WriteFile(path, "Subject: no groups\r\n\r\n");
  fs::resize_file(path, 2147483648ULL + 5);  // sparse: costs no disk
  relay().DoAction();
  EXPECT_EQ(Text(field::Info(5)), "2 147 483 653");
  EXPECT_EQ(Text(field::Info(9)), "2 147 483 653");
  EXPECT_THAT(ReadFile(settings_.log_file), ::testing::HasSubstr("\"2147483653\""));
  EXPECT_FALSE(fs::exists(path));  // no Newsgroups: deleted unposted
}

TEST(FolderListing, MatchesWithoutRegardToCaseInNameOrder) {
  TempFolder folder;
  for (const char* name : {"b.cnm", "A.CNM", ".hidden.cnm", "c.cnm.bak", "d.Cnm", "x.txt"}) {
    WriteFile(folder / name, "x");
  }
  FolderListing listing(folder.path().string(), "*.cnm");
  ASSERT_TRUE(listing.valid());
  std::vector<std::string> names{listing.entry().name};
  while (listing.Next()) names.push_back(listing.entry().name);
  EXPECT_THAT(names, ElementsAre(".hidden.cnm", "A.CNM", "b.cnm", "d.Cnm"));
  EXPECT_FALSE(FolderListing(folder.path().string(), "*.none").valid());
  EXPECT_FALSE(FolderListing(folder / "missing", "*.cnm").valid());
}

}  // namespace
}  // namespace quillport

#include "relay/relay_cycle.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "board/board_fields.h"
#include "board/memory_status_board.h"
#include "relay/folder_listing.h"
#include "tests/support/fake_news_client.h"
#include "tests/support/temp_folder.h"

namespace quillport {
namespace {

using testing::Names;
using testing::ReadFile;
using ::testing::ElementsAre;
namespace fs = std::filesystem;

std::chrono::system_clock::time_point SixDecemberNineFiveSeven() {
  std::tm t{};
  t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 6, t.tm_hour = 9, t.tm_min = 5;
  t.tm_sec = 7, t.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&t));
}

class RelayCycleTest : public ::testing::Test {
 protected:
  RelayCycleTest() {
    settings_ = {folder_ / "drop", "*.cnm", folder_ / "drop/Errors", folder_ / "nntp.log"};
    fs::create_directories(settings_.error_folder);
  }
  RelayCycle& relay() {
    if (!relay_) {
      relay_ = std::make_unique<RelayCycle>(board_, client_, [this] { on_yield_(); }, settings_,
                                            &SixDecemberNineFiveSeven);
    }
    return *relay_;
  }
  void Drop(const std::string& name, const std::string& bytes) {
    testing::WriteFile(settings_.drop_folder + "/" + name, bytes);
  }
  std::string Text(const std::string& control) const { return board_.Text(control); }

  testing::TempFolder folder_;
  RelaySettings settings_;
  testing::FakeNewsClient client_;
  MemoryStatusBoard board_;
  std::function<void()> on_yield_ = [] {};
  std::unique_ptr<RelayCycle> relay_;
};

TEST_F(RelayCycleTest, EmptyDropFolderOnlyResetsTheFigures) {
  board_.SetText(field::kTimPer, "5");
  board_.SetText(field::Info(5), "99");
  relay().DoAction();
  EXPECT_EQ(Text(field::kTimRem), "5");
  EXPECT_EQ(Text(field::kTimNbT), "1");
  EXPECT_EQ(Text(field::Info(5)), "0");
  EXPECT_TRUE(client_.calls.empty());
  EXPECT_FALSE(fs::exists(settings_.log_file));
}

TEST_F(RelayCycleTest, ShowsEachFileInProgressWhileBusy) {
  Drop("b.cnm", "Newsgroups: local.test\r\n\r\nbody\r\n");  // 32 bytes
  Drop("A.CNM", "Newsgroups: local.test\r\n\r\n");          // 26 bytes
  Drop("empty.cnm", "");
  Drop("other.txt", "not a message");
  fs::create_directories(settings_.drop_folder + "/folder.cnm");
  std::vector<std::string> seen;  // at each yield: file, size, colour, busy state
  on_yield_ = [&] {
    const Rgb c = board_.BackColor(field::Info(3));
    seen.push_back(Text(field::Info(3)) + "|" + Text(field::Info(4)) + "|" +
                   std::to_string(c.red) + "," + std::to_string(c.green) + "," +
                   std::to_string(c.blue) + (board_.Enabled() ? "|enabled" : "|busy"));
  };
  relay().DoAction();

  const std::string drop = settings_.drop_folder + "/";
  EXPECT_THAT(seen, ElementsAre("|0|255,255,0|enabled", drop + "A.CNM|26|0,255,0|busy",
                                drop + "b.cnm|32|0,255,0|busy", drop + "empty.cnm|0|255,0,0|busy"));
  EXPECT_THAT(Names(settings_.drop_folder),
              ElementsAre("Errors", "empty.cnm", "folder.cnm", "other.txt"));
  EXPECT_EQ(ReadFile(settings_.log_file),
            "#2026-12-06 09:05:07#,\"0000026\"\r\n#2026-12-06 09:05:07#,\"0000032\"\r\n");
  EXPECT_EQ(Text(field::Info(3)), "");
  EXPECT_EQ(board_.BackColor(field::Info(4)), (Rgb{255, 255, 0}));
  EXPECT_THAT(client_.calls.front(), "Connect");
  EXPECT_THAT(client_.calls.back(), "Disconnect");
}

TEST_F(RelayCycleTest, FailureEndsTheActionButNeverLeavesItHalfDone) {
  Drop("a.cnm", "Newsgroups: local.test\r\n\r\nline\r\n");
  settings_.log_file = folder_ / "missing/nntp.log";  // cannot be written
  EXPECT_THROW(relay().DoAction(), std::runtime_error);
  EXPECT_THAT(client_.calls, ElementsAre("Connect", "Disconnect"));  // nothing posted
  EXPECT_TRUE(board_.Enabled());
  EXPECT_EQ(board_.MousePointer(), kPointerDefault);
  EXPECT_EQ(Text(field::Info(3)), "");
  EXPECT_THAT(Names(settings_.drop_folder), ElementsAre("Errors", "a.cnm"));
}

TEST_F(RelayCycleTest, TickAtAYieldNeverStartsASecondAction) {
  Drop("a.cnm", "Newsgroups: local.test\r\n\r\n");
  on_yield_ = [&] { relay().DoAction(); };
  relay().DoAction();
  EXPECT_EQ(Text(field::kTimNbT), "1");
  EXPECT_EQ(std::count(client_.calls.begin(), client_.calls.end(), "Connect"), 1);
}

TEST_F(RelayCycleTest, SizesOfTwoGibibytesAndMoreCountInFull) {
  const std::string path = settings_.drop_folder + "/huge.cnm";
  testing::WriteFile(path, "Subject: no groups\r\n\r\n");
  fs::resize_file(path, 2147483648ULL + 5);  // sparse: costs no disk
  relay().DoAction();
  EXPECT_EQ(Text(field::Info(5)), "2 147 483 653");
  EXPECT_THAT(ReadFile(settings_.log_file), ::testing::HasSubstr("\"2147483653\""));
}

TEST(FolderListing, MatchesWithoutRegardToCaseInNameOrder) {
  testing::TempFolder folder;
  for (const char* name : {"b.cnm", "A.CNM", ".hidden.cnm", "c.cnm.bak", "d.Cnm", "x.txt"}) {
    testing::WriteFile(folder / name, "x");
  }
  FolderListing listing(folder.path().string(), "*.cnm");
  std::vector<std::string> names{listing.entry().name};
  while (listing.Next()) names.push_back(listing.entry().name);
  EXPECT_THAT(names, ElementsAre(".hidden.cnm", "A.CNM", "b.cnm", "d.Cnm"));
  EXPECT_FALSE(FolderListing(folder / "missing", "*.cnm").valid());
}

}  // namespace
}  // namespace quillport

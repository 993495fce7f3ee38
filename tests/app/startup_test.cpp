#include "app/startup.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QScreen>
#include <chrono>
#include <memory>
#include <string>

#include "app/application.h"
#include "app/main_window.h"
#include "common/settings.h"
#include "tests/app/recording_news_client.h"

namespace quillport {
namespace {

using namespace std::chrono_literals;
using testing::RecordingNewsClient;
using Write = RecordingNewsClient::Write;

class FakeGuard : public InstanceGuard {
 public:
  explicit FakeGuard(bool another_runs) : another_runs_(another_runs) {}
  bool AnotherInstanceRuns() override { return another_runs_; }
  void ActivatePreviousInstance() override { ++activations; }
  int activations = 0;

 private:
  bool another_runs_;
};

const std::chrono::system_clock::time_point kLoadTime{1'800'000'000s};
const std::chrono::system_clock::time_point kStartTime = kLoadTime + 250ms;

// A window, a recording news client and a guard, started as the program
// starts them. The clock reads kLoadTime first, kStartTime after.
struct Started {
  explicit Started(bool another_runs) : guard(another_runs) {
    auto client = std::make_unique<RecordingNewsClient>();
    news = client.get();
    app = std::make_unique<Application>(window, guard, std::move(client), [this] {
      return reads++ == 0 ? kLoadTime : kStartTime;
    });
    goes_on = app->Start();
  }
  MainWindow window;
  FakeGuard guard;
  RecordingNewsClient* news;
  std::unique_ptr<Application> app;
  int reads = 0;
  bool goes_on;
};

bool ShowsPicture(MainWindow& window, const char* name) {
  return !window.findChild<QLabel*>(name)->pixmap().isNull();
}

TEST(Startup, LeavesTheBoardAtItsStartValues) {
  Started started(false);
  MainWindow& board = started.window;
  ASSERT_TRUE(started.goes_on);

  EXPECT_EQ(board.Text("frm_Quillport"), "Quillport " + std::string(settings::kDropFolder) +
                                             " >>> NNTP");
  EXPECT_EQ(board.Text("txt_InfoK(0)"), settings::kDropFolder);
  EXPECT_EQ(board.Text("txt_InfoK(1)"), settings::kServerHost);
  EXPECT_EQ(board.Text("txt_InfoK(2)"), "*.cnm");
  EXPECT_EQ(board.Text("txt_InfoK(3)"), settings::kLogFile);
  EXPECT_EQ(board.Text("txt_TIM_Per"), "2");
  EXPECT_EQ(board.Text("txt_TIM_Rem"), "1");
  for (const char* counter :
       {"txt_TIM_Ela", "txt_TIM_NbT", "txt_Info(4)", "txt_Info(5)", "txt_Info(6)",
        "txt_Info(7)", "txt_Info(8)", "txt_Info(9)", "txt_Info(10)", "txt_Info(11)",
        "txt_Info(12)", "txt_Error_Vol", "txt_Error_Nb"}) {
    EXPECT_EQ(board.Text(counter), "0") << counter;
  }
  EXPECT_EQ(board.Text("txt_Info(3)"), "");
  EXPECT_EQ(board.BackColor("txt_Info(3)"), (Rgb{255, 255, 0}));
  EXPECT_EQ(board.BackColor("txt_Info(4)"), (Rgb{255, 255, 0}));
  EXPECT_FALSE(board.Visible("img_Goo"));
  EXPECT_FALSE(board.Visible("img_Bad"));
  EXPECT_TRUE(board.Visible("img_Ico"));
  EXPECT_TRUE(ShowsPicture(board, "img_Ico"));
  EXPECT_EQ(board.Text("lbl_StatusH"), "");
  EXPECT_EQ(board.Text("lbl_StatusE"), "");
  EXPECT_TRUE(board.Visible("lbl_StatusE"));
  EXPECT_EQ(board.MousePointer(), 0);
  EXPECT_TRUE(board.Enabled());

  // Centred, minimised, and not shown yet: showing it is the caller's step.
  const QRect screen = board.screen()->geometry();
  EXPECT_EQ(board.pos(), QPoint(screen.x() + (screen.width() - 420) / 2,
                                screen.y() + (screen.height() - 340) / 2));
  EXPECT_TRUE(board.windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(board.isVisible());

  EXPECT_EQ(started.app->start_time(), kStartTime);
  EXPECT_EQ(started.guard.activations, 0);
}

TEST(Startup, ConfiguresTheNewsClientInOrderAndListensToItsErrors) {
  Started started(false);
  const std::vector<Write> expected = {
      {19, "bool", "false"},
      {3, "bool", "true"},
      {17, "int16", "30"},
      {8, "text", std::string(settings::kServerHost)},
      {14, "text", std::string(settings::kServerPort)},
      {18, "text", ""},
      {12, "text", ""},
  };
  EXPECT_EQ(started.news->writes, expected);

  // The error event writes the error line's text and leaves its visibility.
  ASSERT_TRUE(started.news->handler);
  started.window.SetVisible("lbl_StatusE", false);
  started.news->handler(10061, "Connection refused");
  EXPECT_EQ(started.window.Text("lbl_StatusE"), "Connection refused (10061)");
  EXPECT_FALSE(started.window.Visible("lbl_StatusE"));
  started.window.SetVisible("lbl_StatusE", true);
  started.news->handler(-1, "x");
  EXPECT_EQ(started.window.Text("lbl_StatusE"), "x (-1)");
  EXPECT_TRUE(started.window.Visible("lbl_StatusE"));
}

TEST(Startup, SecondInstanceActivatesTheFirstAndTouchesNothing) {
  Started started(true);
  MainWindow& board = started.window;
  EXPECT_FALSE(started.goes_on);
  EXPECT_EQ(started.guard.activations, 1);

  // Centred, captioned and minimised, but never shown ...
  EXPECT_EQ(board.Text("frm_Quillport"), "Quillport " + std::string(settings::kDropFolder) +
                                             " >>> NNTP");
  EXPECT_TRUE(board.windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(board.isVisible());
  // ... and the board and the news client as they were.
  EXPECT_EQ(board.Text("txt_InfoK(0)"), "");
  EXPECT_TRUE(board.Visible("img_Goo"));
  EXPECT_TRUE(board.Visible("img_Bad"));
  EXPECT_FALSE(ShowsPicture(board, "img_Ico"));
  EXPECT_TRUE(started.news->writes.empty());
  EXPECT_FALSE(started.news->handler);
  EXPECT_EQ(started.reads, 1);  // the clock was read at load, never by start-up
}

TEST(Startup, FailureIsShownAndTheProgramGoesOn) {
  MainWindow window;
  FakeGuard guard(false);
  auto client = std::make_unique<RecordingNewsClient>();
  client->refuse_id = 17;
  RecordingNewsClient* news = client.get();
  Application app(window, guard, std::move(client));
  EXPECT_TRUE(app.Start());
  EXPECT_EQ(window.Text("lbl_StatusE"), "Start-up failed: setting refused (5)");
  EXPECT_TRUE(window.Visible("lbl_StatusE"));
  EXPECT_EQ(news->writes.size(), 2u);  // nothing after the refused setting
  EXPECT_TRUE(window.Enabled());
}

TEST(Startup, CentresFromTheOuterSize) {
  EXPECT_EQ(CentredTopLeft(QRect(0, 0, 1024, 768), QSize(430, 371)), QPoint(297, 198));
  EXPECT_EQ(CentredTopLeft(QRect(1920, 0, 1280, 1024), QSize(420, 340)), QPoint(2350, 342));
  // A screen smaller than the window: negative, applied as computed.
  EXPECT_EQ(CentredTopLeft(QRect(0, 0, 400, 300), QSize(421, 341)), QPoint(-11, -21));
}

}  // namespace
}  // namespace quillport

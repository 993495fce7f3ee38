// The status window: each control right after start-up against the design (container, place and size in
// twips, colour painted, text), the tab order, and what the controls set off. Expected values are the design's.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/application.h"
#include "app/error_folder_view.h"
#include "app/main_window.h"
#include "board/busy_state.h"
#include "common/settings.h"
#include "tests/support/fake_news_client.h"

namespace quillport {
namespace {

QWidget* Control(QWidget& window, const char* name) {
  if (auto* widget = window.findChild<QWidget*>(name)) return widget;
  throw std::runtime_error(std::string("no control ") + name);
}

struct FirstInstance : InstanceGuard {
  bool AnotherInstanceRuns() override { return false; }
  void ActivatePreviousInstance() override {}
};

class Startup : public ::testing::Test {
 protected:
  void SetUp() override {
    auto client = std::make_unique<testing::FakeNewsClient>();
    news = client.get();
    app = std::make_unique<Application>(window, guard, std::move(client));
    ASSERT_TRUE(app->Start());
  }
  MainWindow window;
  FirstInstance guard;
  testing::FakeNewsClient* news = nullptr;
  std::unique_ptr<Application> app;
};

// The colour most of the control is painted in, by the control itself, without its children.
std::string Ground(QWidget* widget) {
  QImage image(widget->size(), QImage::Format_RGB32);
  widget->render(&image, {}, {}, QWidget::DrawWindowBackground);
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y)];
  }
  return QColor(std::ranges::max_element(count, {}, &std::pair<const QRgb, int>::second)->first).name().toStdString();
}

const char *kFrame = "#c0ffc0", *kLabel = "#ffffc0", *kStatus = "#ffc0ff", *kWhite = "#ffffff", *kRemaining = "#8080ff",
           *kGood = "#80ff80", *kBad = "#ff8080", *kIdle = "#ffff00", *kButton = "#0000ff", *kPicture = nullptr;

struct Designed {
  const char *name, *container;
  int left, top, width, height;  // twips
  const char* ground;
  std::string text;
};

TEST_F(Startup, LeavesEveryControlAsDesignedWithItsStartValue) {
  const std::string drop(settings::kDropFolder), host(settings::kServerHost);
  const std::vector<Designed> design = {
      {"FrameK", "frm_Quillport", 120, 120, 3615, 1695, kFrame, "Constants"},
      {"FrameT", "frm_Quillport", 3840, 120, 1815, 1695, kFrame, "Timer"},
      {"img_Goo", "frm_Quillport", 5760, 120, 480, 480, kPicture, ""},
      {"img_Bad", "frm_Quillport", 5760, 720, 480, 480, kPicture, ""},
      {"img_Ico", "frm_Quillport", 5760, 1320, 495, 495, kPicture, ""},
      {"FrameP", "frm_Quillport", 120, 1920, 6135, 615, kFrame, "File in Progress"},
      {"FrameR", "frm_Quillport", 120, 2640, 6135, 975, kFrame, "Totals"},
      {"lbl_StatusH", "frm_Quillport", 120, 3720, 6135, 255, kStatus, ""},
      {"lbl_StatusE", "frm_Quillport", 120, 4080, 6135, 255, kStatus, ""},
      {"FrameE", "frm_Quillport", 120, 4440, 6135, 615, kFrame, "Errors"},
      {"lbl_InfoK(0)", "FrameK", 120, 240, 975, 255, kLabel, "Source Path:"},
      {"lbl_InfoK(1)", "FrameK", 120, 600, 975, 255, kLabel, "NNTP:"},
      {"lbl_InfoK(2)", "FrameK", 120, 960, 975, 255, kLabel, "Source Files:"},
      {"lbl_InfoK(3)", "FrameK", 120, 1320, 975, 255, kLabel, "Log File:"},
      {"txt_InfoK(0)", "FrameK", 1200, 240, 2295, 285, kWhite, drop},
      {"txt_InfoK(1)", "FrameK", 1200, 600, 2295, 285, kWhite, host},
      {"txt_InfoK(2)", "FrameK", 1200, 960, 2295, 285, kWhite, "*.cnm"},
      {"txt_InfoK(3)", "FrameK", 1200, 1320, 2295, 285, kWhite, std::string(settings::kLogFile)},
      {"lbl_TIM_Per", "FrameT", 120, 240, 975, 255, kLabel, "Periodicity:"},
      {"lbl_TIM_Rem", "FrameT", 120, 600, 975, 255, kLabel, "Remaining:"},
      {"lbl_TIM_Ela", "FrameT", 120, 960, 975, 255, kLabel, "Elapsed:"},
      {"lbl_TIM_NbT", "FrameT", 120, 1320, 975, 255, kLabel, "NbTimes:"},
      {"txt_TIM_Per", "FrameT", 1200, 240, 495, 285, kWhite, "2"},
      {"txt_TIM_Rem", "FrameT", 1200, 600, 495, 285, kRemaining, "1"},
      {"txt_TIM_Ela", "FrameT", 1200, 960, 495, 285, kGood, "0"},
      {"txt_TIM_NbT", "FrameT", 1200, 1320, 495, 285, kGood, "0"},
      {"txt_Info(3)", "FrameP", 120, 240, 4695, 285, kIdle, ""},
      {"txt_Info(4)", "FrameP", 4920, 240, 1095, 285, kIdle, "0"},
      {"lbl_Info(4)", "FrameR", 120, 240, 1575, 255, kLabel, "Totals (Size / Nbr):"},
      {"lbl_Info(5)", "FrameR", 120, 600, 1575, 255, kLabel, "GdTotals (Size / Nbr):"},
      {"txt_Info(5)", "FrameR", 1800, 240, 1095, 285, kGood, "0"},
      {"txt_Info(6)", "FrameR", 3000, 240, 855, 285, kGood, "0"},
      {"txt_Info(7)", "FrameR", 3960, 240, 1095, 285, kBad, "0"},
      {"txt_Info(8)", "FrameR", 5160, 240, 855, 285, kBad, "0"},
      {"txt_Info(9)", "FrameR", 1800, 600, 1095, 285, kGood, "0"},
      {"txt_Info(10)", "FrameR", 3000, 600, 855, 285, kGood, "0"},
      {"txt_Info(11)", "FrameR", 3960, 600, 1095, 285, kBad, "0"},
      {"txt_Info(12)", "FrameR", 5160, 600, 855, 285, kBad, "0"},
      {"lbl_Error(0)", "FrameE", 120, 240, 1575, 255, kLabel, "GdTotals (Size / Nbr):"},
      {"txt_Error_Vol", "FrameE", 1800, 240, 1095, 285, kGood, "0"},
      {"txt_Error_Nb", "FrameE", 3000, 240, 855, 285, kGood, "0"},
      {"cmd_REFRESH", "FrameE", 3960, 240, 615, 255, kButton, "FRESH"},
      {"cmd_PURGE", "FrameE", 4680, 240, 615, 255, kButton, "PURGE"},
      {"cmd_VIEW", "FrameE", 5400, 240, 615, 255, kButton, "VIEW"},
  };
  for (const Designed& c : design) {
    SCOPED_TRACE(c.name);
    QWidget* widget = Control(window, c.name);
    EXPECT_EQ(widget->parentWidget()->objectName(), c.container);
    const QRect at = widget->geometry();
    EXPECT_EQ((std::array{at.x(), at.y(), at.width(), at.height()}),
              (std::array{c.left / 15, c.top / 15, c.width / 15, c.height / 15}));
    if (c.ground == kPicture) continue;
    EXPECT_EQ(Ground(widget), c.ground);
    EXPECT_EQ(window.Text(c.name), c.text);
  }

  EXPECT_EQ(window.Text("frm_Quillport"), "Quillport " + drop + " >>> NNTP");
  EXPECT_EQ(Ground(&window), "#c0c0ff");
  EXPECT_TRUE(window.minimumSize() == QSize(6300 / 15, 5100 / 15) && window.maximumSize() == window.minimumSize());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  const QRect screen = window.screen()->geometry();
  const QSize outer = window.frameGeometry().size();  // the offscreen platform draws a frame too
  EXPECT_EQ(window.pos(),
            screen.topLeft() + QPoint((screen.width() - outer.width()) / 2, (screen.height() - outer.height()) / 2));
  EXPECT_TRUE(window.windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(window.isVisible());  // showing it is the program's next step
  EXPECT_FALSE(window.Visible("img_Goo") || window.Visible("img_Bad"));
  EXPECT_TRUE(window.Visible("img_Ico") && window.Visible("lbl_StatusE"));
  EXPECT_FALSE(window.findChild<QLabel*>("img_Ico")->pixmap().isNull());
  // What the relay paints later is painted, not only remembered.
  window.SetBackColor("txt_Info(3)", {0, 255, 0});
  EXPECT_EQ(Ground(Control(window, "txt_Info(3)")), "#00ff00");

  // The news client's error event writes the error line and leaves its visibility alone.
  window.SetVisible("lbl_StatusE", false);
  news->Fire(10061, "Connection refused");
  EXPECT_EQ(window.Text("lbl_StatusE"), "Connection refused (10061)");
  EXPECT_FALSE(window.Visible("lbl_StatusE"));
  // A text too long for the line is shown cut with "…"; the whole of it is read back and is the tooltip.
  const std::string whole = "Action failed: " + std::string(300, 'x') + " (441 Article <a@b> is refused)";
  window.SetText("lbl_StatusE", whole);
  const auto* line = qobject_cast<QLabel*>(Control(window, "lbl_StatusE"));
  EXPECT_EQ(window.Text("lbl_StatusE"), whole);
  EXPECT_TRUE(line->text().endsWith(QChar(0x2026)));
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
  EXPECT_TRUE(line->toolTip().contains(QString::fromStdString(whole).toHtmlEscaped()));
}

TEST(MainWindow, OnlyTheTimerFieldsTakeTheFocusInTheDesignedTabOrder) {
  MainWindow window;
  // Only the period and the remaining minutes can be typed into.
  const auto read_only = [&](const char* name) {
    return qobject_cast<QLineEdit*>(Control(window, name))->isReadOnly();
  };
  EXPECT_FALSE(read_only("txt_TIM_Per") || read_only("txt_TIM_Rem"));
  EXPECT_TRUE(read_only("txt_TIM_Ela") && read_only("txt_TIM_NbT"));

  // The focus starts on the period; Tab visits the four timer fields, then the buttons right to left, and
  // comes round. Every other field is dimmed.
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QStringList visited;
  for (int stop = 0; stop < 8 && QApplication::focusWidget() != nullptr; ++stop) {
    visited << QApplication::focusWidget()->objectName();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(visited.join(' ').toStdString(),
            "txt_TIM_Per txt_TIM_Rem txt_TIM_Ela txt_TIM_NbT cmd_VIEW cmd_PURGE cmd_REFRESH txt_TIM_Per");
}

// While an Action runs the window keeps processing its events (the relay yields), but being busy it lets
// no click or double-click set anything off; a timer tick still comes through. Idle, each sets off its hook.
TEST(MainWindow, StartsNothingOnInputWhileBusy) {
  MainWindow window;
  window.show();
  std::string ran;
  const auto note = [&ran](const char* hook) { return [&ran, hook] { ran += hook; }; };
  window.SetHooks({note("tick "), note("now "), note("refresh "), note("purge "), note("view")});
  auto* timer = window.findChild<QTimer*>("Timer1");
  ASSERT_TRUE(timer && timer->isActive() && timer->interval() == 60000);  // every minute
  const auto everything = [&] {
    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
    QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
    for (const char* button : {"cmd_REFRESH", "cmd_PURGE", "cmd_VIEW"}) {
      QTest::mouseClick(Control(window, button), Qt::LeftButton);
    }
  };
  {
    BusyState busy(window);
    everything();
  }
  EXPECT_EQ(ran, "tick ");
  everything();
  EXPECT_EQ(ran, "tick tick now refresh purge view");

  // A failure inside the busy state is shown, and the window is usable again.
  window.SetVisible("lbl_StatusE", false);
  window.SetHooks({.remaining_double_clicked = [&] {
    BusyState busy(window);
    throw std::runtime_error("cannot reach <news.example>");
  }});
  QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
  EXPECT_EQ(window.Text("lbl_StatusE"), "Immediate Action failed: cannot reach <news.example>");
  EXPECT_EQ(qobject_cast<QLabel*>(Control(window, "lbl_StatusE"))->textFormat(), Qt::PlainText);
  EXPECT_TRUE(window.Visible("lbl_StatusE") && window.Enabled());
  EXPECT_FALSE(Control(window, "txt_InfoK(0)")->isEnabled());  // dimmed fields stay dimmed
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// VIEW's opener ends after the click: when it finds no file browser for the folder, or is missing, the error
// line says so.
TEST(MainWindow, ViewShowsThatNoFileBrowserCouldOpenTheFolder) {
  QTemporaryDir bin;
  QFile opener(bin.filePath("xdg-open"));
  ASSERT_TRUE(opener.open(QIODevice::WriteOnly) && opener.write("#!/bin/sh\nexit 3\n") > 0);
  opener.close();
  opener.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  MainWindow window;
  for (const auto& [folders, failure] : {std::pair(bin.path(), "show /E (xdg-open ended with status 3)"),
                                         std::pair(bin.filePath("none"), "be started for /E (xdg-open: ")}) {
    qputenv("PATH", folders.toLocal8Bit());
    window.SetVisible("lbl_StatusE", false);
    ViewErrorFolder("/E", window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Visible("lbl_StatusE"); }, 10000));
    EXPECT_EQ(window.Text("lbl_StatusE").rfind("View failed: no file browser could " + std::string(failure), 0), 0u)
        << window.Text("lbl_StatusE");
  }
  qputenv("PATH", path);
}

}  // namespace
}  // namespace quillport

// One QApplication for all; offscreen unless a platform is set.
int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

#include "app/main_window.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/busy_state.h"

namespace quillport {
namespace {

QWidget* Control(QWidget& window, const std::string& name) {
  auto* widget = window.findChild<QWidget*>(QString::fromStdString(name));
  if (widget == nullptr) throw std::runtime_error("no control " + name);
  return widget;
}

QColor PixelAt(QWidget* widget, int x, int y) {
  return widget->grab().toImage().pixelColor(x, y);
}

// The colour most of the control is painted in: its background.
QColor Ground(QWidget* widget) {
  const QImage image = widget->grab().toImage();
  std::map<QRgb, int> count;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) ++count[image.pixel(x, y)];
  }
  const auto most = std::max_element(count.begin(), count.end(), [](auto& a, auto& b) {
    return a.second < b.second;
  });
  return QColor(most->first);
}

QColor Rgb(int red, int green, int blue) { return QColor(red, green, blue); }

// Every control as designed: its container, and place and size in twips.
struct Placed {
  const char* name;
  const char* container;
  int left, top, width, height;
};
const std::vector<Placed> kDesign = {
    {"FrameK", "frm_Quillport", 120, 120, 3615, 1695},
    {"FrameT", "frm_Quillport", 3840, 120, 1815, 1695},
    {"img_Goo", "frm_Quillport", 5760, 120, 480, 480},
    {"img_Bad", "frm_Quillport", 5760, 720, 480, 480},
    {"img_Ico", "frm_Quillport", 5760, 1320, 495, 495},
    {"FrameP", "frm_Quillport", 120, 1920, 6135, 615},
    {"FrameR", "frm_Quillport", 120, 2640, 6135, 975},
    {"lbl_StatusH", "frm_Quillport", 120, 3720, 6135, 255},
    {"lbl_StatusE", "frm_Quillport", 120, 4080, 6135, 255},
    {"FrameE", "frm_Quillport", 120, 4440, 6135, 615},
    {"lbl_InfoK(0)", "FrameK", 120, 240, 975, 255},
    {"lbl_InfoK(1)", "FrameK", 120, 600, 975, 255},
    {"lbl_InfoK(2)", "FrameK", 120, 960, 975, 255},
    {"lbl_InfoK(3)", "FrameK", 120, 1320, 975, 255},
    {"txt_InfoK(0)", "FrameK", 1200, 240, 2295, 285},
    {"txt_InfoK(1)", "FrameK", 1200, 600, 2295, 285},
    {"txt_InfoK(2)", "FrameK", 1200, 960, 2295, 285},
    {"txt_InfoK(3)", "FrameK", 1200, 1320, 2295, 285},
    {"lbl_TIM_Per", "FrameT", 120, 240, 975, 255},
    {"lbl_TIM_Rem", "FrameT", 120, 600, 975, 255},
    {"lbl_TIM_Ela", "FrameT", 120, 960, 975, 255},
    {"lbl_TIM_NbT", "FrameT", 120, 1320, 975, 255},
    {"txt_TIM_Per", "FrameT", 1200, 240, 495, 285},
    {"txt_TIM_Rem", "FrameT", 1200, 600, 495, 285},
    {"txt_TIM_Ela", "FrameT", 1200, 960, 495, 285},
    {"txt_TIM_NbT", "FrameT", 1200, 1320, 495, 285},
    {"txt_Info(3)", "FrameP", 120, 240, 4695, 285},
    {"txt_Info(4)", "FrameP", 4920, 240, 1095, 285},
    {"lbl_Info(4)", "FrameR", 120, 240, 1575, 255},
    {"lbl_Info(5)", "FrameR", 120, 600, 1575, 255},
    {"txt_Info(5)", "FrameR", 1800, 240, 1095, 285},
    {"txt_Info(6)", "FrameR", 3000, 240, 855, 285},
    {"txt_Info(7)", "FrameR", 3960, 240, 1095, 285},
    {"txt_Info(8)", "FrameR", 5160, 240, 855, 285},
    {"txt_Info(9)", "FrameR", 1800, 600, 1095, 285},
    {"txt_Info(10)", "FrameR", 3000, 600, 855, 285},
    {"txt_Info(11)", "FrameR", 3960, 600, 1095, 285},
    {"txt_Info(12)", "FrameR", 5160, 600, 855, 285},
    {"lbl_Error(0)", "FrameE", 120, 240, 1575, 255},
    {"txt_Error_Vol", "FrameE", 1800, 240, 1095, 285},
    {"txt_Error_Nb", "FrameE", 3000, 240, 855, 285},
    {"cmd_REFRESH", "FrameE", 3960, 240, 615, 255},
    {"cmd_PURGE", "FrameE", 4680, 240, 615, 255},
    {"cmd_VIEW", "FrameE", 5400, 240, 615, 255},
};

TEST(MainWindow, IsBuiltAsDesigned) {
  MainWindow window;
  EXPECT_EQ(window.objectName(), "frm_Quillport");
  EXPECT_EQ(window.windowTitle(), "Quillport");
  EXPECT_EQ(window.minimumSize(), QSize(6300 / 15, 5100 / 15));
  EXPECT_EQ(window.maximumSize(), QSize(6300 / 15, 5100 / 15));
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);

  for (const Placed& control : kDesign) {
    SCOPED_TRACE(control.name);
    QWidget* widget = Control(window, control.name);
    EXPECT_EQ(widget->parentWidget()->objectName(), control.container);
    EXPECT_EQ(widget->geometry(), QRect(control.left / 15, control.top / 15,
                                        control.width / 15, control.height / 15));
  }

  const std::vector<std::pair<std::string, std::string>> captions = {
      {"FrameK", "Constants"}, {"FrameT", "Timer"}, {"FrameP", "File in Progress"},
      {"FrameR", "Totals"}, {"FrameE", "Errors"},
      {"lbl_InfoK(0)", "Source Path:"}, {"lbl_InfoK(1)", "NNTP:"},
      {"lbl_InfoK(2)", "Source Files:"}, {"lbl_InfoK(3)", "Log File:"},
      {"lbl_TIM_Per", "Periodicity:"}, {"lbl_TIM_Rem", "Remaining:"},
      {"lbl_TIM_Ela", "Elapsed:"}, {"lbl_TIM_NbT", "NbTimes:"},
      {"lbl_Info(4)", "Totals (Size / Nbr):"}, {"lbl_Info(5)", "GdTotals (Size / Nbr):"},
      {"lbl_Error(0)", "GdTotals (Size / Nbr):"},
      {"cmd_REFRESH", "FRESH"}, {"cmd_PURGE", "PURGE"}, {"cmd_VIEW", "VIEW"}};
  for (const auto& [name, caption] : captions) EXPECT_EQ(window.Text(name), caption) << name;
  EXPECT_NE(qobject_cast<QGroupBox*>(Control(window, "FrameR")), nullptr);
  EXPECT_NE(qobject_cast<QPushButton*>(Control(window, "cmd_VIEW")), nullptr);

  auto* timer = window.findChild<QTimer*>("Timer1");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 60000);
  EXPECT_TRUE(timer->isActive());
}

TEST(MainWindow, ShowsTheDesignColours) {
  MainWindow window;
  EXPECT_EQ(PixelAt(&window, 2, 2), Rgb(192, 192, 255));
  for (const char* frame : {"FrameK", "FrameT", "FrameP", "FrameR", "FrameE"}) {
    QWidget* widget = Control(window, frame);
    EXPECT_EQ(PixelAt(widget, 4, widget->height() - 4), Rgb(192, 255, 192)) << frame;
    // The caption is drawn in magenta on the top line.
    const QImage image = widget->grab().toImage();
    bool magenta = false;
    for (int y = 0; y < 16 && !magenta; ++y) {
      for (int x = 0; x < image.width() && !magenta; ++x) {
        const QColor c = image.pixelColor(x, y);
        magenta = c.red() > 200 && c.green() < 60 && c.blue() > 200;
      }
    }
    EXPECT_TRUE(magenta) << frame;
  }
  const std::vector<std::pair<std::string, QColor>> grounds = {
      {"lbl_InfoK(0)", Rgb(255, 255, 192)}, {"lbl_TIM_NbT", Rgb(255, 255, 192)},
      {"lbl_Info(5)", Rgb(255, 255, 192)}, {"lbl_Error(0)", Rgb(255, 255, 192)},
      {"lbl_StatusH", Rgb(255, 192, 255)}, {"lbl_StatusE", Rgb(255, 192, 255)},
      {"txt_InfoK(2)", Rgb(255, 255, 255)}, {"txt_TIM_Per", Rgb(255, 255, 255)},
      {"txt_TIM_Rem", Rgb(128, 128, 255)}, {"txt_TIM_Ela", Rgb(128, 255, 128)},
      {"txt_TIM_NbT", Rgb(128, 255, 128)}, {"txt_Info(3)", Rgb(255, 255, 0)},
      {"txt_Info(4)", Rgb(255, 255, 0)}, {"txt_Info(5)", Rgb(128, 255, 128)},
      {"txt_Info(6)", Rgb(128, 255, 128)}, {"txt_Info(7)", Rgb(255, 128, 128)},
      {"txt_Info(8)", Rgb(255, 128, 128)}, {"txt_Info(9)", Rgb(128, 255, 128)},
      {"txt_Info(10)", Rgb(128, 255, 128)}, {"txt_Info(11)", Rgb(255, 128, 128)},
      {"txt_Info(12)", Rgb(255, 128, 128)}, {"txt_Error_Vol", Rgb(128, 255, 128)},
      {"txt_Error_Nb", Rgb(128, 255, 128)}, {"cmd_REFRESH", Rgb(0, 0, 255)},
      {"cmd_PURGE", Rgb(0, 0, 255)}, {"cmd_VIEW", Rgb(0, 0, 255)}};
  for (const auto& [name, colour] : grounds) {
    EXPECT_EQ(Ground(Control(window, name)), colour) << name;
  }
}

TEST(MainWindow, TakesInputOnlyWhereTheOperatorMayType) {
  MainWindow window;
  const std::set<std::string> editable = {"txt_TIM_Per", "txt_TIM_Rem"};
  const std::set<std::string> shown_only = {"txt_TIM_Ela", "txt_TIM_NbT"};
  const auto field = [&](const std::string& name) {
    return qobject_cast<QLineEdit*>(Control(window, name));
  };
  // Every other field is dimmed (disabled) and read-only.
  for (const Placed& control : kDesign) {
    const std::string name = control.name;
    if (!name.starts_with("txt_")) continue;
    EXPECT_EQ(field(name)->isEnabled(), editable.contains(name) || shown_only.contains(name))
        << name;
    EXPECT_EQ(field(name)->isReadOnly(), !editable.contains(name)) << name;
  }
  for (const char* left : {"txt_InfoK(0)", "txt_InfoK(3)", "txt_Info(3)"}) {
    EXPECT_TRUE(field(left)->alignment() & Qt::AlignLeft) << left;
  }
  for (const char* right : {"txt_TIM_Per", "txt_TIM_NbT", "txt_Info(4)", "txt_Info(12)",
                            "txt_Error_Vol", "txt_Error_Nb"}) {
    EXPECT_TRUE(field(right)->alignment() & Qt::AlignRight) << right;
  }

  EXPECT_EQ(field("txt_TIM_Per")->toolTip(), "Periodicity Between Actions (minutes)");
  EXPECT_EQ(field("txt_TIM_Rem")->toolTip(),
            "Remaining Time before Next Action (minutes) (double-Click for immediate Action)");
  EXPECT_EQ(field("txt_TIM_Ela")->toolTip(), "Elapsed Time since Program Started (minutes)");
  EXPECT_EQ(field("txt_TIM_NbT")->toolTip(), "Number of Times Action was Processed");
  for (const Placed& control : kDesign) {
    if (std::string(control.name).starts_with("txt_TIM_")) continue;
    EXPECT_TRUE(Control(window, control.name)->toolTip().isEmpty()) << control.name;
  }

  // The focus starts on the period and Tab runs through the fields that take
  // input, then the buttons from right to left, and round again.
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  const std::vector<QString> tab_order = {"txt_TIM_Per", "txt_TIM_Rem", "txt_TIM_Ela",
                                          "txt_TIM_NbT", "cmd_VIEW",    "cmd_PURGE",
                                          "cmd_REFRESH", "txt_TIM_Per"};
  for (const QString& expected : tab_order) {
    QWidget* focus = QApplication::focusWidget();
    ASSERT_NE(focus, nullptr);
    EXPECT_EQ(focus->objectName(), expected);
    QTest::keyClick(focus, Qt::Key_Tab);
  }
}

TEST(MainWindow, DrawsItsPicturesOnATransparentGround) {
  MainWindow window;
  const auto image = [&](const char* name) {
    return qobject_cast<QLabel*>(Control(window, name))->pixmap().toImage();
  };
  const QImage sun = image("img_Goo");
  const QImage snowflake = image("img_Bad");
  ASSERT_FALSE(sun.isNull());
  ASSERT_FALSE(snowflake.isNull());
  EXPECT_EQ(sun.pixelColor(0, 0).alpha(), 0);
  EXPECT_EQ(snowflake.pixelColor(0, 0).alpha(), 0);
  const QColor sun_centre = sun.pixelColor(sun.width() / 2, sun.height() / 2);
  EXPECT_TRUE(sun_centre.red() > 200 && sun_centre.green() > 180 && sun_centre.blue() < 100);
  const QColor flake_centre = snowflake.pixelColor(snowflake.width() / 2, snowflake.height() / 2);
  EXPECT_TRUE(flake_centre.red() < 60 && flake_centre.green() > 200 && flake_centre.blue() > 200);
  EXPECT_TRUE(image("img_Ico").isNull());  // the icon comes with start-up
}

TEST(MainWindow, ActsAsTheStatusBoard) {
  MainWindow window;
  window.SetText("txt_Info(9)", "1 234 567");
  EXPECT_EQ(window.Text("txt_Info(9)"), "1 234 567");
  window.SetText("lbl_StatusH", "Connected To <news.example>");
  EXPECT_EQ(window.Text("lbl_StatusH"), "Connected To <news.example>");
  EXPECT_EQ(qobject_cast<QLabel*>(Control(window, "lbl_StatusH"))->textFormat(), Qt::PlainText);
  window.SetText("frm_Quillport", "Quillport x");
  EXPECT_EQ(window.windowTitle(), "Quillport x");

  window.SetBackColor("txt_Info(3)", {0, 255, 0});
  EXPECT_EQ(window.BackColor("txt_Info(3)"), (quillport::Rgb{0, 255, 0}));
  EXPECT_EQ(Ground(Control(window, "txt_Info(3)")), Rgb(0, 255, 0));
  EXPECT_EQ(Ground(Control(window, "txt_Info(4)")), Rgb(255, 255, 0));
  window.SetBackColor("frm_Quillport", {1, 2, 3});
  EXPECT_EQ(window.BackColor("frm_Quillport"), (quillport::Rgb{1, 2, 3}));

  // A path longer than its field shows its beginning.
  const std::string path = "/var/spool/quillport/_M2News/" + std::string(200, 'a') + ".cnm";
  window.SetText("txt_Info(3)", path);
  EXPECT_EQ(qobject_cast<QLineEdit*>(Control(window, "txt_Info(3)"))->cursorPosition(), 0);

  // Visibility is each control's own, whether or not the window is shown.
  ASSERT_FALSE(window.isVisible());
  window.SetVisible("img_Goo", false);
  EXPECT_FALSE(window.Visible("img_Goo"));
  EXPECT_TRUE(window.Visible("img_Bad"));
  window.SetVisible("img_Goo", true);
  EXPECT_TRUE(window.Visible("img_Goo"));

  window.SetMousePointer(kPointerHourglass);
  window.SetMousePointer(kPointerHourglass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  window.SetMousePointer(kPointerDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(window.MousePointer(), kPointerDefault);

  // Enabling the window again leaves the dimmed fields dimmed.
  window.SetEnabled(false);
  EXPECT_FALSE(window.Enabled());
  EXPECT_FALSE(Control(window, "txt_TIM_Per")->isEnabled());
  window.SetEnabled(true);
  EXPECT_TRUE(Control(window, "txt_TIM_Per")->isEnabled());
  EXPECT_FALSE(Control(window, "txt_InfoK(0)")->isEnabled());

  EXPECT_THROW(window.Text("txt_Info(2)"), std::out_of_range);
  EXPECT_THROW(window.SetText("txt_Info(13)", "x"), std::out_of_range);
  EXPECT_THROW(window.BackColor("lbl_Status"), std::out_of_range);
  EXPECT_THROW(window.SetVisible("img_Sun", true), std::out_of_range);
  EXPECT_THROW(window.Text("img_Goo"), std::invalid_argument);
}

TEST(MainWindow, RunsItsHooksAndShowsTheirFailures) {
  MainWindow window;
  window.show();
  int ticks = 0, actions = 0, refreshes = 0, purges = 0, views = 0;
  window.SetHooks({.tick = [&] { ++ticks; },
                   .remaining_double_clicked = [&] { ++actions; },
                   .refresh = [&] { ++refreshes; },
                   .purge = [&] { ++purges; },
                   .view = [&] { ++views; }});

  auto* timer = window.findChild<QTimer*>("Timer1");
  QTimerEvent tick(timer->timerId());
  QCoreApplication::sendEvent(timer, &tick);
  QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
  QTest::mouseDClick(Control(window, "txt_TIM_Per"), Qt::LeftButton);
  QTest::mouseClick(Control(window, "cmd_REFRESH"), Qt::LeftButton);
  QTest::mouseClick(Control(window, "cmd_PURGE"), Qt::LeftButton);
  QTest::mouseClick(Control(window, "cmd_PURGE"), Qt::LeftButton);
  QTest::mouseClick(Control(window, "cmd_VIEW"), Qt::LeftButton);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(actions, 1);
  EXPECT_EQ(refreshes, 1);
  EXPECT_EQ(purges, 2);
  EXPECT_EQ(views, 1);

  // A failure inside the busy state: reported, and the window usable again.
  window.SetVisible("lbl_StatusE", false);
  window.SetHooks({.remaining_double_clicked = [&] {
    BusyState busy(window);
    throw std::runtime_error("drop folder unreadable");
  }});
  QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
  EXPECT_EQ(window.Text("lbl_StatusE"), "Immediate Action failed: drop folder unreadable");
  EXPECT_TRUE(window.Visible("lbl_StatusE"));
  EXPECT_TRUE(window.Enabled());
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

  // Buttons whose hooks are not wired do nothing.
  QTest::mouseClick(Control(window, "cmd_VIEW"), Qt::LeftButton);
  EXPECT_EQ(views, 1);
}

}  // namespace
}  // namespace quillport

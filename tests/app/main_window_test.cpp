// The status window: each control after start-up as the layout table has it, and what the controls set off.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTimerEvent>
#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>

#include "app/application.h"
#include "app/error_folder_view.h"
#include "app/main_window.h"
#include "app/relay_runner.h"
#include "board/busy_state.h"
#include "common/settings.h"
#include "tests/testing/fake_news_client.h"
#include "tests/testing/temp_folder.h"

namespace quillport {
namespace {

QWidget* Control(QWidget& window, const char* name) {
  if (auto* widget = window.findChild<QWidget*>(name)) return widget;
  throw std::runtime_error(std::string("no control ") + name);
}

// The colour most of the control is painted in, by the control itself, without its children.
std::string Ground(QWidget* widget) {
  QImage image(widget->size(), QImage::Format_RGB32);
  widget->render(&image, {}, {}, QWidget::DrawWindowBackground);
  std::map<QRgb, int> count;
  for (int i = 0; i < image.width() * image.height(); ++i) ++count[image.pixel(i % image.width(), i / image.width())];
  return QColor(std::ranges::max_element(count, {}, &std::pair<const QRgb, int>::second)->first).name().toStdString();
}

// Every control where the layout table puts it (15 twips a pixel), in its colour, with its start text.
TEST(Startup, LeavesEveryControlAsTheLayoutTableHasIt) {
  struct FirstInstance : InstanceGuard {
    bool AnotherInstanceRuns() override { return false; }
    Activation ActivatePreviousInstance() override { return Activation::kUnreachable; }
    bool TakeOverFromEndingInstance() override { return false; }
  } guard;
  MainWindow window;
  Application app(window, guard, std::make_unique<testing::FakeNewsClient>());
  ASSERT_EQ(app.Start(), StartupOutcome::kGoesOn);
  const std::string_view written[] = {settings::kDropFolder, settings::kServerHost, settings::kMessagePattern,
                                      settings::kLogFile};  // into txt_InfoK(0) to (3)
  for (const ControlSpec& c : WindowControls()) {
    SCOPED_TRACE(c.name);
    QWidget* widget = Control(window, std::string(c.name).c_str());
    EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), c.container.empty() ? "frm_Quillport" : c.container);
    const QRect at = widget->geometry();
    EXPECT_EQ((std::array{at.x(), at.y(), at.width(), at.height()}),
              (std::array{c.left / 15, c.top / 15, c.width / 15, c.height / 15}));
    if (c.kind == ControlKind::kPicture) continue;
    const Rgb back = c.back.value_or(kDefaultFieldBack);
    EXPECT_EQ(Ground(widget), QColor(back.red, back.green, back.blue).name().toStdString());
    EXPECT_EQ(window.Text(c.name), c.name.starts_with("txt_InfoK(") ? written[c.name[10] - '0'] : c.text);
  }

  EXPECT_EQ(window.Text("frm_Quillport"), "Quillport " + std::string(settings::kDropFolder) + " >>> NNTP");
  EXPECT_EQ(Ground(&window), "#c0c0ff");
  EXPECT_TRUE(window.minimumSize() == QSize(6300 / 15, 5100 / 15) && window.maximumSize() == window.minimumSize());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(window.isVisible());  // showing it is the program's next step
  EXPECT_FALSE(window.Visible("img_Goo") || window.Visible("img_Bad"));
  EXPECT_TRUE(window.Visible("img_Ico") && window.Visible("lbl_StatusE"));
  EXPECT_FALSE(window.findChild<QLabel*>("img_Ico")->pixmap().isNull());
  // What the relay paints later is painted, not only remembered.
  window.SetBackColor("txt_Info(3)", {0, 255, 0});
  EXPECT_EQ(Ground(Control(window, "txt_Info(3)")), "#00ff00");

  // A text too long for the line is shown cut with "…"; the whole of it is read back and is the tooltip.
  const std::string whole = "Action failed: " + std::string(300, 'x') + " (441 Article <a@b> is refused)";
  window.SetText("lbl_StatusE", whole);
  const auto* line = qobject_cast<QLabel*>(Control(window, "lbl_StatusE"));
  EXPECT_EQ(window.Text("lbl_StatusE"), whole);
  EXPECT_TRUE(line->text().endsWith(QChar(0x2026)));
  EXPECT_LE(line->fontMetrics().horizontalAdvance(line->text()), line->width());
  EXPECT_TRUE(line->toolTip().contains(QString::fromStdString(whole).toHtmlEscaped()));
}

// Busy, no click, double-click or key sets anything off, but a timer tick comes through. Idle, each runs its hook.
TEST(MainWindow, StartsNothingOnInputWhileBusyAndTimerFieldsKeepOnlyNumbers) {
  MainWindow window;
  window.show();
  window.activateWindow();  // a shortcut needs its window active
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window, 20000));
  std::string ran;
  const auto note = [&ran](const char* hook) { return [&ran, hook] { ran += hook; }; };
  window.SetHooks({note("tick "), note("now "), note("refresh "), note("purge "), note("view")});
  auto* timer = window.findChild<QTimer*>("Timer1");
  ASSERT_TRUE(timer && timer->isActive() && timer->interval() == 60000);  // every minute
  const auto everything = [&] {
    QTimerEvent tick(timer->timerId());
    QCoreApplication::sendEvent(timer, &tick);
    QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
    QTest::keyClick(&window, Qt::Key_F5);  // the keyboard's way to an Action at once, and Enter in Remaining
    QTest::keyClick(Control(window, "txt_TIM_Rem"), Qt::Key_Return);
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
  EXPECT_EQ(ran, "tick tick now now now refresh purge view");

  // A failure of a hook is shown under its handler's name, as plain text.
  window.SetVisible("lbl_StatusE", false);
  window.SetHooks({.remaining_double_clicked = [] { throw std::runtime_error("cannot reach <news.example>"); }});
  QTest::mouseDClick(Control(window, "txt_TIM_Rem"), Qt::LeftButton);
  EXPECT_EQ(window.Text("lbl_StatusE"), "Immediate Action failed: cannot reach <news.example>");
  EXPECT_EQ(qobject_cast<QLabel*>(Control(window, "lbl_StatusE"))->textFormat(), Qt::PlainText);
  EXPECT_TRUE(window.Visible("lbl_StatusE"));

  // A timer field keeps only numbers: after a typo it goes back to its last number, and the error line says why.
  auto* period = qobject_cast<QLineEdit*>(Control(window, "txt_TIM_Per"));
  auto* remaining = qobject_cast<QLineEdit*>(Control(window, "txt_TIM_Rem"));
  const auto type = [](QLineEdit* field, const char* text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
  };
  for (const char* number : {"-0.5", "0", "2.25"}) {
    type(period, number);
    EXPECT_EQ(period->text(), number);
  }
  window.SetVisible("lbl_StatusE", false);
  type(period, "abc");
  EXPECT_EQ(period->text(), "2.25");
  EXPECT_EQ(window.Text("lbl_StatusE"), "Periodicity: \"abc\" is not a number; it is back to 2.25");
  EXPECT_TRUE(window.Visible("lbl_StatusE"));
  window.SetText("txt_TIM_Rem", "7");  // the countdown's own writes are numbers too
  type(remaining, "1,5");
  EXPECT_EQ(remaining->text(), "7");
}

// The window draws the engine's Action live and is busy until its end; a close mid-Action is taken back, a stop
// signal stops it after the file in progress.
TEST(RelayRunner, TheWindowDrawsTheActionLiveAndAClosingStopsItAfterTheFileInProgress) {
  testing::TempFolder folder;
  const RelaySettings settings{folder / "drop", "*.cnm", folder / "drop/Errors", folder / "nntp.log", {}, {}};
  std::filesystem::create_directories(settings.error_folder);
  // After a, b and c, enough files that the window draws while the engine goes on reporting.
  for (const std::string name : {"/a", "/b", "/c", "/d0", "/d1", "/d2", "/d3", "/d4", "/d5", "/d6", "/d7", "/d8"}) {
    testing::WriteFile(settings.drop_folder + name + ".cnm", "Newsgroups: local.test\r\n\r\nbody\r\n");
  }
  std::atomic<bool> held{true};
  testing::FakeNewsClient client;
  client.on_write = [&held] {  // the server is slow to take the article
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    while (held) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  MainWindow window;
  int refreshes = 0;
  RelayRunner relay(window, client, settings, std::chrono::system_clock::now, [&] { ++refreshes; });
  const auto in_progress = [&](const char* name) {
    return QTest::qWaitFor([&] { return window.Text("txt_Info(3)") == settings.drop_folder + name; }, 30000);
  };

  relay.StartAction(ActionTrigger::kTimer, true);
  EXPECT_TRUE(relay.Running() && !window.Enabled());
  EXPECT_TRUE(QGuiApplication::overrideCursor() && QGuiApplication::overrideCursor()->shape() == Qt::WaitCursor);
  // Drawn while the engine waits on the server: the window's thread is never held.
  EXPECT_TRUE(in_progress("/a.cnm"));
  EXPECT_EQ(window.Text("txt_Info(6)") + "|" + window.Text("txt_TIM_NbT"), "1|1");
  EXPECT_EQ(window.Text("lbl_StatusH"), "Connected To news.example");
  relay.StartAction(ActionTrigger::kOperator, false);  // nothing: one is under way
  EXPECT_TRUE(!relay.MayClose() && relay.TakeBackClose());
  held = false;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !relay.Running(); }, 30000));
  EXPECT_EQ(testing::Names(settings.drop_folder), std::vector<std::string>{"Errors"});
  EXPECT_TRUE(window.Enabled() && QGuiApplication::overrideCursor() == nullptr);
  EXPECT_EQ(window.Text("txt_Info(3)") + "|" + window.Text("txt_Info(4)"), "|0");
  EXPECT_EQ(refreshes, 1);

  for (const char* name : {"/a.cnm", "/b.cnm"})
    testing::WriteFile(settings.drop_folder + name, "Newsgroups: x\r\n\r\n");
  held = true;
  relay.StartAction(ActionTrigger::kOperator, false);
  EXPECT_TRUE(in_progress("/a.cnm"));
  EXPECT_FALSE(relay.StopOnSignal() || relay.TakeBackClose());
  held = false;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !relay.Running(); }, 30000));
  EXPECT_EQ(testing::Names(settings.drop_folder), (std::vector<std::string>{"Errors", "b.cnm"}));
  EXPECT_EQ(refreshes, 1);
  EXPECT_TRUE(!relay.TakeBackClose() && relay.StopOnSignal());
}

// When VIEW's opener finds no file browser for the folder, or is missing, the error line says so.
TEST(MainWindow, ViewShowsThatNoFileBrowserCouldOpenTheFolder) {
  QTemporaryDir bin;
  testing::WriteFile(bin.filePath("xdg-open").toStdString(), "#!/bin/sh\nexit 3\n");
  QFile(bin.filePath("xdg-open")).setPermissions(QFile::ReadOwner | QFile::ExeOwner);
  const QByteArray path = qgetenv("PATH");
  MainWindow window;
  for (const auto& [folders, failure] : {std::pair(bin.path(), "show /E (xdg-open ended with status 3)"),
                                         std::pair(bin.filePath("none"), "be started for /E (xdg-open: ")}) {
    qputenv("PATH", folders.toLocal8Bit());
    window.SetVisible("lbl_StatusE", false);
    ViewErrorFolder("/E", window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Visible("lbl_StatusE"); }, 30000));
    EXPECT_EQ(window.Text("lbl_StatusE").rfind("View failed: no file browser could " + std::string(failure), 0), 0u)
        << window.Text("lbl_StatusE");
  }
  qputenv("PATH", path);
}

}  // namespace
}  // namespace quillport

// One QApplication for all; offscreen unless a platform is set. Under ThreadSanitizer, one test a process.
int main(int argc, char* argv[]) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}

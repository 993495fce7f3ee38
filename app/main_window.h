// frm_Quillport: the operator's one window, and the status board the relay
// writes to. It is built from the control table (board_layout.h): every
// control sits where the table puts it and carries its design name as its
// object name ("txt_Info(3)"), so tests and tools find it by name.
//
// The window owns the minute timer Timer1, which starts when the window is
// made and never stops. The timer fields Periodicity and Remaining keep only
// what reads as a number: when the operator ends an edit (Enter, or the
// focus leaves) with another text, the field goes back to its last number
// and the error line says why. What the timer, the double-click and the buttons do
// is not the window's business: it calls the hooks below, each inside
// RunEventHandler, so a failure is shown on the error line and the program
// goes on.
#pragma once

#include <QWidget>
#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "board/board_layout.h"
#include "board/status_board.h"

class QTimer;

namespace quillport {

// The window's events, wired by the application to the scheduler and the
// error-folder tools. Each runs on the window's thread and returns without
// waiting for long work (an Action runs on the engine's own thread). While
// the window is disabled (busy) no click or double-click sets a hook off;
// the timer still does. An empty hook does nothing. A failure it throws is
// shown under the handler name in brackets: "<name> failed: <what>".
struct WindowHooks {
  std::function<void()> tick{};                      // Timer1, every 60000 ms ("Tick")
  std::function<void()> remaining_double_clicked{};  // txt_TIM_Rem ("Immediate Action")
  std::function<void()> refresh{};                   // cmd_REFRESH, "FRESH" ("Refresh")
  std::function<void()> purge{};                     // cmd_PURGE ("Purge")
  std::function<void()> view{};                      // cmd_VIEW ("View")
  // Asked when the window is to close: false keeps the program running
  // with the window hidden (it ends by itself once its work is done).
  std::function<bool()> may_close{};
};

class MainWindow : public QWidget, public StatusBoard {
  Q_OBJECT

 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Replaces the hooks; a hook may be replaced while the window runs.
  void SetHooks(WindowHooks hooks) { hooks_ = std::move(hooks); }

  // Shows the window's icon in the picture `control` (img_Ico).
  void ShowWindowIcon(std::string_view control);

  // Shows the window restored, when it is minimised or hidden (closed during
  // an Action), and brings it to the foreground.
  void ComeForward();

  // StatusBoard. Controls are addressed by object name; the window's caption
  // is "frm_Quillport". An unknown name throws std::out_of_range; asking a
  // picture for its text or colour throws std::invalid_argument. A label
  // shows a text too wide for it cut with "…" and the whole in its tooltip;
  // Text gives the whole text.
  std::string Text(std::string_view control) const override;
  void SetText(std::string_view control, std::string_view text) override;
  Rgb BackColor(std::string_view control) const override;
  void SetBackColor(std::string_view control, Rgb colour) override;
  bool Visible(std::string_view control) const override;
  void SetVisible(std::string_view control, bool visible) override;
  int MousePointer() const override { return pointer_; }
  void SetMousePointer(int code) override;
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Control {
    QWidget* widget;
    ControlKind kind;
    Rgb back;
  };

  void Build();
  void FitFont();
  void Paint(const Control& control);
  void PaintWindow();
  const Control& At(std::string_view name) const;
  Control& At(std::string_view name);
  void Run(std::string_view handler, const std::function<void()>& hook);
  void KeepNumberOrGoBack(std::string_view control);

  std::map<std::string, Control, std::less<>> controls_;
  // The timer fields the operator types into (Periodicity, Remaining), with
  // the last text of each that read as a number.
  std::map<std::string, QString, std::less<>> last_numbers_;
  Rgb window_back_;
  WindowHooks hooks_;
  QTimer* timer_ = nullptr;
  int pointer_ = kPointerDefault;
};

}  // namespace quillport

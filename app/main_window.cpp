#include "app/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/event_handler.h"
#include "app/normal_state_hint.h"
#include "app/pictures.h"
#include "board/board_fields.h"
#include "board/control_descriptions.h"
#include "common/number_format.h"
#include "common/printable_text.h"
#include "common/settings.h"

namespace quillport {
namespace {

QString ToQt(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

std::string FromQt(const QString& text) { return text.toStdString(); }

int Pixels(int twips) { return twips / kTwipsPerPixel; }

constexpr qreal kSmallestPointSize = 6.0;

// The property that holds a label's whole text, which it may show cut.
constexpr char kWholeText[] = "wholeText";

// Shows `text` in `label`. A text wider than the label is cut at the right
// with "…", and the label's tooltip shows the whole of it (as rich text, so
// that it wraps and no "<...>" in it is taken for markup).
void ShowLabelText(QLabel* label, const QString& text) {
  const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, label->contentsRect().width());
  label->setText(shown);
  label->setProperty(kWholeText, text);
  label->setToolTip(shown == text ? QString() : "<qt>" + text.toHtmlEscaped() + "</qt>");
}

QString Css(Rgb colour) { return QStringLiteral("rgb(%1, %2, %3)").arg(colour.red).arg(colour.green).arg(colour.blue); }

// The picture each picture control holds from the start; img_Ico gets the
// window's icon at start-up.
QString DesignPicture(std::string_view name) {
  if (name == field::kImgGoo) return pictures::kSun;
  if (name == field::kImgBad) return pictures::kSnowflake;
  return {};
}

QWidget* MakeControl(const ControlSpec& spec, QWidget* parent) {
  const QString text = ToQt(spec.text);
  switch (spec.kind) {
    case ControlKind::kFrame: return new QGroupBox(text, parent);
    case ControlKind::kLabel: {
      auto* label = new QLabel(parent);
      label->setTextFormat(Qt::PlainText);  // status texts may hold "<...>"
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setText(text);  // a caption: FitFont makes the font fit it
      label->setProperty(kWholeText, text);
      return label;
    }
    case ControlKind::kTextField: {
      auto* edit = new QLineEdit(text, parent);
      edit->setAlignment((spec.align == Alignment::kRight ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
      edit->setReadOnly(spec.read_only);
      edit->setEnabled(spec.enabled);
      edit->setToolTip(ToQt(spec.tooltip));
      edit->setCursorPosition(0);
      return edit;
    }
    case ControlKind::kButton: {
      auto* button = new QPushButton(text, parent);
      button->setAutoDefault(false);
      return button;
    }
    case ControlKind::kPicture: {
      auto* picture = new QLabel(parent);
      picture->setScaledContents(true);
      const QString resource = DesignPicture(spec.name);
      if (!resource.isEmpty()) {
        picture->setPixmap(
            pictures::Render(resource, QSize(Pixels(spec.width), Pixels(spec.height)), picture->devicePixelRatioF()));
      }
      return picture;
    }
  }
  throw std::logic_error("unknown control kind");
}

// Which hook each button calls, and the handler name a failure is shown under.
struct ButtonHook {
  std::string_view name;
  std::string_view handler;
  std::function<void()> WindowHooks::*hook;
};
constexpr ButtonHook kButtonHooks[] = {
    {"cmd_REFRESH", "Refresh", &WindowHooks::refresh},
    {"cmd_PURGE", "Purge", &WindowHooks::purge},
    {"cmd_VIEW", "View", &WindowHooks::view},
};

// Names and describes a control for assistive technology: by the table of
// descriptions, else by its caption (a frame groups fields, a label names
// the field beside it).
void Describe(QWidget* widget, const ControlSpec& spec) {
  if (const std::optional<ControlDescription> description = DescribeControl(spec.name)) {
    widget->setAccessibleName(ToQt(description->name));
    widget->setAccessibleDescription(ToQt(description->description));
    return;
  }
  widget->setAccessibleName(ToQt(spec.text));
  widget->setAccessibleDescription(spec.kind == ControlKind::kFrame
                                       ? QStringLiteral("The group of %1 fields").arg(ToQt(spec.text))
                                       : QStringLiteral("Names the field beside it"));
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      window_back_(colour::kWindowBack) {
  setObjectName(QString::fromLatin1(field::kWindow));
  setWindowTitle(ToQt(settings::kDesignCaption));
  setAccessibleName(ToQt(settings::kDesignCaption));
  setAccessibleDescription(
      QStringLiteral("The relay's status: its settings, timer, file in progress, totals and "
                     "error folder"));
  setWindowIcon(pictures::ProgramIcon());
  setFixedSize(Pixels(kClientWidthTwips), Pixels(kClientHeightTwips));
  PaintWindow();
  Build();
  FitFont();

  timer_ = new QTimer(this);
  timer_->setObjectName(QStringLiteral("Timer1"));
  timer_->setInterval(settings::kTimerIntervalMs);
  connect(timer_, &QTimer::timeout, this, [this] { Run("Tick", hooks_.tick); });
  timer_->start();
}

MainWindow::~MainWindow() {
  if (pointer_ == kPointerHourglass) QGuiApplication::restoreOverrideCursor();
  // The controls outlive this body: the widget base deletes them afterwards,
  // and a field being edited then tells that its edit finished. By then this
  // window's members are gone, so nothing of the window may answer.
  for (QObject* control : findChildren<QObject*>()) control->disconnect(this);
}

void MainWindow::Build() {
  std::vector<const ControlSpec*> tab_stops;
  for (const ControlSpec& spec : WindowControls()) {
    QWidget* container = spec.container.empty() ? this : At(spec.container).widget;
    QWidget* widget = MakeControl(spec, container);
    widget->setObjectName(ToQt(spec.name));
    Describe(widget, spec);
    widget->setGeometry(Pixels(spec.left), Pixels(spec.top), Pixels(spec.width), Pixels(spec.height));
    const Rgb back = spec.back.value_or(kDefaultFieldBack);
    const Control& control = controls_.emplace(std::string(spec.name), Control{widget, spec.kind, back}).first->second;
    Paint(control);

    for (const ButtonHook& button : kButtonHooks) {
      if (button.name != spec.name) continue;
      connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, this,
              [this, button] { Run(button.handler, hooks_.*button.hook); });
    }
    const bool takes_focus = spec.kind == ControlKind::kTextField || spec.kind == ControlKind::kButton;
    if (takes_focus && spec.tab_index >= 0) tab_stops.push_back(&spec);
  }

  // Tab order: the table's tab positions. Disabled fields keep their place
  // in the chain but Qt never gives them the focus.
  std::sort(tab_stops.begin(), tab_stops.end(),
            [](const ControlSpec* a, const ControlSpec* b) { return a->tab_index < b->tab_index; });
  for (std::size_t i = 1; i < tab_stops.size(); ++i) {
    setTabOrder(At(tab_stops[i - 1]->name).widget, At(tab_stops[i]->name).widget);
  }
  for (const ControlSpec* stop : tab_stops) {
    QWidget* widget = At(stop->name).widget;
    if (widget->isEnabled()) {
      widget->setFocus(Qt::OtherFocusReason);
      break;
    }
  }

  At(field::kTimRem).widget->installEventFilter(this);
  // The Action at once, from the keyboard: F5 anywhere in the window, Enter
  // in Remaining. Like the double-click, only while the window takes input.
  auto* run_now = new QAction(QStringLiteral("Run an Action now"), this);
  run_now->setObjectName(QStringLiteral("actionRunNow"));
  run_now->setShortcut(QKeySequence(Qt::Key_F5));
  run_now->setShortcutContext(Qt::WindowShortcut);
  addAction(run_now);
  connect(run_now, &QAction::triggered, this, [this] {
    if (isEnabled()) Run("Immediate Action", hooks_.remaining_double_clicked);
  });
  connect(static_cast<QLineEdit*>(At(field::kTimRem).widget), &QLineEdit::returnPressed, run_now, &QAction::trigger);
  for (const std::string_view name : {field::kTimPer, field::kTimRem}) {
    auto* edit = static_cast<QLineEdit*>(At(name).widget);
    last_numbers_.emplace(std::string(name), edit->text());
    connect(edit, &QLineEdit::editingFinished, this, [this, name] { KeepNumberOrGoBack(name); });
  }
}

void MainWindow::KeepNumberOrGoBack(std::string_view control) {
  auto* edit = static_cast<QLineEdit*>(At(control).widget);
  QString& last = last_numbers_.find(control)->second;
  const std::string typed = FromQt(edit->text());
  if (ReadsAsNumber(typed)) {
    last = edit->text();
    return;
  }
  edit->setText(last);
  ShowFailureText(*this, std::string(control == field::kTimPer ? "Periodicity" : "Remaining") + ": \"" +
                             Printable(typed) + "\" is not a number; it is back to " + FromQt(last));
}

void MainWindow::FitFont() {
  // The layout is fixed and was drawn for a small dialog font. Where the
  // platform's default font is larger, it is made smaller, step by step,
  // until every caption fits its control.
  const auto fits = [](const QFont& font) {
    const QFontMetrics metrics(font);
    for (const ControlSpec& spec : WindowControls()) {
      const int room = spec.kind == ControlKind::kLabel    ? Pixels(spec.width)
                       : spec.kind == ControlKind::kButton ? Pixels(spec.width) - 4
                                                           : -1;
      if (room < 0 || spec.text.empty()) continue;
      if (metrics.horizontalAdvance(ToQt(spec.text)) > room || metrics.height() > Pixels(spec.height)) {
        return false;
      }
    }
    return true;
  };
  QFont font = this->font();
  if (font.pointSizeF() <= 0) return;  // a pixel-sized font: left as the platform set it
  while (!fits(font) && font.pointSizeF() > kSmallestPointSize) {
    font.setPointSizeF(font.pointSizeF() - 0.5);
  }
  // Controls with a style sheet of their own do not inherit the window's
  // font, so each gets it directly.
  setFont(font);
  for (const auto& [name, control] : controls_) control.widget->setFont(font);
}

void MainWindow::PaintWindow() {
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, QColor(window_back_.red, window_back_.green, window_back_.blue));
  setPalette(palette);
  setAutoFillBackground(true);
}

void MainWindow::Paint(const Control& control) {
  const QString back = Css(control.back);
  switch (control.kind) {
    case ControlKind::kFrame:
      // The caption sits on the border line, on the frame's own ground.
      control.widget->setStyleSheet(QStringLiteral("QGroupBox { background-color: %1; background-clip: margin;"
                                                   " border: 1px solid rgb(128, 128, 128); margin-top: 7px; }"
                                                   " QGroupBox::title { subcontrol-origin: margin;"
                                                   " subcontrol-position: top left; left: 6px; padding: 0px 2px;"
                                                   " color: %2; background-color: %1; }")
                                        .arg(back, Css(colour::kFrameCaption)));
      break;
    case ControlKind::kLabel:
      control.widget->setStyleSheet(QStringLiteral("QLabel { background-color: %1; }").arg(back));
      break;
    case ControlKind::kTextField:
      // Disabled fields show their text dimmed, but no paler than a dialog's
      // grey text, so it stays readable on the coloured grounds.
      control.widget->setStyleSheet(QStringLiteral("QLineEdit { background-color: %1; }"
                                                   " QLineEdit:disabled { color: rgb(96, 96, 96); }")
                                        .arg(back));
      break;
    case ControlKind::kButton:
      control.widget->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: white;"
                                                   " border: 2px outset rgb(128, 128, 255); }"
                                                   " QPushButton:pressed { border-style: inset; }"
                                                   " QPushButton:focus { border-color: rgb(255, 255, 255); }")
                                        .arg(back));
      break;
    case ControlKind::kPicture: break;
  }
}

const MainWindow::Control& MainWindow::At(std::string_view name) const {
  const auto it = controls_.find(name);
  if (it == controls_.end()) {
    throw std::out_of_range("the status board has no control " + std::string(name));
  }
  return it->second;
}

MainWindow::Control& MainWindow::At(std::string_view name) {
  return const_cast<Control&>(std::as_const(*this).At(name));
}

void MainWindow::Run(std::string_view handler, const std::function<void()>& hook) {
  const std::function<void()> work = hook;  // the hook may be replaced while it runs
  if (work) RunEventHandler(*this, handler, work);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // A filter sees the mouse even on a disabled field; a busy window takes
  // no input, so the double-click counts only while the field is enabled.
  QWidget* remaining = At(field::kTimRem).widget;
  if (event->type() == QEvent::MouseButtonDblClick && watched == remaining && remaining->isEnabled()) {
    Run("Immediate Action", hooks_.remaining_double_clicked);
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  const std::function<bool()> may_close = hooks_.may_close;
  if (may_close && !may_close()) {
    event->ignore();
    hide();
    return;
  }
  QWidget::closeEvent(event);
}

void MainWindow::ShowWindowIcon(std::string_view control) {
  auto* picture = qobject_cast<QLabel*>(At(control).widget);
  if (picture == nullptr || At(control).kind != ControlKind::kPicture) {
    throw std::invalid_argument(std::string(control) + " is not a picture");
  }
  picture->setPixmap(windowIcon().pixmap(picture->size(), picture->devicePixelRatioF()));
}

void MainWindow::ComeForward() {
  if (isHidden()) AskToBeShownNormal(*this);
  if (isMinimized() || isHidden()) showNormal();
  raise();
  activateWindow();
}

std::string MainWindow::Text(std::string_view control) const {
  if (control == field::kWindow) return FromQt(windowTitle());
  const Control& c = At(control);
  switch (c.kind) {
    case ControlKind::kFrame: return FromQt(static_cast<QGroupBox*>(c.widget)->title());
    case ControlKind::kLabel: return FromQt(c.widget->property(kWholeText).toString());
    case ControlKind::kTextField: return FromQt(static_cast<QLineEdit*>(c.widget)->text());
    case ControlKind::kButton: return FromQt(static_cast<QPushButton*>(c.widget)->text());
    case ControlKind::kPicture: break;
  }
  throw std::invalid_argument(std::string(control) + " holds no text");
}

void MainWindow::SetText(std::string_view control, std::string_view text) {
  if (control == field::kWindow) {
    setWindowTitle(ToQt(text));
    return;
  }
  const Control& c = At(control);
  switch (c.kind) {
    case ControlKind::kFrame: static_cast<QGroupBox*>(c.widget)->setTitle(ToQt(text)); return;
    case ControlKind::kLabel: ShowLabelText(static_cast<QLabel*>(c.widget), ToQt(text)); return;
    case ControlKind::kTextField: {
      auto* edit = static_cast<QLineEdit*>(c.widget);
      edit->setText(ToQt(text));
      if (const auto number = last_numbers_.find(control); number != last_numbers_.end() && ReadsAsNumber(text)) {
        number->second = edit->text();
      }
      edit->setCursorPosition(0);  // show the start; a long path is cut at the right
      return;
    }
    case ControlKind::kButton: static_cast<QPushButton*>(c.widget)->setText(ToQt(text)); return;
    case ControlKind::kPicture: break;
  }
  throw std::invalid_argument(std::string(control) + " holds no text");
}

Rgb MainWindow::BackColor(std::string_view control) const {
  if (control == field::kWindow) return window_back_;
  const Control& c = At(control);
  if (c.kind == ControlKind::kPicture) {
    throw std::invalid_argument(std::string(control) + " has no background colour");
  }
  return c.back;
}

void MainWindow::SetBackColor(std::string_view control, Rgb colour) {
  if (control == field::kWindow) {
    window_back_ = colour;
    PaintWindow();
    return;
  }
  Control& c = At(control);
  if (c.kind == ControlKind::kPicture) {
    throw std::invalid_argument(std::string(control) + " has no background colour");
  }
  c.back = colour;
  Paint(c);
}

bool MainWindow::Visible(std::string_view control) const {
  if (control == field::kWindow) return isVisible();
  return !At(control).widget->isHidden();
}

void MainWindow::SetVisible(std::string_view control, bool visible) {
  if (control == field::kWindow) {
    setVisible(visible);
    return;
  }
  At(control).widget->setVisible(visible);
}

void MainWindow::SetMousePointer(int code) {
  // An application-wide override: a cursor set on the window alone gives
  // way to the arrow while the window is disabled, and the busy state
  // disables it.
  const bool was_busy = pointer_ == kPointerHourglass;
  const bool busy = code == kPointerHourglass;
  if (busy && !was_busy) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  if (!busy && was_busy) QGuiApplication::restoreOverrideCursor();
  pointer_ = code;
}

bool MainWindow::Enabled() const { return isEnabled(); }

void MainWindow::SetEnabled(bool enabled) { setEnabled(enabled); }

}  // namespace quillport

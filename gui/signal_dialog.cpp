#include "gui/signal_dialog.h"

#include <QPainter>

#include "base/translations.h"
#include "gui/gui_text.h"
#include "gui/main_window.h"
#include "signal/signal_values.h"

namespace lumo::gui {

namespace {

constexpr uint16_t kDialogId = 500;
constexpr int kWidthDlu = 262;
constexpr int kHeightDlu = 90;

// Statics of template 500: id, place in dialog units, fixed text (nullptr: translated or filled
// at run time).
struct LabelRow {
  int id;
  int x, y, width, height;
  const char* fixedText;
};
// id, x, y, width, height, fixed text
constexpr LabelRow kLabels[] = {
    {kIdSignalMinLabel, 13, 11, 20, 9, nullptr}, {kIdSignalMaxLabel, 223, 11, 20, 9, nullptr},
    {kIdSignalWeakest, 13, 20, 20, 12, ""},      {kIdSignalStrongest, 223, 20, 20, 12, ""},
    {kIdSignalSync, 81, 11, 95, 9, ""},          {kIdSignalGain, 81, 22, 95, 9, ""},
    {kIdSignalZero, 15, 52, 20, 9, "0"},         {kIdSignalFull, 225, 52, 20, 9, "255"},
};
constexpr QRect kBarDlu(15, 34, 230, 16);
constexpr QRect kOkDlu(214, 69, 40, 14);

}  // namespace

SignalBar::SignalBar(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Box | QFrame::Plain);
  setLineWidth(1);
  QPalette colours = palette();
  colours.setColor(QPalette::WindowText, Qt::black);
  setPalette(colours);
}

QRect SignalBar::BarArea() const {
  return contentsRect().adjusted(1, 1, -1, -1);
}

void SignalBar::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter painter(this);
  const QRect area = BarArea();
  painter.fillRect(area, palette().color(QPalette::Window));
  const SignalHistory& history = TheSignalHistory();
  for (int age = 0; age < kSignalHistorySize; ++age) {
    const BarPixels span = BarSpan(area.width(), history.Entry(age));
    if (span.right <= span.left) continue;
    const Rgb colour = BarColour(age);
    painter.fillRect(
        QRect(area.left() + span.left, area.top(), span.right - span.left, area.height()),
        QColor(colour.red, colour.green, colour.blue));
  }
}

SignalDialog::SignalDialog(MainWindow* owner, DutLink& link)
    : QDialog(owner),
      owner_(owner),
      link_(link),
      tooltips_(kDialogId, this),
      bar_(this),
      ok_(this) {
  setFont(DialogFont());
  DialogUnits units(font());
  setFixedSize(units.X(kWidthDlu), units.Y(kHeightDlu));
  setWindowTitle(Control(kDialogId, 0));
  for (const LabelRow& row : kLabels) {
    const QString text =
        row.fixedText != nullptr ? QString::fromLatin1(row.fixedText) : Control(kDialogId, row.id);
    AddLabel(row.id, units.Rect(row.x, row.y, row.width, row.height), text);
  }
  bar_.setGeometry(units.Rect(kBarDlu.x(), kBarDlu.y(), kBarDlu.width(), kBarDlu.height()));
  controls_[kIdSignalBar] = &bar_;
  ok_.setGeometry(units.Rect(kOkDlu.x(), kOkDlu.y(), kOkDlu.width(), kOkDlu.height()));
  ok_.setText(Control(kDialogId, kIdSignalOk));
  ok_.setDefault(true);
  controls_[kIdSignalOk] = &ok_;
  connect(&ok_, &QPushButton::clicked, this, &QDialog::accept);
  for (int id : {kIdSignalWeakest, kIdSignalStrongest, kIdSignalGain, kIdSignalSync, kIdSignalBar,
                 kIdSignalOk}) {
    tooltips_.Register(id, controls_[id]);
  }
  timer_.setInterval(kPollIntervalMs);
  connect(&timer_, &QTimer::timeout, this, &SignalDialog::Tick);
  if (owner_ != nullptr) owner_->SetLinkEventReceiver(this);
  timer_.start();
}

SignalDialog::~SignalDialog() {
  timer_.stop();
  if (owner_ != nullptr) owner_->SetLinkEventReceiver(nullptr);
}

QLabel* SignalDialog::AddLabel(int id, const QRect& place, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(place);
  controls_[id] = label;
  return label;
}

QWidget* SignalDialog::ControlById(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

void SignalDialog::Tick() {
  // One exchange at a time: the timer rests until its answer has come.
  if (link_.RequestCommand(CMD_POLLSIGNAL, 0)) timer_.stop();
}

void SignalDialog::ShowSample(const std::array<uint8_t, 4>& status) {
  const SignalSample sample = DecodeSignal(status);
  static_cast<QLabel*>(controls_[kIdSignalWeakest])->setText(QString::number(sample.weakest));
  static_cast<QLabel*>(controls_[kIdSignalStrongest])->setText(QString::number(sample.strongest));
  static_cast<QLabel*>(controls_[kIdSignalSync])
      ->setText(Msg(sample.synchronised ? "DUTLOCKED" : "DUTUNLOCKED"));
  static_cast<QLabel*>(controls_[kIdSignalGain])
      ->setText(QString::fromLatin1(GainText(sample.highGain)));
}

void SignalDialog::OnLinkEvent(const LinkEvent& event) {
  switch (event.code) {
    case DN_SIGNAL:
      // Only a complete answer enters the history: a failed exchange leaves the screen as it
      // was, and the next success is stored in its place.
      if (event.value == 1) {
        const std::array<uint8_t, 4> status = link_.SignalStatus();
        TheSignalHistory().Store(status[2], status[3]);
        ShowSample(status);
        TheSignalHistory().Advance();
        bar_.update();
      }
      timer_.start();
      break;
    case DN_STOPPED:
    case DN_NODEVICE:
    case DN_PORTFAILED:
      // The exchange outstanding (if any) will never answer: keep asking.
      if (!timer_.isActive()) timer_.start();
      break;
    default:
      break;
  }
}

void SignalDialog::done(int) {
  timer_.stop();
  QDialog::done(0);
}

}  // namespace lumo::gui

#include "gui/selftest_dialog.h"

#include <QCloseEvent>
#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>
#include <algorithm>

#include "base/settings.h"
#include "base/translations.h"
#include "platform/message_box.h"

namespace lumo::gui {

namespace {

// Templates 700 and 704, in dialog units.
constexpr int kWidthDlu = 468;
constexpr int kHeightDlu = 286;
constexpr QRect kRuleListDlu(6, 6, 456, 163);
constexpr QRect kBeamLabelDlu(6, 175, 279, 9);
constexpr QRect kBeamListDlu(6, 187, 456, 75);
constexpr QRect kCurtainOkDlu(422, 267, 40, 14);
constexpr QRect kPromptDlu(10, 196, 448, 40);
constexpr QRect kJoystickCancelDlu(356, 264, 56, 14);
constexpr QRect kJoystickOkDlu(422, 264, 40, 14);
// The status line and the busy bar, left of the buttons on the buttons' row.
constexpr QRect kCurtainStatusDlu(6, 267, 250, 14);
constexpr QRect kCurtainBusyDlu(262, 269, 90, 10);
constexpr QRect kJoystickStatusDlu(6, 264, 250, 14);
constexpr QRect kJoystickBusyDlu(262, 266, 90, 10);

constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kRuleColumnCount = 3;
constexpr int kCellInsetPx = 1;     // the cell text keeps this distance from the left and right
constexpr int kSmallestScale = 80;  // per cent of the font's size a cell text may shrink to
constexpr int kScaleStep = 5;

QColor Colour(uint32_t rgb) {
  return QColor::fromRgb(static_cast<QRgb>(rgb));
}

// Fills a result cell and writes its text centred on one line. A text too wide for the cell is
// written in the font's condensed face, down to kSmallestScale per cent of its size, when that
// makes it fit; else it is cut with an ellipsis. Returns whether the text was cut.
bool PaintResultCell(QPainter& painter, const QRect& rect, const QString& text, bool passed) {
  painter.fillRect(rect, Colour(passed ? kPassColour : kFailColour));
  const QRect inner = rect.adjusted(kCellInsetPx, 0, -kCellInsetPx, 0);
  painter.save();
  bool fits = QFontMetricsF(painter.font()).horizontalAdvance(text) <= inner.width();
  const QFont base = painter.font();
  for (int scale = 100; !fits && scale >= kSmallestScale; scale -= kScaleStep) {
    QFont narrow = base;
    narrow.setStretch(QFont::SemiCondensed);
    if (base.pixelSize() > 0) {
      narrow.setPixelSize(std::max(1, base.pixelSize() * scale / 100));
    } else {
      narrow.setPointSizeF(base.pointSizeF() * scale / 100);
    }
    if (QFontMetricsF(narrow).horizontalAdvance(text) <= inner.width()) {
      painter.setFont(narrow);
      fits = true;
    }
  }
  painter.setPen(Qt::black);
  painter.setBackgroundMode(Qt::TransparentMode);
  painter.drawText(
      inner, Qt::AlignCenter | Qt::TextSingleLine,
      fits ? text : painter.fontMetrics().elidedText(text, Qt::ElideRight, inner.width()));
  painter.restore();
  return !fits;
}

QRect Place(const DialogUnits& units, const QRect& dlu) {
  return units.Rect(dlu.x(), dlu.y(), dlu.width(), dlu.height());
}

}  // namespace

SelfTestDialog::SelfTestDialog(int deviceType, DutLink& link, LimitTable& table, BeamValues& beams,
                               QWidget* parent, uint32_t supplyCutMs)
    : QDialog(parent),
      joystick_(deviceType == kJoystick),
      dialogId_(joystick_ ? kDlgSelfTestJoystick : kDlgSelfTestCurtain),
      link_(link),
      table_(table),
      beams_(beams),
      supplyCutMs_(supplyCutMs),
      font_(DialogFont()),
      units_(font_),
      ruleList_(this),
      beamList_(this),
      beamLabel_(this),
      prompt_(this),
      cancel_(this),
      ok_(this),
      status_(this),
      busy_(this) {
  setFont(font_);
  setModal(true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setFixedSize(units_.X(kWidthDlu), units_.Y(kHeightDlu));
  ruleList_.setGeometry(Place(units_, kRuleListDlu));
  connect(&ok_, &QPushButton::clicked, this, [this] { done(1); });
  connect(&cancel_, &QPushButton::clicked, this, &SelfTestDialog::reject);
  if (joystick_) {
    beamList_.hide();
    beamLabel_.hide();
    prompt_.setGeometry(Place(units_, kPromptDlu));
    cancel_.setGeometry(Place(units_, kJoystickCancelDlu));
    ok_.setGeometry(Place(units_, kJoystickOkDlu));
  } else {
    prompt_.hide();
    cancel_.hide();
    beamLabel_.setGeometry(Place(units_, kBeamLabelDlu));
    beamList_.setGeometry(Place(units_, kBeamListDlu));
    ok_.setGeometry(Place(units_, kCurtainOkDlu));
  }
  status_.setGeometry(Place(units_, joystick_ ? kJoystickStatusDlu : kCurtainStatusDlu));
  status_.setTextFormat(Qt::PlainText);
  status_.setAutoFillBackground(true);
  status_.setContentsMargins(units_.X(2), 0, units_.X(2), 0);
  status_.setText(Msg("SELFTESTING"));
  busy_.setGeometry(Place(units_, joystick_ ? kJoystickBusyDlu : kCurtainBusyDlu));
  busy_.setRange(0, 0);  // no end known: the bar moves while the device tests itself
  busy_.setTextVisible(false);
  for (QWidget* widget : {static_cast<QWidget*>(&ok_), static_cast<QWidget*>(&cancel_),
                          beamList_.viewport(), ruleList_.viewport()}) {
    widget->installEventFilter(this);
  }
  Translate();
  if (joystick_) {
    prompt_.SetPrompt(Msg("ST_QMOVESTICK"), font_);
    ok_.hide();
    cancel_.setDefault(true);
    cancel_.setFocus();
    prompt_.StartBlinking();
  } else {
    ok_.setDefault(true);
    ok_.setFocus();
  }
}

SelfTestDialog::~SelfTestDialog() {
  prompt_.StopBlinking();
  // A dialog that goes while the link still runs the test leaves no waiting device behind.
  if (running_ && !cancelled_) CancelSelfTest(link_);
}

void SelfTestDialog::Translate() {
  setWindowTitle(Control(static_cast<uint16_t>(dialogId_), 0));
  ok_.setText(Control(static_cast<uint16_t>(dialogId_), kIdOk));
  cancel_.setText(Control(static_cast<uint16_t>(dialogId_), kIdCancel));
  beamLabel_.setText(Control(static_cast<uint16_t>(dialogId_), kIdResultBeamsLabel));
}

void SelfTestDialog::OnLinkEvent(const LinkEvent& event) {
  if (closing_) return;
  switch (event.code) {
    case DN_SELFTESTDATA:
      if (!running_) return;
      if (event.block == nullptr) {
        Failed();
        return;
      }
      ShowResults(*event.block);
      return;
    case DN_RESETTIME:
      SetResetTime(table_, event.value);
      ruleList_.RedrawAll();
      if (!running_) ShowOutcome();
      return;
    case DN_SELFTESTFAILED:
      if (running_) Failed();
      return;
    case DN_NODEVICE:
      if (!joystick_) return;
      if (running_ && !cancelled_) {
        cancelled_ = true;
        CancelSelfTest(link_);
      }
      closing_ = true;
      done(0);
      return;
    default:
      return;
  }
}

void SelfTestDialog::Failed() {
  closing_ = true;
  const bool cancelled = cancelled_ || link_.AbortRequested();
  running_ = false;
  prompt_.StopBlinking();
  if (!cancelled) ShowMessage(MsgKind::Error, MsgText("ERRST_FAILED"), MsgText("ST_DLGTITLE"));
  done(0);
}

void SelfTestDialog::ShowResults(const std::vector<uint8_t>& block) {
  EvaluateSelfTest(table_, block, beams_, &link_, supplyCutMs_);
  evaluated_ = true;
  running_ = false;
  ShowOutcome();
  FillRuleList();
  if (!joystick_) FillBeamList();
  ok_.show();
  cancel_.hide();
  prompt_.StopBlinking();
  prompt_.hide();
  if (joystick_) {
    // The rule list takes the place of the prompt as well.
    QRect place = ruleList_.geometry();
    place.setBottom(prompt_.geometry().bottom());
    ruleList_.setGeometry(place);
  }
  ok_.setDefault(true);
  ok_.setFocus();
}

void SelfTestDialog::ShowOutcome() {
  const bool passed = SelfTestPassed(table_, beams_);
  busy_.hide();
  status_.setText(Msg(passed ? "ST_PASSED" : "ST_FAILEDRESULT"));
  QPalette palette = status_.palette();
  palette.setColor(QPalette::Window, Colour(passed ? kPassColour : kFailColour));
  palette.setColor(QPalette::WindowText, Qt::black);
  status_.setPalette(palette);
}

int SelfTestDialog::ClientWidth(const ui::ListControl& list) const {
  return list.width() - 2 * list.frameWidth();
}

void SelfTestDialog::FillRuleList() {
  rows_.clear();
  for (const LimitRule* shown : ShownRules(table_)) {
    rows_.push_back(&table_.Rules()[static_cast<size_t>(shown - table_.Rules().data())]);
  }
  ui::ListControl::Callbacks callbacks;
  callbacks.onInit = [this](ui::ListControl& list) {
    const std::array<int, 3> widths =
        RuleColumnWidths(ClientWidth(list), style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    const char* headers[kRuleColumnCount] = {"ST_COLDESC", "ST_COLVALUE", "ST_COLINFO"};
    for (int c = 0; c < kRuleColumnCount; ++c) list.AddColumn(c, Msg(headers[c]), widths[c]);
    for (size_t r = 0; r < rows_.size(); ++r) list.AppendRow();
  };
  callbacks.onCellText = [this](ui::ListControl&, int column, int row, QString& text) {
    if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return;
    text = FromCp1252(RuleCellText(table_, *rows_[row], column));
  };
  callbacks.onDrawCell = [this](ui::ListControl&, int column, int row, QPainter& painter,
                                const QRect& rect, const QString& text,
                                bool) { DrawRuleCell(column, row, painter, rect, text); };
  callbacks.onCharacter = [this](ui::ListControl&, int, int, QChar ch, bool, bool& handled) {
    if (ch == QChar(0x1B)) {
      handled = true;
      reject();
    }
  };
  ruleList_.Attach(std::move(callbacks), false);
  ruleList_.LockHeader(true);
  ruleList_.RedrawAll();
}

void SelfTestDialog::DrawRuleCell(int column, int row, QPainter& painter, const QRect& rect,
                                  const QString& text) {
  LimitRule* rule = row >= 0 && static_cast<size_t>(row) < rows_.size() ? rows_[row] : nullptr;
  const bool cut = PaintResultCell(painter, rect, text, rule != nullptr && rule->passed);
  if (rule != nullptr && column >= 0 && column < kRuleColumns) rule->truncated[column] = cut;
}

void SelfTestDialog::FillBeamList() {
  beamRows_ = BeamRows(table_, beams_);
  ui::ListControl::Callbacks callbacks;
  callbacks.onInit = [this](ui::ListControl& list) {
    const std::array<int, kBeamsPerRow + 1> widths =
        BeamColumnWidths(ClientWidth(list), style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    list.AddColumn(0, Msg("ST_COLDESC"), widths[0]);
    for (int c = 1; c <= kBeamsPerRow; ++c) list.AddColumn(c, QString(), widths[c]);
    for (size_t r = 0; r < beamRows_.size(); ++r) list.AppendRow();
  };
  callbacks.onCellText = [this](ui::ListControl&, int column, int row, QString& text) {
    if (row < 0 || static_cast<size_t>(row) >= beamRows_.size()) return;
    const BeamRow& beamRow = beamRows_[row];
    if (column == 0) {
      text = FromCp1252(beamRow.label);
    } else if (column >= 1 && column <= kBeamsPerRow) {
      text = FromCp1252(beamRow.cells[column - 1].text);
    }
  };
  callbacks.onDrawCell = [this](ui::ListControl&, int column, int row, QPainter& painter,
                                const QRect& rect, const QString& text,
                                bool) { DrawBeamCell(column, row, painter, rect, text); };
  beamList_.Attach(std::move(callbacks), false);
  beamList_.LockHeader(true);
  beamList_.RedrawAll();
}

void SelfTestDialog::DrawBeamCell(int column, int row, QPainter& painter, const QRect& rect,
                                  const QString& text) {
  if (row < 0 || static_cast<size_t>(row) >= beamRows_.size()) return;
  if (column == 0) {
    PaintResultCell(painter, rect, text, true);
    return;
  }
  if (column < 1 || column > kBeamsPerRow) return;
  const BeamCell& cell = beamRows_[row].cells[column - 1];
  // Cells beyond the last beam are plain green, without text.
  PaintResultCell(painter, rect, cell.present ? text : QString(), !cell.present || cell.passed);
}

QString SelfTestDialog::CellTooltip(int column, int row) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) return QString();
  return FromCp1252(RuleCellTooltip(table_, *rows_[row], column));
}

QString SelfTestDialog::ControlTooltip(int controlId) const {
  const char* text = TooltipText(static_cast<uint16_t>(dialogId_), [controlId](uint32_t id) {
    return id == static_cast<uint32_t>(controlId);
  });
  return text == nullptr ? QString() : FromCp1252(text);
}

bool SelfTestDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ToolTip) return QDialog::eventFilter(watched, event);
  auto* help = static_cast<QHelpEvent*>(event);
  QString text;
  if (CurrentSettings().enableToolTips != 0) {
    if (watched == ruleList_.viewport()) {
      int column = -1;
      int row = -1;
      if (ruleList_.HitTest(help->pos(), &column, &row)) text = CellTooltip(column, row);
    } else if (watched == &ok_) {
      text = ControlTooltip(kIdOk);
    } else if (watched == &cancel_) {
      text = ControlTooltip(kIdCancel);
    } else if (watched == beamList_.viewport()) {
      text = ControlTooltip(kIdResultBeams);
    }
  }
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(help->globalPos(), text, qobject_cast<QWidget*>(watched));
  }
  return true;
}

void SelfTestDialog::reject() {
  if (running_) {
    // The link answers the abort with DN_SELFTESTFAILED, which closes the dialog.
    cancelled_ = true;
    CancelSelfTest(link_);
    return;
  }
  done(0);
}

void SelfTestDialog::closeEvent(QCloseEvent* event) {
  // Closing the window while the test runs also stops the test: the joystick waits for its
  // stick without a time limit, and the link would stay busy with nobody to cancel it.
  if (running_ && !cancelled_) {
    cancelled_ = true;
    CancelSelfTest(link_);
  }
  closing_ = true;
  event->accept();
  done(0);
}

}  // namespace lumo::gui

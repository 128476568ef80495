#include "gui/widgets/beam_panel.h"

#include <qdrawutil.h>
#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include "base/settings.h"
#include "base/translations.h"
#include "definitions/setup.h"
#include "gui/widgets/qt_text.h"
#include "gui/widgets/text_room.h"

namespace lumo::ui {

namespace {

const QColor kNumberBackground(200, 255, 200);  // light green
constexpr int kMainDialog = 100;
constexpr int kColNumber = 0;
constexpr int kColState = 1;
constexpr const char* kFirstBeamName = "$(ErsterStrahl)";
constexpr const char* kLastBeamName = "$(LetzterStrahl)";

// The controls' places in dialog units, relative to the group box (frame 128).
struct Place {
  int id;
  int x, y, w, h;
};
//                                  id    x    y    w    h
constexpr Place kList{135, 7, 11, 115, 122};
constexpr Place kActivateAll{129, 7, 135, 115, 12};
constexpr Place kExample{132, 9, 148, 62, 9};
constexpr Place kField{131, 7, 156, 67, 12};
constexpr Place kDeactivate{130, 75, 156, 47, 12};
constexpr Place kWrite{136, 19, 171, 94, 13};
constexpr Place kRead{137, 19, 183, 94, 13};
constexpr Place kActiveLabel{133, 4, 200, 54, 9};
constexpr Place kActiveText{134, 60, 199, 69, 10};

QString Msg(const char* msgId) {
  return FromCp1252(MsgText(msgId));
}

QString Control(int id) {
  const char* text = ControlText(TranslationVariant(), 0, kMainDialog, static_cast<uint32_t>(id));
  return text != nullptr ? FromCp1252(text) : QString();
}

QString StateText(uint8_t state) {
  switch (state) {
    case kBeamActive:
      return Msg("YES");
    case kBeamInactive:
      return Msg("NO");
    default:
      return QStringLiteral("???");
  }
}

}  // namespace

BeamPanel::BeamPanel(QWidget* parent)
    : QGroupBox(parent),
      list_(this),
      activateAll_(this),
      example_(this),
      rangeField_(this),
      deactivate_(this),
      writeBeams_(this),
      readBeams_(this),
      activeLabel_(this),
      activeText_(this) {
  states_.fill(kBeamActive);
  rangeField_.setMaxLength(static_cast<int>(kRangeTextMax));
  rangeField_.installEventFilter(this);
  activeText_.setAutoFillBackground(true);
  connect(&activateAll_, &QPushButton::clicked, this, &BeamPanel::ActivateAll);
  connect(&deactivate_, &QPushButton::clicked, this, [this] { DeactivateRangeText(); });
  connect(&writeBeams_, &QPushButton::clicked, this,
          [this] { emit commandRequested(kCmdWriteBeams); });
  connect(&readBeams_, &QPushButton::clicked, this,
          [this] { emit commandRequested(kCmdReadBeams); });
  const std::pair<QWidget*, int> ids[] = {
      {&list_, 135},       {&activateAll_, 129}, {&example_, 132},
      {&rangeField_, 131}, {&deactivate_, 130},  {&writeBeams_, 136},
      {&readBeams_, 137},  {&activeLabel_, 133}, {&activeText_, 134}};
  for (const auto& [widget, id] : ids) {
    widget->setObjectName(QStringLiteral("control%1").arg(id));
    widget->setProperty("controlId", id);
    if (widget != &rangeField_) widget->installEventFilter(this);
  }
  list_.viewport()->installEventFilter(this);
  Retranslate();
}

BeamPanel::~BeamPanel() {
  for (QObject* child : children()) child->removeEventFilter(this);
  list_.viewport()->removeEventFilter(this);
}

void BeamPanel::Attach(ParDef* definition, DeviceAccess* access) {
  definition_ = definition;
  access_ = access;
  ComputeRange();
  ListControl::Callbacks callbacks;
  callbacks.onInit = [this](ListControl& list) {
    list.LockHeader(true);
    list.AddColumn(kColNumber, QStringLiteral("#"), 1);
    list.AddColumn(kColState, Msg("ACTIVE"), 1);
    SetColumnWidths();
    for (int b = range_.first; b <= range_.last; ++b) list.AppendRow();
  };
  callbacks.onCellText = [this](ListControl&, int column, int row, QString& text) {
    const int beam = range_.first + row;
    if (beam < 1 || beam > kBeamCount) return;
    text = column == kColNumber ? QString::number(beam)
                                : StateText(states_[static_cast<size_t>(beam - 1)]);
  };
  callbacks.onDrawCell = [this](ListControl&, int column, int row, QPainter& painter,
                                const QRect& rect, const QString& text, bool focused) {
    DrawCell(column, row, painter, rect, text, focused);
  };
  callbacks.onSelectCell = [](ListControl&, int& column, int&) { column = kColState; };
  callbacks.onClick = [this](ListControl&, ListControl::Press, int, int, int row) {
    ToggleBeam(row);
  };
  callbacks.onCharacter = [this](ListControl&, int, int, QChar ch, bool isSystem, bool& handled) {
    if (isSystem || ch.unicode() != 0x1B) return;
    handled = true;
    emit cancelRequested();
  };
  callbacks.onLeaveCell = [this](ListControl&, int, int) { list_.viewport()->unsetCursor(); };
  list_.Attach(std::move(callbacks), true);
  RefreshPanel();
}

// ---- geometry ----

void BeamPanel::LayOut() {
  const QFontMetrics metrics(font());
  const int bx = metrics.averageCharWidth();
  const int by = metrics.height();
  auto place = [&](QWidget& widget, const Place& p, int dy, int grow) {
    widget.setGeometry(p.x * bx / 4, p.y * by / 8 + dy, p.w * bx / 4, p.h * by / 8 + grow);
  };
  const int shift = lowerShift_ + growth_;
  place(list_, kList, 0, shift);
  place(activateAll_, kActivateAll, shift, 0);
  place(example_, kExample, shift, 0);
  place(rangeField_, kField, shift, 0);
  place(deactivate_, kDeactivate, shift, 0);
  place(writeBeams_, kWrite, shift, 0);
  place(readBeams_, kRead, shift, 0);
  place(activeLabel_, kActiveLabel, shift, 0);
  place(activeText_, kActiveText, shift, 0);
  // Texts wider in this font than the template allows grow to the right.
  auto widen = [this](QLabel& label) {
    const int room = width() - label.x() - 2;
    if (label.sizeHint().width() > label.width()) {
      label.resize(std::min(label.sizeHint().width(), std::max(room, label.width())),
                   label.height());
    }
  };
  widen(example_);
  widen(activeLabel_);
  // A button caption wider than its place takes the room it lacks from the field before it
  // (which keeps at least half its width), so the column's right edge stays where it is.
  const int missing = WidthForText(deactivate_) - deactivate_.width();
  if (missing > 0) {
    const int taken = std::min(missing, rangeField_.width() / 2);
    rangeField_.resize(rangeField_.width() - taken, rangeField_.height());
    deactivate_.setGeometry(deactivate_.x() - taken, deactivate_.y(), deactivate_.width() + taken,
                            deactivate_.height());
  }
  if (activeText_.x() < activeLabel_.geometry().right() + 3) {
    const int x = activeLabel_.geometry().right() + 3;
    activeText_.setGeometry(x, activeText_.y(),
                            std::max(0, activeText_.width() - (x - activeText_.x())),
                            activeText_.height());
  }
  laidOut_ = true;
  SetColumnWidths();
}

void BeamPanel::SetColumnWidths() {
  if (list_.ColumnCount() < 2) return;
  const int scrollBar = list_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list_);
  const int w = std::max(0, list_.width() - 2 * list_.frameWidth() - scrollBar);
  list_.SetColumnWidth(kColNumber, w / 3);
  list_.SetColumnWidth(kColState, w - w / 3 - 1);
}

void BeamPanel::MoveLowerControls(int dy) {
  lowerShift_ = dy;
  LayOut();
}

void BeamPanel::SetGrowth(int dy) {
  if (dy == growth_) return;
  growth_ = dy;
  LayOut();
}

void BeamPanel::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  LayOut();
}

void BeamPanel::showEvent(QShowEvent* event) {
  QGroupBox::showEvent(event);
  if (!laidOut_) LayOut();
}

void BeamPanel::SetDeviceControls(std::vector<QWidget*> controls) {
  deviceControls_.clear();
  for (QWidget* w : controls) deviceControls_.emplace_back(w);
  EnableControls();
}

void BeamPanel::Retranslate() {
  // Tooltips of the main window's controls; shown only while tooltips are enabled.
  QWidget* const tipped[] = {&list_,       &activateAll_, &rangeField_,
                             &deactivate_, &writeBeams_,  &readBeams_};
  for (QWidget* widget : tipped) {
    const uint32_t id = widget->property("controlId").toUInt();
    const char* tip = TooltipText(kMainDialog, [id](uint32_t control) { return control == id; });
    widget->setToolTip(tip != nullptr ? FromCp1252(tip) : QString());
  }
  list_.viewport()->setToolTip(list_.toolTip());
  activateAll_.setText(Control(129));
  example_.setText(Control(132));
  deactivate_.setText(Control(130));
  writeBeams_.setText(Control(136));
  readBeams_.setText(Control(137));
  activeLabel_.setText(Control(133));
  if (list_.ColumnCount() >= 2) list_.SetHeaderText(kColState, Msg("ACTIVE"));
  SetCaption();
  // The texts of another language may need other widths.
  if (laidOut_) LayOut();
}

// ---- refresh ----

void BeamPanel::ComputeRange() {
  const Settings settings = CurrentSettings();
  const BeamRange limits{static_cast<int>(std::min<uint32_t>(RayLimitFirst(), kBeamCount)),
                         static_cast<int>(std::min<uint32_t>(RayLimitLast(), kBeamCount))};
  int32_t first = 0;
  int32_t last = 0;
  const bool haveFirst = GetValueByName(definition_, kFirstBeamName, &first) && first != NoValue;
  const bool haveLast = GetValueByName(definition_, kLastBeamName, &last) && last != NoValue;
  const uint8_t firmware = access_ != nullptr ? access_->FirmwareByte0() : 0;
  range_ =
      PanelRange(settings.editAllRays != 0, limits, first, last, haveFirst, haveLast, firmware);
  // Never outside the states, whatever the limits say.
  range_.first = std::clamp(range_.first, 1, kBeamCount);
  range_.last = std::clamp(range_.last, range_.first, kBeamCount);
}

void BeamPanel::RefreshPanel() {
  ComputeRange();
  const int rows = range_.last - range_.first + 1;
  if (rows != list_.RowCount()) {
    list_.setUpdatesEnabled(false);
    list_.DeleteAllRows();
    for (int i = 0; i < rows; ++i) list_.AppendRow();
    list_.setUpdatesEnabled(true);
    if (list_.CurrentRow() >= rows) list_.SelectCell(kColState, rows - 1);
  }
  list_.RedrawAll();
  EnableControls();
  SetCaption();
}

bool BeamPanel::Changed() const {
  if (access_ == nullptr || DeviceType() != kDeviceTG5) return false;
  return ConfigChanged(states_, range_, access_->DeviceImage(), access_->FirmwareByte0(),
                       access_->ConfigValid());
}

void BeamPanel::SetCaption() {
  const bool changed = Changed();
  setTitle(Msg(changed ? "KONFRAYMOD" : "KONFRAY"));
  activeText_.setText(FromCp1252(FormatRangeText(states_, range_)));
  QPalette pal = palette();
  pal.setColor(QPalette::Window,
               changed ? pal.color(QPalette::ToolTipBase) : pal.color(QPalette::Window));
  activeText_.setPalette(pal);
}

void BeamPanel::EnableControls() {
  const bool valid = access_ != nullptr && access_->ConfigValid();
  writeBeams_.setEnabled(valid);
  readBeams_.setEnabled(valid);
  for (auto& control : deviceControls_) {
    if (control != nullptr) control->setEnabled(valid);
  }
}

void BeamPanel::DrawCell(int column, int row, QPainter& painter, const QRect& rect,
                         const QString& text, bool focused) {
  const QPalette& pal = palette();
  const int beam = range_.first + row;
  QColor background = kNumberBackground;
  QColor foreground = Qt::black;
  bool italic = false;
  if (column == kColState) {
    italic = access_ != nullptr && BeamDiffers(states_, beam, access_->DeviceImage(),
                                               access_->FirmwareByte0(), access_->ConfigValid());
    background = italic ? pal.color(QPalette::ToolTipBase) : QColor(Qt::white);
    if (italic) foreground = pal.color(QPalette::ToolTipText);
  }
  if (focused) {
    background = pal.color(QPalette::Highlight);
    foreground = pal.color(QPalette::HighlightedText);
  }
  PaintCell(list_, painter, rect, text,
            CellLook{background, foreground, italic, column == kColState, focused});
}

// ---- commands ----

void BeamPanel::ToggleBeam(int row) {
  const int beam = range_.first + row;
  if (row < 0 || row >= list_.RowCount() || beam > kBeamCount) return;
  uint8_t& state = states_[static_cast<size_t>(beam - 1)];
  state = state < kBeamActive ? kBeamActive : kBeamInactive;
  list_.RedrawCell(kColState, row);
  list_.SelectCell(kColState, row);
  RefreshPanel();
  emit beamsChanged();
}

void BeamPanel::ActivateAll() {
  states_.fill(kBeamActive);
  RefreshPanel();
  emit beamsChanged();
}

bool BeamPanel::DeactivateRangeText() {
  const std::string text = ToCp1252(rangeField_.text().left(static_cast<int>(kRangeTextMax)));
  if (!DeactivateRange(text.c_str(), states_)) {
    QApplication::beep();
    return false;
  }
  RefreshPanel();
  rangeField_.selectAll();
  emit beamsChanged();
  return true;
}

void BeamPanel::TakeFromDevice() {
  if (access_ == nullptr) return;
  ComputeRange();
  lumo::TakeFromDevice(access_->DeviceImage(), access_->FirmwareByte0(), range_, states_);
  RefreshPanel();
}

void BeamPanel::PutIntoEditImage() {
  if (access_ == nullptr) return;
  ComputeRange();
  if (!Changed()) return;
  lumo::PutIntoEditImage(states_, access_->FirmwareByte0(), range_, access_->EditImage());
}

bool BeamPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip && !CurrentSettings().enableToolTips) return true;
  if (watched == &rangeField_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      // Enter applies the text here; it never reaches the window's default button.
      DeactivateRangeText();
      return true;
    }
  }
  return QGroupBox::eventFilter(watched, event);
}

}  // namespace lumo::ui

#include "gui/widgets/parameter_table.h"

#include <qdrawutil.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QToolButton>
#include <QToolTip>

#include "base/settings.h"
#include "base/translations.h"
#include "definitions/cell_text.h"
#include "definitions/scan.h"
#include "definitions/setup.h"
#include "gui/widgets/qt_text.h"

namespace lumo::ui {

namespace {

const QColor kNameBackground(200, 255, 200);  // light green
constexpr int kValueColumnDivisor10 = 48;     // value columns: client width / 4.8
constexpr int kButtonAreaHeight = 44;         // the list gives up this much for the buttons
constexpr int kButtonHeight = 22;
constexpr int kButtonGap = 3;    // first button row below the list
constexpr int kButtonStep = 21;  // second button row below the first
constexpr int kTooltipDialog = 100;
constexpr int kListControlId = 121;  // the list's own text in the tooltip table
// The list inside its frame, in dialog units (left and right, top, bottom).
constexpr int kListInsetX = 5;
constexpr int kListInsetTop = 11;
constexpr int kListInsetBottom = 5;
constexpr const char* kUnknownText = "???";

// The two button rows under a value column: (first row, second row) by command id order.
constexpr int kButtonColumn[6] = {ParameterTable::kColDevice, ParameterTable::kColDevice,
                                  ParameterTable::kColEdit,   ParameterTable::kColEdit,
                                  ParameterTable::kColFile,   ParameterTable::kColFile};
constexpr int kButtonRow[6] = {0, 1, 0, 1, 0, 1};

QString Msg(const char* msgId) {
  return FromCp1252(MsgText(msgId));
}

}  // namespace

ParameterTable::ParameterTable(QWidget* parent) : QGroupBox(parent), list_(this) {
  list_.viewport()->installEventFilter(this);
  list_.installEventFilter(this);
  SetCaption();
}

ParameterTable::~ParameterTable() {
  // The list goes before this object's base: no more of its events come here.
  list_.viewport()->removeEventFilter(this);
  list_.removeEventFilter(this);
  RemoveArrow();
}

PVar* ParameterTable::Record(int row) const {
  if (row < 0 || row >= list_.RowCount()) return nullptr;
  return GetRecord(definition_, row);
}

bool ParameterTable::DeviceValid() const {
  return access_ != nullptr && access_->ConfigValid();
}

int ParameterTable::RowHeightFor(const ParDef& definition, const QFont& font) {
  if (NeedsDropDownRows(definition)) {
    QComboBox probe;
    probe.setFont(font);
    return probe.sizeHint().height() - 1;
  }
  return QFontMetrics(font).height() + 4;
}

void ParameterTable::Attach(ParDef* definition, DeviceAccess* access) {
  definition_ = definition;
  access_ = access;
  ListControl::Callbacks callbacks;
  callbacks.onInit = [this](ListControl& list) {
    list.LockHeader(true);
    list.AddColumn(kColName, Msg("PARCOLNAME"), 1);
    list.AddColumn(kColDevice, Msg("PARCOLDEVICE"), 1);
    list.AddColumn(kColEdit, Msg("PARCOLEDIT"), 1);
    list.AddColumn(kColFile, Msg("PARCOLFILE"), 1);
    SetColumnWidths();
    list.DeleteAllRows();
    if (definition_ == nullptr) return;
    // Parameters come before every bracketed record.
    for (const PVar& record : definition_->records) {
      if (IsBracketed(&record)) break;
      list.AppendRow();
    }
  };
  callbacks.onCellText = [this](ListControl&, int column, int row, QString& text) {
    text = CellText(column, row);
  };
  callbacks.onDrawCell = [this](ListControl&, int column, int row, QPainter& painter,
                                const QRect& rect, const QString& text, bool focused) {
    DrawCell(column, row, painter, rect, text, focused);
  };
  callbacks.onSelectCell = [this](ListControl&, int& column, int& row) {
    column = kColEdit;
    const PVar* record = Record(row);
    hint_ =
        record != nullptr ? FromCp1252(DisplayText(definition_, record->description)) : QString();
    hintRow_ = record != nullptr ? row : -1;
    emit hintChanged(hint_);
  };
  callbacks.onHoverCell = [this](ListControl&, int column, int row) { HoverCell(column, row); };
  callbacks.onLeaveCell = [this](ListControl&, int, int) { LeaveCell(); };
  callbacks.onClick = [this](ListControl&, ListControl::Press press, int, int column, int row) {
    if (column != kColEdit) return;
    if (press == ListControl::Press::RightDown || press == ListControl::Press::MiddleDown) return;
    Click(column, row);
  };
  callbacks.onCharacter = [this](ListControl&, int column, int row, QChar ch, bool isSystem,
                                 bool& handled) { Character(column, row, ch, isSystem, handled); };
  const int rowHeight = definition != nullptr ? RowHeightFor(*definition, list_.font()) : 0;
  list_.Attach(std::move(callbacks), true, rowHeight);
  RefreshTable();
}

// ---- geometry ----

void ParameterTable::SetColumnWidths() {
  if (list_.ColumnCount() < 4) return;
  const int scrollBar = list_.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list_);
  const int w = std::max(0, list_.width() - 2 * list_.frameWidth() - scrollBar);
  const int value = w * 10 / kValueColumnDivisor10;
  list_.SetColumnWidth(kColDevice, value);
  list_.SetColumnWidth(kColEdit, value);
  list_.SetColumnWidth(kColFile, value);
  list_.SetColumnWidth(kColName, w - 3 * value);
}

void ParameterTable::LayOutList() {
  // The list inside the frame as the window template places it, less the button area.
  const QFontMetrics metrics(font());
  const int bx = metrics.averageCharWidth();
  const int by = metrics.height();
  const int left = kListInsetX * bx / 4;
  const int top = kListInsetTop * by / 8;
  const int bottom = kListInsetBottom * by / 8 + (buttonsPlaced_ ? kButtonAreaHeight : 0);
  list_.setGeometry(left, top, std::max(0, width() - 2 * left),
                    std::max(0, height() - top - bottom));
  // The list's own resize event may come later (hidden widgets); the widths are needed now.
  SetColumnWidths();
}

void ParameterTable::resizeEvent(QResizeEvent* event) {
  QGroupBox::resizeEvent(event);
  LayOutList();
  PlaceButtons();
}

void ParameterTable::SetCommandButtons(QAbstractButton* read, QAbstractButton* copyLeft,
                                       QAbstractButton* save, QAbstractButton* write,
                                       QAbstractButton* load, QAbstractButton* copyRight) {
  buttons_[0] = read;
  buttons_[1] = copyLeft;
  buttons_[2] = save;
  buttons_[3] = write;
  buttons_[4] = load;
  buttons_[5] = copyRight;
  EnableButtons();
}

void ParameterTable::PlaceCommandButtons() {
  buttonsPlaced_ = true;
  LayOutList();
  PlaceButtons();
}

void ParameterTable::PlaceButtons() {
  if (!buttonsPlaced_) return;
  const int left = list_.frameWidth() - list_.horizontalScrollBar()->value();
  for (int i = 0; i < 6; ++i) {
    QAbstractButton* button = buttons_[i];
    if (button == nullptr || button->parentWidget() == nullptr) continue;
    int x = left;
    for (int c = 0; c < kButtonColumn[i]; ++c) x += list_.ColumnWidth(c);
    const int w = list_.ColumnWidth(kButtonColumn[i]);
    const int y = list_.height() + kButtonGap + kButtonRow[i] * kButtonStep;
    // From one pixel left of the column to its right edge, in the button's parent's coordinates.
    const QPoint topLeft =
        button->parentWidget()->mapFromGlobal(list_.mapToGlobal(QPoint(x - 1, y)));
    button->setGeometry(topLeft.x(), topLeft.y(), w + 1, kButtonHeight);
  }
}

// ---- refresh ----

void ParameterTable::RefreshTable() {
  SetHeaders();
  list_.RedrawAll();
  EnableButtons();
  SetCaption();
}

void ParameterTable::SetHeaders() {
  if (list_.ColumnCount() < 4) return;
  list_.SetHeaderText(kColName, Msg("PARCOLNAME"));
  list_.SetHeaderText(kColDevice, Msg("PARCOLDEVICE"));
  list_.SetHeaderText(kColEdit, Msg("PARCOLEDIT"));
  if (loadedFile_.empty()) {
    list_.SetHeaderText(kColFile, Msg("PARCOLFILE"));
  } else if (beamLineUnreadable_) {
    const size_t slash = loadedFile_.find_last_of('/');
    const std::string name =
        slash == std::string::npos ? loadedFile_ : loadedFile_.substr(slash + 1);
    list_.SetHeaderText(kColFile,
                        Msg("KFG_BEAMLINEMARK").replace(QStringLiteral("%s"), FromCp1252(name)));
  } else {
    list_.SetHeaderTextShortened(kColFile, FromCp1252(loadedFile_));
  }
}

void ParameterTable::SetFileBeamLineUnreadable(bool unreadable) {
  beamLineUnreadable_ = unreadable;
  SetHeaders();
}

void ParameterTable::SetCaption() {
  captionChanged_ = AnyChanged(definition_, DeviceValid());
  setTitle(Msg(captionChanged_ ? "KONFPARAMMOD" : "KONFPARAM"));
}

void ParameterTable::EnableButtons() {
  const bool valid = DeviceValid();
  const bool config = access_ != nullptr && access_->InConfigMode();
  if (buttons_[0] != nullptr) buttons_[0]->setEnabled(config);
  if (buttons_[1] != nullptr) buttons_[1]->setEnabled(valid);
  if (buttons_[3] != nullptr) buttons_[3]->setEnabled(valid);
}

void ParameterTable::SetLoadedFile(const std::string& path) {
  loadedFile_ = path;
  beamLineUnreadable_ = false;
  SetHeaders();
}

// ---- column copies ----

void ParameterTable::CopyDeviceToEditColumn() {
  CopyDeviceToEdit(definition_);
  RefreshTable();
}

void ParameterTable::CopyFileToEditColumn() {
  CopyFileToEdit(definition_);
  RefreshTable();
}

void ParameterTable::CopyOneValue(int command, int row) {
  PVar* record = Record(row);
  if (record != nullptr && record->states.size() != 1) {
    if (command == kCmdCopyFile && record->fileValid) {
      SetEdit(record, record->fileValue);
    } else if (command == kCmdCopyDevice && DeviceValid()) {
      SetEdit(record, DeviceValue(record));
    }
  }
  list_.setFocus(Qt::OtherFocusReason);
  for (int c = 0; c < list_.ColumnCount(); ++c) list_.RedrawCell(c, row);
  SetCaption();
  emit editFinished();
}

// ---- cells ----

QString ParameterTable::CellText(int column, int row) const {
  const PVar* record = Record(row);
  if (record == nullptr) return {};
  switch (static_cast<Column>(column)) {
    case kColName:
      return FromCp1252(NameCellText(definition_, record));
    case kColDevice:
      return FromCp1252(DeviceCellText(definition_, record, DeviceValid()));
    case kColEdit:
      return FromCp1252(EditCellText(definition_, record));
    case kColFile:
      return FromCp1252(FileCellText(definition_, record));
  }
  return {};
}

void ParameterTable::DrawCell(int column, int row, QPainter& painter, const QRect& rect,
                              const QString& text, bool focused) {
  const PVar* record = Record(row);
  const QPalette& pal = palette();
  QColor background = pal.color(QPalette::Window);
  QColor foreground = pal.color(QPalette::WindowText);
  bool italic = false;
  if (column == kColName) {
    background = kNameBackground;
  } else if (column == kColEdit) {
    italic = IsChanged(record, DeviceValid());
    background = italic ? pal.color(QPalette::ToolTipBase) : QColor(Qt::white);
    foreground = italic ? pal.color(QPalette::ToolTipText) : QColor(Qt::black);
    if (focused) {
      background = pal.color(QPalette::Highlight);
      foreground = pal.color(QPalette::HighlightedText);
    }
  }
  // A name's "&" underlines its hotkey.
  CellLook look{background, foreground, italic, column == kColEdit, focused};
  look.textFlags = column == kColName ? Qt::TextShowMnemonic : 0;
  look.margin = 2;
  PaintCell(list_, painter, rect, text, look);
}

// ---- hover and arrow buttons ----

void ParameterTable::HoverCell(int column, int row) {
  const PVar* record = Record(row);
  hint_ = record != nullptr ? FromCp1252(DisplayText(definition_, record->description)) : QString();
  hintRow_ = record != nullptr ? row : -1;
  emit hintChanged(hint_);
  if (editing_ || record == nullptr) return;
  if (column == kColEdit || column == kColName) {
    RemoveArrow();
    return;
  }
  if (column == kColDevice && !(DeviceValid() && IsValidValue(record, DeviceValue(record)))) {
    RemoveArrow();
    return;
  }
  if (column == kColFile && !(!loadedFile_.empty() && record->fileValid)) {
    RemoveArrow();
    return;
  }
  RemoveArrow();
  const QRect cell = list_.CellRect(column, row).adjusted(0, 0, -1, -1);
  const int side = cell.height();
  auto* button = new QToolButton(list_.viewport());
  button->setArrowType(column == kColDevice ? Qt::RightArrow : Qt::LeftArrow);
  button->setFocusPolicy(Qt::NoFocus);
  const int x = column == kColDevice ? cell.right() + 1 - side : cell.left();
  button->setGeometry(x, cell.top(), side, side);
  QFont font = button->font();
  font.setPixelSize(std::max(1, list_.RowHeight() * 2 / 3));
  button->setFont(font);
  const int control = column == kColDevice ? kCmdCopyDevice : kCmdCopyFile;
  const char* tip =
      TooltipText(kTooltipDialog, [control](uint32_t id) { return id == uint32_t(control); });
  if (tip != nullptr) button->setToolTip(FromCp1252(tip));
  button->setMouseTracking(true);
  button->installEventFilter(this);
  const int command = column == kColDevice ? kCmdCopyDevice : kCmdCopyFile;
  connect(button, &QToolButton::clicked, this,
          [this, command, row] { emit copyValueRequested(command, row); });
  button->show();
  arrow_ = button;
  arrowColumn_ = column;
  arrowRow_ = row;
}

void ParameterTable::RemoveArrow() {
  if (arrow_ == nullptr) return;
  QToolButton* button = arrow_;
  arrow_ = nullptr;
  arrowColumn_ = -1;
  arrowRow_ = -1;
  button->hide();
  button->deleteLater();
}

void ParameterTable::ShowRowTooltip(const QHelpEvent& help) {
  if (!CurrentSettings().enableToolTips) {
    QToolTip::hideText();
    return;
  }
  // Over a row its description, for as long as the pointer stays on that row; elsewhere in the
  // list the list's own text.
  int column = -1;
  int row = -1;
  QString text;
  QRect area = list_.viewport()->rect();
  const PVar* record =
      list_.HitTest(help.pos(), &column, &row) ? Record(row) : static_cast<const PVar*>(nullptr);
  if (record != nullptr) {
    text = FromCp1252(DisplayText(definition_, record->description));
    const QRect cell = list_.CellRect(column, row);
    area = QRect(area.left(), cell.top(), area.width(), cell.height());
  }
  if (text.isEmpty()) {
    const char* own =
        TooltipText(kTooltipDialog, [](uint32_t id) { return id == uint32_t(kListControlId); });
    if (own != nullptr) text = FromCp1252(own);
    if (record != nullptr) area = list_.viewport()->rect();
  }
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(help.globalPos(), text, list_.viewport(), area);
  }
}

void ParameterTable::LeaveCell() {
  list_.viewport()->unsetCursor();
  hint_.clear();
  hintRow_ = -1;
  emit hintChanged(hint_);
}

void ParameterTable::RetranslateHint() {
  const PVar* record = hintRow_ >= 0 ? Record(hintRow_) : nullptr;
  if (record == nullptr) return;
  hint_ = FromCp1252(DisplayText(definition_, record->description));
  emit hintChanged(hint_);
}

bool ParameterTable::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_.viewport() && event->type() == QEvent::ToolTip) {
    ShowRowTooltip(*static_cast<QHelpEvent*>(event));
    return true;
  }
  if (watched == arrow_.data() && event->type() == QEvent::ToolTip &&
      !CurrentSettings().enableToolTips) {
    return true;
  }
  // On an arrow button the hint says what the button does; back on the row, the row's text.
  if (arrow_ != nullptr && watched == arrow_.data() && event->type() == QEvent::Enter) {
    emit hintChanged(arrow_->toolTip());
  }
  if (arrow_ != nullptr && watched == arrow_.data() && event->type() == QEvent::Leave) {
    emit hintChanged(hint_);
  }
  if (arrow_ != nullptr && watched == arrow_.data() &&
      (event->type() == QEvent::MouseMove || event->type() == QEvent::Leave)) {
    // The button lives while the pointer stays inside the visible part of its cell.
    const QPoint p =
        arrow_->mapTo(list_.viewport(), event->type() == QEvent::MouseMove
                                            ? static_cast<QMouseEvent*>(event)->position().toPoint()
                                            : arrow_->mapFromGlobal(QCursor::pos()));
    const QRect visible = list_.CellRect(arrowColumn_, arrowRow_) & list_.viewport()->rect();
    if (!visible.contains(p)) RemoveArrow();
    return false;
  }
  if (watched == &list_ && event->type() == QEvent::Resize) {
    SetColumnWidths();
    SetHeaders();
  }
  if (watched == list_.viewport() && event->type() == QEvent::Leave) RemoveArrow();
  if (watched == list_.viewport() && event->type() == QEvent::MouseMove && arrow_ != nullptr) {
    const QPoint p = static_cast<QMouseEvent*>(event)->position().toPoint();
    const QRect visible = list_.CellRect(arrowColumn_, arrowRow_) & list_.viewport()->rect();
    if (!visible.contains(p)) RemoveArrow();
  }
  return QGroupBox::eventFilter(watched, event);
}

// ---- editing ----

void ParameterTable::Click(int column, int row) {
  if (column != kColEdit) return;
  StartEdit(row, QChar());
}

void ParameterTable::Character(int, int row, QChar ch, bool isSystem, bool& handled) {
  if (isSystem) return;
  if (ch.unicode() == 0x1B) {
    handled = true;
    emit cancelRequested();
    return;
  }
  const std::string key = ToCp1252(QString(ch));
  const int found = FindRecordByHotkey(definition_, key.empty() ? '\0' : key[0]);
  if (found >= 0 && found < list_.RowCount()) {
    list_.SelectCell(kColEdit, found);
    list_.EnsureCellVisible(kColEdit, found);
    handled = true;
    return;
  }
  // A digit or a minus sign starts the edit with that character, so "-15" can be typed at once.
  if ((ch >= QLatin1Char('0') && ch <= QLatin1Char('9')) || ch == QLatin1Char('-')) {
    handled = true;
    StartEdit(row, ch);
  }
}

void ParameterTable::StartEdit(int row, QChar digit) {
  if (editing_ || list_.Editor() != nullptr) return;
  PVar* record = Record(row);
  if (record == nullptr) return;
  list_.SelectCell(kColEdit, row);
  const size_t states = record->states.size();
  if (states == 1) return;
  const std::string current = EditCellText(definition_, record);
  if (states == 2) {
    // Decided by the value, not by the shown name: two states shown alike (an untranslated
    // macro) would otherwise never toggle back.
    const bool isFirst = record->editValid && record->editValue == record->states[0].value;
    SetEdit(record, isFirst ? record->states[1].value : record->states[0].value);
    list_.RedrawCell(kColEdit, row);
    SetCaption();
    emit editFinished();
    return;
  }
  RemoveArrow();
  QWidget* editor = nullptr;
  if (states > 2) {
    QComboBox* box = list_.OpenDropDown(kColEdit, row);
    if (box != nullptr) {
      for (const PState& state : record->states) {
        box->addItem(FromCp1252(DisplayText(definition_, state.name)));
      }
      box->setCurrentIndex(box->findText(FromCp1252(current), Qt::MatchExactly));
      editor = box;
    }
  } else {
    QLineEdit* field = list_.OpenEditField(kColEdit, row);
    if (field != nullptr) {
      field->setText(current == kUnknownText ? QString() : FromCp1252(current));
      field->selectAll();
      if (!digit.isNull()) field->insert(QString(digit));
      editor = field;
    }
  }
  if (editor == nullptr) {
    QApplication::beep();
    return;
  }
  editing_ = true;
  const ListControl::EditResult result = list_.RunEditLoop(kColEdit, row);
  if (result != ListControl::EditResult::Cancel && list_.Editor() != nullptr) {
    if (auto* box = qobject_cast<QComboBox*>(list_.Editor())) {
      // The chosen entry is the state of that position, also when two names read alike.
      const int index = box->currentIndex();
      if (index >= 0 && static_cast<size_t>(index) < record->states.size()) {
        SetEdit(record, record->states[static_cast<size_t>(index)].value);
      }
    } else if (auto* field = qobject_cast<QLineEdit*>(list_.Editor())) {
      AcceptEditText(record, ToCp1252(field->text()));
    }
    list_.RedrawCell(kColEdit, row);
  }
  list_.CloseEditor();
  editing_ = false;
  list_.ResetHover();
  if (result == ListControl::EditResult::AcceptedByEnter ||
      result == ListControl::EditResult::AcceptedMoveDown ||
      result == ListControl::EditResult::AcceptedMoveUp) {
    QKeyEvent key(QEvent::KeyPress,
                  result == ListControl::EditResult::AcceptedMoveUp ? Qt::Key_Up : Qt::Key_Down,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(&list_, &key);
  }
  SetCaption();
  emit editFinished();
}

void ParameterTable::AcceptEditText(PVar* record, const std::string& text) {
  if (record == nullptr) return;
  const PState* state = StateByText(definition_, record, text.c_str());
  if (state != nullptr) {
    SetEdit(record, state->value);
    return;
  }
  int32_t number = 0;
  if (ParseNumberAt(text.c_str(), &number)) {
    if (record->hasLimits && (number < record->minimum || number > record->maximum)) return;
    SetEdit(record, number);
    return;
  }
  SetEdit(record, NoValue);
}

}  // namespace lumo::ui

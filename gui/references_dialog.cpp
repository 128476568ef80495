#include "gui/references_dialog.h"

#include <QtWidgets/qdrawutil.h>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <cstdio>

#include "base/program_paths.h"
#include "base/translations.h"
#include "definitions/scan.h"
#include "gui/gui_text.h"
#include "gui/main_window.h"
#include "gui/range_preset.h"
#include "gui/widgets/text_room.h"
#include "platform/message_box.h"

namespace lumo::gui {

namespace {

constexpr uint16_t kDialogId = 200;
constexpr int kWidthDlu = 414;
constexpr int kHeightDlu = 231;

// Controls of template 200: id, place in dialog units.
struct PlaceRow {
  int id;
  int x, y, width, height;
};
// id, x, y, width, height
constexpr PlaceRow kPlaces[] = {
    {kIdRefSwLabel, 7, 11, 74, 9},     {kIdRefSw, 85, 9, 58, 12},
    {kIdRefGainLabel, 61, 24, 20, 9},  {kIdRefLow, 86, 24, 30, 10},
    {kIdRefHigh, 117, 24, 39, 10},     {kIdRefDistanceLabel, 149, 10, 168, 9},
    {kIdRefFormula, 175, 21, 134, 9},  {kIdRefDistance, 323, 14, 58, 12},
    {kIdRefList, 15, 38, 383, 157},    {kIdRefStatLimits, 64, 208, 277, 9},
    {kIdRefStatMean, 64, 217, 277, 9}, {kIdRefReady, 368, 200, 40, 14},
};

constexpr int kListShortenPx = 22;  // room for the two buttons under the list
// A caption that grows for its text keeps this far from the dialog's edges and its neighbour.
constexpr int kTextRoomMarginDlu = 4;
constexpr int kTextRoomGapPx = 2;
constexpr int kListButtonGapPx = 3;  // between the list and the buttons
constexpr int kListButtonHeightPx = 22;
constexpr int kColumnShares = 5;  // columns of w/5, 2*(w/5) and the rest
constexpr int kMaxEditChars = 200;
constexpr int kCellTextMargin = 4;
const QColor kNameColumnColour(200, 255, 200);
constexpr const char* kCopyCaption = "Kopieren";
constexpr char16_t kEscapeChar = 0x1B;

bool ExpertMode() {
  return (CurrentStartupPaths().startFlags & kStartExpert) != 0;
}

QString FormatUnsigned2(const char* format, uint32_t a, uint32_t b) {
  char text[256];
  std::snprintf(text, sizeof text, format, static_cast<unsigned long>(a),
                static_cast<unsigned long>(b));
  return FromCp1252(text);
}

}  // namespace

ReferencesDialog::ReferencesDialog(MainWindow* owner, DutLink& link)
    : QDialog(owner),
      owner_(owner),
      link_(link),
      tooltips_(kDialogId, this),
      swLabel_(this),
      swField_(this),
      gainLabel_(this),
      low_(this),
      high_(this),
      distanceLabel_(this),
      formula_(this),
      distanceField_(this),
      list_(this),
      write_(this),
      copy_(this),
      statLimits_(this),
      statMean_(this),
      ready_(this) {
  Build();
  if (owner_ != nullptr) owner_->SetLinkEventReceiver(this);
}

ReferencesDialog::~ReferencesDialog() {
  // The SW field loses the focus while the dialog is taken apart: nothing is applied then.
  swField_.removeEventFilter(this);
  if (owner_ != nullptr) owner_->SetLinkEventReceiver(nullptr);
}

void ReferencesDialog::Build() {
  setFont(DialogFont());
  DialogUnits units(font());
  setFixedSize(units.X(kWidthDlu), units.Y(kHeightDlu));
  setWindowTitle(Control(kDialogId, 0));
  controls_ = {{kIdRefSwLabel, &swLabel_},     {kIdRefSw, &swField_},
               {kIdRefGainLabel, &gainLabel_}, {kIdRefLow, &low_},
               {kIdRefHigh, &high_},           {kIdRefDistanceLabel, &distanceLabel_},
               {kIdRefFormula, &formula_},     {kIdRefDistance, &distanceField_},
               {kIdRefList, &list_},           {kIdRefStatLimits, &statLimits_},
               {kIdRefStatMean, &statMean_},   {kIdRefReady, &ready_},
               {kIdRefWrite, &write_},         {kIdRefCopy, &copy_}};
  for (const PlaceRow& row : kPlaces) {
    controls_[row.id]->setGeometry(units.Rect(row.x, row.y, row.width, row.height));
  }
  swLabel_.setText(Control(kDialogId, kIdRefSwLabel));
  gainLabel_.setText(Control(kDialogId, kIdRefGainLabel));
  distanceLabel_.setText(Control(kDialogId, kIdRefDistanceLabel));
  gainLabel_.setBuddy(&low_);
  distanceLabel_.setBuddy(&distanceField_);
  for (QLabel* label : {&formula_, &statLimits_, &statMean_}) label->setTextFormat(Qt::PlainText);
  low_.setText(Control(kDialogId, kIdRefLow));
  high_.setText(Control(kDialogId, kIdRefHigh));
  write_.setText(Control(kDialogId, kIdRefWrite));
  const QString copyText = Control(kDialogId, kIdRefCopy);
  copy_.setText(copyText.isEmpty() ? QString::fromLatin1(kCopyCaption) : copyText);
  ready_.setText(Control(kDialogId, kIdRefReady));
  ready_.setDefault(true);
  for (QPushButton* button : {&write_, &copy_}) button->setAutoDefault(false);
  swField_.setMaxLength(kMaxEditChars);
  distanceField_.setMaxLength(kMaxEditChars);
  swField_.installEventFilter(this);
  for (int id :
       {kIdRefSw, kIdRefLow, kIdRefHigh, kIdRefDistance, kIdRefList, kIdRefWrite, kIdRefReady}) {
    tooltips_.Register(id, controls_[id]);
  }

  connect(&ready_, &QPushButton::clicked, this, &ReferencesDialog::accept);
  connect(&write_, &QPushButton::clicked, this, [this] { Write(); });
  connect(&copy_, &QPushButton::clicked, this, [this] { CopyToClipboard(); });
  connect(&low_, &QRadioButton::clicked, this, [this] {
    editor_.SetHw(0);
    Refresh();
  });
  connect(&high_, &QRadioButton::clicked, this, [this] {
    editor_.SetHw(1);
    Refresh();
  });

  QRect listPlace = list_.geometry();
  listPlace.setHeight(listPlace.height() - kListShortenPx);
  list_.setGeometry(listPlace);
  // A caption wider in this font than its template place takes the free room of its row.
  for (QWidget* caption : {static_cast<QWidget*>(&swLabel_), static_cast<QWidget*>(&gainLabel_),
                           static_cast<QWidget*>(&distanceLabel_), static_cast<QWidget*>(&low_),
                           static_cast<QWidget*>(&high_), static_cast<QWidget*>(&ready_)}) {
    ui::GrowForText(*caption, units.X(kTextRoomMarginDlu), kTextRoomGapPx);
  }
  list_.setFont(font());
  list_.viewport()->setCursor(Qt::ArrowCursor);
}

bool ReferencesDialog::Open() {
  settings_ = ReferenceSettings::FromDefinition();
  if (!editor_.Load(ReadDeviceReferences(link_), settings_)) return false;
  if (editor_.Fp8()) {
    for (QWidget* gain : {static_cast<QWidget*>(&swLabel_), static_cast<QWidget*>(&swField_),
                          static_cast<QWidget*>(&low_), static_cast<QWidget*>(&high_),
                          static_cast<QWidget*>(&gainLabel_)}) {
      gain->hide();
    }
  }
  // "%.1f" of k, with a decimal point whatever the locale.
  formula_.setText(QStringLiteral("S = %1 / (d/m)\u00B2")
                       .arg(QString::fromStdString(FormatDistance(settings_.calFactor))));

  ui::ListControl::Callbacks callbacks;
  callbacks.onInit = [this](ui::ListControl& list) { InitList(list); };
  callbacks.onCellText = [this](ui::ListControl&, int column, int row, QString& text) {
    CellText(column, row, text);
  };
  callbacks.onDrawCell = [this](ui::ListControl&, int column, int row, QPainter& painter,
                                const QRect& rect, const QString& text, bool focused) {
    DrawCell(column, row, painter, rect, text, focused);
  };
  callbacks.onSelectCell = [](ui::ListControl&, int& column, int&) {
    if (column < kColRaw) column = kColRaw;
  };
  callbacks.onClick = [this](ui::ListControl& list, ui::ListControl::Press press, int, int column,
                             int row) {
    if (press != ui::ListControl::Press::LeftDown && press != ui::ListControl::Press::LeftDouble &&
        press != ui::ListControl::Press::KeyDown) {
      return;
    }
    if (column < kColRaw) {
      list.SelectCell(kColRaw, row);
      return;
    }
    list.SelectCell(column, row);
    EditCell(column, row);
  };
  callbacks.onCharacter = [this](ui::ListControl&, int column, int row, QChar ch, bool isSystem,
                                 bool& handled) {
    if (ch == QChar(kEscapeChar)) {
      // Escape in the list is the dialog's Cancel.
      handled = true;
      reject();
      return;
    }
    if (isSystem || ch < QLatin1Char('0') || ch > QLatin1Char('9') || column < kColRaw) return;
    handled = true;
    EditCell(column, row, ch);
  };
  list_.Attach(std::move(callbacks), true);
  PlaceListButtons();
  Refresh();
  list_.setFocus();
  return true;
}

void ReferencesDialog::InitList(ui::ListControl& list) {
  const int scrollBar = list.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &list);
  const int w = list.width() - 2 * list.frameWidth() - scrollBar;
  const int share = w / kColumnShares;
  list.AddColumn(kColName, Msg("SIG_RAYCOLNAME"), share);
  list.AddColumn(kColRaw, Msg("SIG_RAYCOLDEVICE"), 2 * share);
  list.AddColumn(kColValue, Msg("SIG_RAYCOLCALC"), w - 3 * share);
  list.LockHeader(true);
  for (int row = 0; row <= editor_.BeamCount(); ++row) list.AppendRow();
}

void ReferencesDialog::PlaceListButtons() {
  const QRect place = list_.geometry();
  const int top = place.bottom() + 1 + kListButtonGapPx;
  int left = place.left() + list_.frameWidth() + list_.ColumnWidth(kColName) - 1;
  write_.setGeometry(left, top, list_.ColumnWidth(kColRaw), kListButtonHeightPx);
  left += list_.ColumnWidth(kColRaw);
  copy_.setGeometry(left, top, list_.ColumnWidth(kColValue), kListButtonHeightPx);
}

void ReferencesDialog::CellText(int column, int row, QString& text) const {
  if (row == 0) {
    if (column == kColName) text = Msg("ALL");
    return;
  }
  switch (static_cast<Column>(column)) {
    case kColName:
      text = QStringLiteral("Nr. %1").arg(row);
      break;
    case kColRaw:
      text = QString::number(editor_.EditedByte(row));
      break;
    case kColValue:
      text = QString::number(editor_.Reconstructed(row));
      break;
  }
}

void ReferencesDialog::DrawCell(int column, int row, QPainter& painter, const QRect& rect,
                                const QString& text, bool focused) {
  painter.save();
  QFont cellFont = font();
  QColor textColour = palette().color(QPalette::Text);
  if (column == kColName) {
    painter.fillRect(rect, kNameColumnColour);
  } else {
    const bool changed = editor_.BeamChanged(row);
    QColor fill = changed ? palette().color(QPalette::ToolTipBase) : QColor(Qt::white);
    if (changed) cellFont.setItalic(true);
    if (focused) {
      fill = palette().color(QPalette::Highlight);
      textColour = palette().color(QPalette::HighlightedText);
    }
    painter.fillRect(rect, fill);
    qDrawShadePanel(&painter, rect, palette(), true, 1);
    if (focused) {
      QStyleOptionFocusRect option;
      option.initFrom(&list_);
      option.rect = rect.adjusted(2, 2, -2, -2);
      option.backgroundColor = fill;
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &list_);
    }
  }
  painter.setFont(cellFont);
  painter.setPen(textColour);
  const QFontMetrics metrics(cellFont);
  const QString shown = metrics.elidedText(text, Qt::ElideRight, rect.width() - kCellTextMargin);
  painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, shown);
  painter.restore();
}

void ReferencesDialog::EditCell(int column, int row, QChar digit) {
  if (column < kColRaw || row < 0 || row > editor_.BeamCount()) return;
  QLineEdit* field = list_.OpenEditField(column, row);
  if (field == nullptr) {
    QApplication::beep();
    return;
  }
  field->setMaxLength(kMaxEditChars);
  field->setText(list_.CellText(column, row));
  field->selectAll();
  if (!digit.isNull()) field->insert(QString(digit));
  const ui::ListControl::EditResult result = list_.RunEditLoop(column, row);
  if (result != ui::ListControl::EditResult::Cancel) {
    if (auto* edit = qobject_cast<QLineEdit*>(list_.Editor())) {
      int32_t number = 0;
      // A text without a number changes nothing.
      if (ParseNumberAt(ToCp1252(edit->text()).c_str(), &number)) {
        if (column == kColRaw) {
          editor_.EditRaw(row, number);
        } else {
          editor_.EditReconstructed(row, number);
        }
      }
    }
  }
  list_.CloseEditor();
  list_.ResetHover();
  Refresh();
  using Result = ui::ListControl::EditResult;
  if ((result == Result::AcceptedByEnter || result == Result::AcceptedMoveDown) &&
      row < editor_.BeamCount()) {
    list_.SelectCell(column, row + 1);
  } else if (result == Result::AcceptedMoveUp && row > 0) {
    list_.SelectCell(column, row - 1);
  }
}

void ReferencesDialog::Refresh() {
  if (!editor_.Fp8()) {
    swField_.setText(QString::number(editor_.Sw()));
    high_.setChecked(editor_.Hw() == 1);
    low_.setChecked(editor_.Hw() == 0);
    // The field shows on the tooltip colour while its SW differs from the device's.
    QPalette colours = swField_.palette();
    colours.setColor(QPalette::Base, editor_.Sw() == editor_.Device().sw
                                         ? palette().color(QPalette::Base)
                                         : palette().color(QPalette::ToolTipBase));
    swField_.setPalette(colours);
  }
  SetStatistics();
  list_.RedrawAll();
}

void ReferencesDialog::SetStatistics() {
  if (!ExpertMode() || !link_.ConfigValid()) {
    statLimits_.clear();
    statMean_.clear();
    return;
  }
  const ReferenceStatistics stats = editor_.Statistics();
  statLimits_.setText(FormatUnsigned2(MsgText("SIG_RAYEMITLIMITS"), stats.smallest, stats.largest));
  statMean_.setText(FormatUnsigned2(MsgText("SIG_RAYEMITMEAN"), stats.mean, 0));
}

void ReferencesDialog::ApplySwField() {
  if (editor_.Fp8()) return;
  int32_t number = 0;
  ParseNumberAt(ToCp1252(swField_.text()).c_str(), &number);
  editor_.SetSwFromNumber(number);
  Refresh();
  swField_.selectAll();
}

void ReferencesDialog::ApplyDialogRange() {
  const double metres = ParseDistance(ToCp1252(distanceField_.text()));
  if (!editor_.ApplyRange(metres)) {
    ShowMessage(MsgKind::Error, MsgText("ERRSIG_MAXDISTANCE"), MsgText("SIG_DLGTITLE"));
    return;
  }
  Refresh();
  distanceField_.clear();
}

bool ReferencesDialog::Write() {
  return WriteReferences(link_, editor_.Edited(), editor_.Fp8(), low_.isChecked() ? 0 : 1,
                         editor_.Sw());
}

void ReferencesDialog::CopyToClipboard() {
  QApplication::clipboard()->setText(FromCp1252(editor_.ClipboardText()));
}

void ReferencesDialog::OnLinkEvent(const LinkEvent& event) {
  if (!link_.InConfigMode()) {
    editor_.SetInConfigMode(false);
    closingWithoutQuestion_ = true;
    done(1);
    return;
  }
  if (event.code == DN_WRITEEND) {
    editor_.Load(ReadDeviceReferences(link_), settings_);
    Refresh();
  }
}

void ReferencesDialog::accept() {
  QWidget* focus = focusWidget();
  if (focus == &distanceField_) {
    ApplyDialogRange();
  } else if (focus == &swField_) {
    ApplySwField();
  } else {
    done(1);
  }
}

void ReferencesDialog::done(int) {
  if (!closingWithoutQuestion_ && editor_.Unsaved() &&
      ShowMessage(MsgKind::Question, MsgText("QUERYDISCARDCHANGES"), ToCp1252(windowTitle())) !=
          MsgAnswer::Yes) {
    return;
  }
  QDialog::done(1);
}

QWidget* ReferencesDialog::ControlById(int id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

bool ReferencesDialog::eventFilter(QObject* watched, QEvent* event) {
  // Only a text the user changed is applied: the field may pass the focus on while it still
  // shows an SW that an edit in the list has just replaced.
  if (watched == &swField_ && event->type() == QEvent::FocusOut && swField_.isModified()) {
    ApplySwField();
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace lumo::gui

#include "gui/widgets/list_control.h"

#include <qdrawutil.h>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleOptionFocusRect>
#include <algorithm>

namespace lumo::ui {

namespace {

constexpr int kSidewaysStep = 16;     // pixels per Left or Right with cell mode off
constexpr int kHeaderTextMargin = 4;  // a shortened header text leaves this much room
const QColor kGridColour(192, 192, 192);

}  // namespace

ListControl::ListControl(QWidget* parent) : QAbstractScrollArea(parent) {
  headerModel_ = new QStandardItemModel(0, 0, this);
  header_ = new QHeaderView(Qt::Horizontal, this);
  header_->setModel(headerModel_);
  header_->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header_->setSectionsClickable(false);
  header_->setStretchLastSection(false);
  header_->setMinimumSectionSize(1);
  header_->setSectionResizeMode(QHeaderView::Interactive);
  connect(header_, &QHeaderView::sectionResized, this, &ListControl::HeaderResized);
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setMouseTracking(true);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  verticalScrollBar()->setSingleStep(1);
  horizontalScrollBar()->setSingleStep(kSidewaysStep);
  UpdateGeometries();
}

ListControl::~ListControl() {
  CloseEditor();
}

void ListControl::Attach(Callbacks callbacks, bool cellMode, int rowHeight) {
  CloseEditor();
  callbacks_ = std::move(callbacks);
  cellMode_ = cellMode;
  rowHeight_ = rowHeight;
  // A second attach starts from an empty grid.
  headerModel_->setColumnCount(0);
  widths_.clear();
  rowCount_ = 0;
  ResetHover();
  if (callbacks_.onInit) callbacks_.onInit(*this);
  currentColumn_ = -1;
  currentRow_ = -1;
  SelectCell(0, 0);
  UpdateScrollBars();
  viewport()->update();
}

// ---- columns ----

void ListControl::AddColumn(int index, const QString& header, int width) {
  index = std::clamp(index, 0, ColumnCount());
  headerModel_->insertColumn(index);
  widths_.insert(widths_.begin() + index, std::max(width, 1));
  SetHeaderText(index, header);
  restoringWidth_ = true;
  header_->resizeSection(index, widths_[static_cast<size_t>(index)]);
  restoringWidth_ = false;
  UpdateGeometries();
}

void ListControl::SetHeaderText(int index, const QString& text) {
  if (index < 0 || index >= ColumnCount()) return;
  headerModel_->setHeaderData(index, Qt::Horizontal, text.left(kMaxHeaderText));
}

void ListControl::SetHeaderTextShortened(int index, const QString& text) {
  if (index < 0 || index >= ColumnCount()) return;
  SetHeaderText(index,
                ShortenPath(text, header_->fontMetrics(), ColumnWidth(index) - kHeaderTextMargin));
}

QString ListControl::HeaderText(int index) const {
  return headerModel_->headerData(index, Qt::Horizontal).toString();
}

int ListControl::ColumnCount() const {
  return static_cast<int>(widths_.size());
}

int ListControl::ColumnWidth(int index) const {
  if (index < 0 || index >= ColumnCount()) return 0;
  return widths_[static_cast<size_t>(index)];
}

void ListControl::SetColumnWidth(int index, int width) {
  if (index < 0 || index >= ColumnCount()) return;
  widths_[static_cast<size_t>(index)] = std::max(width, 1);
  restoringWidth_ = true;
  header_->resizeSection(index, widths_[static_cast<size_t>(index)]);
  restoringWidth_ = false;
  UpdateScrollBars();
  viewport()->update();
}

void ListControl::LockHeader(bool locked) {
  headerLocked_ = locked;
  header_->setSectionResizeMode(locked ? QHeaderView::Fixed : QHeaderView::Interactive);
}

void ListControl::HeaderResized(int index, int oldWidth, int newWidth) {
  if (restoringWidth_ || index < 0 || index >= ColumnCount()) return;
  int width = std::max(newWidth, 1);
  bool veto = headerLocked_ || !callbacks_.onColumnResize;
  if (!veto) callbacks_.onColumnResize(*this, index, width, veto);
  if (veto) width = std::max(oldWidth, 1);
  widths_[static_cast<size_t>(index)] = std::max(width, 1);
  if (width != newWidth) {
    restoringWidth_ = true;
    header_->resizeSection(index, widths_[static_cast<size_t>(index)]);
    restoringWidth_ = false;
  }
  UpdateScrollBars();
  viewport()->update();
}

int ListControl::ColumnLeft(int index) const {
  int x = 0;
  for (int i = 0; i < index && i < ColumnCount(); ++i) x += widths_[static_cast<size_t>(i)];
  return x;
}

int ListControl::TotalWidth() const {
  return ColumnLeft(ColumnCount());
}

// ---- rows ----

void ListControl::AppendRow() {
  ++rowCount_;
  UpdateScrollBars();
  viewport()->update();
}

void ListControl::DeleteAllRows() {
  rowCount_ = 0;
  ResetHover();
  UpdateScrollBars();
  viewport()->update();
}

int ListControl::FirstVisibleRow() const {
  return verticalScrollBar()->value();
}

int ListControl::RowsPerPage() const {
  return std::max(1, viewport()->height() / RowHeight());
}

void ListControl::SetRowHeight(int height) {
  rowHeight_ = std::max(height, 0);
  UpdateScrollBars();
  viewport()->update();
}

int ListControl::RowHeight() const {
  if (rowHeight_ > 0) return rowHeight_;
  return fontMetrics().height() + 2;
}

// ---- geometry ----

void ListControl::UpdateGeometries() {
  const int headerHeight = header_->sizeHint().height();
  setViewportMargins(0, headerHeight, 0, 0);
  const QRect vp = viewport()->geometry();
  header_->setGeometry(vp.left(), vp.top() - headerHeight, vp.width(), headerHeight);
  UpdateScrollBars();
}

void ListControl::UpdateScrollBars() {
  const int perPage = RowsPerPage();
  verticalScrollBar()->setPageStep(perPage);
  verticalScrollBar()->setRange(0, std::max(0, rowCount_ - perPage));
  horizontalScrollBar()->setPageStep(viewport()->width());
  horizontalScrollBar()->setRange(0, std::max(0, TotalWidth() - viewport()->width()));
  header_->setOffset(horizontalScrollBar()->value());
}

void ListControl::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateGeometries();
  if (placeCheck_) placeCheck_();
}

void ListControl::scrollContentsBy(int, int) {
  header_->setOffset(horizontalScrollBar()->value());
  viewport()->update();
}

QRect ListControl::CellRect(int column, int row) const {
  if (column < 0 || column >= ColumnCount() || row < 0 || row >= rowCount_) return {};
  const int h = RowHeight();
  const int x = ColumnLeft(column) - horizontalScrollBar()->value();
  const int y = (row - FirstVisibleRow()) * h;
  return QRect(x, y, ColumnWidth(column), h);
}

bool ListControl::HitTest(const QPoint& point, int* column, int* row) const {
  if (!viewport()->rect().contains(point)) return false;
  const int first = FirstVisibleRow();
  const int last = std::min(rowCount_ - 1, first + RowsPerPage());
  for (int r = first; r <= last; ++r) {
    for (int c = 0; c < ColumnCount(); ++c) {
      if (CellRect(c, r).contains(point)) {
        *column = c;
        *row = r;
        return true;
      }
    }
  }
  return false;
}

QString ListControl::CellText(int column, int row) {
  QString text;
  if (callbacks_.onCellText && !CellRect(column, row).isEmpty()) {
    callbacks_.onCellText(*this, column, row, text);
    text.truncate(kMaxCellText);
  }
  return text;
}

void ListControl::RedrawCell(int column, int row, bool now) {
  const QRect r = CellRect(column, row);
  if (r.isEmpty()) return;
  if (now) {
    viewport()->repaint(r);
  } else {
    viewport()->update(r);
  }
}

void ListControl::RedrawAll() {
  viewport()->update();
}

void ListControl::EnsureCellVisible(int column, int row) {
  if (row < 0 || row >= rowCount_) return;
  const int first = FirstVisibleRow();
  const int perPage = RowsPerPage();
  if (row < first) {
    verticalScrollBar()->setValue(row);
  } else if (row >= first + perPage) {
    verticalScrollBar()->setValue(row - perPage + 1);
  }
  const QRect r = CellRect(column, row);
  if (r.isEmpty()) return;
  if (r.left() < 0 || r.right() >= viewport()->width()) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + r.left());
  }
}

// ---- current cell ----

void ListControl::SelectCell(int column, int row) {
  if (!cellMode_) return;
  if (column == currentColumn_ && row == currentRow_) return;
  if (callbacks_.onSelectCell) callbacks_.onSelectCell(*this, column, row);
  const int oldColumn = currentColumn_;
  const int oldRow = currentRow_;
  currentColumn_ = column;
  currentRow_ = row;
  RedrawCell(oldColumn, oldRow);
  RedrawCell(column, row);
  EnsureCellVisible(column, row);
}

void ListControl::MoveTo(int column, int row) {
  SelectCell(column, row);
  EnsureCellVisible(currentColumn_, currentRow_);
}

// ---- events ----

bool ListControl::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Every key is the list's own while it has the focus, apart from Tab.
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Tab && key->key() != Qt::Key_Backtab &&
        (key->modifiers() & (Qt::AltModifier | Qt::ControlModifier)) == 0) {
      event->accept();
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

bool ListControl::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::Leave:
      ReportLeave();
      break;
    default:
      break;
  }
  return QAbstractScrollArea::viewportEvent(event);
}

void ListControl::ReportLeave() {
  if (hoverRow_ < 0) return;
  const int column = hoverColumn_;
  const int row = hoverRow_;
  hoverColumn_ = -1;
  hoverRow_ = -1;
  if (callbacks_.onLeaveCell) callbacks_.onLeaveCell(*this, column, row);
}

void ListControl::ResetHover() {
  hoverColumn_ = -1;
  hoverRow_ = -1;
}

void ListControl::mouseMoveEvent(QMouseEvent* event) {
  int column = -1;
  int row = -1;
  if (!HitTest(event->position().toPoint(), &column, &row)) {
    ReportLeave();
    return;
  }
  if (column == hoverColumn_ && row == hoverRow_) return;
  ReportLeave();
  hoverColumn_ = column;
  hoverRow_ = row;
  if (callbacks_.onHoverCell) callbacks_.onHoverCell(*this, column, row);
}

void ListControl::ReportPress(Press press, QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  int column = -1;
  int row = -1;
  if (!HitTest(event->position().toPoint(), &column, &row)) return;
  if (callbacks_.onClick) callbacks_.onClick(*this, press, 0, column, row);
}

void ListControl::mousePressEvent(QMouseEvent* event) {
  ReportButton(event, false);
}

void ListControl::mouseDoubleClickEvent(QMouseEvent* event) {
  ReportButton(event, true);
}

void ListControl::ReportButton(QMouseEvent* event, bool doubleClick) {
  // Each press of a double click is reported: the second one as a double click (left) or as one
  // more press (right, middle). Other buttons report nothing.
  struct ButtonRow {
    Qt::MouseButton button;
    Press press;
    Press secondOfDouble;
  };
  // button            press              second press of a double click
  static constexpr ButtonRow kButtonRows[] = {
      {Qt::LeftButton, Press::LeftDown, Press::LeftDouble},
      {Qt::RightButton, Press::RightDown, Press::RightDown},
      {Qt::MiddleButton, Press::MiddleDown, Press::MiddleDown},
  };
  for (const ButtonRow& row : kButtonRows) {
    if (row.button == event->button()) {
      ReportPress(doubleClick ? row.secondOfDouble : row.press, event);
    }
  }
  event->accept();
}

void ListControl::mouseReleaseEvent(QMouseEvent* event) {
  event->accept();
}

void ListControl::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
  QMetaObject::invokeMethod(
      this, [this] { EnsureCellVisible(currentColumn_, currentRow_); }, Qt::QueuedConnection);
}

void ListControl::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

bool ListControl::HandleKey(QKeyEvent* event) {
  const int n = rowCount_;
  const int c = currentColumn_;
  const int r = currentRow_;
  const int p = RowsPerPage();
  const int key = event->key();
  if (key == Qt::Key_Space || key == Qt::Key_F2) {
    if (callbacks_.onClick) callbacks_.onClick(*this, Press::KeyDown, key, c, r);
    return true;
  }
  if (!cellMode_) {
    QScrollBar* v = verticalScrollBar();
    QScrollBar* h = horizontalScrollBar();
    switch (key) {
      case Qt::Key_Up:
        v->setValue(v->value() - 1);
        return true;
      case Qt::Key_Down:
      case Qt::Key_Return:
      case Qt::Key_Enter:
        v->setValue(v->value() + 1);
        return true;
      case Qt::Key_PageUp:
        v->setValue(v->value() - p);
        return true;
      case Qt::Key_PageDown:
        v->setValue(v->value() + p);
        return true;
      case Qt::Key_Home:
        v->setValue(0);
        return true;
      case Qt::Key_End:
        v->setValue(v->maximum());
        return true;
      case Qt::Key_Left:
        h->setValue(h->value() - kSidewaysStep);
        return true;
      case Qt::Key_Right:
        h->setValue(h->value() + kSidewaysStep);
        return true;
      default:
        return false;
    }
  }
  if (n <= 0) return false;
  switch (key) {
    case Qt::Key_Up:
      MoveTo(c, std::max(r - 1, 0));
      return true;
    case Qt::Key_Down:
    case Qt::Key_Return:
    case Qt::Key_Enter:
      MoveTo(c, std::min(r + 1, n - 1));
      return true;
    case Qt::Key_PageUp:
      MoveTo(c, std::max(r - p, 0));
      return true;
    case Qt::Key_PageDown:
      MoveTo(c, std::min(r + p, n - 1));
      return true;
    case Qt::Key_Home:
      MoveTo(c, 0);
      return true;
    case Qt::Key_End:
      MoveTo(c, n - 1);
      return true;
    case Qt::Key_Left:
      MoveTo(std::max(c - 1, 0), r);
      return true;
    case Qt::Key_Right:
      if (c + 1 < ColumnCount()) MoveTo(c + 1, r);
      return true;
    default:
      return false;
  }
}

void ListControl::keyPressEvent(QKeyEvent* event) {
  if (HandleKey(event)) {
    event->accept();
    return;
  }
  QChar ch;
  if (event->key() == Qt::Key_Escape) {
    ch = QChar(0x1B);
  } else if (!event->text().isEmpty() && event->text().at(0).isPrint()) {
    ch = event->text().at(0);
  }
  if (!ch.isNull()) {
    bool handled = false;
    const bool isSystem = (event->modifiers() & Qt::AltModifier) != 0;
    if (callbacks_.onCharacter) {
      callbacks_.onCharacter(*this, currentColumn_, currentRow_, ch, isSystem, handled);
    }
    if (handled) {
      event->accept();
      return;
    }
  }
  QAbstractScrollArea::keyPressEvent(event);
}

// ---- painting ----

void ListControl::paintEvent(QPaintEvent*) {
  if (painting_) return;
  painting_ = true;
  QPainter painter(viewport());
  PaintCells(painter);
  painting_ = false;
}

void ListControl::PaintCells(QPainter& painter) {
  const QColor face = palette().color(QPalette::Window);
  const int first = FirstVisibleRow();
  const int last = std::min(rowCount_ - 1, first + RowsPerPage());
  const bool listFocused = hasFocus();
  int bottom = 0;
  for (int r = first; r <= last; ++r) {
    for (int c = 0; c < ColumnCount(); ++c) {
      const QRect cell = CellRect(c, r);
      const bool focused = listFocused && c == currentColumn_ && r == currentRow_;
      const QString text = CellText(c, r);
      const QRect inner = cell.adjusted(0, 0, -1, -1);
      painter.save();
      painter.setClipRect(cell);
      if (callbacks_.onDrawCell) {
        callbacks_.onDrawCell(*this, c, r, painter, inner, text, focused);
      } else {
        painter.fillRect(inner, Qt::white);
        if (focused) {
          QStyleOptionFocusRect option;
          option.initFrom(this);
          option.rect = inner;
          style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
      }
      painter.restore();
      // The grid: a grey line along the cell's right and bottom edge, filled as rectangles of
      // one pixel: a pen's line covers one device pixel only, less than a pixel on a scaled
      // screen, and the viewport paints every pixel itself.
      painter.fillRect(QRect(cell.right(), cell.top(), 1, cell.height()), kGridColour);
      painter.fillRect(QRect(cell.left(), cell.bottom(), cell.width(), 1), kGridColour);
      bottom = cell.bottom() + 1;
    }
  }
  // The rest of the client area: the dialog face colour with the columns' edges continued.
  const QRect vp = viewport()->rect();
  const int right = TotalWidth() - horizontalScrollBar()->value();
  if (right < vp.width()) painter.fillRect(QRect(right, 0, vp.width() - right, vp.height()), face);
  if (bottom < vp.height()) {
    painter.fillRect(QRect(0, bottom, std::min(right, vp.width()), vp.height() - bottom), face);
    for (int c = 0; c < ColumnCount(); ++c) {
      const int x = ColumnLeft(c + 1) - horizontalScrollBar()->value() - 1;
      painter.fillRect(QRect(x, bottom, 1, vp.height() - bottom), kGridColour);
    }
  }
}

// ---- header texts ----

QString ListControl::ShortenPath(const QString& text, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(text) <= width) return text;
  const QString ellipsis = QStringLiteral("...");
  const int cut = std::max(text.lastIndexOf(QLatin1Char('/')), text.lastIndexOf(QLatin1Char('\\')));
  const QString tail = cut >= 0 ? text.mid(cut) : QString();
  // Keep as much of the front as fits before the ellipsis and the file name.
  for (int keep = cut - 1; keep >= 0; --keep) {
    const QString candidate = text.left(keep) + ellipsis + tail;
    if (metrics.horizontalAdvance(candidate) <= width) return candidate;
  }
  const QString name = cut >= 0 ? text.mid(cut + 1) : text;
  return metrics.elidedText(name, Qt::ElideRight, std::max(width, 0));
}

void PaintCell(const ListControl& list, QPainter& painter, const QRect& rect, const QString& text,
               const CellLook& look) {
  const QPalette& pal = list.palette();
  painter.fillRect(rect, look.background);
  if (look.sunken) qDrawShadePanel(&painter, rect, pal, true, 1);
  QFont font = painter.font();
  font.setItalic(look.italic);
  painter.setFont(font);
  painter.setPen(look.foreground);
  const QRect textRect = rect.adjusted(look.margin, 0, -look.margin, 0);
  painter.drawText(
      textRect, Qt::AlignCenter | Qt::TextSingleLine | look.textFlags,
      painter.fontMetrics().elidedText(text, Qt::ElideRight, textRect.width(), look.textFlags));
  if (look.focused) {
    QStyleOptionFocusRect option;
    option.initFrom(&list);
    option.rect = rect.adjusted(1, 1, -1, -1);
    option.backgroundColor = look.background;
    list.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, &list);
  }
}

}  // namespace lumo::ui

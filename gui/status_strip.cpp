#include "gui/status_strip.h"

#include <QPainter>
#include <QResizeEvent>

namespace lumo::gui {

namespace {

// Right edges of the parts, in per cent of the bar's width.
constexpr int kPartRightPercent[3] = {57, 90, 100};
constexpr int kPartGap = 2;  // pixels between two parts
// The hint part keeps at least this share of the bar when the status text needs room.
constexpr int kMinHintPercent = 25;
// A label draws its text a few pixels inside its frame.
constexpr int kTextPadding = 6;

}  // namespace

ProgressStrip::ProgressStrip(QWidget* parent) : QWidget(parent) {}

void ProgressStrip::SetRange(int low, int high) {
  low_ = low;
  high_ = high;
  update();
}

void ProgressStrip::SetPosition(int position) {
  position_ = position;
  update();
}

int ProgressStrip::FilledRight(int width) const {
  if (position_ == 0 || high_ == low_) return 0;
  int64_t right = static_cast<int64_t>(width - 2) * position_ / (high_ - low_);
  if (right < 0) right = 0;
  if (right > width - 2) right = width - 2;
  return static_cast<int>(right);
}

void ProgressStrip::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QColor selection = palette().color(QPalette::Highlight);
  QRect client = rect();
  int right = FilledRight(client.width());
  QRect filled(1, 1, right, client.height() - 2);
  if (position_ != 0 && right > 0) painter.fillRect(filled, selection);
  if (position_ == 0) return;
  QString text = QStringLiteral("%1%").arg(position_);
  painter.setFont(font());
  painter.setPen(selection);
  painter.drawText(client, Qt::AlignCenter, text);
  painter.setClipRect(filled);
  painter.setPen(Qt::white);
  painter.drawText(client, Qt::AlignCenter, text);
}

int PartRight(int part, int barWidth) {
  if (part < 0) part = 0;
  if (part > 2) part = 2;
  return barWidth * kPartRightPercent[part] / 100;
}

StatusStrip::StatusStrip(QWidget* parent)
    : QFrame(parent), hint_(this), status_(this), progressPart_(this), progress_(&progressPart_) {
  for (QFrame* part :
       {static_cast<QFrame*>(&hint_), static_cast<QFrame*>(&status_), &progressPart_}) {
    part->setFrameShape(QFrame::Panel);
    part->setFrameShadow(QFrame::Sunken);
  }
  hint_.setTextFormat(Qt::PlainText);
  status_.setTextFormat(Qt::PlainText);
}

void StatusStrip::SetHint(const QString& text) {
  hint_.setText(text);
  hint_.setToolTip(text);
  Arrange(width(), height());
}
void StatusStrip::SetStatus(const QString& text) {
  status_.setText(text);
  // The whole text stays readable in the tooltip, whatever room the part has.
  status_.setToolTip(text);
  Arrange(width(), height());
}

int StatusStrip::StatusWidthNeeded(const QFont& font) const {
  return WidthNeeded(status_, font);
}

int StatusStrip::WidthNeeded(const QLabel& part, const QFont& font) {
  const int frame = 2 * part.frameWidth() + 2 * part.margin() + kTextPadding;
  return QFontMetrics(font).horizontalAdvance(part.text()) + frame;
}

QSize StatusStrip::sizeHint() const {
  return QSize(200, fontMetrics().height() + 8);
}

void StatusStrip::resizeEvent(QResizeEvent* event) {
  Arrange(event->size().width(), event->size().height());
}

void StatusStrip::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    updateGeometry();
    Arrange(width(), height());
  }
}

QFont StatusStrip::OneStepSmaller(QFont font) {
  if (font.pixelSize() > 0) {
    font.setPixelSize(std::max(1, font.pixelSize() - 1));
  } else {
    font.setPointSizeF(std::max(1.0, font.pointSizeF() - 1.0));
  }
  return font;
}

void StatusStrip::Arrange(int width, int height) {
  int rights[3] = {PartRight(0, width), PartRight(1, width), PartRight(2, width)};
  // A status text longer than its part takes the room it needs from the hint part (which keeps
  // at least kMinHintPercent of the bar); what is still missing then is bridged with the font
  // one step smaller.
  QFont font = this->font();
  const int available = rights[1] - rights[0] - kPartGap;
  int needed = StatusWidthNeeded(font);
  if (needed > available) {
    const int lowest = width * kMinHintPercent / 100;
    rights[0] = std::max(lowest, rights[1] - kPartGap - needed);
  }
  status_.setFont(needed > rights[1] - rights[0] - kPartGap ? OneStepSmaller(font) : font);
  // The hint part that gave room keeps its text whole the same way.
  const QFont hintFont = this->font();
  hint_.setFont(WidthNeeded(hint_, hintFont) > rights[0] - kPartGap ? OneStepSmaller(hintFont)
                                                                    : hintFont);
  int left = 0;
  QWidget* parts[3] = {&hint_, &status_, &progressPart_};
  for (int i = 0; i < 3; ++i) {
    // The last part ends at the bar's right edge, whatever its width.
    const int gap = i < 2 ? kPartGap : 0;
    parts[i]->setGeometry(left, 1, std::max(0, rights[i] - left - gap), height - 2);
    left = rights[i];
  }
  progress_.setGeometry(progressPart_.contentsRect());
}

QFont SmallFont(int cellHeightPx) {
  // The largest size of a small sans-serif face whose lines are no higher than the cell.
  QFont font(QStringLiteral("Small Fonts"));
  font.setStyleHint(QFont::SansSerif);
  for (int px = cellHeightPx; px > 1; --px) {
    font.setPixelSize(px);
    if (QFontMetrics(font).height() <= cellHeightPx) break;
  }
  return font;
}

bool StatusStrip::StatusFits() const {
  return StatusWidthNeeded(status_.font()) <= status_.width();
}

}  // namespace lumo::gui

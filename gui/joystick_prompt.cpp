#include "gui/joystick_prompt.h"

#include <QFontMetrics>
#include <QPalette>
#include <algorithm>

#include "selftest/selftest.h"

namespace lumo::gui {

namespace {

constexpr int kSmallestPixelSize = 4;

QColor PromptColour() {
  return QColor::fromRgb(static_cast<QRgb>(kPromptColour));
}

}  // namespace

JoystickPrompt::JoystickPrompt(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
  setWordWrap(false);
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, PromptColour());
  setPalette(pal);
  timer_.setInterval(kTickMs);
  connect(&timer_, &QTimer::timeout, this, &JoystickPrompt::Tick);
}

int JoystickPrompt::LineCount(const QString& text) {
  return static_cast<int>(text.count(QLatin1Char('\n'))) + 1;
}

// The font's cell height (ascent + descent) is what the line height means here; the largest
// pixel size whose cell still fits the share of one line is taken.
QFont JoystickPrompt::FontForLines(const QFont& base, int areaHeight, int lines) {
  QFont font(base);
  const int share = std::max(kSmallestPixelSize, areaHeight / std::max(1, lines));
  int size = share;
  for (; size > kSmallestPixelSize; --size) {
    font.setPixelSize(size);
    if (QFontMetrics(font).height() <= share) break;
  }
  font.setPixelSize(size);
  return font;
}

void JoystickPrompt::SetPrompt(const QString& text, const QFont& base) {
  setFont(FontForLines(base, height(), LineCount(text)));
  setText(text);
}

void JoystickPrompt::StartBlinking() {
  counter_ = 0;
  show();
  timer_.start();
}

void JoystickPrompt::StopBlinking() {
  timer_.stop();
}

void JoystickPrompt::Tick() {
  counter_ = (counter_ + 1) % kCycle;
  if (counter_ == kHideAt) hide();
  if (counter_ == kShowAt) show();
}

}  // namespace lumo::gui

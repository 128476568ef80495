// The joystick's request to move the stick, shown in the self-test dialog while the device waits.
//
// State (user interface thread only): the prompt text, the blink counter and its 100 ms timer.
// The text is drawn in the prompt colour on the dialog's face, centred, in a font like the
// dialog's whose line height is the prompt area's height divided by the number of text lines.
// While blinking, the counter runs 1, 2, ... 6, 0, 1, ... one step per tick; the prompt hides when
// the counter reaches 0 and shows again when it reaches 2 (hidden 200 ms, shown 500 ms).
//
//   SetPrompt       text and font for the prompt area
//   LineCount       line breaks + 1
//   FontForLines    the largest font like the given one whose lines fit the height
//   StartBlinking / StopBlinking / Blinking / Counter
#pragma once

#include <QFont>
#include <QLabel>
#include <QTimer>

namespace lumo::gui {

class JoystickPrompt : public QLabel {
 public:
  static constexpr int kTickMs = 100;
  static constexpr int kCycle = 7;   // counter values 0 .. 6
  static constexpr int kHideAt = 0;  // the prompt hides when the counter becomes this
  static constexpr int kShowAt = 2;  // ... and shows again when it becomes this

  explicit JoystickPrompt(QWidget* parent = nullptr);

  // Sets the text and a font like base, sized so that every line fits the label's height.
  void SetPrompt(const QString& text, const QFont& base);
  void StartBlinking();
  void StopBlinking();
  bool Blinking() const { return timer_.isActive(); }
  int Counter() const { return counter_; }

  static int LineCount(const QString& text);
  static QFont FontForLines(const QFont& base, int areaHeight, int lines);

 private:
  void Tick();

  QTimer timer_;
  int counter_ = 0;
};

}  // namespace lumo::gui

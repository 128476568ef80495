// The main window's status bar: three parts whose right edges lie at 57 %, 90 % and 100 % of
// its width. The first shows hints, the second the link status, the third holds the progress bar.
// A status text that does not fit its part takes room from the hint part (which keeps a quarter
// of the bar) and, if that is not enough, is written a font step smaller; a hint that no longer
// fits the narrowed hint part is written a font step smaller too. Each part's tooltip is always
// its whole text. Each part is a sunken panel, the last one reaching the bar's right edge.
//
// State: the two texts and the progress bar's range and position, all set on the user
// interface thread.
//
//   ProgressStrip   the progress bar: filled part and "%d%%" text, white over the filled part
//   StatusStrip     the three parts
//   PartRight       the right edge of a part for a bar width
//   SmallFont       the system's closest small sans-serif font of a cell height (the joystick's
//                   status bar)
#pragma once

#include <QFrame>
#include <QLabel>
#include <QWidget>

namespace lumo::gui {

class ProgressStrip : public QWidget {
 public:
  explicit ProgressStrip(QWidget* parent);
  void SetRange(int low, int high);
  void SetPosition(int position);
  int Position() const { return position_; }
  // The x position where the filled part ends for a width (0: nothing filled).
  int FilledRight(int width) const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int low_ = 0;
  int high_ = 100;
  int position_ = 0;
};

int PartRight(int part, int barWidth);
QFont SmallFont(int cellHeightPx);

class StatusStrip : public QFrame {
 public:
  explicit StatusStrip(QWidget* parent);
  void SetHint(const QString& text);
  void SetStatus(const QString& text);
  QString Hint() const { return hint_.text(); }
  QString Status() const { return status_.text(); }
  ProgressStrip& Progress() { return progress_; }
  QSize sizeHint() const override;
  // Whether the status text is shown whole in its part.
  bool StatusFits() const;
  QLabel& StatusPart() { return status_; }
  QFrame& ProgressPart() { return progressPart_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Arrange(int width, int height);
  int StatusWidthNeeded(const QFont& font) const;
  static int WidthNeeded(const QLabel& part, const QFont& font);
  static QFont OneStepSmaller(QFont font);

  QLabel hint_;
  QLabel status_;
  QFrame progressPart_;  // the sunken panel of part 2; the progress bar fills its inside
  ProgressStrip progress_;
};

}  // namespace lumo::gui

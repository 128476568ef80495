// The About box (template 650) and the splash window of the start.
//
// State: none beyond the widgets. The About box looks every text up when it opens: the version
// block from "VERSION", "DATELASTCHANGE" and "PROGRAMMING" with the program's identity
// constants, the contact block "ABOUTCONTACT" and the disclaimer "DISCLAIMER" (both rows carry
// German only, so they read the same in every language). The splash window is a borderless,
// topmost window of zero size that destroys itself the moment it is shown (and on a key press,
// a timer tick or a mouse button), so the start is never held up by it.
//
//   kProgramVersion, kLastChangeDate, kAuthors   the program's identity
//   VersionBlock   the three lines of the version block, at most 259 characters
//   AboutBox       the modal box; Ok, Escape and Enter close it
//   SplashWindow   the self-destroying start window
//   PassSplash     shows a splash window and dispatches events while it exists
#pragma once

#include <QBasicTimer>
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace lumo::gui {

inline constexpr const char* kProgramVersion = "V3.2";
inline constexpr const char* kLastChangeDate = "2010-01-27";
inline constexpr const char* kAuthors = "Lumo-Konf contributors";
// The rights notice and maker's name the splash draws.
inline constexpr const char* kMakerName = "The Lumo-Konf project";

QString VersionBlock();

class AboutBox : public QDialog {
 public:
  explicit AboutBox(QWidget* parent);

  QLabel& Version() { return version_; }
  QLabel& Contact() { return contact_; }
  QLabel& Disclaimer() { return disclaimer_; }
  QPushButton& OkButton() { return ok_; }

 private:
  QLabel version_;
  QLabel contact_;
  QLabel disclaimer_;
  QPushButton ok_;
};

class SplashWindow : public QWidget {
 public:
  SplashWindow();
  ~SplashWindow() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

 private:
  void Finish();
  QBasicTimer timer_;
};

// Creates the splash window, shows it and dispatches events until it is gone.
void PassSplash();

}  // namespace lumo::gui

// The signal test (dialog 500): the light curtain's weakest and strongest signal, whether it is
// synchronised to its transmitter and its hardware gain, polled every 200 ms, with a bar of the
// last five samples (the newest darkest).
//
// State (user interface thread): the poll timer, running while no exchange is outstanding (it
// stops once the link accepts CMD_POLLSIGNAL and starts again at DN_SIGNAL); the history ring is
// the core's global one (signal/signal_values.h), so the bars of an earlier opening show until
// new samples replace them. The dialog receives the link's events through the main window while
// it exists (SetLinkEventReceiver) and reads the four status bytes from the link only after
// DN_SIGNAL, when the link thread has written them.
//
//   SignalDialog    construct (registers with the main window), exec, done (result 0)
//   OnLinkEvent     DN_SIGNAL: store, show, restart the timer
//   SignalBar       the frame 502 with the bars of the history
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <map>

#include "gui/link_events.h"
#include "gui/tooltip_filter.h"
#include "link/dut_link.h"

namespace lumo::gui {

class MainWindow;

// Control ids of template 500.
enum SignalControlId : int {
  kIdSignalOk = 1,
  kIdSignalSync = 501,
  kIdSignalBar = 502,
  kIdSignalGain = 503,
  kIdSignalWeakest = 504,
  kIdSignalStrongest = 505,
  kIdSignalMinLabel = 510,
  kIdSignalMaxLabel = 511,
  kIdSignalZero = 512,
  kIdSignalFull = 513,
};

class SignalBar : public QFrame {
 public:
  explicit SignalBar(QWidget* parent);
  // The area the bars fill: inside the frame, 1 pixel in on every side.
  QRect BarArea() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class SignalDialog : public QDialog, public LinkEventReceiver {
 public:
  static constexpr int kPollIntervalMs = 200;

  SignalDialog(MainWindow* owner, DutLink& link);
  ~SignalDialog() override;

  void OnLinkEvent(const LinkEvent& event) override;
  void done(int result) override;

  QWidget* ControlById(int id) const;
  bool PollTimerActive() const { return timer_.isActive(); }

 private:
  QLabel* AddLabel(int id, const QRect& place, const QString& text);
  void Tick();
  void ShowSample(const std::array<uint8_t, 4>& status);

  MainWindow* owner_;
  DutLink& link_;
  QTimer timer_;
  ControlTooltips tooltips_;
  SignalBar bar_;
  QPushButton ok_;
  std::map<int, QWidget*> controls_;
};

}  // namespace lumo::gui

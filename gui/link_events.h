// Link notifications as Qt events.
//
// The link calls its NotificationSink on the link thread. GuiLinkSink only wraps the event into
// a LinkQEvent and posts it to the main window (QCoreApplication::postEvent is thread-safe), so
// the link thread never waits for the user interface. The target must outlive the link: the main
// window stops the link before it goes away.
//
// A dialog that wants the link's events while it is open (firmware progress, self-test, signal
// test, beam references) implements LinkEventReceiver and registers itself with the main window;
// the main window hands it each forwarded event synchronously on the user interface thread.
//
//   LinkQEvent         the posted event; owns the LinkEvent (and its result block)
//   GuiLinkSink        the sink handed to StartLink
//   LinkEventReceiver  the interface of a registered dialog
#pragma once

#include <QEvent>
#include <QObject>

#include "link/dut_link.h"

namespace lumo::gui {

class LinkQEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  explicit LinkQEvent(LinkEvent event) : QEvent(EventType()), event_(std::move(event)) {}
  LinkEvent& Event() { return event_; }

 private:
  LinkEvent event_;
};

class GuiLinkSink : public NotificationSink {
 public:
  explicit GuiLinkSink(QObject* target) : target_(target) {}
  void Notify(LinkEvent event) override;

 private:
  QObject* target_;
};

class LinkEventReceiver {
 public:
  virtual ~LinkEventReceiver() = default;
  virtual void OnLinkEvent(const LinkEvent& event) = 0;
};

}  // namespace lumo::gui

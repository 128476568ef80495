// The desktop program's message sink: every box the core asks for (platform/message_box.h) as
// a QMessageBox with the buttons and icon of its kind.
//
// State: the owner window for boxes owned by the main window (set once the window exists;
// guarded by QPointer). A box asked for on another thread than the user interface thread is
// queued to the user interface thread and shown there later; the caller gets the default answer
// at once, since the link thread never waits for the user.
//
//   BoxLookOf       buttons, icon and on-top flag of a kind (one row per kind)
//   QtMessageSink   the sink: Show() on the user interface thread shows a modal box
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/message_box.h"

namespace lumo::gui {

struct BoxLook {
  QMessageBox::StandardButtons buttons;
  QMessageBox::Icon icon;
  bool onTop;
};

BoxLook BoxLookOf(MsgKind kind);

class QtMessageSink : public MessageSink {
 public:
  void SetOwner(QWidget* owner) { owner_ = owner; }
  MsgAnswer Show(const MessageBoxRequest& request) override;

 private:
  MsgAnswer ShowHere(const MessageBoxRequest& request);
  QPointer<QWidget> owner_;
};

}  // namespace lumo::gui

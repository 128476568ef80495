// Tooltips of a dialog's controls from the tooltip table (dialog id, control id).
//
// State: the registered controls by id, for the lifetime of the object (the dialog's). A
// registered control shows its text only while EnableToolTips is on; an empty text shows none.
//
//   ControlTooltips   Register a control, Text of a control; the event filter shows the text
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <map>

namespace lumo::gui {

class ControlTooltips : public QObject {
 public:
  ControlTooltips(uint16_t dialogId, QObject* parent);
  ~ControlTooltips() override;
  void Register(int controlId, QWidget* control);
  // The translated text for the control (empty when it has none).
  QString Text(const QWidget* control) const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  uint16_t dialogId_;
  std::map<int, QPointer<QWidget>> controls_;
};

}  // namespace lumo::gui

#include "gui/tooltip_filter.h"

#include <QAbstractScrollArea>
#include <QHelpEvent>
#include <QToolTip>

#include "base/settings.h"
#include "base/translations.h"
#include "gui/gui_text.h"

namespace lumo::gui {

ControlTooltips::ControlTooltips(uint16_t dialogId, QObject* parent)
    : QObject(parent), dialogId_(dialogId) {}

ControlTooltips::~ControlTooltips() {
  for (auto& [id, control] : controls_) {
    if (!control) continue;
    control->removeEventFilter(this);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(control.data())) {
      area->viewport()->removeEventFilter(this);
    }
  }
}

void ControlTooltips::Register(int controlId, QWidget* control) {
  controls_[controlId] = control;
  control->installEventFilter(this);
  // A list shows its rows in a viewport, which gets the tooltip events.
  if (auto* area = qobject_cast<QAbstractScrollArea*>(control)) {
    area->viewport()->installEventFilter(this);
  }
}

QString ControlTooltips::Text(const QWidget* control) const {
  const char* text = TooltipText(dialogId_, [&](uint32_t id) {
    auto found = controls_.find(static_cast<int>(id));
    return found != controls_.end() && found->second != nullptr &&
           (found->second == control || found->second->isAncestorOf(control));
  });
  return text == nullptr ? QString() : FromCp1252(text);
}

bool ControlTooltips::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const QString text =
        widget != nullptr && CurrentSettings().enableToolTips ? Text(widget) : QString();
    if (text.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text, widget);
    }
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace lumo::gui

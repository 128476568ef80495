#include "gui/link_events.h"

#include <QCoreApplication>

namespace lumo::gui {

QEvent::Type LinkQEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void GuiLinkSink::Notify(LinkEvent event) {
  QCoreApplication::postEvent(target_, new LinkQEvent(std::move(event)));
}

}  // namespace lumo::gui

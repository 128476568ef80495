#include "gui/qt_message_sink.h"

#include <QCoreApplication>
#include <QThread>

#include "gui/gui_text.h"

namespace lumo::gui {

BoxLook BoxLookOf(MsgKind kind) {
  switch (kind) {
    case MsgKind::Error:
      return {QMessageBox::Ok, QMessageBox::Critical, true};
    case MsgKind::Warning:
      return {QMessageBox::Ok, QMessageBox::Warning, true};
    case MsgKind::Information:
      return {QMessageBox::Ok, QMessageBox::Information, true};
    case MsgKind::Question:
      return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Question, true};
    case MsgKind::Offer:
      return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Critical, true};
    case MsgKind::Plain:
      return {QMessageBox::Ok, QMessageBox::NoIcon, true};
    case MsgKind::ScreenSize:
      return {QMessageBox::Yes | QMessageBox::No, QMessageBox::NoIcon, false};
  }
  return {QMessageBox::Ok, QMessageBox::NoIcon, true};
}

MsgAnswer QtMessageSink::Show(const MessageBoxRequest& request) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return DefaultAnswer(request.kind);
  if (QThread::currentThread() != app->thread()) {
    // Not on the user interface thread: show it there later, answer with the default now.
    QMetaObject::invokeMethod(
        app, [this, request] { ShowHere(request); }, Qt::QueuedConnection);
    return DefaultAnswer(request.kind);
  }
  return ShowHere(request);
}

MsgAnswer QtMessageSink::ShowHere(const MessageBoxRequest& request) {
  BoxLook look = BoxLookOf(request.kind);
  QWidget* parent = request.owner == MsgOwner::MainWindow ? owner_.data() : nullptr;
  QMessageBox box(look.icon, FromCp1252(request.caption), FromCp1252(request.text), look.buttons,
                  parent);
  if (look.onTop) box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
  box.setDefaultButton(look.buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes
                                                               : QMessageBox::Ok);
  int pressed = box.exec();
  if (IsQuestion(request.kind)) return pressed == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
  return MsgAnswer::Ok;
}

}  // namespace lumo::gui

// The entry of a widget test: the offscreen platform unless told otherwise, English texts.
#pragma once

#include <QApplication>
#include <QDir>
#include <QMouseEvent>
#include <QTest>

#include "base/translations.h"

#define LUMO_UI_TEST_MAIN(TestClass)                      \
  int main(int argc, char** argv) {                       \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) { \
      qputenv("QT_QPA_PLATFORM", "offscreen");            \
    }                                                     \
    QApplication application(argc, argv);                 \
    lumo::InitTranslations();                             \
    lumo::SelectLanguage(lumo::kLangEnglish);             \
    TestClass test;                                       \
    return QTest::qExec(&test, argc, argv);               \
  }

// Shows the window and makes it the active one (keys and focus reach it); false when the
// platform never did.
inline bool ShowActive(QWidget& window) {
  window.show();
  if (!QTest::qWaitForWindowExposed(&window)) return false;
  window.activateWindow();
  return QTest::qWaitForWindowActive(&window);
}

// Saves a widget's picture under the build folder's screenshots/.
inline bool SaveScreenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(QStringLiteral(LUMO_SCREENSHOT_DIR));
  return widget.grab().save(QStringLiteral(LUMO_SCREENSHOT_DIR "/") + name + ".png");
}

// Mouse events as the platform delivers them, sent straight to the widget (the offscreen
// platform has no pointer of its own).
inline void SendMouse(QWidget* widget, QEvent::Type type, const QPoint& at,
                      Qt::MouseButton button = Qt::LeftButton) {
  const Qt::MouseButtons buttons =
      type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ? button
                                                                              : Qt::NoButton;
  QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)),
                    type == QEvent::MouseMove ? Qt::NoButton : button, buttons, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

inline void SendMove(QWidget* widget, const QPoint& at) {
  SendMouse(widget, QEvent::MouseMove, at);
}

// A double click: press, release, double click, release.
inline void SendDoubleClick(QWidget* widget, const QPoint& at) {
  SendMouse(widget, QEvent::MouseButtonPress, at);
  SendMouse(widget, QEvent::MouseButtonRelease, at);
  SendMouse(widget, QEvent::MouseButtonDblClick, at);
  SendMouse(widget, QEvent::MouseButtonRelease, at);
}

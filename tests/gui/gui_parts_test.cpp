// The small pieces of the desktop program: text conversion, file dialog filters, dialog units,
// the status bar's geometry, the message box conventions.
#include <QApplication>
#include <QThread>
#include <QtTest>
#include <atomic>

#include "base/translations.h"
#include "gui/gui_text.h"
#include "gui/main_window.h"
#include "gui/qt_language.h"
#include "gui/qt_message_sink.h"
#include "gui/status_strip.h"

using namespace lumo;
using namespace lumo::gui;

class GuiPartsTest : public QObject {
  Q_OBJECT
 private slots:
  void textRoundTrip();
  void fileFilters();
  void statusParts();
  void progressFill();
  void boxLooks();
  void boxFromOtherThreadDoesNotWait();
  void windowFits();
  void qtTextsFollowTheLanguage();
};

void GuiPartsTest::textRoundTrip() {
  auto check = [](const char* cp1252, const QString& expected) {
    QCOMPARE(FromCp1252(cp1252), expected);
    QCOMPARE(ToCp1252(expected), std::string(cp1252));
  };
  check("Ger\xE4t", QStringLiteral("Gerät"));
  check("\x80 \x9F \x8A", QStringLiteral("€ Ÿ Š"));
  check("", QString());
  // A character the code page lacks becomes "?".
  QCOMPARE(ToCp1252(QStringLiteral("a\u4E2Db")), std::string("a?b"));
}

void GuiPartsTest::fileFilters() {
  const char pairs[] = "Parameter files (*.par;*.kfg)\0*.par;*.kfg\0All Files (*.*)\0*.*\0";
  QCOMPARE(QtFilterFromParts(pairs),
           QStringLiteral("Parameter files (*.par;*.kfg) (*.par *.kfg);;All Files (*.*) (*.*)"));
  // A description without its pattern is dropped rather than shown with an empty pattern.
  QCOMPARE(QtFilterFromParts("Lonely\0"), QString());
}

void GuiPartsTest::statusParts() {
  auto check = [](int part, int width, int right) { QCOMPARE(PartRight(part, width), right); };
  check(0, 1000, 570);
  check(1, 1000, 900);
  check(2, 1000, 1000);
  check(0, 99, 56);
  check(5, 200, 200);  // past the last part: the bar's end
}

void GuiPartsTest::progressFill() {
  ProgressStrip bar(nullptr);
  auto check = [&](int low, int high, int position, int width, int right) {
    bar.SetRange(low, high);
    bar.SetPosition(position);
    QCOMPARE(bar.FilledRight(width), right);
  };
  check(0, 100, 0, 102, 0);
  check(0, 100, 50, 102, 50);
  check(0, 100, 100, 102, 100);
  check(0, 100, 250, 102, 100);  // never past the bar
  check(0, 100, -5, 102, 0);
  check(7, 7, 50, 102, 0);  // an empty range fills nothing instead of dividing by zero
}

void GuiPartsTest::boxLooks() {
  auto check = [](MsgKind kind, QMessageBox::StandardButtons buttons, QMessageBox::Icon icon,
                  bool onTop) {
    BoxLook look = BoxLookOf(kind);
    QCOMPARE(look.buttons, buttons);
    QCOMPARE(look.icon, icon);
    QCOMPARE(look.onTop, onTop);
  };
  const auto yesNo = QMessageBox::Yes | QMessageBox::No;
  check(MsgKind::Error, QMessageBox::Ok, QMessageBox::Critical, true);
  check(MsgKind::Warning, QMessageBox::Ok, QMessageBox::Warning, true);
  check(MsgKind::Information, QMessageBox::Ok, QMessageBox::Information, true);
  check(MsgKind::Question, yesNo, QMessageBox::Question, true);
  check(MsgKind::Offer, yesNo, QMessageBox::Critical, true);
  check(MsgKind::Plain, QMessageBox::Ok, QMessageBox::NoIcon, true);
  check(MsgKind::ScreenSize, yesNo, QMessageBox::NoIcon, false);
}

void GuiPartsTest::boxFromOtherThreadDoesNotWait() {
  QtMessageSink sink;
  std::atomic<int> answer{-1};
  QThread* worker = QThread::create([&] {
    MessageBoxRequest request{MsgKind::Question, MsgOwner::Desktop, "Really?", "Caption"};
    answer = static_cast<int>(sink.Show(request));
  });
  worker->start();
  QVERIFY(worker->wait(10000));
  delete worker;
  QCOMPARE(answer.load(), static_cast<int>(MsgAnswer::No));
  // The box was queued to this thread: it shows when events are processed; close it there.
  bool shown = false;
  QTimer::singleShot(0, [&] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget)) {
        shown = box->text() == QStringLiteral("Really?");
        box->done(QMessageBox::No);
      }
    }
  });
  QTRY_VERIFY_WITH_TIMEOUT(shown, 10000);
}

// Qt's standard buttons follow the program's language, also when it is switched back.
void GuiPartsTest::qtTextsFollowTheLanguage() {
  auto yesNo = [] {
    QMessageBox box(QMessageBox::Question, QStringLiteral("t"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No);
    return box.button(QMessageBox::Yes)->text() + QLatin1Char('/') +
           box.button(QMessageBox::No)->text();
  };
  SelectLanguage(kLangGerman);
  QVERIFY2(ApplyQtLanguage(), qPrintable(QtTranslationsFolder()));
  QCOMPARE(yesNo(), QStringLiteral("&Ja/&Nein"));
  SelectLanguage(kLangEnglish);
  QVERIFY(!ApplyQtLanguage());
  QCOMPARE(yesNo(), QStringLiteral("&Yes/&No"));
}

void GuiPartsTest::windowFits() {
  auto check = [](QRect frame, QSize screen, bool fits) {
    QCOMPARE(WindowFits(frame, screen), fits);
  };
  check(QRect(0, 0, 800, 600), QSize(800, 600), true);
  check(QRect(1, 0, 800, 600), QSize(800, 600), false);
  check(QRect(0, 0, 800, 601), QSize(800, 600), false);
  check(QRect(100, 50, 300, 200), QSize(1024, 768), true);
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  GuiPartsTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "gui_parts_test.moc"

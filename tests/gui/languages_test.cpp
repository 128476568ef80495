// Every window of the desktop program, shown in English and in German, against the translation
// tables: no visible text that the tables translate appears in the other language, and every
// text reads whole (tests/gui/text_fit.h). CTest runs it at the scale factors 1, 1.5 and 2
// (QT_SCALE_FACTOR, as a HiDPI desktop sets it); the screenshots carry the scale in their names.
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include "dialog_fixture.h"
#include "gui/about_box.h"
#include "gui/firmware_dialog.h"
#include "gui/references_dialog.h"
#include "gui/selftest_dialog.h"
#include "gui/settings_dialog.h"
#include "gui/signal_dialog.h"
#include "language_check.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"
#include "text_fit.h"

using namespace lumo;
using namespace lumo::gui;
using test::CutTexts;
using test::WrongLanguage;

namespace {

const char* LanguageName(LangId language) {
  return language == kLangEnglish ? "English" : "German";
}

// The scale factor the test runs at (QT_SCALE_FACTOR, 1 without it).
double ScaleFactor() {
  bool ok = false;
  const double scale = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
  return ok && scale > 0 ? scale : 1.0;
}

std::vector<PortEntry> OnePort() {
  return {{"SIM:TG5", "Simulated TG5 light curtain"}};
}

}  // namespace

class LanguagesTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { fixture_.Init(); }
  void cleanup() { fixture_.Cleanup(); }
  void checkFindsTheOtherLanguage();
  void checkFindsCutTexts();
  void everyWindowInBothLanguages();
  void joystickWindowInBothLanguages();

 private:
  // The main window on the simulated light curtain in expert mode (every control shown), with
  // self-test rules, its parameters read.
  void OpenExpert();
  // Checks window in language; a screenshot of it as name_<language>.png.
  void Check(QWidget& window, LangId language, const char* name);

  test::DialogFixture fixture_;
  QStringList problems_;  // what Check found, reported together at the end
};

void LanguagesTest::OpenExpert() {
  fixture_.folder_->Write("Limits.txt", test::ReadExample("Limits_TG5.txt"));
  fixture_.UseSettings(
      "[CommSettings]\nDefaultPortName=SIM:TG5\nEcho=0\n[Misc]\nPropertiesOnStart=0\n"
      "Language=English\n",
      kStartExpert);
  QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5)) !=
          nullptr);
  fixture_.ShowWindow("TG5.txt");
  fixture_.WaitForDeviceInExpertMode();
}

void LanguagesTest::Check(QWidget& window, LangId language, const char* name) {
  const QString where =
      QStringLiteral("%1 in %2 at scale %3: ")
          .arg(QString::fromLatin1(name), QString::fromLatin1(LanguageName(language)))
          .arg(ScaleFactor());
  QCOMPARE(window.devicePixelRatio(), ScaleFactor());
  for (const QString& text : WrongLanguage(window, language))
    problems_ << where + QStringLiteral("in the other language: ") + text;
  for (const QString& text : CutTexts(window)) problems_ << where + text;
  if (auto* main = dynamic_cast<MainWindow*>(&window)) {
    // The status bar spans the window; its last part reaches the bar's right edge.
    StatusStrip& status = main->Status();
    if (status.geometry().left() != 0 || status.geometry().right() != main->width() - 1 ||
        status.ProgressPart().geometry().right() != status.width() - 1) {
      problems_ << where + QStringLiteral("status bar %1..%2, last part to %3, window %4 wide")
                               .arg(status.geometry().left())
                               .arg(status.geometry().right())
                               .arg(status.ProgressPart().geometry().right())
                               .arg(main->width());
    }
  }
  QString file =
      test::ScreenshotPath(name) + QLatin1Char('_') + QString::fromLatin1(LanguageName(language));
  if (ScaleFactor() != 1.0) file += QStringLiteral("_x%1").arg(ScaleFactor());
  QVERIFY(window.grab().save(file + QStringLiteral(".png")));
}

// The check is not empty: a German caption in an English window and an English one in a German
// window are found, a text of the window's own language and a one-language text are not.
void LanguagesTest::checkFindsTheOtherLanguage() {
  SelectLanguage(kLangEnglish);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Lumo-Konf"));
  auto* german = new QLabel(QStringLiteral("Datei &Speichern"), &window);
  auto* english = new QLabel(QStringLiteral("&Save file"), &window);
  new QLabel(QStringLiteral("Kopieren"), &window);
  QCOMPARE(WrongLanguage(window, kLangEnglish), QStringList{QStringLiteral("Datei &Speichern")});
  QCOMPARE(WrongLanguage(window, kLangGerman), QStringList{QStringLiteral("&Save file")});
  german->setText(QStringLiteral("first line\nKonfigurationsmodus beenden"));
  english->hide();
  QCOMPARE(WrongLanguage(window, kLangEnglish),
           QStringList{QStringLiteral("Konfigurationsmodus beenden")});
}

// The fit check is not empty: a label, a button and a check box too narrow for their texts, a
// label running out of its group box and one under its neighbour are found; the same controls
// wide enough are not.
void LanguagesTest::checkFindsCutTexts() {
  QWidget window;
  window.resize(400, 200);
  auto* box = new QGroupBox(QStringLiteral("Group"), &window);
  box->setGeometry(0, 0, 300, 200);
  auto* label = new QLabel(QStringLiteral("Bezugswerte/Strahl:"), box);
  auto* button = new QPushButton(QStringLiteral("&Ins Ger\u00E4t schreiben"), box);
  auto* check = new QCheckBox(QStringLiteral("Konfigurationsmodus beenden"), box);
  const int labelWidth = label->fontMetrics().horizontalAdvance(label->text());
  label->setGeometry(10, 20, labelWidth, 20);
  button->setGeometry(10, 50, button->sizeHint().width(), 30);
  check->setGeometry(10, 90, check->sizeHint().width(), 20);
  window.show();
  QCOMPARE(CutTexts(window), QStringList());
  label->resize(labelWidth - 3, 20);
  button->resize(button->fontMetrics().horizontalAdvance(QStringLiteral("Ins Ger")), 30);
  check->resize(check->sizeHint().width() / 2, 20);
  QCOMPARE(CutTexts(window).size(), 3);
  label->setGeometry(box->width() - labelWidth / 2, 20, labelWidth, 20);
  button->resize(button->sizeHint().width(), 30);
  check->resize(check->sizeHint().width(), 20);
  QCOMPARE(CutTexts(window).size(), 1);
  QVERIFY(CutTexts(window)[0].contains(QStringLiteral("runs out of its parent")));
  label->setGeometry(10, 55, labelWidth, 20);  // under the button
  const QStringList under = CutTexts(window);
  QCOMPARE(under.size(), 2);  // the label under the button, the button's text under the label
  QVERIFY(under[0].contains(QStringLiteral("lies under")));
  // A list column narrower than its header's text.
  label->hide();
  auto* list = new ui::ListControl(&window);
  list->setGeometry(0, 0, 300, 150);
  ui::ListControl::Callbacks callbacks;
  callbacks.onInit = [](ui::ListControl& l) {
    l.AddColumn(0, QStringLiteral("Durchgef\u00FChrter Test"), 200);
    l.AddColumn(1, QStringLiteral("Resultat"), 90);
  };
  list->Attach(std::move(callbacks), true);
  list->show();
  QCOMPARE(CutTexts(window), QStringList());
  list->SetColumnWidth(0, 40);
  QCOMPARE(CutTexts(window).size(), 1);
  QVERIFY(CutTexts(window)[0].contains(QStringLiteral("column header")));
}

void LanguagesTest::everyWindowInBothLanguages() {
  OpenExpert();
  MainWindow& main = *fixture_.window_;
  for (LangId language : {kLangEnglish, kLangGerman}) {
    fixture_.SwitchLanguage(LanguageName(language));
    Check(main, language, "lang_main");
    {
      SettingsDialog dialog(nullptr, nullptr, OnePort);
      dialog.show();
      Check(dialog, language, "lang_settings");
    }
    {
      AboutBox about(nullptr);
      about.show();
      Check(about, language, "lang_about");
    }
    {
      ReferencesDialog dialog(&main, TheLink());
      QVERIFY(dialog.Open());
      dialog.show();
      Check(dialog, language, "lang_references");
    }
    {
      SignalDialog dialog(&main, TheLink());
      dialog.show();
      // The gain text comes with the first answer of the device.
      QTRY_VERIFY_WITH_TIMEOUT(
          !qobject_cast<QLabel*>(dialog.ControlById(kIdSignalGain))->text().isEmpty(),
          test::kDeviceWaitMs);
      Check(dialog, language, "lang_signal");
    }
    {
      FirmwareProgressDialog dialog(&main);
      dialog.show();
      Check(dialog, language, "lang_firmware");
    }
    // The results dialog while the test runs and with its results (the request needs an idle
    // link: the signal test's last poll may still run).
    QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, test::kDeviceWaitMs);
    fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
      Check(dialog, language, "lang_selftest_running");
      QTRY_VERIFY_WITH_TIMEOUT(!dialog.Running(), test::kDeviceWaitMs);
      Check(dialog, language, "lang_selftest");
    });
    QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, test::kDeviceWaitMs);
  }
  QVERIFY2(problems_.isEmpty(), qPrintable(problems_.join(QLatin1Char('\n'))));
  QVERIFY(fixture_.recorder_->Boxes().empty());
}

// The joystick's narrower main window with its own buttons, menus and small status font, in
// expert mode (every button it has).
void LanguagesTest::joystickWindowInBothLanguages() {
  fixture_.Open("Jovix.txt", "SIM:JOVIX", sim::DefaultOptions(sim::DeviceKind::Jovix),
                test::ReadExample("Limits_Jovix.txt"), kStartExpert);
  fixture_.WaitForDeviceInExpertMode();
  MainWindow& main = *fixture_.window_;
  QVERIFY(main.CommandButton(kIdSelfCalibration) != nullptr);
  for (LangId language : {kLangEnglish, kLangGerman}) {
    fixture_.SwitchLanguage(LanguageName(language));
    // The hint of the row with the focus, in the new language.
    QCOMPARE(main.Status().Hint(),
             QString::fromLatin1(language == kLangEnglish
                                     ? "Dead zone around the centre position in digits"
                                     : "Totzone um die Mittelstellung in Digits"));
    Check(main, language, "lang_main_jovix");
  }
  QVERIFY2(problems_.isEmpty(), qPrintable(problems_.join(QLatin1Char('\n'))));
  QVERIFY(fixture_.recorder_->Boxes().empty());
}

LUMO_GUI_TEST_MAIN(LanguagesTest)

#include "languages_test.moc"

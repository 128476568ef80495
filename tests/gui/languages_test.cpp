// Every window of the desktop program, shown in English and in German, against the translation
// tables: no visible text that the tables translate appears in the other language.
#include <QApplication>
#include <QLabel>
#include <QtTest>

#include "app/gui/about_box.h"
#include "app/gui/firmware_dialog.h"
#include "app/gui/references_dialog.h"
#include "app/gui/selftest_dialog.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/signal_dialog.h"
#include "dialog_fixture.h"
#include "language_check.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

using namespace lumo;
using namespace lumo::gui;
using test::WrongLanguage;

namespace {

const char* LanguageName(LangId language) {
  return language == kLangEnglish ? "English" : "German";
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
  void everyWindowInBothLanguages();

 private:
  // The main window on the simulated light curtain in expert mode (every control shown), with
  // self-test rules, its parameters read.
  void OpenExpert();
  // Checks window in language; a screenshot of it as name_<language>.png.
  void Check(QWidget& window, LangId language, const char* name);

  test::DialogFixture fixture_;
};

void LanguagesTest::OpenExpert() {
  std::string ini =
      "[CommSettings]\nDefaultPortName=SIM:TG5\nEcho=0\n[Misc]\nPropertiesOnStart=0\n"
      "Language=English\n";
  StartupPaths paths;
  paths.startDir = fixture_.folder_->Path();
  paths.programDir = fixture_.folder_->Path();
  paths.programFileName = "lumokonf";
  paths.settingsFile = fixture_.folder_->Write("lumokonf.ini", ini);
  paths.startFlags = kStartExpert;
  fixture_.folder_->Write("Limits.txt", test::ReadExample("Limits_TG5.txt"));
  SetCurrentStartupPaths(paths);
  LoadSettings(paths.settingsFile);
  SelectLanguageByName(CurrentSettings().language);
  InitTranslations();
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", options) != nullptr);
  fixture_.window_ = std::make_unique<MainWindow>();
  fixture_.window_->SetQuitHook([](int) {});
  std::ifstream in(std::string(LUMO_EXAMPLES_DIR) + "/TG5.txt", std::ios::binary);
  QVERIFY(fixture_.window_->Initialise(ParseDefinitionFile(in)));
  fixture_.window_->show();
  // Expert mode would open the settings first: the link is started directly.
  QVERIFY(fixture_.window_->StartLinkOnPort("SIM:TG5"));
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid() && TheLink().Mode() == MODE_IDLE,
                           test::kDeviceWaitMs);
  QCoreApplication::processEvents();
}

void LanguagesTest::Check(QWidget& window, LangId language, const char* name) {
  const QStringList found = WrongLanguage(window, language);
  QVERIFY2(found.isEmpty(), qPrintable(QStringLiteral("%1 in %2: %3")
                                           .arg(QString::fromLatin1(name),
                                                QString::fromLatin1(LanguageName(language)),
                                                found.join(QStringLiteral(" | ")))));
  QVERIFY(window.grab().save(test::ScreenshotPath(name) + QLatin1Char('_') +
                             QString::fromLatin1(LanguageName(language)) + QStringLiteral(".png")));
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

void LanguagesTest::everyWindowInBothLanguages() {
  OpenExpert();
  MainWindow& main = *fixture_.window_;
  for (LangId language : {kLangEnglish, kLangGerman}) {
    Settings settings = CurrentSettings();
    CopyField(settings.language, sizeof settings.language, LanguageName(language));
    SetCurrentSettings(settings);
    main.LanguageChanged();
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
  QVERIFY(fixture_.recorder_->Boxes().empty());
}

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  test::PrivateRuntimeFolder runtime;
  QApplication app(argc, argv);
  LanguagesTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "languages_test.moc"

// The settings dialog on its own and from the main window, the language switch, the About box,
// the splash window, the "-appdef" job and the help manual next to the program.
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "gui/about_box.h"
#include "gui/appdef_dialog.h"
#include "gui/dialog_fixture.h"
#include "gui/main_window.h"
#include "gui/settings_dialog.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "platform/port_watch.h"
#include "sim/sim_port.h"

using namespace lumo;
using namespace lumo::gui;

namespace {

constexpr int kModalWaitMs = 10000;  // a modal window shows up within this

std::vector<PortEntry> TwoPorts() {
  return {{"/dev/ttyUSB0", "FTDI FT232R USB UART (A1B2C3)"},
          {"/dev/ttyS0", ""},
          {"SIM:TG5", "Simulated TG5 light curtain"}};
}

// Pollers of an earlier test function stop when this changes.
int gTestGeneration = 0;

// Once a modal window of type T is up, hands it to `act`. A window that never shows up is
// recorded as missing, and any other modal window found meanwhile is closed, so a failing
// test never hangs.
template <typename T>
void WhenModal(std::function<void(T*)> act, bool* found) {
  *found = false;
  auto deadline = std::make_shared<QDeadlineTimer>(kModalWaitMs);
  // The pending timer holds the poller; the poller only refers to itself weakly.
  auto poll = std::make_shared<std::function<void()>>();
  std::weak_ptr<std::function<void()>> weak = poll;
  const int generation = gTestGeneration;
  *poll = [act, found, deadline, weak, generation] {
    if (generation != gTestGeneration) return;
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* wanted = dynamic_cast<T*>(modal)) {
      *found = true;
      act(wanted);
      return;
    }
    if (deadline->hasExpired()) {
      if (modal != nullptr) modal->close();
      return;
    }
    if (auto self = weak.lock()) QTimer::singleShot(10, [self] { (*self)(); });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

// Runs the window's settings command; act gets the dialog once it is up. False: it never came.
bool OpenSettings(MainWindow& window, std::function<void(SettingsDialog*)> act) {
  bool found = false;
  WhenModal<SettingsDialog>(std::move(act), &found);
  window.Command(kIdSettings);
  return found;
}

void SetSettings(const std::function<void(Settings&)>& change) {
  Settings settings = CurrentSettings();
  change(settings);
  SetCurrentSettings(settings);
}

}  // namespace

class SettingsDialogTest : public QObject, private test::DialogFixture {
  Q_OBJECT
 private slots:
  void init();
  void cleanup();
  void portListAndStoredPort();
  void portListFollowsAdapters();
  void checkBoxesAndBatch();
  void languageSystemAndCancel();
  void saveWritesLanguageAsListed();
  void offlineStopsTheLink();
  void typedPortFromMainWindow();
  void germanToEnglishRetranslatesWindow();
  void batchSurvivesLanguageChange();
  void lineTraceInExpertMode();
  void aboutBoxTexts();
  void splashPasses();
  void appdefSaveDialog();
  void helpManual();
  void demoFolderShowsEveryFeature();
  void screenshots();

 private:
  void OpenWindow(const char* language, bool expert = false);
};

void SettingsDialogTest::init() {
  Init();
  UseSettings("[Misc]\nLanguage=English\n");
}

void SettingsDialogTest::cleanup() {
  ++gTestGeneration;
  Cleanup();
  SetCurrentSettings(DefaultSettings());
}

void SettingsDialogTest::OpenWindow(const char* language, bool expert) {
  UseSettings(
      "[CommSettings]\nDefaultPortName=SIM:TG5\nEcho=0\n[Misc]\nPropertiesOnStart=0\n"
      "Language=" +
          std::string(language) + "\n",
      expert ? kStartExpert : 0);
  QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5)));
  ShowWindow("TG5.txt");
  if (expert) return;  // expert mode would open the settings dialog first
  window_->FirstAction();
  QVERIFY(TheLink().Mode() != MODE_OFF);
}

void SettingsDialogTest::portListAndStoredPort() {
  // stored: the setting; index, field: what the dialog shows; typed: typed over it (nullptr:
  // nothing typed); applied: the setting after Ok.
  auto check = [](const char* stored, int index, const char* typed, const char* applied) {
    SetSettings(
        [&](Settings& s) { CopyField(s.defaultPortName, sizeof s.defaultPortName, stored); });
    SettingsDialog dialog(nullptr, nullptr, TwoPorts);
    QCOMPARE(dialog.PortBox().currentIndex(), index);
    // A name the list does not hold is shown as stored.
    if (index < 0) QCOMPARE(dialog.PortBox().currentText(), QString::fromLatin1(stored));
    QCOMPARE(dialog.PortBox().count(), 4);  // the list offers every listed port all the same
    if (typed != nullptr) dialog.PortBox().setEditText(QString::fromLatin1(typed));
    dialog.Apply();
    QCOMPARE(std::string(CurrentSettings().defaultPortName), std::string(applied));
  };
  // "offline" first, then the ports with their descriptions; the setting keeps the name.
  check("/dev/ttyUSB0", 1, nullptr, "/dev/ttyUSB0");
  check("", 0, nullptr, "");
  check("COM1:", 2, nullptr, "/dev/ttyS0");  // the classic name of /dev/ttyS0
  check("sim:tg5", 3, nullptr, "SIM:TG5");   // a simulated device, named in any case
  // A port the machine's list cannot name (a pseudo-terminal, a by-id link, an adapter not
  // plugged in) stays in the field as written and is kept by Ok; a name that only begins like a
  // listed one is not that port.
  check("/dev/ttyUSB9", -1, nullptr, "/dev/ttyUSB9");
  check("/dev/ttyUSB", -1, nullptr, "/dev/ttyUSB");
  check("/dev/pts/7", -1, nullptr, "/dev/pts/7");
  check("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0", -1, nullptr,
        "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");
  check("/dev/pts/7", -1, "offline", "");
  // Typed names are used as typed, trimmed; "offline" typed is no port.
  check("", 0, "COM7", "COM7");
  check("", 0, "  /dev/ttyACM3 ", "/dev/ttyACM3");
  check("/dev/ttyS0", 2, "offline", "");
  SettingsDialog dialog(nullptr, nullptr, TwoPorts);
  QCOMPARE(dialog.PortBox().itemText(0), QStringLiteral("offline"));
  QCOMPARE(dialog.PortBox().itemText(1),
           QStringLiteral("/dev/ttyUSB0  (FTDI FT232R USB UART (A1B2C3))"));
  QCOMPARE(dialog.PortBox().itemText(2), QStringLiteral("/dev/ttyS0"));
  // The field takes no more than the setting holds.
  QTest::keyClicks(dialog.PortBox().lineEdit(), QString(300, QLatin1Char('x')));
  QCOMPARE(dialog.PortBox().currentText().size(), static_cast<int>(kPortNameChars));
}

// An adapter plugged in while the dialog is open appears in its list, one unplugged goes; the
// entry chosen stays chosen. The change is announced as a simulated adapter's is.
void SettingsDialogTest::portListFollowsAdapters() {
  std::vector<PortEntry> ports = {{"/dev/ttyS0", "Serial port (16550A)"}};
  SettingsDialog dialog(nullptr, nullptr, [&ports] { return ports; });
  QCOMPARE(dialog.PortBox().count(), 2);
  dialog.PortBox().setCurrentIndex(1);
  ports.push_back({"/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0",
                   "ttyUSB0: FTDI FT232R USB UART (A1B2C3)"});
  AnnouncePortChange();
  QTRY_COMPARE_WITH_TIMEOUT(dialog.PortBox().count(), 3, 5000);
  QVERIFY(dialog.PortBox().itemText(2).startsWith(QStringLiteral("/dev/serial/by-id/usb-FTDI")));
  QCOMPARE(dialog.PortBox().currentIndex(), 1);
  ports.erase(ports.begin());
  AnnouncePortChange();
  QTRY_COMPARE_WITH_TIMEOUT(dialog.PortBox().count(), 2, 5000);
  // The chosen port is gone from the list but stays in the field, as a stored one would.
  QCOMPARE(dialog.PortBox().currentText(), QStringLiteral("/dev/ttyS0"));

  // A stored kernel name is the port of the stable name that leads to it, and no other.
  const std::string dir = folder_->path();
  std::ofstream(dir + "ttyUSB7") << "";
  std::ofstream(dir + "ttyUSB8") << "";
  QVERIFY(::symlink("ttyUSB7", (dir + "usb-Lumo_Adapter_7-if00-port0").c_str()) == 0);
  QVERIFY(SamePortName(dir + "ttyUSB7", dir + "usb-Lumo_Adapter_7-if00-port0"));
  QVERIFY(!SamePortName(dir + "ttyUSB8", dir + "usb-Lumo_Adapter_7-if00-port0"));
}

void SettingsDialogTest::checkBoxesAndBatch() {
  // Not offered: hidden, and Ok leaves the batch state alone; the flags go both ways.
  SetSettings([](Settings& s) {
    s.enableToolTips = 0;
    s.propertiesOnStart = 1;
  });
  {
    SettingsDialog dialog(nullptr, nullptr, TwoPorts);
    QVERIFY(dialog.CheckBox(kSetBatch)->isHidden() && dialog.CheckBox(kSetHidden1)->isHidden());
    QVERIFY(!dialog.CheckBox(kSetTooltips)->isChecked());
    dialog.CheckBox(kSetTooltips)->setChecked(true);
    dialog.CheckBox(kSetShowOnStart)->setChecked(false);
    dialog.Apply();
    QCOMPARE(CurrentSettings().enableToolTips + 2 * CurrentSettings().propertiesOnStart, 1);
    QCOMPARE(CurrentSettings().batch, 0u);
  }
  // Offered and switched on: reading on connect is implied, checked and locked.
  SetSettings([](Settings& s) {
    s.autoReadConf = 0;
    s.batch = kBatchOffered | kBatchOn;
  });
  SettingsDialog dialog(nullptr, nullptr, TwoPorts);
  QVERIFY(!dialog.CheckBox(kSetBatch)->isHidden() && dialog.CheckBox(kSetBatch)->isChecked());
  QVERIFY(dialog.CheckBox(kSetAutoRead)->isChecked() &&
          !dialog.CheckBox(kSetAutoRead)->isEnabled());
  // Switched off: 309 free again; Ok switches batch off, still offered.
  dialog.CheckBox(kSetBatch)->setChecked(false);
  QVERIFY(dialog.CheckBox(kSetAutoRead)->isEnabled());
  dialog.CheckBox(kSetAutoRead)->setChecked(false);
  dialog.Apply();
  QCOMPARE(CurrentSettings().batch, kBatchOffered);
  QCOMPARE(CurrentSettings().autoReadConf, uint8_t{0});
}

void SettingsDialogTest::languageSystemAndCancel() {
  auto opening = [](const char* stored, LangId current, int index, bool system) {
    SetSettings([&](Settings& s) { CopyField(s.language, sizeof s.language, stored); });
    SelectLanguage(current);
    SettingsDialog dialog(nullptr, nullptr, TwoPorts);
    QCOMPARE(dialog.LanguageList().currentIndex(), index);
    QCOMPARE(dialog.CheckBox(kSetSystemLanguage)->isChecked(), system);
    QCOMPARE(dialog.LanguageList().isEnabled(), !system);
  };
  opening("english", kLangGerman, 0, false);
  opening("NEUTRAL", kLangGerman, 1, true);
  opening("NEUTRAL", kLangEnglish, 0, true);
  opening("FRENCH", kLangEnglish, -1, false);
  opening("KLINGON", kLangEnglish, 0, true);

  // System and the list change the name at once; Cancel and Escape put it back, the window
  // frame does not.
  auto close = [](const std::function<void(SettingsDialog&)>& how, const char* after) {
    SetSettings([](Settings& s) { CopyField(s.language, sizeof s.language, "GERMAN"); });
    SettingsDialog dialog(nullptr, nullptr, TwoPorts);
    dialog.show();
    dialog.CheckBox(kSetSystemLanguage)->setChecked(true);
    QCOMPARE(std::string(CurrentSettings().language), std::string("NEUTRAL"));
    dialog.CheckBox(kSetSystemLanguage)->setChecked(false);
    QCOMPARE(std::string(CurrentSettings().language), std::string("German"));
    dialog.LanguageList().setCurrentIndex(0);
    dialog.CheckBox(kSetSystemLanguage)->setChecked(true);
    how(dialog);
    QCOMPARE(dialog.result(), static_cast<int>(QDialog::Rejected));
    QCOMPARE(std::string(CurrentSettings().language), std::string(after));
  };
  close([](SettingsDialog& d) { static_cast<QPushButton*>(d.ControlById(kSetCancel))->click(); },
        "GERMAN");
  close([](SettingsDialog& d) { QTest::keyClick(&d, Qt::Key_Escape); }, "GERMAN");
  close([](SettingsDialog& d) { d.close(); }, "NEUTRAL");
}

void SettingsDialogTest::saveWritesLanguageAsListed() {
  SetSettings([](Settings& s) { CopyField(s.language, sizeof s.language, "GERMAN"); });
  SettingsDialog dialog(nullptr, nullptr, TwoPorts);
  dialog.show();
  dialog.LanguageList().setCurrentIndex(0);
  dialog.PortBox().setCurrentIndex(0);
  static_cast<QPushButton*>(dialog.ControlById(kSetSave))->click();
  QVERIFY(dialog.isVisible());  // Save leaves the dialog open
  const std::string file = test::ReadFile(CurrentStartupPaths().settingsFile);
  QVERIFY(file.find("Language=English") != std::string::npos);
  // Read back without regard to case; "offline" is stored as no port.
  Settings read = DefaultSettings();
  ReadSettingsFile(CurrentStartupPaths().settingsFile, &read);
  QCOMPARE(LanguageIdFromName(read.language), kLangEnglish);
  QCOMPARE(std::string(read.defaultPortName), std::string());
}

void SettingsDialogTest::offlineStopsTheLink() {
  OpenWindow("English");
  QVERIFY(OpenSettings(*window_, [](SettingsDialog* dialog) {
    dialog->PortBox().setCurrentIndex(0);
    static_cast<QAbstractButton*>(dialog->ControlById(kSetOk))->click();
  }));
  QCOMPARE(TheLink().Mode(), static_cast<int32_t>(MODE_OFF));
  QCOMPARE(window_->Status().Status(), Msg("NOCOMPORT"));
  QCOMPARE(std::string(CurrentSettings().defaultPortName), std::string());
  QVERIFY(recorder_->Boxes().empty());
}

void SettingsDialogTest::typedPortFromMainWindow() {
  OpenWindow("English");
  QVERIFY(OpenSettings(*window_, [](SettingsDialog* dialog) {
    dialog->PortBox().setEditText(QStringLiteral("/nonexistent/ttyLUMO7"));
    static_cast<QPushButton*>(dialog->ControlById(kSetOk))->click();
  }));
  QCOMPARE(std::string(CurrentSettings().defaultPortName), std::string("/nonexistent/ttyLUMO7"));
  // The port was tried: a plain notice captioned with the application title.
  std::vector<MessageBoxRequest> boxes = recorder_->Boxes();
  QCOMPARE(boxes.size(), size_t{1});
  // The notice names the port and why it failed.
  QVERIFY(boxes[0].text.rfind(MsgText("ERRCOMOPENFAILED"), 0) == 0);
  QVERIFY(boxes[0].text.find("/nonexistent/ttyLUMO7: There is no such port") != std::string::npos);
  QCOMPARE(boxes[0].kind, MsgKind::Plain);
  QCOMPARE(boxes[0].caption, ApplicationTitle());
}

void SettingsDialogTest::germanToEnglishRetranslatesWindow() {
  OpenWindow("German");
  QCOMPARE(CurrentLanguage(), kLangGerman);
  QCOMPARE(window_->MenuAction(kIdMenuFile)->text(), QStringLiteral("&Datei"));
  QWidget* copy = window_->ControlById(kIdCopyDevice);
  QCOMPARE(static_cast<QPushButton*>(copy)->text(), QStringLiteral("Kopieren &L ->"));
  QVERIFY(OpenSettings(*window_, [](SettingsDialog* dialog) {
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Einstellungen"));
    dialog->LanguageList().setCurrentIndex(0);
    static_cast<QAbstractButton*>(dialog->ControlById(kSetOk))->click();
  }));
  // The change arrives as a posted event.
  QTRY_COMPARE(CurrentLanguage(), kLangEnglish);
  QCOMPARE(window_->MenuAction(kIdMenuFile)->text(), QStringLiteral("File"));
  QCOMPARE(window_->MenuAction(kIdSettings)->text(), QStringLiteral("&Program settings"));
  QCOMPARE(static_cast<QPushButton*>(copy)->text(), QStringLiteral("Copy &L ->"));
  QCOMPARE(window_->CommandButton(kIdNormalMode)->text(), QStringLiteral("&1 Normal operation"));
  QCOMPARE(window_->Table().List()->HeaderText(2), Msg("PARCOLEDIT"));
  QCOMPARE(Msg("PARCOLEDIT"), QStringLiteral("Edit"));
  QVERIFY(!window_->windowTitle().contains(QStringLiteral("Serienautomatik")));
}

void SettingsDialogTest::batchSurvivesLanguageChange() {
  OpenWindow("German", true);
  QCOMPARE(CurrentSettings().batch, kBatchOffered);
  QVERIFY(OpenSettings(*window_, [](SettingsDialog* dialog) {
    dialog->CheckBox(kSetBatch)->setChecked(true);
    dialog->LanguageList().setCurrentIndex(0);
    static_cast<QPushButton*>(dialog->ControlById(kSetOk))->click();
  }));
  QTRY_COMPARE(CurrentLanguage(), kLangEnglish);
  QVERIFY(window_->windowTitle().endsWith(QStringLiteral("Batch programming")));
  QCOMPARE(CurrentSettings().batch, kBatchOffered | kBatchOn);
}

// Expert mode only: the trace field and the verified reads box; Ok starts the trace before the link
// opens the port, so the file shows the port's opening and the device's bytes; an empty field stops
// it again.
void SettingsDialogTest::lineTraceInExpertMode() {
  {
    SettingsDialog plain(nullptr, nullptr);  // not offered outside expert mode
    QVERIFY(plain.ControlById(kSetTraceFile)->isHidden());
    QVERIFY(plain.ControlById(kSetVerifyReads)->isHidden());
  }
  OpenWindow("English", true);
  const std::string trace = folder_->path() + "line.trace";
  QVERIFY(OpenSettings(*window_, [&trace](SettingsDialog* dialog) {
    auto* field = static_cast<QLineEdit*>(dialog->ControlById(kSetTraceFile));
    QVERIFY(field->isVisible());
    // The stored simulated port is selected, so Ok keeps it.
    QVERIFY(dialog->PortBox().currentText().startsWith(QStringLiteral("SIM:TG5")));
    field->setText(QString::fromStdString(trace));
    auto* verify = static_cast<QCheckBox*>(dialog->ControlById(kSetVerifyReads));
    QVERIFY(verify->isVisible() && !verify->isChecked());
    verify->setChecked(true);
    QDir().mkpath(QStringLiteral(LUMO_SCREENSHOT_DIR));
    QVERIFY(dialog->grab().save(QStringLiteral(LUMO_SCREENSHOT_DIR "/settings_expert.png")));
    static_cast<QPushButton*>(dialog->ControlById(kSetOk))->click();
  }));
  QCOMPARE(std::string(CurrentSettings().traceFile), trace);
  QCOMPARE(CurrentSettings().verifyReads, uint8_t{1});
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid(), 20000);
  QVERIFY(OpenSettings(*window_, [](SettingsDialog* dialog) {
    static_cast<QLineEdit*>(dialog->ControlById(kSetTraceFile))->clear();
    static_cast<QPushButton*>(dialog->ControlById(kSetOk))->click();
  }));  // stops the trace: the file is complete
  const std::string text = test::ReadFile(trace);
  QVERIFY2(text.find("open SIM:TG5") != std::string::npos, text.c_str());
  QVERIFY(text.find("  RX  ") != std::string::npos);
  QVERIFY(text.find("DN_FOUND") != std::string::npos);
  QVERIFY(recorder_->Boxes().empty());
}

void SettingsDialogTest::aboutBoxTexts() {
  auto texts = [](LangId language) {
    SelectLanguage(language);
    AboutBox box(nullptr);
    return QStringList{box.windowTitle(), box.Version().text(), box.Contact().text(),
                       box.Disclaimer().text(), box.OkButton().text()};
  };
  const QStringList en = texts(kLangEnglish);
  const QStringList de = texts(kLangGerman);
  // Title, contact, disclaimer and button read the same in both languages.
  for (int i : {0, 2, 3, 4}) QCOMPARE(de[i], en[i]);
  QCOMPARE(en[0], QStringLiteral("About Lumo-Konf"));
  QCOMPARE(en[1],
           QStringLiteral("Lumo-Konf Version V3.2\nLast modification: 2010-01-27\nAuthors: ") +
               QString::fromLatin1(kAuthors));
  QVERIFY(de[1].contains(QStringLiteral("\nLetzte \u00C4nderung: 2010-01-27\nProgrammierung: ")));
  QVERIFY(en[3].startsWith(QStringLiteral("Haftungsausschluss:\n\nF\u00FCr fehlerfreien")));
  QVERIFY(en[2].contains(QStringLiteral("Lumo-Konf")));
  // Escape and Enter close it.
  for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return}) {
    AboutBox box(nullptr);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    QTest::keyClick(&box, key);
    QVERIFY(box.isHidden());
  }
}

void SettingsDialogTest::splashPasses() {
  PassSplash();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    QVERIFY(dynamic_cast<SplashWindow*>(widget) == nullptr);
  }
}

void SettingsDialogTest::appdefSaveDialog() {
  const std::string definition = folder_->Write("jovix.txt", test::ReadExample("Jovix.txt"));
  const QString target = QString::fromStdString(folder_->path() + "lumokonf-jovix");
  bool found = false;
  QStringList seen;
  WhenModal<NewProgramSaveDialog>(
      [&](NewProgramSaveDialog* dialog) {
        seen << dialog->windowTitle() << dialog->directory().absolutePath() + QLatin1Char('/')
             << dialog->selectedNameFilter() << dialog->defaultSuffix();
        dialog->selectFile(target);
        static_cast<QDialog*>(dialog)->accept();  // QFileDialog's own accept
      },
      &found);
  const int written = RunNewConfigurator(definition);
  QVERIFY(found);
  QCOMPARE(written, 1);
  QCOMPARE(seen, (QStringList{Msg("NEWAPP_TITLE"), QString::fromStdString(folder_->path()),
                              QStringLiteral("Executable files (*)"), QString()}));
  QVERIFY(QFileInfo(target).isExecutable());
  QCOMPARE(recorder_->Boxes().size(), size_t{1});
  QCOMPARE(recorder_->Boxes()[0].text, std::string(MsgText("NEWAPP_SUCCESS")));
}

void SettingsDialogTest::helpManual() {
  // The built program finds its manual next to itself.
  const std::string programDir = LUMO_PROGRAM_DIR "/";
  QCOMPARE(FindHelpFile(folder_->path(), programDir, "lumokonf"), programDir + "lumokonf.htm");
  const std::string manual = test::ReadFile(programDir + "lumokonf.htm");
  QVERIFY(manual.find("dialout") != std::string::npos);
  QVERIFY(manual.find("lang=\"de\"") != std::string::npos);

  // Without a help file the command is disabled; a file gone since start is reported.
  OpenWindow("English");
  QVERIFY(!window_->MenuAction(kIdHelp)->isEnabled());
  StartupPaths paths = CurrentStartupPaths();
  paths.helpFile = folder_->path() + "gone.htm";
  SetCurrentStartupPaths(paths);
  window_->UpdateEnabling();
  QVERIFY(window_->MenuAction(kIdHelp)->isEnabled());
  window_->Command(kIdHelp);
  std::vector<MessageBoxRequest> boxes = recorder_->Boxes();
  QCOMPARE(boxes.size(), size_t{1});
  QCOMPARE(boxes[0].kind, MsgKind::Warning);
  QCOMPARE(boxes[0].text, paths.helpFile);

  // A machine without a viewer for HTML: the message says so and where the manual is, in the
  // user's language.
  paths.helpFile = folder_->Write("lumokonf.htm", "<html></html>");
  SetCurrentStartupPaths(paths);
  QUrl asked;
  window_->SetOpenUrlHook([&asked](const QUrl& url) {
    asked = url;
    return false;
  });
  for (LangId language : {kLangEnglish, kLangGerman}) {
    SelectLanguage(language);
    window_->Command(kIdHelp);
    QCOMPARE(asked.toLocalFile(), QString::fromStdString(paths.helpFile));
    boxes = recorder_->Boxes();
    const std::string expected =
        language == kLangEnglish
            ? "No program to show HTML files was found; the manual is\n" + paths.helpFile
            : "Es wurde kein Programm zum Anzeigen von HTML-Dateien gefunden; das Handbuch ist\n" +
                  paths.helpFile;
    QCOMPARE(boxes.back().text, expected);
    QCOMPARE(boxes.back().caption, std::string(MsgText("MenuHelp")));
  }
  const size_t shown = recorder_->Boxes().size();
  window_->SetOpenUrlHook([](const QUrl&) { return true; });
  window_->Command(kIdHelp);
  QCOMPARE(recorder_->Boxes().size(), shown);  // a viewer took it: nothing to say
}

// The folder ./run.sh starts the built program in holds only its settings: the rules and the
// manual beside the built program give the light curtain every button and menu (the expert
// ones with "-exp").
void SettingsDialogTest::demoFolderShowsEveryFeature() {
  for (bool expert : {false, true}) {
    folder_->Write("lumokonf.ini",
                   "[CommSettings]\r\nDefaultPortName=SIM:TG5\r\nEcho=0\r\n[Misc]\r\n"
                   "PropertiesOnStart=0\r\n");
    StartupPaths paths = SettlePaths(folder_->path(), LUMO_PROGRAM_DIR "/lumokonf");
    paths.startFlags = expert ? kStartExpert : 0;
    SetCurrentStartupPaths(paths);
    LoadSettings(paths.settingsFile);
    SelectLanguageByName("English");
    InitTranslations();
    QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5)));
    window_ = std::make_unique<MainWindow>();
    window_->SetQuitHook([](int) {});
    QVERIFY(window_->Initialise(test::ExampleDefinition("TG5.txt")));
    window_->show();
    std::vector<int> buttons = {kIdNormalMode, kIdSelfTest};
    if (expert) buttons.insert(buttons.end(), {kIdPower, kIdSignalTest, kIdFirmware});
    for (int id : buttons) {
      QVERIFY2(window_->CommandButton(id) != nullptr &&
                   window_->CommandButton(id)->isVisibleTo(window_.get()),
               qPrintable(QStringLiteral("button %1, expert %2").arg(id).arg(expert)));
    }
    QVERIFY(window_->MenuAction(kIdMenuSelfTest) != nullptr);
    QVERIFY(window_->MenuAction(kIdSelfTest) != nullptr);
    QCOMPARE(window_->MenuAction(kIdSignalTest) != nullptr, expert);
    QVERIFY(window_->MenuAction(kIdHelp)->isEnabled());
    QVERIFY(recorder_->Boxes().empty());
    window_.reset();
    sim::ForgetSimulatedDevices();
  }
}

void SettingsDialogTest::screenshots() {
  QDir().mkpath(QStringLiteral(LUMO_SCREENSHOT_DIR));
  SetSettings([](Settings& s) {
    CopyField(s.defaultPortName, sizeof s.defaultPortName, "/dev/ttyUSB0");
    CopyField(s.defaultKonfFile, sizeof s.defaultKonfFile, "/home/tech/unit.par");
    s.batch = kBatchOffered;
  });
  SelectLanguage(kLangEnglish);
  SettingsDialog settings(nullptr, nullptr, TwoPorts);
  QVERIFY(settings.grab().save(QStringLiteral(LUMO_SCREENSHOT_DIR "/settings_dialog.png")));
  AboutBox about(nullptr);
  QVERIFY(about.grab().save(QStringLiteral(LUMO_SCREENSHOT_DIR "/about_box.png")));
}

LUMO_GUI_TEST_MAIN(SettingsDialogTest)

#include "settings_dialog_test.moc"

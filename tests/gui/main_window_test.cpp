// The main window against the simulated devices: enabling before and after detection, the write
// sequence, the exit query, parameter files, command buttons and menus, screenshots.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <map>
#include <memory>
#include <set>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/cell_text.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "gui/about_box.h"
#include "gui/dialog_fixture.h"
#include "gui/gui_text.h"
#include "gui/history_dialog.h"
#include "gui/main_window.h"
#include "gui/references_dialog.h"
#include "gui/settings_dialog.h"
#include "gui/signal_dialog.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"

using namespace lumo;
using namespace lumo::gui;

class MainWindowTest : public QObject, private test::DialogFixture {
  Q_OBJECT
 private slots:
  void init() {
    Init();
    quits_.clear();
  }
  void cleanup() { Cleanup(); }
  void enablingBeforeAndAfterDetection();
  void writeReachesDevice();
  void exitQueryRules();
  void exitQueryWithChanges();
  void joystickQuitsWithoutQuestion();
  void parameterFileOfWrongType();
  void parameterFileRoundTrip();
  void commandButtonCaptions();
  void menusFollowTheRules();
  void everyControlRunsItsCommand();
  void enterInBeamFieldDeactivates();
  void joystickNegativeCentres();
  void statusTextReadable();
  void germanTextsAreTranslated();
  void largerWindowGivesRoomToTheTable();
  void joystickWindowGrowsToo();
  void languageChangeKeepsOneSetOfMenus();
  void reportsValuesTheDeviceDidNotTake();
  void unpluggedAdapterReturns();
  void screenshots();

 private:
  // Builds the window for the device on port (SIM:TG5 or SIM:JOVIX) with the definition file,
  // in place of one built before.
  void Open(const char* definition, const char* port, bool expert = false);
  QString Cell(int row, int column) { return window_->Table().List()->CellText(column, row); }

  std::vector<int> quits_;
};

void MainWindowTest::Open(const char* definition, const char* port, bool expert) {
  window_.reset();  // a window opened before goes with its simulated device
  sim::ForgetSimulatedDevices();
  UseSettings("[CommSettings]\nDefaultPortName=" + std::string(port) +
                  "\nEcho=0\n[Misc]\nPropertiesOnStart=0\nLanguage=English\nQueryLeaveMode=1\n",
              expert ? kStartExpert : 0);
  const auto kind =
      std::string(port) == "SIM:JOVIX" ? sim::DeviceKind::Jovix : sim::DeviceKind::Tg5;
  QVERIFY(sim::PrepareSimulatedDevice(port, sim::DefaultOptions(kind)) != nullptr);
  ShowWindow(definition);
  window_->SetQuitHook([this](int code) { quits_.push_back(code); });
}

void MainWindowTest::enablingBeforeAndAfterDetection() {
  Open("TG5.txt", "SIM:TG5");
  QWidget* read = window_->ControlById(kIdRead);
  QWidget* write = window_->ControlById(kIdWrite);
  QWidget* copy = window_->ControlById(kIdCopyDevice);
  QPushButton* normal = window_->CommandButton(kIdNormalMode);
  QVERIFY(normal != nullptr);
  QVERIFY(!read->isEnabled() && !write->isEnabled() && !copy->isEnabled());
  QVERIFY(!normal->isEnabled());
  QCOMPARE(Cell(0, 1), QStringLiteral("???"));
  WaitForDevice();
  QVERIFY(read->isEnabled() && write->isEnabled() && copy->isEnabled());
  QVERIFY(normal->isEnabled());
  QVERIFY(window_->Status().Status().contains(QStringLiteral("SIM:TG5")));
  QVERIFY(Cell(0, 1) != QStringLiteral("???"));
  // AutoCopyConf: the Device column was copied into the Edit column.
  QCOMPARE(Cell(0, 2), Cell(0, 1));
  QVERIFY(recorder_->Boxes().empty());
}

void MainWindowTest::writeReachesDevice() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  // The first parameter with at least two states gets another state.
  int row = -1;
  PVar* record = FirstChoice(&row);
  QVERIFY(record != nullptr);
  const int32_t other = EditAnotherState(record);
  window_->UpdateEnabling();
  QString wanted = Cell(row, 2);
  QVERIFY(wanted != Cell(row, 1));
  QTest::mouseClick(window_->ControlById(kIdWrite), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(row, 1), wanted, test::kDeviceWaitMs);
  // The simulated device holds the new value in its memory.
  std::vector<uint8_t> page = sim::SimulatedDevice("SIM:TG5")->Page(record->page);
  QVERIFY(record->offset < page.size());
  QCOMPARE(static_cast<int>(page[record->offset]),
           static_cast<int>(TheLink().CopyDeviceImage().bytes[record->page][record->offset]));
  QCOMPARE(DeviceValue(record), other);
  QVERIFY(!test::HasBox(*recorder_, "ERRCONFWRITE"));
}

void MainWindowTest::exitQueryRules() {
  Open("TG5.txt", "SIM:TG5");
  // No device, no changes: "Really exit?"; No keeps the program running.
  recorder_->QueueAnswer(MsgAnswer::No);
  QTest::keyClick(window_.get(), Qt::Key_Escape);
  QVERIFY(test::HasBox(*recorder_, "QUERYENDSESSION"));
  QVERIFY(quits_.empty());
  // Closing through the frame asks the same and ends with code 0.
  recorder_->Clear();
  recorder_->QueueAnswer(MsgAnswer::Yes);
  window_->close();
  QCOMPARE(quits_, std::vector<int>{0});
  // With a device in configuration mode QueryLeaveMode asks whether to leave it.
  WaitForDevice();
  recorder_->Clear();
  recorder_->QueueAnswer(MsgAnswer::Yes);
  recorder_->QueueAnswer(MsgAnswer::Yes);
  window_->Command(kIdExit);
  QVERIFY(test::HasBox(*recorder_, "QUERYLEAVEMODE"));
  QCOMPARE(quits_, (std::vector<int>{0, 1}));
  // The leave-on-exit flag was set: stopping the link sends the device back to normal mode.
  window_.reset();
  std::vector<uint8_t> sent = sim::SimulatedLine("SIM:TG5")->ProgramSent();
  QVERIFY(!sent.empty());
  QCOMPARE(static_cast<char>(sent.back()), 'q');
}

void MainWindowTest::exitQueryWithChanges() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  QVERIFY(FirstChoice() != nullptr);
  EditAnotherState(FirstChoice());
  recorder_->QueueAnswer(MsgAnswer::No);
  window_->Command(kIdQuit);
  QVERIFY(test::HasBox(*recorder_, "QUERYDISCARDCHANGES"));
  QVERIFY(!test::HasBox(*recorder_, "QUERYENDSESSION"));
  QVERIFY(quits_.empty());
}

void MainWindowTest::joystickQuitsWithoutQuestion() {
  Open("Jovix.txt", "SIM:JOVIX");
  WaitForDevice();
  QVERIFY(FirstChoice() != nullptr);
  EditAnotherState(FirstChoice());
  QTest::keyClick(window_.get(), Qt::Key_Escape);
  QVERIFY(recorder_->Boxes().empty());
  QCOMPARE(quits_, std::vector<int>{1});
}

void MainWindowTest::parameterFileOfWrongType() {
  Open("TG5.txt", "SIM:TG5");
  std::string path = folder_->Write("jovix.par", "[DUT] = \"Jovix\"\r\n");
  QVERIFY(!window_->LoadParameterFileCommand(path));
  QVERIFY(!recorder_->Boxes().empty());
  QVERIFY(recorder_->Boxes().back().text.find("Jovix") != std::string::npos);
  QCOMPARE(window_->Table().List()->HeaderText(3), QStringLiteral("File"));
  for (int row = 0; row < window_->Table().List()->RowCount(); ++row) {
    QCOMPARE(Cell(row, 3), QStringLiteral("???"));
  }
  QCOMPARE(DeviceType(), kDeviceTG5);
}

void MainWindowTest::parameterFileRoundTrip() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  QString saved = QString::fromStdString(folder_->path() + "saved");
  FileDialogRequest asked;
  window_->SetFileDialogHook([&](const FileDialogRequest& request) -> std::optional<QString> {
    asked = request;
    return request.save ? saved + QStringLiteral(".par") : saved + QStringLiteral(".par");
  });
  window_->Command(kIdSaveFile);
  QVERIFY(asked.save);
  QCOMPARE(asked.title, QStringLiteral("Save parameter file"));
  QCOMPARE(asked.defaultSuffix, QStringLiteral("par"));
  QCOMPARE(asked.directory, QString::fromStdString(folder_->path()));
  QVERIFY(asked.filter.contains(QStringLiteral("*.par *.kfg")));
  window_->Command(kIdLoadFile);
  QVERIFY(!asked.save);
  QCOMPARE(asked.title, QStringLiteral("Open parameter file"));
  // Saved once: the open dialog starts in the program folder too.
  QCOMPARE(asked.directory, QString::fromStdString(folder_->path()));
  QCOMPARE(QString::fromStdString(window_->Table().LoadedFile()), saved + QStringLiteral(".par"));
  for (int row = 0; row < window_->Table().List()->RowCount(); ++row) {
    QCOMPARE(Cell(row, 3), Cell(row, 2));
  }
  QVERIFY(recorder_->Boxes().empty());
}

void MainWindowTest::commandButtonCaptions() {
  Open("TG5.txt", "SIM:TG5", true);
  QCOMPARE(window_->CommandButton(kIdNormalMode)->text(), QStringLiteral("&1 Normal operation"));
  QCOMPARE(window_->CommandButton(kIdPower)->text(), QStringLiteral("Power &X"));
  QCOMPARE(window_->CommandButton(kIdSignalTest)->text(), QStringLiteral("&4 Signal test"));
  // The caption with its own "&" starts 5 pixels further right than the gap alone.
  QPushButton* before = window_->CommandButton(kIdSelfTest);
  QPushButton* power = window_->CommandButton(kIdPower);
  QCOMPARE(power->x(), before->geometry().right() + 1 + 4 + 5);
  QVERIFY(window_->CommandButton(kIdPower)->isVisibleTo(window_.get()));
  QVERIFY(window_->windowTitle().contains(QStringLiteral("Batch programming")));
  QVERIFY(window_->windowTitle().startsWith(QStringLiteral("Lumo-Konf V3.2 TG5")));
  Open("Jovix.txt", "SIM:JOVIX");
  QCOMPARE(window_->CommandButton(kIdSelfCalibration)->text(),
           QStringLiteral("&3 Self calibration"));
  QCOMPARE(window_->CommandButton(kIdPower), nullptr);
  QCOMPARE(window_->ControlById(kIdRead)->property("text").toString(),
           QStringLiteral("read Jovix"));
}

void MainWindowTest::menusFollowTheRules() {
  Open("TG5.txt", "SIM:TG5");
  // No rules file, no expert mode: the Self test pull-down is gone.
  QCOMPARE(window_->MenuAction(kIdMenuSelfTest), nullptr);
  QCOMPARE(window_->MenuAction(kIdSignalTest), nullptr);
  QVERIFY(!window_->CommandButton(kIdPower)->isVisibleTo(window_.get()));
  // No help file: Help Contents disabled.
  QVERIFY(!window_->MenuAction(kIdHelp)->isEnabled());
  // Show tooltips switches the setting and the check mark.
  bool before = CurrentSettings().enableToolTips != 0;
  window_->MenuAction(kIdTooltips)->trigger();
  QCOMPARE(CurrentSettings().enableToolTips != 0, !before);
  QCOMPARE(window_->MenuAction(kIdTooltips)->isChecked(), !before);
  // The hint of a menu item reaches the hint field of the status bar.
  emit window_->MenuAction(kIdLoadConfig)->hovered();
  QCOMPARE(window_->Status().Hint(), QStringLiteral("Load parameter file"));
  // Expert mode keeps the Signal test item.
  Open("TG5.txt", "SIM:TG5", true);
  QVERIFY(window_->MenuAction(kIdMenuSelfTest) != nullptr);
  QVERIFY(window_->MenuAction(kIdSignalTest) != nullptr);
}

void MainWindowTest::everyControlRunsItsCommand() {
  // Each button and menu item is connected to its own command where it is made: pressed once,
  // each shows its command's first step (a file dialog, a question, a dialog, the link's work).
  Open("TG5.txt", "SIM:TG5", true);
  // Expert mode opens the settings first (FirstAction): the link is started directly.
  QVERIFY(window_->StartLinkOnPort("SIM:TG5"));
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid() && TheLink().Mode() == MODE_IDLE,
                           test::kDeviceWaitMs);
  const QString file = QString::fromStdString(folder_->path() + "controls.par");
  QStringList asked;  // the file dialogs' titles
  window_->SetFileDialogHook([&](const FileDialogRequest& request) -> std::optional<QString> {
    asked << request.title;
    return request.title == Msg("FLASH_DLGCHOOSE") ? std::nullopt : std::optional(file);
  });
  QStringList opened;  // the modal dialogs, each closed as soon as it runs
  QTimer closer;
  connect(&closer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || dialog == window_.get()) return;
    opened << (dynamic_cast<SignalDialog*>(dialog)       ? QStringLiteral("signal")
               : dynamic_cast<ReferencesDialog*>(dialog) ? QStringLiteral("references")
               : dynamic_cast<SettingsDialog*>(dialog)   ? QStringLiteral("settings")
               : dynamic_cast<AboutBox*>(dialog)         ? QStringLiteral("about")
               : dynamic_cast<HistoryDialog*>(dialog)    ? QStringLiteral("history")
                                                         : QStringLiteral("other"));
    dialog->reject();
  });
  closer.start(10);
  auto click = [&](int id) { QTest::mouseClick(window_->ControlById(id), Qt::LeftButton); };
  auto choose = [&](int id) { window_->MenuAction(id)->trigger(); };
  auto boxes = [&] { return recorder_->Boxes().size(); };

  click(kIdSaveFile);
  click(kIdLoadFile);
  choose(kIdLoadConfig);
  click(kIdFirmware);
  QCOMPARE(asked, (QStringList{QStringLiteral("Save parameter file"),
                               QStringLiteral("Open parameter file"),
                               QStringLiteral("Open parameter file"), Msg("FLASH_DLGCHOOSE")}));
  // Copy file, copy device and read (which copies by itself): each brings back an Edit value
  // changed before it.
  int row = -1;
  PVar* record = FirstChoice(&row);
  QVERIFY(record != nullptr);
  auto changeEdit = [&] {
    EditAnotherState(record);
    QVERIFY(Cell(row, 2) != Cell(row, 1));
  };
  changeEdit();
  click(kIdCopyFile);
  QCOMPARE(Cell(row, 2), Cell(row, 3));
  changeEdit();
  click(kIdCopyDevice);
  QCOMPARE(Cell(row, 2), Cell(row, 1));
  changeEdit();
  click(kIdRead);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(row, 2), Cell(row, 1), test::kDeviceWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, test::kDeviceWaitMs);

  click(kIdSignalTest);
  click(kIdReferences);
  choose(kIdSettings);
  choose(kIdAbout);
  QCOMPARE(opened, (QStringList{QStringLiteral("signal"), QStringLiteral("references"),
                                QStringLiteral("settings"), QStringLiteral("about")}));
  const size_t before = boxes();
  choose(kIdHistory);
  QVERIFY(boxes() > before || opened.contains(QStringLiteral("history")));

  // The range preset asks before it writes; Quit and File -> Exit ask before they end.
  recorder_->Clear();
  for (int i = 0; i < 3; ++i) recorder_->QueueAnswer(MsgAnswer::No);
  click(kIdRangeSet);
  QCOMPARE(recorder_->Boxes().size(), size_t{1});
  QCOMPARE(recorder_->Boxes().back().caption, MsgText("SIG_DLGTITLE"));
  click(kIdQuit);
  choose(kIdExit);
  QCOMPARE(recorder_->Boxes().size(), size_t{3});
  QVERIFY(quits_.empty());

  // Normal operation: the device leaves configuration mode, the commands that need it go.
  click(kIdNormalMode);
  QTRY_VERIFY_WITH_TIMEOUT(!window_->ControlById(kIdRead)->isEnabled(), test::kDeviceWaitMs);
  QVERIFY(!window_->CommandButton(kIdNormalMode)->isEnabled());
  const bool powered = TheLink().IsPowered();
  QTRY_VERIFY_WITH_TIMEOUT(window_->CommandButton(kIdPower)->isEnabled(), test::kDeviceWaitMs);
  click(kIdPower);
  QTRY_COMPARE_WITH_TIMEOUT(TheLink().IsPowered(), !powered, test::kDeviceWaitMs);
}

void MainWindowTest::enterInBeamFieldDeactivates() {
  Open("TG5.txt", "SIM:TG5");
  auto* field = static_cast<QLineEdit*>(window_->ControlById(kIdBeamExclude));
  window_->activateWindow();
  field->setFocus();
  field->setText(QStringLiteral("2-3"));
  QTest::keyClick(field, Qt::Key_Return);
  QVERIFY(quits_.empty());
  QVERIFY(recorder_->Boxes().empty());
  QCOMPARE(window_->BeamPanel().States()[0], kBeamActive);
  QCOMPARE(window_->BeamPanel().States()[1], kBeamInactive);
  QCOMPARE(window_->BeamPanel().States()[2], kBeamInactive);
  QCOMPARE(window_->BeamPanel().States()[3], kBeamActive);
}

// The joystick's signed centres: typed with a leading minus, written, read back, saved into a
// file and copied back from it, without any "???".
void MainWindowTest::joystickNegativeCentres() {
  Open("Jovix.txt", "SIM:JOVIX");
  WaitForDevice();
  ui::ListControl* list = window_->Table().List();
  const int centreX = 3, centreY = 4;
  auto type = [&](int row, const QString& rest) {
    list->SelectCell(2, row);
    list->setFocus();
    QTimer::singleShot(0, this, [list, rest] {
      QWidget* editor = list->Editor();
      if (editor == nullptr) return;
      QTest::keyClicks(editor, rest);
      QTest::keyClick(editor, Qt::Key_Return);
    });
    QTest::keyClick(list, Qt::Key_Minus);
  };
  type(centreX, QStringLiteral("15"));
  type(centreY, QStringLiteral("20"));
  QCOMPARE(Cell(centreX, 2), QStringLiteral("-15"));
  QCOMPARE(Cell(centreY, 2), QStringLiteral("-20"));
  QTest::mouseClick(window_->ControlById(kIdWrite), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(centreX, 1), QStringLiteral("-15"), test::kDeviceWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(centreY, 1), QStringLiteral("-20"), test::kDeviceWaitMs);
  std::vector<uint8_t> page = sim::SimulatedDevice("SIM:JOVIX")->Page(0);
  QCOMPARE(int(page[3]), 0xF1);
  QCOMPARE(int(page[4]), 0xEC);
  QVERIFY(!test::HasBox(*recorder_, "ERRCONFWRITE"));
  // The device took every value: nothing to report.
  for (const MessageBoxRequest& box : recorder_->Boxes()) {
    QVERIFY2(box.text.find("did not take") == std::string::npos, box.text.c_str());
  }

  const QString saved = QString::fromStdString(folder_->path() + "centres.par");
  window_->SetFileDialogHook(
      [&](const FileDialogRequest&) -> std::optional<QString> { return saved; });
  QVERIFY(window_->SaveParameterFileCommand());
  const std::string text = test::ReadFile(saved.toStdString());
  QVERIFY2(text.find("$(centrex) = -15") != std::string::npos, text.c_str());
  QVERIFY(text.find("$(centrey) = -20") != std::string::npos);
  // Another value in Edit, then the file's values copied back.
  SetEdit(GetRecord(CurrentDefinition(), centreX), 3);
  QVERIFY(window_->LoadParameterFileCommand(saved.toStdString()));
  QCOMPARE(Cell(centreX, 3), QStringLiteral("-15"));
  window_->Command(kIdCopyFile);
  QCOMPARE(Cell(centreX, 2), QStringLiteral("-15"));
  QCOMPARE(Cell(centreY, 2), QStringLiteral("-20"));
  QVERIFY(GetRecord(CurrentDefinition(), centreX)->editValid);
}

// Every status text fits its part at the default size, in both languages, and is the part's
// tooltip.
void MainWindowTest::statusTextReadable() {
  Open("Jovix.txt", "SIM:JOVIX");
  StatusStrip& status = window_->Status();
  for (LangId language : {kLangEnglish, kLangGerman}) {
    SelectLanguage(language);
    for (const char* id : {"NOCOMPORT", "DEVICEFOUND", "READCONF", "NODEVICE", "WAITRXCLEAR",
                           "WRITECONF", "WRITEFLASH", "SELFTESTING", "ADAPTERGONE"}) {
      const QString text = FromCp1252(FillText(MsgText(id), {"Jovix, Joystick-Steuerung"}));
      status.SetStatus(text);
      QVERIFY2(status.StatusFits(), qPrintable(text));
      QCOMPARE(status.StatusPart().toolTip(), text);
    }
    status.SetStatus(QStringLiteral("Jovix V1.0 @ SIM:TG5 - (Firmware 4,1)"));
    QVERIFY(status.StatusFits());
  }
  status.SetStatus(FromCp1252(FillText(MsgText("NODEVICE"), {"Jovix, Joystick-Steuerung"})));
  QVERIFY(window_->grab().save(test::ScreenshotPath("status_de.png")));
}

// The link's adapter unplugged: the status bar says so; plugged in again: the link starts on it
// by itself and finds the device at its power-up.
void MainWindowTest::unpluggedAdapterReturns() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  sim::UnplugSimulatedAdapter("SIM:TG5");
  QTRY_COMPARE_WITH_TIMEOUT(window_->Status().Status(),
                            QStringLiteral("adapter unplugged: SIM:TG5"), test::kDeviceWaitMs);
  QVERIFY(!TheLink().InConfigMode());
  sim::PlugSimulatedAdapter("SIM:TG5");
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid() && TheLink().Mode() == MODE_IDLE,
                           test::kDeviceWaitMs);
  QVERIFY(window_->Status().Status() != QStringLiteral("adapter unplugged: SIM:TG5"));
}

// In German no control, menu item or title shows an English text that the tables translate.
void MainWindowTest::germanTextsAreTranslated() {
  Open("TG5.txt", "SIM:TG5", true);
  std::set<QString> english, german;
  for (TranslationTableView table : {ControlRows(), MenuRows(), MessageRows()}) {
    for (size_t i = 0; i < table.count; ++i) {
      const TranslationRow& row = table.rows[i];
      QString en, de;
      for (const Translation& tr : row.tr) {
        if (tr.lang == 0) break;
        (tr.lang == kLangEnglish ? en : de) = FromCp1252(tr.text);
      }
      if (!en.isEmpty() && !de.isEmpty() && en != de) {
        english.insert(QString(en).remove(QLatin1Char('&')));
        german.insert(QString(de).remove(QLatin1Char('&')));
      }
    }
  }
  auto untranslated = [&](const QString& shown) {
    QString plain = QString(shown).remove(QLatin1Char('&'));
    // "&1 Normal operation": the command buttons' digit shortcut.
    static const QRegularExpression digit(QStringLiteral("^[0-9] "));
    plain.remove(digit);
    return english.count(plain) != 0 && german.count(plain) == 0;
  };
  SwitchLanguage("German");
  QStringList found;
  for (QWidget* widget : window_->findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(window_.get())) continue;
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) text = button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) text = label->text();
    if (auto* box = qobject_cast<QGroupBox*>(widget)) text = box->title();
    if (untranslated(text)) found << text;
  }
  for (QAction* pullDown : window_->MenuBar().actions()) {
    if (untranslated(pullDown->text())) found << pullDown->text();
    if (pullDown->menu() == nullptr) continue;
    for (QAction* item : pullDown->menu()->actions()) {
      if (untranslated(item->text())) found << item->text();
    }
  }
  QVERIFY2(found.isEmpty(), qPrintable(found.join(QStringLiteral(" | "))));
  QVERIFY(window_->windowTitle().contains(QStringLiteral("(Serienautomatik)")));
  QVERIFY(window_->grab().save(test::ScreenshotPath("main_window_de.png")));
}

namespace {

// A widget's distance from its window's right and bottom edges.
QPoint FromBottomRight(const QWidget* widget) {
  const QWidget* window = widget->window();
  const QRect r(widget->mapTo(window, QPoint(0, 0)), widget->size());
  return QPoint(window->width() - r.right(), window->height() - r.bottom());
}

int RightEdgeIn(const QWidget* widget, const QWidget* window) {
  return widget->mapTo(window, QPoint(widget->width() - 1, 0)).x();
}

}  // namespace

// The window opens at the template's size; made larger, the room goes to the parameter table
// (and the beam list), the status bar keeps its height and still spans the window, and the
// controls keep their distance to the edges they belong to.
void MainWindowTest::largerWindowGivesRoomToTheTable() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  const DialogUnits units(DialogFont());
  QWidget* frame = window_->ControlById(kIdParamFrame);
  QCOMPARE(frame->geometry(), units.Rect(3, 23, 351, 258));
  QCOMPARE(window_->ControlById(kIdBeamFrame)->geometry(), units.Rect(359, 23, 135, 258));
  QCOMPARE(window_->ControlById(kIdQuit)->geometry(), units.Rect(11, 256, 60, 16));
  QCOMPARE(frame->parentWidget()->size(), QSize(units.X(497), units.Y(298)));
  QVERIFY(window_->grab().save(test::ScreenshotPath("resize_before.png")));

  QWidget* table = window_->Table().List();
  QWidget* viewport = window_->Table().List()->viewport();
  QWidget* beams = window_->BeamPanel().List();
  StatusStrip& status = window_->Status();
  const QSize tableBefore = table->size();
  const QSize viewportBefore = viewport->size();
  const int beamsBefore = beams->height();
  const int statusHeight = status.height();
  const int columnBefore = window_->Table().List()->ColumnWidth(2);
  const int widgets[] = {kIdQuit,       kIdWrite,       kIdCopyFile,    kIdRangeSet,
                         kIdReferences, kIdBeamExclude, kIdActiveBeams, kIdBeamFrame};
  std::map<int, QPoint> before;
  for (int id : widgets) before[id] = FromBottomRight(window_->ControlById(id));
  const QPoint quitTopLeft = window_->ControlById(kIdQuit)->pos();

  const QSize more(260, 180);
  window_->resize(window_->size() + more);
  QTRY_COMPARE(table->size(), tableBefore + more);
  // A scroll bar shown while the list grew goes with the next pass of the event loop.
  QTRY_VERIFY(viewport->width() >= viewportBefore.width() + more.width() &&
              viewport->height() >= viewportBefore.height() + more.height());
  QCOMPARE(beams->height(), beamsBefore + more.height());
  QCOMPARE(status.height(), statusHeight);
  QCOMPARE(status.geometry().bottom(), window_->height() - 1);
  QCOMPARE(RightEdgeIn(&status, window_.get()), window_->width() - 1);
  QVERIFY(RightEdgeIn(&status.Progress(), window_.get()) >= window_->width() - 4);
  QVERIFY(window_->Table().List()->ColumnWidth(2) > columnBefore);
  // Bottom-left controls keep their left edge, bottom-right ones their right edge; the table's
  // buttons stay under it, the beam panel's lower controls at its bottom.
  for (int id : widgets) {
    const QPoint now = FromBottomRight(window_->ControlById(id));
    QCOMPARE(now.y(), before[id].y());
    if (id == kIdQuit || id == kIdWrite || id == kIdCopyFile) continue;
    QCOMPARE(now.x(), before[id].x());
  }
  QCOMPARE(window_->ControlById(kIdQuit)->x(), quitTopLeft.x());
  QVERIFY(window_->grab().save(test::ScreenshotPath("resize_after.png")));

  // Back to the default size, everything is where the template puts it.
  window_->resize(window_->size() - more);
  QTRY_COMPARE(table->size(), tableBefore);
  QCOMPARE(frame->geometry(), units.Rect(3, 23, 351, 258));
  QCOMPARE(window_->ControlById(kIdQuit)->geometry(), units.Rect(11, 256, 60, 16));
}

// The joystick's narrower window is its default and smallest size; wider, the table takes it.
void MainWindowTest::joystickWindowGrowsToo() {
  Open("Jovix.txt", "SIM:JOVIX");
  const DialogUnits units(DialogFont());
  QWidget* frame = window_->ControlById(kIdParamFrame);
  const QRect home = units.Rect(3, 23, 351, 258);
  QCOMPARE(frame->parentWidget()->width(), home.left() + home.right() + 1);
  const int defaultWidth = window_->width();
  window_->resize(defaultWidth - 50, window_->height());
  QCOMPARE(window_->width(), defaultWidth);
  ui::ListControl* table = window_->Table().List();
  const int tableWidth = table->width();
  const int viewportWidth = table->viewport()->width();
  window_->resize(defaultWidth + 120, window_->height() + 40);
  QTRY_COMPARE(table->width(), tableWidth + 120);
  QTRY_VERIFY(table->viewport()->width() >= viewportWidth + 120);
  QCOMPARE(FromBottomRight(frame).x(), home.left() + 1);
}

// A language change replaces the pull-downs; the old ones do not stay behind.
void MainWindowTest::languageChangeKeepsOneSetOfMenus() {
  Open("TG5.txt", "SIM:TG5", true);
  auto pullDowns = [this] {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return window_->MenuBar().findChildren<QMenu*>().size();
  };
  const auto count = pullDowns();
  for (const char* language : {"German", "English", "German"}) {
    SwitchLanguage(language);
    QCOMPARE(pullDowns(), count);
  }
  QCOMPARE(window_->MenuAction(kIdMenuFile)->text(), QStringLiteral("&Datei"));
}

// A device whose cell keeps a bit: the write succeeds, and the window names the value the
// read-back does not show.
void MainWindowTest::reportsValuesTheDeviceDidNotTake() {
  Open("Jovix.txt", "SIM:JOVIX");
  WaitForDevice();
  const int centreX = 3;
  // Centre X lives in page 0 at offset 3; its top bit stays 0 whatever is written.
  sim::SimulatedDevice("SIM:JOVIX")->KeepBits(0, 3, 0x80, 0x00);
  SetEdit(GetRecord(CurrentDefinition(), centreX), -15);
  window_->UpdateEnabling();
  QCOMPARE(Cell(centreX, 2), QStringLiteral("-15"));
  QTest::mouseClick(window_->ControlById(kIdWrite), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(centreX, 1), QStringLiteral("113"), test::kDeviceWaitMs);
  const std::string expected =
      FillText(MsgText("WRITE_NOTTAKEN"),
               {FillText(MsgText("WRITE_VALUELINE"), {"Centre X", "-15", "113"})});
  QTRY_VERIFY_WITH_TIMEOUT(
      [&] {
        for (const MessageBoxRequest& box : recorder_->Boxes()) {
          if (box.text == expected) return true;
        }
        return false;
      }(),
      test::kDeviceWaitMs);
  QVERIFY(!test::HasBox(*recorder_, "ERRCONFWRITE"));
}

void MainWindowTest::screenshots() {
  Open("TG5.txt", "SIM:TG5");
  WaitForDevice();
  int tg5Width = window_->width();
  QVERIFY(window_->grab().save(test::ScreenshotPath("main_window_tg5.png")));
  Open("Jovix.txt", "SIM:JOVIX");
  WaitForDevice();
  // The joystick's window ends after the parameter frame.
  QVERIFY(window_->width() < tg5Width);
  QVERIFY(window_->grab().save(test::ScreenshotPath("main_window_jovix.png")));
}

LUMO_GUI_TEST_MAIN(MainWindowTest)

#include "main_window_test.moc"

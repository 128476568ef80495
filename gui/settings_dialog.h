// The "Program settings" dialog (template 300): port, parameter file loaded at start, the
// automatic behaviour on connect, tooltips, language, and whether the dialog opens at start.
//
// State: the controls (members, placed from the template in dialog units); the port entries as
// listed when the dialog opened (the name the setting keeps, and what the list shows: the name
// with the port's description where one is known); the language name as it was when the dialog
// opened; the port list follows adapters plugged and unplugged while the dialog is open (a
// PortWatch on the device folders, read through a QSocketNotifier; no polling), keeping the
// entry the user has chosen. The current settings record (base/settings.h) changes in three ways
// only: its language name as soon as the System box or the language list is used (put back by
// Cancel and Escape, not by the window frame); everything else by Ok and by "Save settings as
// default", which also writes the settings file. A changed language name is announced to the
// language target with a posted LanguageChangeEvent when the dialog closes with Ok.
//
//   SettingsDialog       the dialog; Run() shows it modally, true when closed with Ok
//   Apply                the controls into the current settings record
//   SystemPortList       "offline", then the serial ports, then the simulated devices
//   SamePortName         whether two port names reach the same device
//   LanguageChangeEvent  the event posted to the main window after a language change
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/main_window.h"
#include "platform/port_watch.h"

namespace lumo::gui {

// Control ids of template 300.
enum SettingsControlId : int {
  kSetOk = 1,
  kSetCancel = 2,
  kSetPortLabel = 302,
  kSetPort = 303,
  kSetHidden1 = 306,
  kSetHidden2 = 307,
  kSetTooltips = 308,
  kSetAutoRead = 309,
  kSetAutoCopy = 310,
  kSetBatch = 311,
  kSetFileGroup = 312,
  kSetFile = 313,
  kSetBrowse = 314,
  kSetLanguageGroup = 315,
  kSetSystemLanguage = 316,
  kSetLanguageList = 317,
  kSetShowOnStart = 318,
  kSetSave = 319,
  // Ours, expert mode only: the line trace file and verified reads, below the template's
  // controls.
  kSetTraceLabel = 330,
  kSetTraceFile = 331,
  kSetVerifyReads = 332,
};

// One entry of the port list: the name the setting keeps and the port's description.
struct PortEntry {
  std::string name;         // "/dev/ttyUSB0", "SIM:TG5"
  std::string description;  // "FTDI FT232R USB UART (A1B2C3)"; may be empty
};
using PortLister = std::function<std::vector<PortEntry>()>;

// The serial ports of the serial layer, then the simulated devices (without "offline").
std::vector<PortEntry> SystemPortList();

// True when both names reach the same device: "COM1:", "com1" and "/dev/ttyS0" are one port,
// "sim:tg5" and "SIM:TG5" too; a device path compares as written.
bool SamePortName(const std::string& a, const std::string& b);

// Posted to the main window when the dialog closed with Ok after the language name changed.
class LanguageChangeEvent : public QEvent {
 public:
  static QEvent::Type EventType();
  LanguageChangeEvent() : QEvent(EventType()) {}
};

class SettingsDialog : public QDialog {
 public:
  // languageTarget receives the LanguageChangeEvent; ports: the port list (default: the
  // machine's).
  SettingsDialog(QObject* languageTarget, QWidget* parent, PortLister ports = PortLister());

  bool Run();
  void Apply();
  // The open-file question of the browse button (default: a QFileDialog).
  void SetFileDialogHook(FileDialogHook hook) { fileDialog_ = std::move(hook); }

  // For the tests and the main window.
  QWidget* ControlById(int id) const;
  QComboBox& PortBox() { return port_; }
  QComboBox& LanguageList() { return languageList_; }
  QCheckBox* CheckBox(int id) const;
  QLineEdit& FileField() { return file_; }

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void CreateControls();
  void Translate();
  void FillPorts(const PortLister& ports);
  // The list again after adapters came or went; the chosen entry stays chosen.
  void RefreshPorts();
  void SelectStoredPort(const std::string& stored);
  void FillFromSettings();
  void FillLanguage();
  void SetLanguageName(const QString& name);
  void OnBatchToggled(bool on);
  void OnSystemToggled(bool on);
  void Browse();
  void Save();
  void Ok();
  std::string ChosenPortName() const;

  QObject* languageTarget_;
  QFont font_;
  DialogUnits units_;
  QLabel portLabel_;
  QComboBox port_;
  QGroupBox fileGroup_;
  QLineEdit file_;
  QPushButton browse_;
  QGroupBox languageGroup_;
  QCheckBox systemLanguage_;
  QComboBox languageList_;
  QPushButton save_;
  QPushButton ok_;
  QPushButton cancel_;
  QLabel traceLabel_;
  QLineEdit traceFile_;
  QCheckBox verifyReads_;
  bool expert_ = false;  // the program was started with "-exp": the expert rows are shown
  std::map<int, QCheckBox*> checkBoxes_;
  std::vector<PortEntry> entries_;  // parallel to the list after "offline"
  PortLister lister_;
  PortWatch portWatch_;
  std::unique_ptr<QSocketNotifier> portNotifier_;
  QTimer portSettle_;  // one refresh after a burst of changes (udev makes several at a plug-in)
  std::string openingLanguage_;
  bool frameClose_ = false;
  FileDialogHook fileDialog_;
};

}  // namespace lumo::gui

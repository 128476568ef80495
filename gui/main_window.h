// The main window: the parameter table, the beam panel, the command buttons, menus and status
// bar; it turns user commands into calls of the core and requests to the link, shows the link's
// events, keeps the enabling in step with the link and asks before the program ends.
//
// State (user interface thread only):
//   the window's controls by id (template 100), the command buttons of the device type, the
//   menu actions by id (main_window_controls.cpp makes them from its row tables and connects
//   each to its command's handler); the parameter table and the beam panel (gui/widgets/, they keep
//   the loaded file's path and the beam states); the registered link event receiver (at most one);
//   the once-only narrowing flag for the joystick; the hooks tests replace (file dialogs, quit
//   request).
// The link (TheLink()) owns the page images; the codec's images (Images()) are kept in step:
// the device image is copied in at every refresh, the edit image is taken from the link,
// changed and handed back only while the link is idle, right before a write is requested.
//
//   Initialise          definition and its window adaptation, settings again, rules, set-up
//   SetUpWindow         menu, command buttons, translation, status bar, title
//   UpdateEnabling      enabled/shown/checked states, status text, tables
//   Command             one command by id, through the command table (each control is connected
//                       to its command's handler where it is made)
//   OnLinkEvent         the reaction to one link notification
//   ExitQuery           ask, then post the quit request with the code
//   StartLinkOnPort     StartLink with the main window's sink (and the adapter remembered)
//   OnAdapterGone / OnAdapterChange   the link's adapter unplugged: "adapter unplugged: <name>"
//                       in the status bar; an adapter of the same stable (or kernel) name back:
//                       the link starts on it again
//   ReportValuesNotTaken  after a parameter write, the values the read-back does not show
//   FirstAction         settings dialog first, or parameter file and link
//   LoadParameterFileCommand / SaveParameterFileCommand   with the file dialogs
//   SetLinkEventReceiver  the dialog that gets forwarded events (nullptr: none)
//   LoadSelfTestRules   "Limits.txt" into the rule table, handed to the link for the self-test
//   OpenSelfTest / FirmwareUpdate   the self-test results dialog, the firmware update command
//   WindowFits          the screen-size check's test
//   ArrangeClient       the controls' places when the window is larger than its default size
#pragma once

#include <QDialog>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QUrl>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "definitions/cell_text.h"
#include "definitions/pardef.h"
#include "files/beam_config.h"
#include "gui/gui_text.h"
#include "gui/link_events.h"
#include "gui/status_strip.h"
#include "gui/widgets/beam_panel.h"
#include "gui/widgets/device_access.h"
#include "gui/widgets/parameter_table.h"
#include "history/history_recorder.h"
#include "link/adapter_watch.h"
#include "link/serial_port.h"
#include "selftest/limits.h"

namespace lumo::gui {

// Control and command ids of the main window (template 100) and its menus.
enum ControlId : int {
  kIdEscape = 2,
  kIdPower = 101,
  kIdFirmware = 102,
  kIdNormalMode = 103,
  kIdSettings = 104,
  kIdSelfTest = 105,
  kIdSelfCalibration = 106,
  kIdSignalTest = 107,
  kIdHelp = 108,
  kIdAbout = 109,
  kIdExit = 111,
  kIdLoadConfig = 112,
  kIdTooltips = 113,
  kIdHistory = 114,
  kIdParamFrame = 120,
  kIdParamTable = 121,
  kIdRead = 122,
  kIdCopyDevice = 123,
  kIdSaveFile = 124,
  kIdWrite = 125,
  kIdLoadFile = 126,
  kIdCopyFile = 127,
  kIdBeamFrame = 128,
  kIdAllBeams = 129,
  kIdDeactivate = 130,
  kIdBeamExclude = 131,
  kIdBeamExample = 132,
  kIdActiveLabel = 133,
  kIdActiveBeams = 134,
  kIdBeamList = 135,
  kIdBeamWrite = 136,
  kIdBeamRead = 137,
  kIdRangeLabel = 141,
  kIdRangeUnit = 142,
  kIdRangeField = 143,
  kIdRangeSet = 144,
  kIdReferencesLabel = 145,
  kIdReferences = 146,
  kIdCopyFileValue = 147,
  kIdCopyDeviceValue = 148,
  kIdQuit = 149,
  kIdMenuFile = 200,
  kIdMenuSelfTest = 201,
  kIdMenuHelp = 202,
};

// The file chosen in an open or save dialog; nothing when cancelled.
struct FileDialogRequest {
  bool save = false;
  QString title;
  QString filter;
  QString defaultSuffix;
  QString directory;       // empty: the platform's default place
  QString selectedFilter;  // empty: the first filter
  QString fileName;        // the initial file name; empty: none
};
using FileDialogHook = std::function<std::optional<QString>(const FileDialogRequest&)>;

bool WindowFits(const QRect& frame, const QSize& screen);

class MainWindow : public QDialog {
 public:
  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // definition: the one to use (tests); nullptr: load it as the program does.
  bool Initialise(std::unique_ptr<ParDef> definition = nullptr);
  bool SetUpWindow();
  void UpdateEnabling();
  void Command(int id);
  void ExitQuery(int exitCode);
  bool StartLinkOnPort(const std::string& port);
  void FirstAction();
  // False when the user chose to end the program.
  bool ScreenSizeCheck();
  bool LoadParameterFileCommand(const std::string& path);
  bool SaveParameterFileCommand();
  void LanguageChanged();

  void SetLinkEventReceiver(LinkEventReceiver* receiver) { receiver_ = receiver; }
  void SetFileDialogHook(FileDialogHook hook) { fileDialog_ = std::move(hook); }
  void SetQuitHook(std::function<void(int)> hook) { quit_ = std::move(hook); }
  // Called with every modal dialog of the self-test and the firmware update before it runs.
  void SetDialogHook(std::function<void(QDialog&)> hook) { dialogHook_ = std::move(hook); }
  // Opens a document in the system's viewer (QDesktopServices::openUrl unless replaced).
  void SetOpenUrlHook(std::function<bool(const QUrl&)> hook) { openUrl_ = std::move(hook); }

  // For the tests and the later dialogs.
  QWidget* ControlById(int id) const;
  QPushButton* CommandButton(int id) const;
  QAction* MenuAction(int id) const;
  QMenuBar& MenuBar() { return menuBar_; }
  StatusStrip& Status() { return status_; }
  ui::ParameterTable& Table() { return paramTable_; }
  ui::BeamPanel& BeamPanel() { return beamPanel_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void reject() override;

 private:
  // One command: its handler, and whether the enabling is brought up to date after it (not after
  // the exit question, nor after the settings and the history, which do so themselves).
  enum class After { UpdateEnabling, Nothing };
  struct CommandRow {
    int id;
    void (MainWindow::*run)();
    After after;
  };
  // nullptr: no command has that id.
  static const CommandRow* FindCommand(int id);
  void RunCommand(const CommandRow& row);
  // A control without a command stays unconnected.
  void ConnectCommand(QAbstractButton* button, int id);
  void ConnectCommand(QAction* action, int id);

  // The controls (main_window_controls.cpp).
  void CreateTemplateControls();
  // The controls' places for the client area's size (the template's places at the default size).
  void ArrangeClient();
  QPushButton* AddButton(int id, QWidget* parent, const QRect& place);
  QLabel* AddLabel(int id, QWidget* parent, const QRect& place);
  void AdaptWindow(const ParDef& definition, int deviceType);
  // Outside expert mode: the beam reference controls are hidden, the beam panel's lower
  // controls move down into their room.
  void HideReferenceControls();
  // The joystick has no beams: the window loses the beam panel's width (once).
  void NarrowForJoystick();
  void BuildMenu();
  void CreateCommandButtons();
  // Hides the buttons and drops the menu items of the commands this device and mode do not offer.
  void OfferCommands(bool expert);
  void TranslateControls();
  // Labels whose translated text is wider than the template's place.
  void FitLabels();
  QRect TemplatePlace(int id) const;

  // The commands' handlers not named below (main_window.cpp).
  void ExitCommand();
  void QuitCommand();
  void LoadFileCommand();
  void ReadCommand();
  void CopyDeviceCommand();
  void SaveFileCommand();
  void CopyFileCommand();
  void AllBeamsCommand();
  void DeactivateCommand();
  void BeamReadCommand();
  void RangeSetCommand();
  void ReferencesCommand();
  void CopyFileValueCommand();
  void CopyDeviceValueCommand();
  void PowerCommand();
  void NormalModeCommand();
  void SelfTestCommand();
  void SelfCalibrationCommand();
  void SignalTestCommand();
  void TooltipsCommand();

  void SetTitle();
  void RefreshStatusText();
  void SyncDeviceImage();
  void WriteEdits();
  // After a parameter write: tells which written values the device did not take.
  void ReportValuesNotTaken();
  void WriteBeams();
  void PutBeamsIntoLinkImage();
  void OnLinkEvent(LinkEvent& event);
  void Forward(const LinkEvent& event);
  void ShowHint(QWidget* widget);
  // Tooltips while EnableToolTips is on: a widget's own text, else the window's table.
  bool ShowTooltip(QWidget* widget, const QHelpEvent& help);
  bool AnswersOwnTooltip(const QWidget* widget) const;
  QString HintFor(const QWidget* widget) const;
  QString TooltipFor(const QWidget* widget) const;
  void OpenSettings();
  void OpenSelfTest();
  // The unit history: the recorder made from the settings, a finished job's record handed to
  // it (off this thread), the connected unit's records shown.
  void StartHistory();
  void RecordJob(HistoryRecord record);
  void RecordLinkJob(HistoryJob job, HistoryOutcome outcome, const std::string& reason,
                     int failedPage = -1, const PageImage* before = nullptr);
  void OpenHistory();
  void FirmwareUpdate();
  bool LoadSelfTestRules();
  void OpenAbout();
  void OpenHelp();
  std::optional<QString> AskFile(const FileDialogRequest& request);
  bool UnsavedChanges() const;
  // ERRCOMOPENFAILED with the reason of the last failed open.
  std::string OpenFailedText(const std::string& port) const;
  // The line trace as the settings ask for it (expert mode); a file that cannot be made is shown.
  void ApplyTrace();
  void OnAdapterGone();
  void OnAdapterChange();

  QFont font_;
  DialogUnits units_;
  QMenuBar menuBar_;
  QWidget client_;
  QSize baseClient_;  // the client area at the window's default size (narrower for the joystick)
  StatusStrip status_;
  std::map<int, QWidget*> controls_;
  std::map<int, QPushButton*> commandButtons_;
  std::map<int, QAction*> actions_;
  ui::LinkAccess access_;
  ui::ParameterTable paramTable_;
  ui::BeamPanel beamPanel_;
  GuiLinkSink sink_;
  LinkEventReceiver* receiver_ = nullptr;
  FileDialogHook fileDialog_;
  std::function<void(int)> quit_;
  std::function<void(QDialog&)> dialogHook_;
  std::function<bool(const QUrl&)> openUrl_;
  std::unique_ptr<LimitRulesAdapter> rulesAdapter_;
  std::vector<WrittenValue> writtenValues_;  // what the last parameter write was to change
  bool writeFailed_ = false;
  QString lastSaveFolder_;  // folder of the last parameter file saved, ending in "/"; empty: none
  bool narrowed_ = false;
  bool rulesLoaded_ = false;
  bool initialised_ = false;
  bool destroying_ = false;  // the destructor runs: no exit question, no quit
  // The serial port's result of the last failed StartLinkOnPort, and its errno.
  SerialResult openResult_ = SerialResult::Ok;
  int openErrno_ = 0;
  // The port the link runs on; while its adapter is unplugged, the watch for its return and the
  // notifier on the watch's descriptor (no polling).
  AdapterWatch adapter_;
  std::unique_ptr<QSocketNotifier> adapterNotifier_;
  std::unique_ptr<HistoryRecorder> history_;  // nullptr before Initialise
  PageImage writeBefore_{};                   // the device image the running write began with
  int writeFailedPage_ = -1;                  // the first page the running write failed at
};

}  // namespace lumo::gui

#include "gui/main_window.h"
#include "gui/history_dialog.h"
#include "history/history_job.h"
#include "history/history_values.h"
#include "platform/cp1252.h"
#include "session/history_setting.h"

#include <QFile>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "gui/about_box.h"
#include "gui/desktop_start.h"
#include "gui/firmware_dialog.h"
#include "gui/flash_prompt_window.h"
#include "gui/qt_language.h"
#include "gui/range_preset.h"
#include "gui/references_dialog.h"
#include "gui/selftest_dialog.h"
#include "gui/settings_dialog.h"
#include "gui/signal_dialog.h"
#include "link/port_errors.h"
#include "link/port_names.h"
#include "link/serial_port.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "session/line_trace_setting.h"
#include "session/link_config.h"

namespace lumo::gui {

namespace {

constexpr const char* kLimitsFileName = "Limits.txt";  // the self-test rules

// Parameter self-test characters.
constexpr uintptr_t kSelfTestChar = 's';
constexpr uintptr_t kSelfCalibrationChar = 'c';

constexpr int kMaxStatusChars = 99;
constexpr int kJovixStatusFontHeightPx = 11;  // the joystick's status bar font, cell height
constexpr int kPageMask = 0xFFFF;
// How long the end of the program waits for the last records to be stored or queued.
constexpr auto kHistoryFinishLimit = std::chrono::seconds(5);

std::string AppTitle() {
  return ApplicationTitle();
}

QString LinkStatusText() {
  DutLink& link = TheLink();
  const char* id = link.StatusMsgId();
  std::string name = DisplayName(CurrentDefinition(), DeviceType());
  std::string text;
  if (id != nullptr && id[0] != '\0') text = FillText(MsgText(id), {name}, kMaxStatusChars);
  if (text.empty() && link.InConfigMode()) {
    std::array<uint8_t, 2> fw = link.FirmwareWord();
    if (DeviceType() == kDeviceJovix) {
      text = link.Identity() + " @ " + link.PortName();
    } else {
      text = link.Identity() + " @ " + link.PortName() + " - (Firmware " + std::to_string(fw[0]) +
             "," + std::to_string(fw[1]) + ")";
    }
  }
  return FromCp1252(text);
}

bool ExpertMode() {
  return (CurrentStartupPaths().startFlags & kStartExpert) != 0;
}

}  // namespace

bool WindowFits(const QRect& frame, const QSize& screen) {
  return frame.right() < screen.width() && frame.bottom() < screen.height();
}

MainWindow::MainWindow(QWidget* parent)
    : QDialog(parent),
      font_(DialogFont()),
      units_(font_),
      menuBar_(this),
      client_(this),
      status_(this),
      access_(TheLink()),
      paramTable_(&client_),
      beamPanel_(&client_),
      sink_(this) {
  setFont(font_);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  // The template's size is the window's default and smallest size; a larger window gives its
  // room to the client area (ArrangeClient), the status bar keeps its height.
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->setMenuBar(&menuBar_);
  layout->addWidget(&client_, 1);
  layout->addWidget(&status_, 0);
  status_.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  CreateTemplateControls();
  layout->activate();
  resize(minimumSize());
  quit_ = [](int code) { QCoreApplication::exit(code); };
}

MainWindow::~MainWindow() {
  // Order: hook, link (its thread posts to this window), then the definition. Nothing the
  // children do while they go (a focus change, a cancelled editor) may ask to exit any more:
  // the members that question needs are destroyed before the children.
  destroying_ = true;
  paramTable_.disconnect(this);
  beamPanel_.disconnect(this);
  if (initialised_) qApp->removeEventFilter(this);
  TheLink().StopLink();
  QCoreApplication::removePostedEvents(this, LinkQEvent::EventType());
  if (history_ != nullptr) {
    // The last jobs' records are stored (or queued) before the program ends.
    history_->SetChangeHook(nullptr);
    history_->Flush(kHistoryFinishLimit);
    history_.reset();
  }
  if (rulesAdapter_ != nullptr) {
    TheLink().SetSelfTestRules(nullptr);
    FreeLimitTable();
  }
  DiscardCurrentDefinition();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);  // the layout has sized the client area already
  ArrangeClient();
}

bool MainWindow::Initialise(std::unique_ptr<ParDef> definition) {
  auto adapt = [this](const ParDef& list, int type) { AdaptWindow(list, type); };
  bool ok =
      definition ? SetupWithDefinition(std::move(definition), adapt) : SetupFromDefinition(adapt);
  if (!ok) return false;
  LoadSettings(CurrentStartupPaths().settingsFile);
  StartHistory();
  SelectLanguageByName(CurrentSettings().language);
  ApplyQtLanguage();
  rulesLoaded_ = LoadSelfTestRules();
  // The link keeps the procedure after this window has gone: the prompt's owner is guarded.
  InstallFlashProcedure(TheLink(), MakeQtFlashPromptFactory([window = QPointer<QWidget>(this)] {
                          return window.data();
                        }));
  if (!SetUpWindow()) {
    ShowMessage(MsgKind::Error, MsgText("ERRINIT"), AppTitle());
    return false;
  }
  UpdateEnabling();
  qApp->installEventFilter(this);
  initialised_ = true;
  return true;
}

void MainWindow::AdaptWindow(const ParDef& list, int deviceType) {
  auto* definition = const_cast<ParDef*>(&list);  // the current definition, owned by setup
  paramTable_.Attach(definition, &access_);
  paramTable_.PlaceCommandButtons();
  if (deviceType == kDeviceTG5) {
    beamPanel_.Attach(definition, &access_);
    if (!ExpertMode()) HideReferenceControls();
    beamPanel_.States().fill(kBeamActive);
  }
  paramTable_.RefreshTable();
  paramTable_.List()->setFocus();
}

void MainWindow::SetTitle() {
  TitleParts parts = TitleForDisplayName(DisplayName(CurrentDefinition(), DeviceType()));
  SetApplicationTitle(parts.applicationTitle);
  std::string expert = ExpertMode() ? MsgText("EXPERTMODE") : "";
  setWindowTitle(FromCp1252(parts.applicationTitle + " " + parts.shownName + " " + expert));
}

bool MainWindow::SetUpWindow() {
  const int type = DeviceType();
  BuildMenu();
  if (type == kDeviceJovix) NarrowForJoystick();
  TranslateControls();
  beamPanel_.Retranslate();
  CreateCommandButtons();
  const bool expert = ExpertMode();
  OfferCommands(expert);
  if (type == kDeviceTG5 && expert) {
    SetBatchState(kBatchOffered, true);
    // Off at start; a language change rebuilds the window but keeps what the user chose.
    if (!initialised_) SetBatchState(kBatchOn, false);
  }
  // The joystick's status bar is written in a small font of 11 pixels' height.
  status_.setFont(type == kDeviceJovix ? SmallFont(kJovixStatusFontHeightPx) : font_);
  status_.Progress().SetRange(0, 100);
  SetTitle();
  return true;
}

void MainWindow::LanguageChanged() {
  SelectLanguageByName(CurrentSettings().language);
  ApplyQtLanguage();
  SetUpWindow();
  UpdateEnabling();
  paramTable_.RetranslateHint();  // the status bar's hint in the new language
}

void MainWindow::SyncDeviceImage() {
  if (TheLink().ConfigValid()) Images().device = TheLink().CopyDeviceImage();
}

void MainWindow::UpdateEnabling() {
  DutLink& link = TheLink();
  const bool c = link.InConfigMode();
  const int32_t s = link.Mode();
  const bool r = rulesLoaded_;
  const bool jovix = DeviceType() == kDeviceJovix;
  auto enable = [this](int id, bool on) {
    if (QPushButton* button = CommandButton(id)) button->setEnabled(on);
  };
  auto enableMenu = [this](int id, bool on) {
    if (QAction* action = MenuAction(id)) action->setEnabled(on);
  };
  enable(kIdSignalTest, c);
  enable(kIdSelfTest, r && c);
  enable(kIdSelfCalibration, r && c);
  enable(kIdFirmware, jovix ? c : (c || s >= MODE_IDLE));
  enable(kIdNormalMode, c);
  if (QPushButton* power = CommandButton(kIdPower)) {
    power->setEnabled(s >= MODE_IDLE);
    power->setChecked(link.IsPowered());
  }
  enableMenu(kIdSignalTest, c);
  enableMenu(kIdHelp, !CurrentStartupPaths().helpFile.empty());
  enableMenu(kIdSelfTest, r && c);
  enableMenu(kIdSelfCalibration, r && c);
  if (QAction* tips = MenuAction(kIdTooltips)) tips->setChecked(CurrentSettings().enableToolTips);
  RefreshStatusText();
  SyncDeviceImage();
  paramTable_.RefreshTable();
  if (!jovix) beamPanel_.RefreshPanel();
}

void MainWindow::RefreshStatusText() {
  if (adapter_.Watching() && TheLink().Mode() == MODE_OFF) {
    status_.SetStatus(
        FromCp1252(FillText(MsgText("ADAPTERGONE"), {adapter_.Name()}, kMaxStatusChars)));
    return;
  }
  QString text = LinkStatusText();
  const int64_t waiting = history_ != nullptr ? history_->Waiting() : 0;
  if (waiting > 0)
    text += QStringLiteral(" - ") +
            FromCp1252(FillText(MsgText("HIST_WAITING"), {std::to_string(waiting)}));
  status_.SetStatus(text);
}

void MainWindow::StartHistory() {
  if (history_ != nullptr) return;
  history_ = std::make_unique<HistoryRecorder>(
      ParseHistoryLocation(HistorySettingText(CurrentStartupPaths().settingsFile)));
  // Called on the recorder's thread: the status bar is refreshed on this one.
  history_->SetChangeHook([this] {
    QMetaObject::invokeMethod(
        this, [this] { RefreshStatusText(); }, Qt::QueuedConnection);
  });
}

void MainWindow::RecordJob(HistoryRecord record) {
  if (history_ == nullptr || !history_->Active()) return;
  StampRecord(record, LUMO_GUI_VERSION);
  history_->Submit(std::move(record));
}

void MainWindow::RecordLinkJob(HistoryJob job, HistoryOutcome outcome, const std::string& reason,
                               int failedPage, const PageImage* before) {
  HistoryRecord record = LinkJobRecord(TheLink(), DeviceType(), job, before);
  record.outcome = outcome;
  record.reason = reason;
  record.failedPage = failedPage;
  RecordJob(std::move(record));
}

void MainWindow::OpenHistory() {
  const HistoryLocation location =
      ParseHistoryLocation(HistorySettingText(CurrentStartupPaths().settingsFile));
  if (location.kind == HistoryLocation::Kind::Off) {
    ShowMessage(MsgKind::Information, MsgText("HIST_OFF"), MsgText("HIST_TITLE"));
    return;
  }
  DutLink& link = TheLink();
  const std::string identity = Cp1252ToUtf8(link.Identity());
  if (!link.InConfigMode() || identity.empty()) {
    ShowMessage(MsgKind::Information, MsgText("HIST_NOUNIT"), MsgText("HIST_TITLE"));
    return;
  }
  HistoryFilter filter;
  const std::string serial = SerialFromIdentity(identity);
  filter.unit = serial.empty() ? identity : serial;
  std::unique_ptr<HistoryStore> store;
  std::vector<HistoryRecord> records;
  HistoryStatus status = OpenHistoryStore(location, &store);
  if (status.Ok()) status = store->Query(filter, &records);
  if (!status.Ok()) {
    ShowMessage(MsgKind::Error, FillText(MsgText("HIST_FAILED"), {Utf8ToCp1252(status.message)}),
                MsgText("HIST_TITLE"));
    return;
  }
  ParDef* list = CurrentDefinition();
  const int deviceType = DeviceType();
  HistoryDialog dialog(
      FromCp1252(FillText(MsgText("HIST_UNIT"), {link.Identity()})), std::move(records),
      [list, deviceType](const HistoryRecord& record) {
        QStringList names;
        for (const std::string& name : ChangedParameterNames(list, deviceType, record))
          names << FromCp1252(name);
        return names.join(QStringLiteral(", "));
      },
      this);
  if (dialogHook_) dialogHook_(dialog);
  dialog.exec();
  if (const HistoryRecord* chosen = dialog.Chosen();
      chosen != nullptr && CopyRecordToEdit(list, deviceType, *chosen)) {
    paramTable_.RefreshTable();
    UpdateEnabling();
  }
}

void MainWindow::WriteEdits() {
  DutLink& link = TheLink();
  ParDef* list = CurrentDefinition();
  // The edit image may only change while the link is idle, and only over a valid read.
  if (list == nullptr || link.Mode() != MODE_IDLE || !link.ConfigValid()) return;
  Images().device = link.CopyDeviceImage();
  Images().edit = link.CopyEditImage();
  writeBefore_ = Images().device;
  // The values this write is to change, checked against the read-back when it ends.
  std::vector<WrittenValue> written = ValuesToWrite(list);
  ApplyEdits(list);
  link.EditImage([](PageImage& edit) { edit = Images().edit; });
  if (link.RequestCommand(CMD_WRITE, 0)) {
    writtenValues_ = std::move(written);
    writeFailed_ = false;
    writeFailedPage_ = -1;
  }
}

void MainWindow::ReportValuesNotTaken() {
  std::vector<WrittenValue> written = std::move(writtenValues_);
  writtenValues_.clear();
  // A failed write has been reported already; without a valid read-back nothing can be told.
  if (writeFailed_ || written.empty() || !TheLink().ConfigValid()) return;
  const std::string lines = NotTakenLines(CurrentDefinition(), written);
  if (lines.empty()) return;
  ShowMessage(MsgKind::Warning, FillText(MsgText("WRITE_NOTTAKEN"), {lines}), AppTitle());
}

void MainWindow::PutBeamsIntoLinkImage() {
  DutLink& link = TheLink();
  Images().device = link.CopyDeviceImage();
  Images().edit = link.CopyEditImage();
  beamPanel_.PutIntoEditImage();
  link.EditImage([](PageImage& edit) { edit = Images().edit; });
}

void MainWindow::WriteBeams() {
  DutLink& link = TheLink();
  if (link.Mode() != MODE_IDLE || !link.ConfigValid()) return;
  PutBeamsIntoLinkImage();
  const PageImage before = link.CopyDeviceImage();
  if (link.RequestCommand(CMD_WRITE, 0)) {
    writeBefore_ = before;
    writeFailed_ = false;
    writeFailedPage_ = -1;
  }
}

std::optional<QString> MainWindow::AskFile(const FileDialogRequest& request) {
  if (fileDialog_) return fileDialog_(request);
  QFileDialog dialog(this, request.title, request.directory, request.filter);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.selectedFilter.isEmpty()) dialog.selectNameFilter(request.selectedFilter);
  if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

bool MainWindow::LoadParameterFileCommand(const std::string& path) {
  std::string chosen = path;
  if (chosen.empty()) {
    FileDialogRequest request;
    request.title = Msg("KFG_DLGOPEN");
    request.filter = QtFilterFromParts(MsgText("KFG_OFNFILTER"));
    request.defaultSuffix = QStringLiteral("par");
    // After a save the open dialog starts in the folder saved to.
    if (!lastSaveFolder_.isEmpty()) request.directory = lastSaveFolder_;
    std::optional<QString> file = AskFile(request);
    if (!file) return false;
    chosen = QFile::encodeName(*file).toStdString();
  }
  int type = DeviceType();
  ParameterFileTarget target;
  target.list = CurrentDefinition();
  target.deviceType = &type;
  target.autoCopyConf = CurrentSettings().autoCopyConf != 0;
  target.beams = &beamPanel_.States();
  BeamLineState beamLine = BeamLineState::None;
  target.beamLine = &beamLine;
  bool accepted = lumo::LoadParameterFile(chosen, target);
  if (type != DeviceType()) SetDeviceType(type);
  if (accepted) {
    paramTable_.SetLoadedFile(PathForText(chosen));  // the header shows Windows-1252 text
    paramTable_.SetFileBeamLineUnreadable(beamLine == BeamLineState::Unreadable);
  }
  UpdateEnabling();
  return accepted;
}

bool MainWindow::SaveParameterFileCommand() {
  FileDialogRequest request;
  request.save = true;
  request.title = Msg("KFG_DLGSAVE");
  request.filter = QtFilterFromParts(MsgText("KFG_OFNFILTER"));
  request.defaultSuffix = QStringLiteral("par");
  request.directory = QFile::decodeName(SaveDialogFolder(CurrentStartupPaths()).c_str());
  std::optional<QString> file = AskFile(request);
  if (!file) return false;
  lastSaveFolder_ = QFileInfo(*file).absolutePath();
  if (!lastSaveFolder_.endsWith(QLatin1Char('/'))) lastSaveFolder_ += QLatin1Char('/');
  std::string beamText = DeviceType() == kDeviceTG5
                             ? FormatRangeText(beamPanel_.States(), beamPanel_.Range())
                             : std::string();
  return lumo::SaveParameterFile(QFile::encodeName(*file).toStdString(), CurrentDefinition(),
                                 DeviceType(), beamText);
}

bool MainWindow::StartLinkOnPort(const std::string& port) {
  // A port chosen anew ends the wait for an unplugged one.
  adapterNotifier_.reset();
  adapter_.Stop();
  bool started = TheLink().StartLink(PortPathOf(port), &sink_, LinkConfigFromProgram());
  openResult_ = started ? SerialResult::Ok : SerialLastResult();
  openErrno_ = started ? 0 : SerialLastErrno();
  if (started) adapter_.Remember(port);
  UpdateEnabling();
  return started;
}

// The link's adapter went away (its port failed): the status bar says so, and the folders where
// it reappears are watched.
void MainWindow::OnAdapterGone() {
  if (adapter_.Name().empty()) adapter_.Remember(TheLink().PortName());
  if (!adapter_.CanReturn()) return;
  adapter_.Start();
  adapterNotifier_.reset();
  if (adapter_.Fd() >= 0) {
    adapterNotifier_ = std::make_unique<QSocketNotifier>(adapter_.Fd(), QSocketNotifier::Read);
    connect(adapterNotifier_.get(), &QSocketNotifier::activated, this,
            &MainWindow::OnAdapterChange);
  }
  OnAdapterChange();  // it may be back already
}

// Something changed where the adapter appears: when it is back, the link starts on it; its
// device is then found at its power-up as usual.
void MainWindow::OnAdapterChange() {
  if (!adapter_.Watching()) return;
  const std::string back = adapter_.Back();
  if (back.empty()) return;
  const std::string remembered = adapter_.Name();
  adapterNotifier_.reset();
  adapter_.Stop();
  if (TheLink().StartLink(PortPathOf(back), &sink_, LinkConfigFromProgram())) {
    openResult_ = SerialResult::Ok;
    openErrno_ = 0;
    adapter_.Remember(remembered);
  } else {
    // Not usable yet (udev gives the device its group a moment later): watch on.
    openResult_ = SerialLastResult();
    openErrno_ = SerialLastErrno();
    adapter_.Start();
    if (adapter_.Fd() >= 0) {
      adapterNotifier_ = std::make_unique<QSocketNotifier>(adapter_.Fd(), QSocketNotifier::Read);
      connect(adapterNotifier_.get(), &QSocketNotifier::activated, this,
              &MainWindow::OnAdapterChange);
    }
  }
  UpdateEnabling();
}

void MainWindow::ApplyTrace() {
  int err = 0;
  const bool expert = (CurrentStartupPaths().startFlags & kStartExpert) != 0;
  if (!ApplyTraceSetting(TheLink(), CurrentSettings(), expert, err)) {
    ShowMessage(MsgKind::Warning,
                PathForText(CurrentSettings().traceFile) + ": " + std::strerror(err), AppTitle());
  }
}

std::string MainWindow::OpenFailedText(const std::string& port) const {
  std::string text = MsgText("ERRCOMOPENFAILED");
  // The reason says what to do about it, e.g. join the dialout group.
  if (openResult_ != SerialResult::Ok)
    text += "\n\n" + port + ": " + PortFailureText(openResult_, openErrno_, port);
  return text;
}

void MainWindow::FirstAction() {
  Settings settings = CurrentSettings();
  if (FirstStartAction(settings, CurrentStartupPaths().startFlags) ==
      StartAction::OpenSettingsDialog) {
    QTimer::singleShot(0, this, [this] { Command(kIdSettings); });
    return;
  }
  if (settings.defaultKonfFile[0] != '\0')
    LoadParameterFileCommand(StoredPathToFileSystem(settings.defaultKonfFile));
  ApplyTrace();
  if (!StartLinkOnPort(settings.defaultPortName)) {
    ShowMessage(MsgKind::Warning, OpenFailedText(settings.defaultPortName), AppTitle());
  }
}

bool MainWindow::ScreenSizeCheck() {
  QScreen* screen = this->screen();
  if (screen == nullptr || WindowFits(frameGeometry(), screen->size())) return true;
  MsgAnswer answer = ShowMessage(MsgKind::ScreenSize, MsgText("SCRSETTINGS"),
                                 MsgText("SCRSETTINGSDLG"), MsgOwner::Desktop);
  return answer == MsgAnswer::Yes;
}

bool MainWindow::UnsavedChanges() const {
  DutLink& link = TheLink();
  if (link.AnyPageNeedsWrite()) return true;
  if (!link.InConfigMode()) return false;
  const bool valid = link.ConfigValid();
  if (AnyChanged(CurrentDefinition(), valid)) return true;
  if (DeviceType() != kDeviceTG5) return false;
  return beamPanel_.Changed();
}

void MainWindow::ExitQuery(int exitCode) {
  if (destroying_) return;
  if (DeviceType() == kDeviceJovix) {
    quit_(exitCode);
    return;
  }
  SyncDeviceImage();
  const char* question = UnsavedChanges() ? "QUERYDISCARDCHANGES" : "QUERYENDSESSION";
  if (ShowMessage(MsgKind::Question, MsgText(question), AppTitle()) != MsgAnswer::Yes) return;
  DutLink& link = TheLink();
  if (link.InConfigMode()) {
    bool leave = true;
    if (CurrentSettings().queryLeaveMode != 0) {
      leave =
          ShowMessage(MsgKind::Question, MsgText("QUERYLEAVEMODE"), AppTitle()) == MsgAnswer::Yes;
    }
    if (leave) link.SetLeaveOnExit(true);
  }
  quit_(exitCode);
}

bool MainWindow::LoadSelfTestRules() {
  TheLink().SetSelfTestRules(nullptr);
  if (!LoadLimitsFile(kLimitsFileName) || TheLimitTable().Empty()) {
    rulesAdapter_.reset();
    return false;
  }
  rulesAdapter_ = std::make_unique<LimitRulesAdapter>(TheLimitTable());
  TheLink().SetSelfTestRules(rulesAdapter_.get());
  return true;
}

void MainWindow::OpenSelfTest() {
  if (rulesAdapter_ == nullptr) return;
  SelfTestDialog dialog(DeviceType(), TheLink(), TheLimitTable(), TheBeamValues(), this);
  LinkEventReceiver* previous = receiver_;
  receiver_ = &dialog;
  if (dialogHook_) dialogHook_(dialog);
  dialog.exec();
  receiver_ = previous;
  // The self-test's record: the verdict with every shown value, or how it ended without one.
  HistoryRecord record = LinkJobRecord(TheLink(), DeviceType(), HistoryJob::SelfTest, nullptr);
  if (dialog.Evaluated()) {
    AddSelfTestResult(record, TheLimitTable(), TheBeamValues());
  } else {
    record.outcome = dialog.Cancelled() ? HistoryOutcome::Cancelled : HistoryOutcome::Failed;
    record.reason = dialog.Cancelled() ? "cancelled" : "no result from the device";
  }
  RecordJob(std::move(record));
}

void MainWindow::FirmwareUpdate() {
  FirmwareUpdateUi ui;
  ui.owner = this;
  ui.askFile = [this](const FileDialogRequest& request) { return AskFile(request); };
  ui.setReceiver = [this](LinkEventReceiver* receiver) {
    LinkEventReceiver* previous = receiver_;
    receiver_ = receiver;
    return previous;
  };
  ui.opened = [this](FirmwareProgressDialog& dialog) {
    if (dialogHook_) dialogHook_(dialog);
  };
  RunFirmwareUpdate(TheLink(), ui);
}

void MainWindow::OpenAbout() {
  AboutBox about(this);
  about.exec();
}

void MainWindow::OpenSettings() {
  SettingsDialog dialog(this, this);
  if (fileDialog_) dialog.SetFileDialogHook(fileDialog_);
  if (!dialog.Run()) {
    UpdateEnabling();
    return;
  }
  const Settings settings = CurrentSettings();
  TheLink().StopLink();
  // The settings name the port now (or none): a wait for an unplugged adapter ends.
  adapterNotifier_.reset();
  adapter_.Stop();
  ApplyTrace();
  if (settings.defaultKonfFile[0] != '\0')
    LoadParameterFileCommand(StoredPathToFileSystem(settings.defaultKonfFile));
  if (settings.defaultPortName[0] != '\0' && !StartLinkOnPort(settings.defaultPortName)) {
    ShowMessage(MsgKind::Plain, OpenFailedText(settings.defaultPortName), AppTitle());
  }
  UpdateEnabling();
}

void MainWindow::OpenHelp() {
  const std::string help = CurrentStartupPaths().helpFile;
  // The file was found at start; it may have gone since, or no viewer may take it.
  if (help.empty()) return;
  const QString path = QFile::decodeName(help.c_str());
  if (!FileReadable(help)) {
    ShowMessage(MsgKind::Warning, help, MsgText("MenuHelp"));
    return;
  }
  const bool opened = openUrl_ ? openUrl_(QUrl::fromLocalFile(path))
                               : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  // Without a viewer the user still learns where the manual is, to open it some other way.
  if (!opened) {
    ShowMessage(MsgKind::Warning, FillText(MsgText("ERRHELP_NOVIEWER"), {help}),
                MsgText("MenuHelp"));
  }
}

// ---- commands (the command table in main_window_controls.cpp names them) ----

void MainWindow::ExitCommand() {
  ExitQuery(1);
}

void MainWindow::QuitCommand() {
  // Enter in the beam range field or the range preset field reaches the default button (Quit):
  // it runs that field's own command instead.
  QWidget* focus = focusWidget();
  if (focus != nullptr && focus == controls_[kIdBeamExclude]) {
    Command(kIdDeactivate);
  } else if (focus != nullptr && focus == controls_[kIdRangeField]) {
    Command(kIdRangeSet);
  } else {
    ExitQuery(1);
  }
}

void MainWindow::LoadFileCommand() {
  LoadParameterFileCommand(std::string());
}

void MainWindow::ReadCommand() {
  TheLink().ResetPages(-1);
  TheLink().RequestCommand(CMD_READ, 0);
}

void MainWindow::CopyDeviceCommand() {
  SyncDeviceImage();
  if (TheLink().ConfigValid()) paramTable_.CopyDeviceToEditColumn();
}

void MainWindow::SaveFileCommand() {
  SaveParameterFileCommand();
}

void MainWindow::CopyFileCommand() {
  paramTable_.CopyFileToEditColumn();
}

void MainWindow::AllBeamsCommand() {
  beamPanel_.ActivateAll();
}

void MainWindow::DeactivateCommand() {
  beamPanel_.DeactivateRangeText();
}

void MainWindow::BeamReadCommand() {
  SyncDeviceImage();
  beamPanel_.TakeFromDevice();
}

void MainWindow::RangeSetCommand() {
  ApplyRangePreset(TheLink(), *static_cast<QLineEdit*>(controls_[kIdRangeField]));
}

void MainWindow::ReferencesCommand() {
  SyncDeviceImage();
  ReferencesDialog references(this, TheLink());
  if (references.Open()) references.exec();
}

void MainWindow::CopyFileValueCommand() {
  paramTable_.CopyOneValue(kIdCopyFileValue, paramTable_.List()->CurrentRow());
}

void MainWindow::CopyDeviceValueCommand() {
  paramTable_.CopyOneValue(kIdCopyDeviceValue, paramTable_.List()->CurrentRow());
}

void MainWindow::PowerCommand() {
  TheLink().TogglePower();
}

void MainWindow::NormalModeCommand() {
  TheLink().RequestCommand(CMD_LEAVE, 0);
}

void MainWindow::SelfTestCommand() {
  TheLink().SetAbortRequest(false);
  TheLink().RequestCommand(CMD_SELFTEST, kSelfTestChar);
}

void MainWindow::SelfCalibrationCommand() {
  TheLink().SetAbortRequest(false);
  TheLink().RequestCommand(CMD_SELFTEST, kSelfCalibrationChar);
}

void MainWindow::SignalTestCommand() {
  SignalDialog signal(this, TheLink());
  signal.exec();
}

void MainWindow::TooltipsCommand() {
  Settings settings = CurrentSettings();
  settings.enableToolTips = settings.enableToolTips ? 0 : 1;
  SetCurrentSettings(settings);
}

void MainWindow::Forward(const LinkEvent& event) {
  if (receiver_ != nullptr) receiver_->OnLinkEvent(event);
}

void MainWindow::OnLinkEvent(LinkEvent& event) {
  SyncDeviceImage();
  const Settings settings = CurrentSettings();
  const std::string page = std::to_string(event.value & kPageMask);
  switch (event.code) {
    case DN_NOFIRMWARE:
      Forward(event);
      if (ShowMessage(MsgKind::Offer, MsgText("FLASH_QUPDATE"), MsgText("FLASH_DLGTITLE")) ==
          MsgAnswer::Yes) {
        Command(kIdFirmware);
      }
      break;
    case DN_LINEERROR:
      if (settings.beep) QApplication::beep();
      Forward(event);
      break;
    case DN_READFAILED:
      RecordLinkJob(HistoryJob::Read, HistoryOutcome::Failed, "page " + page + " could not be read",
                    event.value & kPageMask);
      Forward(event);
      ShowMessage(MsgKind::Error, FillText(MsgText("ERRCONFREAD"), {page}), AppTitle());
      break;
    case DN_READDONE:
      if (event.value == -1) RecordLinkJob(HistoryJob::Read, HistoryOutcome::Done, "");
      if (event.value == -1 && settings.autoCopyConf) {
        Command(kIdCopyDevice);
        Command(kIdBeamRead);
      }
      Forward(event);
      break;
    case DN_WRITEFAILED:
      if (!writeFailed_) writeFailedPage_ = event.value & kPageMask;
      writeFailed_ = true;
      Forward(event);
      ShowMessage(MsgKind::Error, FillText(MsgText("ERRCONFWRITE"), {page}), AppTitle());
      break;
    case DN_WRITEEND:
      RecordLinkJob(
          HistoryJob::Write, writeFailed_ ? HistoryOutcome::Failed : HistoryOutcome::Done,
          writeFailed_ ? "page " + std::to_string(writeFailedPage_) + " could not be written" : "",
          writeFailedPage_, &writeBefore_);
      Forward(event);
      ReportValuesNotTaken();
      break;
    case DN_READY:
      if ((settings.batch & kBatchOn) != 0) {
        Command(kIdCopyFile);
        if (TheLink().Mode() == MODE_IDLE) PutBeamsIntoLinkImage();
        Command(kIdWrite);
      }
      Forward(event);
      break;
    case DN_FLASHOK:
      RecordLinkJob(HistoryJob::Flash, HistoryOutcome::Done, "");
      Forward(event);
      ShowMessage(MsgKind::Information, MsgText("FLASH_WRITESUCCESS"), MsgText("FLASH_DLGTITLE"));
      break;
    case DN_FLASHFAILED:
      RecordLinkJob(HistoryJob::Flash, HistoryOutcome::Failed, "the firmware update failed");
      Forward(event);
      ShowMessage(MsgKind::Error, MsgText("FLASH_WRITEFAILED"), MsgText("FLASH_DLGTITLE"));
      break;
    case DN_SELFTESTSENT:
      OpenSelfTest();
      break;
    case DN_IDLE:
      break;
    case DN_PROGRESS:
      status_.Progress().SetPosition(event.value);
      Forward(event);
      break;
    case DN_PORTFAILED:
      Forward(event);
      OnAdapterGone();
      break;
    default:
      Forward(event);
      break;
  }
  UpdateEnabling();
}

bool MainWindow::event(QEvent* event) {
  if (event->type() == LinkQEvent::EventType()) {
    OnLinkEvent(static_cast<LinkQEvent*>(event)->Event());
    return true;
  }
  if (event->type() == LanguageChangeEvent::EventType()) {
    LanguageChanged();
    return true;
  }
  return QDialog::event(event);
}

QString MainWindow::TooltipFor(const QWidget* widget) const {
  const char* text = TooltipText(100, [&](uint32_t id) {
    QWidget* control = ControlById(static_cast<int>(id));
    return control != nullptr && (control == widget || control->isAncestorOf(widget));
  });
  return text == nullptr ? QString() : FromCp1252(text);
}

bool MainWindow::AnswersOwnTooltip(const QWidget* widget) const {
  if (!widget->toolTip().isEmpty()) return true;
  // The parameter list's rows show their descriptions (gui/widgets/parameter_table.cpp).
  const QWidget* rows = paramTable_.List()->viewport();
  return widget == rows || rows->isAncestorOf(widget);
}

QString MainWindow::HintFor(const QWidget* widget) const {
  // The status bar's own tooltip is its status text, no hint.
  if (widget == &status_ || status_.isAncestorOf(widget)) return QString();
  if (!widget->toolTip().isEmpty()) return widget->toolTip();
  return TooltipFor(widget);
}

void MainWindow::ShowHint(QWidget* widget) {
  if (widget->isWindow()) {
    status_.SetHint(QString());
    return;
  }
  if (QApplication::activeWindow() != this || !isAncestorOf(widget)) return;
  // The parameter table sets the hint itself: a row's description, an arrow button's text.
  if (widget == paramTable_.List() || paramTable_.List()->isAncestorOf(widget)) return;
  status_.SetHint(HintFor(widget));
}

bool MainWindow::ShowTooltip(QWidget* widget, const QHelpEvent& help) {
  if (!CurrentSettings().enableToolTips) {
    QToolTip::hideText();
    return true;
  }
  // A widget with its own text answers itself; the window's table covers the rest.
  if (AnswersOwnTooltip(widget)) return false;
  const QString text = TooltipFor(widget);
  if (text.isEmpty()) {
    QToolTip::hideText();
  } else {
    QToolTip::showText(help.globalPos(), text, widget);
  }
  return true;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  // Application filters run before the widgets' own handlers: only what no widget of this
  // window answers itself is decided here.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget != nullptr && (widget == this || isAncestorOf(widget))) {
    if (event->type() == QEvent::Enter) ShowHint(widget);
    if (event->type() == QEvent::ToolTip) {
      return ShowTooltip(widget, *static_cast<QHelpEvent*>(event));
    }
  }
  return QDialog::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->ignore();
  ExitQuery(0);
}

void MainWindow::reject() {
  ExitQuery(1);
}

}  // namespace lumo::gui

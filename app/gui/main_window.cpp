#include "app/gui/main_window.h"
#include "app/gui/history_dialog.h"
#include "app/history_setting.h"
#include "history/history_job.h"
#include "history/history_values.h"
#include "platform/cp1252.h"

#include <QFile>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPointer>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QUrl>
#include <QVBoxLayout>
#include <cstring>

#include "app/gui/about_box.h"
#include "app/gui/firmware_dialog.h"
#include "app/gui/flash_prompt_window.h"
#include "app/gui/qt_language.h"
#include "app/gui/range_preset.h"
#include "app/gui/references_dialog.h"
#include "app/gui/selftest_dialog.h"
#include "app/gui/settings_dialog.h"
#include "app/gui/signal_dialog.h"
#include "app/line_trace_setting.h"
#include "app/settings.h"
#include "app/startup.h"
#include "app/translations.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "link/link_config.h"
#include "link/port_errors.h"
#include "link/serial_port.h"
#include "platform/file_system.h"
#include "platform/message_box.h"

namespace lumo::gui {

namespace {

// Template 100, in dialog units.
constexpr int kClientWidthDlu = 497;
constexpr int kClientHeightDlu = 298;
constexpr const char* kLimitsFileName = "Limits.txt";  // the self-test rules

// One control of template 100: id, kind, place in dialog units, and the corner it keeps its
// distance to when the window is larger than the template (the table's own buttons are placed
// by the table under its columns).
enum class Kind { Button, DefaultButton, Label, Edit, Frame };
enum class Anchor { Table, BottomLeft, BottomRight };
struct TemplateRow {
  int id;
  Kind kind;
  int x, y, width, height;
  Anchor anchor;
};
// id, kind, x, y, width, height, anchor
constexpr TemplateRow kTemplate[] = {
    {kIdRead, Kind::Button, 15, 54, 73, 13, Anchor::Table},
    {kIdCopyDevice, Kind::Button, 15, 66, 73, 13, Anchor::Table},
    {kIdSaveFile, Kind::Button, 87, 54, 73, 13, Anchor::Table},
    {kIdWrite, Kind::Button, 87, 66, 73, 13, Anchor::Table},
    {kIdLoadFile, Kind::Button, 159, 54, 73, 13, Anchor::Table},
    {kIdCopyFile, Kind::Button, 159, 66, 73, 13, Anchor::Table},
    {kIdReferencesLabel, Kind::Label, 363, 236, 67, 9, Anchor::BottomRight},
    {kIdReferences, Kind::Button, 434, 233, 54, 14, Anchor::BottomRight},
    {kIdRangeLabel, Kind::Label, 365, 252, 128, 9, Anchor::BottomRight},
    {kIdRangeUnit, Kind::Label, 368, 265, 47, 9, Anchor::BottomRight},
    {kIdRangeField, Kind::Edit, 419, 263, 24, 12, Anchor::BottomRight},
    {kIdRangeSet, Kind::Button, 448, 263, 42, 12, Anchor::BottomRight},
    {kIdQuit, Kind::DefaultButton, 11, 256, 60, 16, Anchor::BottomLeft},
};
constexpr QRect kParamFrameDlu(3, 23, 351, 258);
constexpr QRect kBeamFrameDlu(359, 23, 135, 258);
constexpr int kReferencesBottomDlu = 233 + 14;
constexpr int kActiveBeamsBottomDlu = 222 + 10;
constexpr int kFrameInsideDlu = 2;  // a label keeps this far from its group box's edge
constexpr int kLabelGapPx = 2;      // between a label and the control it names

// The command buttons across the top, per device type, in their order.
enum class ButtonStyle { Push, Toggle };
struct CommandButtonRow {
  int id;
  ButtonStyle style;
};
constexpr CommandButtonRow kTg5Buttons[] = {{kIdNormalMode, ButtonStyle::Push},
                                            {kIdSelfTest, ButtonStyle::Push},
                                            {kIdPower, ButtonStyle::Toggle},
                                            {kIdSignalTest, ButtonStyle::Push},
                                            {kIdFirmware, ButtonStyle::Push}};
constexpr CommandButtonRow kJovixButtons[] = {{kIdNormalMode, ButtonStyle::Push},
                                              {kIdSelfTest, ButtonStyle::Push},
                                              {kIdSelfCalibration, ButtonStyle::Push},
                                              {kIdFirmware, ButtonStyle::Push}};
constexpr int kButtonLeft = 8;       // pixels from the client area's left edge
constexpr int kButtonTop = 2;        // pixels below its top
constexpr int kButtonHeight = 24;    // pixels
constexpr int kButtonPadding = 8;    // added to the caption's width
constexpr int kButtonGap = 4;        // between two buttons
constexpr int kButtonRightKeep = 8;  // no button passes the client width less this
constexpr int kAmpersandShift = 5;   // a caption with its own "&" starts further right

// Menus: pull-down id, then its items (0: separator), per device type.
struct MenuRow {
  int pullDown;
  std::vector<int> items;
};
const std::vector<MenuRow> kTg5Menu = {
    {kIdMenuFile, {kIdSettings, kIdLoadConfig, kIdHistory, kIdExit}},
    {kIdMenuSelfTest, {kIdSelfTest, kIdSignalTest}},
    {kIdMenuHelp, {kIdHelp, kIdTooltips, 0, kIdAbout}}};
const std::vector<MenuRow> kJovixMenu = {
    {kIdMenuFile, {kIdSettings, kIdLoadConfig, kIdHistory, kIdExit}},
    {kIdMenuSelfTest, {kIdSelfTest, kIdSelfCalibration}},
    {kIdMenuHelp, {kIdHelp, kIdTooltips, 0, kIdAbout}}};

// The object name of the pull-downs BuildMenu makes (children of the menu bar).
const QString kPullDownName = QStringLiteral("pullDown");

// The status bar hint of a menu item.
const char* MenuHintId(int id) {
  switch (id) {
    case kIdPower:
      return "MenuPower";
    case kIdFirmware:
      return "MenuFlash";
    case kIdNormalMode:
      return "MenuNormalMode";
    case kIdSettings:
      return "MenuProperties";
    case kIdSelfTest:
      return "MenuSTest";
    case kIdSelfCalibration:
      return "MenuCTest";
    case kIdSignalTest:
      return "MenuTestrunde";
    case kIdHelp:
      return "MenuHelp";
    case kIdAbout:
      return "MenuAbout";
    case kIdExit:
      return "MenuExit";
    case kIdLoadConfig:
      return "MenuParLoad";
    case kIdHistory:
      return "MenuHistory";
    case kIdTooltips:
      return "MenuTooltips";
    default:
      return nullptr;
  }
}

// Table columns.
enum Column { kColName = 0, kColDevice = 1, kColEdit = 2, kColFile = 3 };
constexpr double kValueColumnShare = 4.8;  // each value column gets W / 4.8
constexpr int kTableShortenPx = 44;        // room for the six buttons under the table
constexpr int kTableButtonHeight = 22;
constexpr int kTableButtonFirstGap = 3;
constexpr int kTableButtonStep = 21;

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
  baseClient_ = QSize(units_.X(kClientWidthDlu), units_.Y(kClientHeightDlu));
  client_.setMinimumSize(baseClient_);
  client_.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
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

QPushButton* MainWindow::AddButton(int id, QWidget* parent, const QRect& place) {
  auto* button = new QPushButton(parent);
  button->setGeometry(place);
  // A focused push button takes Enter and runs its own command; Enter elsewhere goes to the
  // window's default button (Quit).
  button->setAutoDefault(true);
  connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
  controls_[id] = button;
  return button;
}

QLabel* MainWindow::AddLabel(int id, QWidget* parent, const QRect& place) {
  auto* label = new QLabel(parent);
  label->setGeometry(place);
  label->setTextFormat(Qt::PlainText);
  controls_[id] = label;
  return label;
}

void MainWindow::CreateTemplateControls() {
  for (const TemplateRow& row : kTemplate) {
    QRect place = units_.Rect(row.x, row.y, row.width, row.height);
    switch (row.kind) {
      case Kind::Button:
        AddButton(row.id, &client_, place);
        break;
      case Kind::DefaultButton: {
        QPushButton* button = AddButton(row.id, &client_, place);
        button->setDefault(true);
        break;
      }
      case Kind::Label:
        AddLabel(row.id, &client_, place);
        break;
      case Kind::Edit: {
        auto* edit = new QLineEdit(&client_);
        edit->setGeometry(place);
        controls_[row.id] = edit;
        break;
      }
      case Kind::Frame: {
        auto* frame = new QGroupBox(&client_);
        frame->setGeometry(place);
        frame->lower();
        controls_[row.id] = frame;
        break;
      }
    }
  }
  auto place = [this](const QRect& dlu) {
    return units_.Rect(dlu.x(), dlu.y(), dlu.width(), dlu.height());
  };
  paramTable_.setGeometry(place(kParamFrameDlu));
  beamPanel_.setGeometry(place(kBeamFrameDlu));
  paramTable_.lower();
  beamPanel_.lower();
  controls_[kIdParamFrame] = &paramTable_;
  controls_[kIdParamTable] = paramTable_.List();
  controls_[kIdBeamFrame] = &beamPanel_;
  controls_[kIdBeamList] = beamPanel_.List();
  controls_[kIdBeamExclude] = beamPanel_.RangeField();
  controls_[kIdActiveBeams] = beamPanel_.ActiveBeamsText();
  paramTable_.SetCommandButtons(static_cast<QPushButton*>(controls_[kIdRead]),
                                static_cast<QPushButton*>(controls_[kIdCopyDevice]),
                                static_cast<QPushButton*>(controls_[kIdSaveFile]),
                                static_cast<QPushButton*>(controls_[kIdWrite]),
                                static_cast<QPushButton*>(controls_[kIdLoadFile]),
                                static_cast<QPushButton*>(controls_[kIdCopyFile]));
  beamPanel_.SetDeviceControls(
      {controls_[kIdRangeField], controls_[kIdRangeSet], controls_[kIdReferences]});
  connect(&paramTable_, &ui::ParameterTable::copyValueRequested, this,
          [this](int command, int row) {
            paramTable_.CopyOneValue(command, row);
            UpdateEnabling();
          });
  connect(&paramTable_, &ui::ParameterTable::cancelRequested, this, [this] { ExitQuery(1); });
  connect(&beamPanel_, &ui::BeamPanel::cancelRequested, this, [this] { ExitQuery(1); });
  connect(&paramTable_, &ui::ParameterTable::hintChanged, this,
          [this](const QString& hint) { status_.SetHint(hint); });
  connect(&paramTable_, &ui::ParameterTable::editFinished, this, [this] { UpdateEnabling(); });
  connect(&beamPanel_, &ui::BeamPanel::beamsChanged, this, [this] { UpdateEnabling(); });
  connect(&beamPanel_, &ui::BeamPanel::commandRequested, this, [this](int id) { Command(id); });
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);  // the layout has sized the client area already
  ArrangeClient();
}

void MainWindow::ArrangeClient() {
  // Room beyond the default size: the parameter frame takes it (wider and taller); the beam
  // panel keeps its width at the right edge and grows downwards; the other controls keep their
  // distance to the corner they belong to.
  const int dx = std::max(0, client_.width() - baseClient_.width());
  const int dy = std::max(0, client_.height() - baseClient_.height());
  auto place = [this](const QRect& dlu) {
    return units_.Rect(dlu.x(), dlu.y(), dlu.width(), dlu.height());
  };
  paramTable_.setGeometry(place(kParamFrameDlu).adjusted(0, 0, dx, dy));
  beamPanel_.SetGrowth(dy);
  beamPanel_.setGeometry(place(kBeamFrameDlu).translated(dx, 0).adjusted(0, 0, 0, dy));
  for (const TemplateRow& row : kTemplate) {
    const QRect home = units_.Rect(row.x, row.y, row.width, row.height);
    QWidget* widget = controls_[row.id];
    switch (row.anchor) {
      case Anchor::Table:
        break;
      case Anchor::BottomLeft:
        widget->move(home.topLeft() + QPoint(0, dy));
        break;
      case Anchor::BottomRight:
        widget->move(home.topLeft() + QPoint(dx, dy));
        break;
    }
  }
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
    if (!ExpertMode()) {
      controls_[kIdReferences]->hide();
      controls_[kIdReferencesLabel]->hide();
      // The template's bottoms of the reference button (146) and the active beams text (134).
      beamPanel_.MoveLowerControls(units_.Y(kReferencesBottomDlu) -
                                   units_.Y(kActiveBeamsBottomDlu));
    }
    beamPanel_.States().fill(kBeamActive);
  }
  paramTable_.RefreshTable();
  paramTable_.List()->setFocus();
}

void MainWindow::BuildMenu() {
  // The pull-downs of an earlier set-up go with their actions; later, since a language change
  // may come from inside one of their items' triggered signal (File -> Settings).
  for (QMenu* menu : menuBar_.findChildren<QMenu*>(kPullDownName, Qt::FindDirectChildrenOnly))
    menu->deleteLater();
  menuBar_.clear();
  actions_.clear();
  const std::vector<MenuRow>& rows = DeviceType() == kDeviceJovix ? kJovixMenu : kTg5Menu;
  for (const MenuRow& row : rows) {
    QMenu* menu = menuBar_.addMenu(Menu(static_cast<uint32_t>(row.pullDown)));
    menu->setObjectName(kPullDownName);
    actions_[row.pullDown] = menu->menuAction();
    connect(menu->menuAction(), &QAction::hovered, this, [this] { status_.SetHint(QString()); });
    for (int id : row.items) {
      if (id == 0) {
        menu->addSeparator();
        continue;
      }
      QAction* action = menu->addAction(Menu(static_cast<uint32_t>(id)));
      action->setCheckable(id == kIdTooltips);
      connect(action, &QAction::triggered, this, [this, id] { Command(id); });
      connect(action, &QAction::hovered, this,
              [this, id] { status_.SetHint(Msg(MenuHintId(id))); });
      actions_[id] = action;
    }
  }
}

void MainWindow::CreateCommandButtons() {
  for (auto& [id, button] : commandButtons_) delete button;
  commandButtons_.clear();
  const bool jovix = DeviceType() == kDeviceJovix;
  const CommandButtonRow* rows = jovix ? kJovixButtons : kTg5Buttons;
  const size_t count = jovix ? std::size(kJovixButtons) : std::size(kTg5Buttons);
  QFontMetrics metrics(font_);
  int x = kButtonLeft;
  const int limit = client_.width() - kButtonRightKeep;
  for (size_t i = 0; i < count; ++i) {
    QString caption = Control(100, static_cast<uint32_t>(rows[i].id));
    int left = x;
    if (caption.contains(QLatin1Char('&'))) {
      left += kAmpersandShift;
    } else {
      caption = QStringLiteral("&%1 %2").arg(i + 1).arg(caption);
    }
    QString shown = caption;
    shown.remove(QLatin1Char('&'));
    int width = metrics.horizontalAdvance(shown) + kButtonPadding;
    if (left + width > limit) break;
    auto* button = new QPushButton(caption, &client_);
    button->setFont(font_);
    button->setAutoDefault(true);  // Enter on the focused button runs its command
    button->setGeometry(left, kButtonTop, width, kButtonHeight);
    button->setCheckable(rows[i].style == ButtonStyle::Toggle);
    const int id = rows[i].id;
    connect(button, &QPushButton::clicked, this, [this, id] { Command(id); });
    button->show();
    commandButtons_[id] = button;
    x = left + width + kButtonGap;
  }
}

void MainWindow::TranslateControls() {
  for (auto& [id, widget] : controls_) {
    if (id == kIdParamFrame || id == kIdBeamFrame || id == kIdActiveBeams) continue;
    QString text = Control(100, static_cast<uint32_t>(id));
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
      button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
      label->setText(text);
    }
  }
  FitLabels();
}

QRect MainWindow::TemplatePlace(int id) const {
  for (const TemplateRow& row : kTemplate) {
    if (row.id == id) return units_.Rect(row.x, row.y, row.width, row.height);
  }
  return QRect();
}

void MainWindow::FitLabels() {
  // The labels before the range field (142) and the beam reference button (145): a text wider in
  // this font than the template's place takes the room up to that control, then grows to the
  // left, right-aligned, as far as the beam frame's inside; the reference button, last in its
  // row, moves right as far as the frame allows when that is still not enough.
  struct LabelRow {
    int label, next;
    bool nextMayMove;
  };
  const LabelRow rows[] = {{kIdRangeUnit, kIdRangeField, false},
                           {kIdReferencesLabel, kIdReferences, true}};
  const int inside = beamPanel_.x() + units_.X(kFrameInsideDlu);
  const int insideRight = beamPanel_.geometry().right() - units_.X(kFrameInsideDlu);
  for (const LabelRow& row : rows) {
    auto* label = qobject_cast<QLabel*>(ControlById(row.label));
    QWidget* control = ControlById(row.next);
    if (label == nullptr || control == nullptr) continue;
    const QRect place = TemplatePlace(row.label);
    QRect controlPlace = TemplatePlace(row.next);
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin();
    const int left = std::max(inside, std::min(place.left(), place.right() + 1 - needed));
    const int missing = needed - (controlPlace.left() - kLabelGapPx - left);
    if (row.nextMayMove && missing > 0) {
      controlPlace.translate(std::min(missing, std::max(0, insideRight - controlPlace.right())), 0);
    }
    control->setGeometry(controlPlace);
    const int right = std::max(place.right(), controlPlace.left() - kLabelGapPx - 1);
    label->setGeometry(left, place.y(), right + 1 - left, place.height());
    label->setAlignment(left < place.left() ? Qt::AlignRight | Qt::AlignVCenter
                                            : Qt::AlignLeft | Qt::AlignVCenter);
  }
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
  if (type == kDeviceJovix) {
    if (QWidget* signal = ControlById(kIdSignalTest)) signal->hide();
    if (!narrowed_) {
      narrowed_ = true;
      int centre = frameGeometry().center().x();
      const QRect frame = units_.Rect(kParamFrameDlu.x(), kParamFrameDlu.y(),
                                      kParamFrameDlu.width(), kParamFrameDlu.height());
      const int narrower = baseClient_.width() - (frame.left() + frame.right() + 1);
      baseClient_.setWidth(frame.left() + frame.right() + 1);
      client_.setMinimumWidth(baseClient_.width());
      beamPanel_.hide();
      // The beam panel's neighbours in the template lie outside the narrowed window.
      for (int id : {kIdReferencesLabel, kIdReferences, kIdRangeLabel, kIdRangeUnit, kIdRangeField,
                     kIdRangeSet}) {
        controls_[id]->hide();
      }
      layout()->activate();
      resize(std::max(minimumWidth(), width() - narrower), height());
      move(centre - frameGeometry().width() / 2, y());
    }
  }
  TranslateControls();
  beamPanel_.Retranslate();
  CreateCommandButtons();
  auto dropAction = [this](int id) {
    auto found = actions_.find(id);
    if (found == actions_.end()) return;
    for (QObject* owner : found->second->associatedObjects()) {
      if (auto* widget = qobject_cast<QWidget*>(owner)) widget->removeAction(found->second);
    }
    delete found->second;
    actions_.erase(found);
  };
  auto setShown = [this](int id, bool shown) {
    if (QPushButton* button = CommandButton(id)) button->setVisible(shown);
  };
  if (type == kDeviceTG5) {
    bool expert = ExpertMode();
    for (int id : {kIdPower, kIdFirmware, kIdSignalTest}) setShown(id, expert);
    if (expert) {
      SetBatchState(kBatchOffered, true);
      // Off at start; a language change rebuilds the window but keeps what the user chose.
      if (!initialised_) SetBatchState(kBatchOn, false);
    } else {
      dropAction(kIdSignalTest);
    }
  }
  if (!rulesLoaded_) {
    setShown(kIdSelfTest, false);
    setShown(kIdSelfCalibration, false);
    dropAction(kIdSelfTest);
    dropAction(kIdSelfCalibration);
  }
  auto selfTestMenu = actions_.find(kIdMenuSelfTest);
  if (selfTestMenu != actions_.end() && selfTestMenu->second->menu()->actions().isEmpty()) {
    menuBar_.removeAction(selfTestMenu->second);
    actions_.erase(selfTestMenu);
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

QWidget* MainWindow::ControlById(int id) const {
  auto found = controls_.find(id);
  if (found != controls_.end()) return found->second;
  return CommandButton(id);
}

QPushButton* MainWindow::CommandButton(int id) const {
  auto found = commandButtons_.find(id);
  return found == commandButtons_.end() ? nullptr : found->second;
}

QAction* MainWindow::MenuAction(int id) const {
  auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
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
  bool started = TheLink().StartLink(port, &sink_, LinkConfigFromProgram());
  openError_ = started ? 0 : Serial_GetLastError();
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
  if (TheLink().StartLink(back, &sink_, LinkConfigFromProgram())) {
    openError_ = 0;
    adapter_.Remember(remembered);
  } else {
    // Not usable yet (udev gives the device its group a moment later): watch on.
    openError_ = Serial_GetLastError();
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
  if (openError_ != 0) text += "\n\n" + port + ": " + PortOpenFailureText(openError_, port);
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

void MainWindow::Command(int id) {
  DutLink& link = TheLink();
  switch (id) {
    case kIdEscape:
    case kIdExit:
      ExitQuery(1);
      return;
    case kIdQuit: {
      QWidget* focus = focusWidget();
      if (focus != nullptr && focus == controls_[kIdBeamExclude]) {
        Command(kIdDeactivate);
      } else if (focus != nullptr && focus == controls_[kIdRangeField]) {
        Command(kIdRangeSet);
      } else {
        ExitQuery(1);
      }
      return;
    }
    case kIdLoadConfig:
    case kIdLoadFile:
      LoadParameterFileCommand(std::string());
      break;
    case kIdRead:
      link.ResetPages(-1);
      link.RequestCommand(CMD_READ, 0);
      break;
    case kIdCopyDevice:
      SyncDeviceImage();
      if (link.ConfigValid()) paramTable_.CopyDeviceToEditColumn();
      break;
    case kIdSaveFile:
      SaveParameterFileCommand();
      break;
    case kIdWrite:
      WriteEdits();
      break;
    case kIdCopyFile:
      paramTable_.CopyFileToEditColumn();
      break;
    case kIdAllBeams:
      beamPanel_.ActivateAll();
      break;
    case kIdDeactivate:
      beamPanel_.DeactivateRangeText();
      break;
    case kIdBeamWrite:
      WriteBeams();
      break;
    case kIdBeamRead:
      SyncDeviceImage();
      beamPanel_.TakeFromDevice();
      break;
    case kIdRangeSet:
      ApplyRangePreset(link, *static_cast<QLineEdit*>(controls_[kIdRangeField]));
      break;
    case kIdReferences: {
      SyncDeviceImage();
      ReferencesDialog references(this, link);
      if (references.Open()) references.exec();
      break;
    }
    case kIdCopyFileValue:
    case kIdCopyDeviceValue:
      paramTable_.CopyOneValue(id, paramTable_.List()->CurrentRow());
      break;
    case kIdPower:
      link.TogglePower();
      break;
    case kIdFirmware:
      FirmwareUpdate();
      break;
    case kIdNormalMode:
      link.RequestCommand(CMD_LEAVE, 0);
      break;
    case kIdSettings:
      OpenSettings();
      return;
    case kIdHistory:
      OpenHistory();
      return;
    case kIdSelfTest:
    case kIdSelfCalibration:
      link.SetAbortRequest(false);
      link.RequestCommand(CMD_SELFTEST, id == kIdSelfTest ? kSelfTestChar : kSelfCalibrationChar);
      break;
    case kIdSignalTest: {
      SignalDialog signal(this, link);
      signal.exec();
      break;
    }
    case kIdHelp:
      OpenHelp();
      break;
    case kIdAbout:
      OpenAbout();
      break;
    case kIdTooltips: {
      Settings settings = CurrentSettings();
      settings.enableToolTips = settings.enableToolTips ? 0 : 1;
      SetCurrentSettings(settings);
      break;
    }
    default:
      return;
  }
  UpdateEnabling();
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

int MainWindow::ControlIdOf(const QWidget* widget) const {
  for (const auto& [id, control] : controls_) {
    if (control == widget) return id;
  }
  for (const auto& [id, button] : commandButtons_) {
    if (button == widget) return id;
  }
  return 0;
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
  // The parameter list's rows show their descriptions (ui/parameter_table.cpp).
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

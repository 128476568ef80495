// The main window's controls: the controls of template 100, the command buttons across the top
// and the menus as row tables, their construction and places, their captions, and the command
// table that gives every command its handler. A control is connected to its command's handler
// where it is made; the handlers themselves and the enabling are in main_window.cpp.
#include "gui/main_window.h"

#include <QAbstractButton>
#include <QLayout>
#include <QMenu>

#include "base/translations.h"
#include "definitions/setup.h"

namespace lumo::gui {

namespace {

// Template 100, in dialog units.
constexpr int kClientWidthDlu = 497;
constexpr int kClientHeightDlu = 298;

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

}  // namespace

// ---- commands ----

const MainWindow::CommandRow* MainWindow::FindCommand(int id) {
  // id, handler, what follows it
  static constexpr CommandRow kCommands[] = {
      {kIdEscape, &MainWindow::ExitCommand, After::Nothing},
      {kIdExit, &MainWindow::ExitCommand, After::Nothing},
      {kIdQuit, &MainWindow::QuitCommand, After::Nothing},
      {kIdLoadConfig, &MainWindow::LoadFileCommand, After::UpdateEnabling},
      {kIdLoadFile, &MainWindow::LoadFileCommand, After::UpdateEnabling},
      {kIdRead, &MainWindow::ReadCommand, After::UpdateEnabling},
      {kIdCopyDevice, &MainWindow::CopyDeviceCommand, After::UpdateEnabling},
      {kIdSaveFile, &MainWindow::SaveFileCommand, After::UpdateEnabling},
      {kIdWrite, &MainWindow::WriteEdits, After::UpdateEnabling},
      {kIdCopyFile, &MainWindow::CopyFileCommand, After::UpdateEnabling},
      {kIdAllBeams, &MainWindow::AllBeamsCommand, After::UpdateEnabling},
      {kIdDeactivate, &MainWindow::DeactivateCommand, After::UpdateEnabling},
      {kIdBeamWrite, &MainWindow::WriteBeams, After::UpdateEnabling},
      {kIdBeamRead, &MainWindow::BeamReadCommand, After::UpdateEnabling},
      {kIdRangeSet, &MainWindow::RangeSetCommand, After::UpdateEnabling},
      {kIdReferences, &MainWindow::ReferencesCommand, After::UpdateEnabling},
      {kIdCopyFileValue, &MainWindow::CopyFileValueCommand, After::UpdateEnabling},
      {kIdCopyDeviceValue, &MainWindow::CopyDeviceValueCommand, After::UpdateEnabling},
      {kIdPower, &MainWindow::PowerCommand, After::UpdateEnabling},
      {kIdFirmware, &MainWindow::FirmwareUpdate, After::UpdateEnabling},
      {kIdNormalMode, &MainWindow::NormalModeCommand, After::UpdateEnabling},
      {kIdSettings, &MainWindow::OpenSettings, After::Nothing},
      {kIdHistory, &MainWindow::OpenHistory, After::Nothing},
      {kIdSelfTest, &MainWindow::SelfTestCommand, After::UpdateEnabling},
      {kIdSelfCalibration, &MainWindow::SelfCalibrationCommand, After::UpdateEnabling},
      {kIdSignalTest, &MainWindow::SignalTestCommand, After::UpdateEnabling},
      {kIdHelp, &MainWindow::OpenHelp, After::UpdateEnabling},
      {kIdAbout, &MainWindow::OpenAbout, After::UpdateEnabling},
      {kIdTooltips, &MainWindow::TooltipsCommand, After::UpdateEnabling},
  };
  for (const CommandRow& row : kCommands) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

void MainWindow::RunCommand(const CommandRow& row) {
  (this->*row.run)();
  if (row.after == After::UpdateEnabling) UpdateEnabling();
}

void MainWindow::Command(int id) {
  if (const CommandRow* row = FindCommand(id)) RunCommand(*row);
}

void MainWindow::ConnectCommand(QAbstractButton* button, int id) {
  if (const CommandRow* row = FindCommand(id))
    connect(button, &QAbstractButton::clicked, this, [this, row] { RunCommand(*row); });
}

void MainWindow::ConnectCommand(QAction* action, int id) {
  if (const CommandRow* row = FindCommand(id))
    connect(action, &QAction::triggered, this, [this, row] { RunCommand(*row); });
}

// ---- the controls of template 100 ----

QPushButton* MainWindow::AddButton(int id, QWidget* parent, const QRect& place) {
  auto* button = new QPushButton(parent);
  button->setGeometry(place);
  // A focused push button takes Enter and runs its own command; Enter elsewhere goes to the
  // window's default button (Quit).
  button->setAutoDefault(true);
  ConnectCommand(button, id);
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
  baseClient_ = QSize(units_.X(kClientWidthDlu), units_.Y(kClientHeightDlu));
  client_.setMinimumSize(baseClient_);
  client_.setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
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

QRect MainWindow::TemplatePlace(int id) const {
  for (const TemplateRow& row : kTemplate) {
    if (row.id == id) return units_.Rect(row.x, row.y, row.width, row.height);
  }
  return QRect();
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

void MainWindow::HideReferenceControls() {
  controls_[kIdReferences]->hide();
  controls_[kIdReferencesLabel]->hide();
  // The template's bottoms of the reference button (146) and the active beams text (134).
  beamPanel_.MoveLowerControls(units_.Y(kReferencesBottomDlu) - units_.Y(kActiveBeamsBottomDlu));
}

void MainWindow::NarrowForJoystick() {
  if (QWidget* signal = ControlById(kIdSignalTest)) signal->hide();
  if (narrowed_) return;
  narrowed_ = true;
  int centre = frameGeometry().center().x();
  const QRect frame = units_.Rect(kParamFrameDlu.x(), kParamFrameDlu.y(), kParamFrameDlu.width(),
                                  kParamFrameDlu.height());
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

// ---- menus and command buttons ----

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
      ConnectCommand(action, id);
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
    ConnectCommand(button, id);
    button->show();
    commandButtons_[id] = button;
    x = left + width + kButtonGap;
  }
}

void MainWindow::OfferCommands(bool expert) {
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
  if (DeviceType() == kDeviceTG5) {
    for (int id : {kIdPower, kIdFirmware, kIdSignalTest}) setShown(id, expert);
    if (!expert) dropAction(kIdSignalTest);
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
}

// ---- lookups ----

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

}  // namespace lumo::gui

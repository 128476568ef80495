#include "gui/settings_dialog.h"

#include <QAbstractItemView>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>
#include <cstring>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "gui/widgets/text_room.h"
#include "link/port_names.h"
#include "platform/file_system.h"

namespace lumo::gui {

namespace {

// Template 300, in dialog units.
constexpr int kDialogWidthDlu = 219;
constexpr int kDialogHeightDlu = 199;
// Expert mode: the line trace row and the verified reads row below the buttons.
constexpr int kExpertRowsDlu = 32;
// After the first change of a plug-in, the list is read once this much later: udev makes the
// device file, then its links and permissions, within a few tens of milliseconds.
constexpr int kPortSettleMs = 150;

// The trace row's texts (no rows of the translation tables: the row is ours).
const char* TraceCaption() {
  return CurrentLanguage() == kLangGerman ? "Leitungsprotokoll:" : "Line trace file:";
}
const char* TraceTooltip() {
  return CurrentLanguage() == kLangGerman
             ? "Jedes Byte auf der Leitung mit Zeitstempel und die Meldungen der Verbindung "
               "werden in diese Datei geschrieben; leer: kein Protokoll."
             : "Every byte on the line, with a time stamp, and the link's events are written to "
               "this file; empty: no trace.";
}
const char* VerifyCaption() {
  return CurrentLanguage() == kLangGerman ? "Jede Seite zweimal lesen und vergleichen"
                                          : "Read every page twice and compare";
}
const char* VerifyTooltip() {
  return CurrentLanguage() == kLangGerman
             ? "Ein auf der Leitung verf\xE4lschtes Byte f\xE4llt beim Lesen sonst nicht auf (die "
               "Antwort hat keine Pr\xFC"
               "fsumme). Das Lesen dauert doppelt so lange. Nach dem "
               "Schreiben wird immer zweimal gelesen."
             : "A byte corrupted on the line is otherwise not noticed on reading (the reply has "
               "no checksum). Reading takes twice as long. The read after a write always reads "
               "twice.";
}

// The first entry of the port list: no port.
inline constexpr const char* kOffline = "offline";
// A port name longer than this gives no port (it could only be a cut-off name).
constexpr size_t kMaxPortNameChars = kPortNameChars;
// Characters that may be typed into the port field. Device paths on this system are longer
// than the classic "COMn" names, so the field takes what the setting can hold.
constexpr int kPortFieldChars = static_cast<int>(kPortNameChars);
constexpr int kFileFieldChars = static_cast<int>(kKonfFileChars);
constexpr int kFolderIconPx = 16;
constexpr int kListMarginPx = 24;  // room for the open list's frame and scroll bar
// A caption that grows for its text keeps this far from the dialog's and its group's edges,
// and this far from its neighbour.
constexpr int kTextRoomMarginDlu = 4;
constexpr int kTextRoomGapPx = 2;

// The languages the list offers, in its (sorted) order, as the setting stores them.
inline constexpr const char* kLanguages[] = {"English", "German"};
inline constexpr const char* kNeutral = "NEUTRAL";

// Check boxes that stand for one flag of the settings record each.
//   id, flag, x, y, width, height (dialog units)
// Further options (for example expert-only ones) get a row here and a place below 318.
struct FlagBoxRow {
  int id;
  uint8_t Settings::*flag;
  int x, y, width, height;
};
constexpr FlagBoxRow kFlagBoxes[] = {
    {kSetTooltips, &Settings::enableToolTips, 6, 34, 200, 10},
    {kSetAutoRead, &Settings::autoReadConf, 6, 46, 200, 10},
    {kSetAutoCopy, &Settings::autoCopyConf, 6, 58, 200, 10},
    {kSetShowOnStart, &Settings::propertiesOnStart, 6, 164, 200, 10},
};

// The remaining controls: id, place in dialog units.
struct PlaceRow {
  int id;
  int x, y, width, height;
};
constexpr PlaceRow kPlaces[] = {
    {kSetPortLabel, 37, 8, 34, 9},        {kSetPort, 76, 6, 100, 41},
    {kSetBatch, 6, 70, 154, 10},          {kSetFileGroup, 6, 88, 207, 38},
    {kSetFile, 16, 103, 157, 12},         {kSetBrowse, 179, 103, 25, 12},
    {kSetLanguageGroup, 6, 129, 208, 28}, {kSetSystemLanguage, 16, 141, 90, 10},
    {kSetLanguageList, 118, 138, 91, 49}, {kSetSave, 6, 181, 91, 14},
    {kSetOk, 115, 181, 49, 14},           {kSetCancel, 167, 181, 46, 14},
};

// The port a name reaches, links resolved: a stable name under /dev/serial/by-id/ and the kernel
// name it leads to are one port; a simulated device's name (in any case) is its own.
std::string Normalized(const std::string& name) {
  const std::string path = PortPathOf(name);
  return path.empty() || path[0] != '/' ? path : KernelDevicePath(path);
}

bool StartsWithNoCase(const QString& text, const QString& start) {
  return !start.isEmpty() && text.startsWith(start, Qt::CaseInsensitive);
}

}  // namespace

QEvent::Type LanguageChangeEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

std::vector<PortEntry> SystemPortList() {
  std::vector<PortEntry> entries;
  for (const SerialPortInfo& port : ListSerialPorts()) {
    // An adapter with a stable name is kept by it (it finds the adapter again whatever ttyUSBn it
    // gets); the kernel name goes in front of the description.
    if (port.stableName.empty()) {
      entries.push_back({port.path, port.description});
    } else {
      std::string kernel = port.path.substr(port.path.find_last_of('/') + 1);
      entries.push_back({port.stableName, kernel + ": " + port.description});
    }
  }
  return entries;
}

bool SamePortName(const std::string& a, const std::string& b) {
  std::string left = Normalized(a);
  return !left.empty() && left == Normalized(b);
}

SettingsDialog::SettingsDialog(QObject* languageTarget, QWidget* parent, PortLister ports)
    : QDialog(parent),
      languageTarget_(languageTarget),
      font_(DialogFont()),
      units_(font_),
      portLabel_(this),
      port_(this),
      fileGroup_(this),
      file_(this),
      browse_(this),
      languageGroup_(this),
      systemLanguage_(this),
      languageList_(this),
      save_(this),
      ok_(this),
      cancel_(this),
      traceLabel_(this),
      traceFile_(this),
      verifyReads_(this),
      expert_((CurrentStartupPaths().startFlags & kStartExpert) != 0) {
  setFont(font_);
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(units_.X(kDialogWidthDlu),
               units_.Y(kDialogHeightDlu + (expert_ ? kExpertRowsDlu : 0)));
  CreateControls();
  Translate();
  lister_ = ports ? ports : PortLister(SystemPortList);
  FillPorts(lister_);
  FillFromSettings();
  portSettle_.setSingleShot(true);
  portSettle_.setInterval(kPortSettleMs);
  connect(&portSettle_, &QTimer::timeout, this, &SettingsDialog::RefreshPorts);
  if (portWatch_.Fd() >= 0) {
    portNotifier_ = std::make_unique<QSocketNotifier>(portWatch_.Fd(), QSocketNotifier::Read);
    connect(portNotifier_.get(), &QSocketNotifier::activated, this, [this] {
      if (portWatch_.Drain()) portSettle_.start();
    });
  }
  FillLanguage();
  openingLanguage_ = CurrentSettings().language;
}

void SettingsDialog::CreateControls() {
  for (const FlagBoxRow& row : kFlagBoxes) {
    auto* box = new QCheckBox(this);
    box->setGeometry(units_.Rect(row.x, row.y, row.width, row.height));
    checkBoxes_[row.id] = box;
  }
  // The batch box and the two boxes the template keeps hidden.
  checkBoxes_[kSetBatch] = new QCheckBox(this);
  for (int id : {kSetHidden1, kSetHidden2}) {
    auto* hidden = new QCheckBox(this);
    hidden->hide();
    checkBoxes_[id] = hidden;
  }
  for (const PlaceRow& row : kPlaces) {
    if (QWidget* control = ControlById(row.id)) {
      control->setGeometry(units_.Rect(row.x, row.y, row.width, row.height));
    }
  }
  // A drop-down combo box: its template height includes the list, the field is one line.
  port_.setFixedHeight(file_.sizeHint().height());
  port_.resize(units_.X(100), port_.height());
  languageList_.resize(units_.X(91), languageList_.sizeHint().height());
  fileGroup_.lower();
  languageGroup_.lower();

  port_.setEditable(true);
  port_.setInsertPolicy(QComboBox::NoInsert);
  port_.lineEdit()->setMaxLength(kPortFieldChars);
  file_.setMaxLength(kFileFieldChars);
  browse_.setIcon(style()->standardIcon(QStyle::SP_DirIcon));
  browse_.setIconSize(QSize(kFolderIconPx, kFolderIconPx));
  portLabel_.setBuddy(&port_);
  for (QPushButton* button : {&browse_, &save_, &cancel_}) button->setAutoDefault(false);
  ok_.setDefault(true);

  connect(checkBoxes_[kSetBatch], &QCheckBox::toggled, this, &SettingsDialog::OnBatchToggled);
  connect(&systemLanguage_, &QCheckBox::toggled, this, &SettingsDialog::OnSystemToggled);
  connect(&languageList_, &QComboBox::currentTextChanged, this,
          [this](const QString& text) { SetLanguageName(text); });
  connect(&browse_, &QPushButton::clicked, this, &SettingsDialog::Browse);
  connect(&save_, &QPushButton::clicked, this, &SettingsDialog::Save);
  connect(&ok_, &QPushButton::clicked, this, &SettingsDialog::Ok);
  connect(&cancel_, &QPushButton::clicked, this, &SettingsDialog::reject);

  for (QObject* child : children()) {
    if (child->isWidgetType()) child->installEventFilter(this);
  }
  port_.lineEdit()->installEventFilter(this);

  traceLabel_.setGeometry(units_.Rect(6, 201, 66, 9));
  traceFile_.setGeometry(units_.Rect(76, 199, 137, 12));
  traceFile_.setMaxLength(kFileFieldChars);
  traceLabel_.setBuddy(&traceFile_);
  traceLabel_.setVisible(expert_);
  traceFile_.setVisible(expert_);
  verifyReads_.setGeometry(units_.Rect(6, 215, 207, 10));
  verifyReads_.setVisible(expert_);
  verifyReads_.installEventFilter(this);
}

QWidget* SettingsDialog::ControlById(int id) const {
  switch (id) {
    case kSetOk:
      return const_cast<QPushButton*>(&ok_);
    case kSetCancel:
      return const_cast<QPushButton*>(&cancel_);
    case kSetPortLabel:
      return const_cast<QLabel*>(&portLabel_);
    case kSetPort:
      return const_cast<QComboBox*>(&port_);
    case kSetFileGroup:
      return const_cast<QGroupBox*>(&fileGroup_);
    case kSetFile:
      return const_cast<QLineEdit*>(&file_);
    case kSetBrowse:
      return const_cast<QPushButton*>(&browse_);
    case kSetLanguageGroup:
      return const_cast<QGroupBox*>(&languageGroup_);
    case kSetSystemLanguage:
      return const_cast<QCheckBox*>(&systemLanguage_);
    case kSetLanguageList:
      return const_cast<QComboBox*>(&languageList_);
    case kSetSave:
      return const_cast<QPushButton*>(&save_);
    case kSetTraceLabel:
      return const_cast<QLabel*>(&traceLabel_);
    case kSetTraceFile:
      return const_cast<QLineEdit*>(&traceFile_);
    case kSetVerifyReads:
      return const_cast<QCheckBox*>(&verifyReads_);
    default:
      return CheckBox(id);
  }
}

QCheckBox* SettingsDialog::CheckBox(int id) const {
  if (id == kSetSystemLanguage) return const_cast<QCheckBox*>(&systemLanguage_);
  auto found = checkBoxes_.find(id);
  return found == checkBoxes_.end() ? nullptr : found->second;
}

void SettingsDialog::Translate() {
  setWindowTitle(FromCp1252(ControlText(TranslationVariant(), 0, 300, 0)));
  traceLabel_.setText(FromCp1252(TraceCaption()));
  verifyReads_.setText(FromCp1252(VerifyCaption()));
  // Every control with a caption row gets it; edit fields and lists keep their contents.
  for (int id :
       {kSetPortLabel, kSetTooltips, kSetAutoRead, kSetAutoCopy, kSetBatch, kSetFileGroup,
        kSetLanguageGroup, kSetSystemLanguage, kSetShowOnStart, kSetSave, kSetOk, kSetCancel}) {
    const char* text = ControlText(TranslationVariant(), 0, 300, static_cast<uint32_t>(id));
    if (text == nullptr) continue;
    QWidget* control = ControlById(id);
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
      button->setText(FromCp1252(text));
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
      label->setText(FromCp1252(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
      group->setTitle(FromCp1252(text));
    }
  }
  // A caption wider in this font than its template place takes the free room of its row.
  for (QObject* child : children()) {
    auto* control = qobject_cast<QWidget*>(child);
    if (control != nullptr && !control->isWindow())
      ui::GrowForText(*control, units_.X(kTextRoomMarginDlu), kTextRoomGapPx);
  }
}

void SettingsDialog::FillPorts(const PortLister& ports) {
  entries_ = ports();
  port_.addItem(QString::fromLatin1(kOffline));
  for (const PortEntry& entry : entries_) {
    QString shown = FromCp1252(entry.name);
    if (!entry.description.empty() && entry.description != entry.name) {
      shown += QStringLiteral("  (%1)").arg(QString::fromStdString(entry.description));
    }
    port_.addItem(shown);
  }
  // The open list is as wide as its longest entry, so that descriptions can be read.
  port_.view()->setMinimumWidth(port_.view()->sizeHintForColumn(0) + kListMarginPx);
}

void SettingsDialog::RefreshPorts() {
  const bool offline = port_.currentIndex() == 0;
  const std::string chosen = ChosenPortName();
  const QString typed = port_.currentText();
  port_.clear();
  FillPorts(lister_);
  if (offline || !chosen.empty()) {
    SelectStoredPort(offline ? std::string() : chosen);
  } else {
    port_.setCurrentIndex(-1);
    port_.setEditText(typed);
  }
}

void SettingsDialog::SelectStoredPort(const std::string& stored) {
  const std::string name = stored.empty() ? std::string(kOffline) : stored;
  int found = -1;
  if (name == kOffline) {
    found = 0;
  } else {
    // The entry for the same device; only an exact match counts, so that a stored
    // "/dev/ttyUSB1" that is not plugged in never selects "/dev/ttyUSB10".
    for (size_t i = 0; i < entries_.size() && found < 0; ++i) {
      if (SamePortName(name, entries_[i].name)) found = static_cast<int>(i) + 1;
    }
  }
  port_.setCurrentIndex(found);
  // The list cannot name every port that works (a pseudo-terminal, a /dev/serial/by-id link, a
  // driver sysfs does not show): a stored name it does not hold stays in the field as written,
  // so that Ok keeps it.
  if (found < 0) port_.setEditText(FromCp1252(name));
  port_.lineEdit()->setCursorPosition(0);  // the name first, even when the description is long
}

void SettingsDialog::FillFromSettings() {
  const Settings settings = CurrentSettings();
  SelectStoredPort(settings.defaultPortName);
  for (const FlagBoxRow& row : kFlagBoxes) {
    checkBoxes_[row.id]->setChecked(settings.*row.flag != 0);
  }
  QCheckBox* batch = checkBoxes_[kSetBatch];
  batch->setVisible((settings.batch & kBatchOffered) != 0);
  batch->setChecked((settings.batch & kBatchOn) != 0);
  OnBatchToggled(batch->isChecked());
  file_.setText(QFile::decodeName(StoredPathToFileSystem(settings.defaultKonfFile).c_str()));
  traceFile_.setText(QFile::decodeName(StoredPathToFileSystem(settings.traceFile).c_str()));
  verifyReads_.setChecked(settings.verifyReads != 0);
}

void SettingsDialog::FillLanguage() {
  const QSignalBlocker blockList(&languageList_);
  const QSignalBlocker blockSystem(&systemLanguage_);
  for (const char* language : kLanguages) languageList_.addItem(QString::fromLatin1(language));
  const Settings settings = CurrentSettings();
  if (LanguageIdFromName(settings.language) == kLangNeutral) {
    languageList_.setCurrentIndex(CurrentLanguage() == kLangGerman ? 1 : 0);
    languageList_.setEnabled(false);
    systemLanguage_.setChecked(true);
    return;
  }
  const QString name = FromCp1252(settings.language);
  int found = -1;
  for (int i = 0; i < languageList_.count() && found < 0; ++i) {
    if (StartsWithNoCase(languageList_.itemText(i), name)) found = i;
  }
  languageList_.setCurrentIndex(found);
}

void SettingsDialog::SetLanguageName(const QString& name) {
  Settings settings = CurrentSettings();
  CopyField(settings.language, sizeof settings.language, ToCp1252(name));
  SetCurrentSettings(settings);
}

void SettingsDialog::OnBatchToggled(bool on) {
  QCheckBox* read = checkBoxes_[kSetAutoRead];
  if (on) read->setChecked(true);
  read->setEnabled(!on);
}

void SettingsDialog::OnSystemToggled(bool on) {
  languageList_.setEnabled(!on);
  SetLanguageName(on ? QString::fromLatin1(kNeutral) : languageList_.currentText());
}

void SettingsDialog::Browse() {
  FileDialogRequest request;
  request.title = Msg("KFG_DLGOPEN");
  request.filter = QtFilterFromParts(MsgText("KFG_OFNFILTER"));
  request.defaultSuffix = QStringLiteral("par");
  request.directory = QFile::decodeName(CurrentStartupPaths().startDir.c_str());
  std::optional<QString> chosen;
  if (fileDialog_) {
    chosen = fileDialog_(request);
  } else {
    QFileDialog dialog(this, request.title, request.directory, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
      chosen = dialog.selectedFiles().front();
    }
  }
  if (chosen) file_.setText(*chosen);
}

std::string SettingsDialog::ChosenPortName() const {
  const QString text = port_.currentText().trimmed();
  const int index = port_.findText(port_.currentText(), Qt::MatchExactly);
  std::string name;
  if (index == 0) return std::string();  // "offline": no port
  if (index > 0 && static_cast<size_t>(index) <= entries_.size()) {
    name = entries_[static_cast<size_t>(index) - 1].name;
  } else {
    name = ToCp1252(text);
  }
  if (name == kOffline || name.size() > kMaxPortNameChars) return std::string();
  return name;
}

void SettingsDialog::Apply() {
  Settings settings = CurrentSettings();
  CopyField(settings.defaultPortName, sizeof settings.defaultPortName, ChosenPortName());
  CopyField(settings.defaultKonfFile, sizeof settings.defaultKonfFile,
            QFile::encodeName(file_.text()).toStdString());
  if (expert_) {
    CopyField(settings.traceFile, sizeof settings.traceFile,
              QFile::encodeName(traceFile_.text().trimmed()).toStdString());
    settings.verifyReads = verifyReads_.isChecked() ? 1 : 0;
  }
  for (const FlagBoxRow& row : kFlagBoxes) {
    settings.*row.flag = checkBoxes_[row.id]->isChecked() ? 1 : 0;
  }
  if ((settings.batch & kBatchOffered) != 0) {
    if (checkBoxes_[kSetBatch]->isChecked()) {
      settings.batch |= kBatchOn;
    } else {
      settings.batch &= ~kBatchOn;
    }
  }
  SetCurrentSettings(settings);
}

void SettingsDialog::Save() {
  Apply();
  SaveSettings(CurrentStartupPaths().settingsFile);
}

void SettingsDialog::Ok() {
  Apply();
  if (QString::fromLatin1(CurrentSettings().language)
              .compare(QString::fromLatin1(openingLanguage_.c_str()), Qt::CaseInsensitive) != 0 &&
      languageTarget_ != nullptr) {
    QCoreApplication::postEvent(languageTarget_, new LanguageChangeEvent());
  }
  accept();
}

bool SettingsDialog::Run() {
  return exec() == QDialog::Accepted;
}

void SettingsDialog::reject() {
  if (!frameClose_) {
    Settings settings = CurrentSettings();
    CopyField(settings.language, sizeof settings.language, openingLanguage_);
    SetCurrentSettings(settings);
  }
  QDialog::reject();
}

void SettingsDialog::closeEvent(QCloseEvent* event) {
  frameClose_ = true;
  QDialog::closeEvent(event);
  frameClose_ = false;
}

bool SettingsDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* widget = qobject_cast<QWidget*>(watched);
    const char* text = nullptr;
    if (widget != nullptr && CurrentSettings().enableToolTips != 0 &&
        (widget == &traceFile_ || widget == &traceLabel_)) {
      text = TraceTooltip();
    } else if (widget != nullptr && CurrentSettings().enableToolTips != 0 &&
               widget == &verifyReads_) {
      text = VerifyTooltip();
    } else if (widget != nullptr && CurrentSettings().enableToolTips != 0) {
      text = TooltipText(300, [&](uint32_t id) {
        QWidget* control = ControlById(static_cast<int>(id));
        return control != nullptr && (control == widget || control->isAncestorOf(widget));
      });
    }
    if (text != nullptr && text[0] != '\0') {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), FromCp1252(text), widget);
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

}  // namespace lumo::gui

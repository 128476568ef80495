#include "gui/firmware_dialog.h"

#include <QCloseEvent>
#include <QFile>
#include <algorithm>

#include "base/program_paths.h"
#include "base/translations.h"

namespace lumo::gui {

namespace {

// Template 400, in dialog units.
constexpr int kWidthDlu = 273;
constexpr int kHeightDlu = 65;
constexpr QRect kTextDlu(23, 12, 167, 20);
constexpr QRect kBarDlu(17, 38, 221, 9);
constexpr QRect kPercentDlu(241, 38, 26, 9);

constexpr int kPercentMax = 100;
constexpr int kPreselectedFilter = 2;  // the third pair, "*.*"

QString g_lastFirmwareFile;  // user interface thread only

QRect Place(const DialogUnits& units, const QRect& dlu) {
  return units.Rect(dlu.x(), dlu.y(), dlu.width(), dlu.height());
}

}  // namespace

FileDialogRequest FirmwareFileRequest() {
  FileDialogRequest request;
  request.title = Msg("FLASH_DLGCHOOSE");
  request.filter = QtFilterFromParts(MsgText("FLASH_OFNFILTER"));
  const QStringList filters = request.filter.split(QStringLiteral(";;"));
  if (filters.size() > kPreselectedFilter) request.selectedFilter = filters[kPreselectedFilter];
  request.directory = QFile::decodeName(CurrentStartupPaths().startDir.c_str());
  request.fileName = g_lastFirmwareFile;
  return request;
}

QString LastFirmwareFile() {
  return g_lastFirmwareFile;
}

FirmwareProgressDialog::FirmwareProgressDialog(QWidget* parent)
    : QDialog(parent), text_(this), bar_(this), percent_(this) {
  const QFont font = DialogFont();
  setFont(font);
  const DialogUnits units(font);
  setModal(true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  setWindowFlag(Qt::WindowCloseButtonHint, false);
  setFixedSize(units.X(kWidthDlu), units.Y(kHeightDlu));
  setWindowTitle(Control(kDialogId, 0));
  text_.setGeometry(Place(units, kTextDlu));
  text_.setWordWrap(true);
  text_.setText(Control(kDialogId, kIdText));
  bar_.setGeometry(Place(units, kBarDlu));
  bar_.setRange(0, kPercentMax);
  bar_.setValue(0);
  bar_.setTextVisible(false);
  percent_.setGeometry(Place(units, kPercentDlu));
}

void FirmwareProgressDialog::OnLinkEvent(const LinkEvent& event) {
  switch (event.code) {
    case DN_FLASHSTART: {
      const int percent = static_cast<int>(static_cast<uint32_t>(event.value) % 256u);
      percent_.setText(QStringLiteral("%1%").arg(percent));
      bar_.setValue(std::min(percent, kPercentMax));
      shown_.push_back(percent);
      return;
    }
    case DN_FLASHOK:
    case DN_FLASHFAILED:
    case DN_FLASHEND:
      outcome_ = event.code;
      done(event.code == DN_FLASHOK ? 1 : 0);
      return;
    case DN_STOPPED:
      done(0);
      return;
    default:
      return;
  }
}

bool FirmwareProgressDialog::Run(DutLink& link, std::shared_ptr<const FirmwareImage> image,
                                 const std::function<void(FirmwareProgressDialog&)>& opened) {
  if (!RequestFlash(link, std::move(image))) return false;
  if (opened) opened(*this);
  exec();
  return true;
}

void FirmwareProgressDialog::closeEvent(QCloseEvent* event) {
  // Closed by the outcome only; done() does not come through here.
  event->ignore();
}

UpdateStart RunFirmwareUpdate(DutLink& link, const FirmwareUpdateUi& ui) {
  FirmwareUpdateHooks hooks;
  hooks.chooseFile = [&ui](std::string& path) {
    if (!ui.askFile) return false;
    std::optional<QString> file = ui.askFile(FirmwareFileRequest());
    if (!file || file->isEmpty()) return false;
    g_lastFirmwareFile = *file;
    path = QFile::encodeName(*file).toStdString();
    return true;
  };
  hooks.progress = [&link, &ui](const std::shared_ptr<const FirmwareImage>& image) {
    FirmwareProgressDialog dialog(ui.owner);
    // Registered before the request: the link's events are handled only once the dialog runs.
    LinkEventReceiver* previous = ui.setReceiver ? ui.setReceiver(&dialog) : nullptr;
    const bool ran = dialog.Run(link, image, ui.opened);
    if (ui.setReceiver) ui.setReceiver(previous);
    return ran;
  };
  return StartFirmwareUpdate(hooks);
}

}  // namespace lumo::gui

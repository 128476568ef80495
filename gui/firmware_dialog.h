// The firmware update on the desktop: the choice of the file, the question before the update and
// the progress dialog (template 400) in which the link runs the flash procedure.
//
// State (user interface thread only): the file chosen last (the initial name of the next
// choice); the progress dialog's percentage and the percentages it has shown. The image is read
// and owned by the update command and handed to the link shared (firmware/flash.h); the
// progress dialog is registered for the link's events while it is open:
//   DN_FLASHSTART                        percentage text "%d%%" and bar position
//   DN_FLASHOK / DN_FLASHFAILED / DN_FLASHEND   the dialog closes (the outcome messages are
//                                        the main window's)
//   DN_STOPPED                           the link has gone: the dialog closes as well
// When the link refuses the request, the dialog does not wait for notifications that will never
// come: it closes at once and the update command tells the user.
//
//   FirmwareFileRequest      the open dialog's title, filter (third pair preselected), folder
//   FirmwareProgressDialog   the progress dialog; Run requests the flash and waits for the end
//   FirmwareUpdateUi         what the main window supplies (owner, file dialog, registration)
//   RunFirmwareUpdate        the firmware update command
#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "firmware/flash.h"
#include "gui/link_events.h"
#include "gui/main_window.h"

namespace lumo::gui {

// The open dialog for a firmware file: title FLASH_DLGCHOOSE, the filter pairs of
// FLASH_OFNFILTER with the third ("*.*") selected, the start directory, the last choice.
FileDialogRequest FirmwareFileRequest();
// The file chosen last ("" before the first choice).
QString LastFirmwareFile();

class FirmwareProgressDialog : public QDialog, public LinkEventReceiver {
 public:
  static constexpr int kDialogId = 400;
  static constexpr int kIdBar = 401;
  static constexpr int kIdPercent = 402;
  static constexpr int kIdText = 403;

  explicit FirmwareProgressDialog(QWidget* parent = nullptr);

  void OnLinkEvent(const LinkEvent& event) override;

  // Requests CMD_FLASH with the image and runs the dialog until the outcome arrived; false (the
  // dialog never shown) when the link refused the request. opened: called once the request
  // was accepted, right before the dialog runs.
  bool Run(DutLink& link, std::shared_ptr<const FirmwareImage> image,
           const std::function<void(FirmwareProgressDialog&)>& opened = nullptr);

  QProgressBar& Bar() { return bar_; }
  QLabel& PercentText() { return percent_; }
  // Every percentage shown, in order (the start's 0 included).
  const std::vector<int>& Shown() const { return shown_; }
  // The last outcome notification (DN_FLASHOK, DN_FLASHFAILED, DN_FLASHEND), or -1.
  int Outcome() const { return outcome_; }

 protected:
  // The transfer cannot be interrupted halfway: Escape and closing the window do nothing.
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;

 private:
  QLabel text_;
  QProgressBar bar_;
  QLabel percent_;
  std::vector<int> shown_;
  int outcome_ = -1;
};

struct FirmwareUpdateUi {
  QWidget* owner = nullptr;
  // The file dialog; nothing when the user cancelled.
  std::function<std::optional<QString>(const FileDialogRequest&)> askFile;
  // Registers the dialog that gets the forwarded link events; returns the one registered before.
  std::function<LinkEventReceiver*(LinkEventReceiver*)> setReceiver;
  // Called with the progress dialog once the link took the request, before the dialog runs;
  // may be empty.
  std::function<void(FirmwareProgressDialog&)> opened;
};

UpdateStart RunFirmwareUpdate(DutLink& link, const FirmwareUpdateUi& ui);

}  // namespace lumo::gui

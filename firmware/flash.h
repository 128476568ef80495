// The firmware update: the start sequence on the user interface side and the flash procedure on
// the link thread.
//
// State model. The firmware image is read on the user interface side (firmware_file.h) and
// handed to the link shared: RequestFlash parks one reference where the link thread takes it
// when it runs CMD_FLASH, so neither side has to wait for the other to release it. The flash
// procedure runs on the link thread only; it changes the device state (DEV_FLASHING during the
// transfer), the port's baud rate and echo check (restored at its end) and the supply, and it
// reports through the link's notifications, all posted, never waiting for the user interface:
//   DN_FLASHSTART  0 when the transfer starts, then the percentage after each block or piece
//   DN_FLASHOK / DN_FLASHFAILED / DN_FLASHEND   the outcome: success, failure, or ended
//                  (cancelled at the prompt, or the link stopped before anything was sent)
// The supply is switched on at the end in every case.
//
// Two boot-loader dialogues:
//   block   "!FlasH" -> "?" (or a device that announced itself with "?"): lead byte, then
//           67-byte blocks, each acknowledged "+"
//   stream  supply off and on while dots go out at 2400 baud, "!\r\n" -> "erased - send\r\n",
//           the image in pieces of 16 bytes, then "s - Reset!\r\n"
//
//   FlashPrompt / FlashPromptFactory  the "switch the device off and on" prompt (modeless)
//   FlashFirmware           the procedure itself (link thread)
//   InstallFlashProcedure   make FlashFirmware the link's procedure for CMD_FLASH
//   RequestFlash            hand an image to the link; false at once when the link refuses
//   StartFirmwareUpdate     choose a file, read it, ask, run the progress display
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "firmware/firmware_file.h"
#include "link/dut_link.h"

namespace lumo {

enum class PromptAnswer { None, Ok, Cancel };

// The prompt asking the user to switch the device off and on. Created on the link thread when
// the stream dialogue needs the user, shown later, asked for its answer again and again while
// the dots go out, and destroyed (hidden) when the dot phase ends. No call may block.
class FlashPrompt {
 public:
  virtual ~FlashPrompt() = default;
  // Shows the prompt with its title and text (Windows-1252).
  virtual void Show(const std::string& title, const std::string& text) = 0;
  // None while the user has not answered; Ok, or Cancel (also for a closed prompt).
  virtual PromptAnswer Answer() = 0;
};

// Makes a prompt; nullptr (or no factory) means nobody can answer: the update then ends as
// cancelled where it would need the user.
using FlashPromptFactory = std::function<std::unique_ptr<FlashPrompt>()>;

enum class FlashOutcome { Success, Failure, Ended };

// The flash procedure for CMD_FLASH; link thread only. Posts the outcome notification and
// switches the supply on before it returns.
FlashOutcome FlashFirmware(DutLink& link, const FirmwareImage& image,
                           const FlashPromptFactory& prompt);

// Sets the link's flash procedure: FlashFirmware with the image RequestFlash handed over.
void InstallFlashProcedure(DutLink& link, FlashPromptFactory prompt);

// Requests CMD_FLASH with the image. False when the link refuses (not idle, or no image): no
// notification will come then.
bool RequestFlash(DutLink& link, std::shared_ptr<const FirmwareImage> image);

// What the user interface supplies to StartFirmwareUpdate.
struct FirmwareUpdateHooks {
  // The file choice; false when the user cancelled.
  std::function<bool(std::string& path)> chooseFile;
  // The question before the update; without it, FLASH_QOVERWRITE is asked in a question box.
  std::function<bool()> confirm;
  // The progress display: requests the flash (RequestFlash) and returns once the outcome
  // notification arrived; false when the link refused the request.
  std::function<bool(const std::shared_ptr<const FirmwareImage>& image)> progress;
};

enum class UpdateStart { Cancelled, FileFailed, Empty, Declined, Refused, Ran };

// The main window's firmware update command. A refused request is told to the user with
// FLASH_WRITEFAILED; every other message comes from the reader or the outcome notification.
UpdateStart StartFirmwareUpdate(const FirmwareUpdateHooks& hooks);

}  // namespace lumo

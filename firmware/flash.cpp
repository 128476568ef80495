#include "firmware/flash.h"

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "base/translations.h"
#include "link/serial_port.h"
#include "platform/clock.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

// The block dialogue.
const std::string kEnterBlockLoader = "!FlasH";  // configuration firmware: enter the boot loader
constexpr uint8_t kBlockLoaderReady = '?';       // the block boot loader is listening
constexpr uint8_t kBlockAccepted = '+';          // a block was programmed
constexpr uint32_t kAfterLastBlockMs = 300;      // nothing may follow the last "+"
// The stream dialogue.
constexpr uint8_t kDot = '.';                        // catches the boot loader while it starts
const std::string kEraseRequest = "!\r\n";           // erase the program memory
const std::string kEraseDone = "erased - send\r\n";  // answer: send the image
const std::string kStreamDone = "s - Reset!\r\n";    // the image was programmed
constexpr uint32_t kStreamBaudRate = 2400;           // the stream boot loader's rate
constexpr size_t kStreamPiece = 16;                  // bytes per write
constexpr uint32_t kPowerOffSettleMs = 300;          // supply off to the presence check
constexpr uint32_t kPromptAfterMs = 200;             // dots before the prompt or power-on
constexpr uint32_t kDotsAfterPowerOnMs = 1000;       // dots after the device was switched on
constexpr uint32_t kBeforeEraseMs = 1500;            // the caught boot loader settles
constexpr uint32_t kEraseAnswerMs = 4000;            // erasing takes at most this
constexpr uint32_t kStreamDoneAnswerMs = 4000;       // programming the last bytes
// A drain of the line ends after this in all.
constexpr uint32_t kDrainLimitMs = 5000;
// Waits are cut into steps of this length, so a stop of the link ends them promptly.
constexpr uint32_t kStopPollMs = 10;

// The phases of the dot loop.
enum DotPhase : int {
  kPhaseStarting = 0,    // dots only
  kPhasePrompted = 1,    // the prompt is shown, no answer yet
  kPhasePoweredOn = 2,   // the device was switched on: dots for another second
  kPhaseCaught = 3,      // the boot loader listens
  kPhaseCancelled = 4,   // the user cancelled
  kPhaseLineFailed = 5,  // a dot could not be sent (the adapter is gone)
};

enum class Dialogue { Unknown, Block, Stream };

// Sleeps for ms unless the link is being stopped; false when it is.
bool Pause(DutLink& link, uint32_t ms) {
  auto end = LinkClock::now() + std::chrono::milliseconds(ms);
  while (!link.StopRequested()) {
    auto now = LinkClock::now();
    if (now >= end) return true;
    SleepFor(std::min<LinkClock::duration>(end - now, std::chrono::milliseconds(kStopPollMs)));
  }
  return false;
}

// Sends bytes; the port layer returns when they have left the line, so every time limit for the
// device's answer starts after the last of them. False when the write failed or the link is
// being stopped.
bool Send(DutLink& link, const void* data, size_t count) {
  return link.Port().Write(data, count) == SerialResult::Ok && !link.StopRequested();
}

void Drain(DutLink& link) {
  link.WaitQuiet(link.Config().timeouts.noTraffic, kDrainLimitMs);
}

int32_t Percent(uint64_t done, uint64_t total) {
  return total == 0 ? 0 : static_cast<int32_t>(done * 100 / total);
}

// Detection: which dialogue the device speaks. Sets loaderReady when the block boot loader
// listens.
Dialogue DetectDialogue(DutLink& link, bool& loaderReady) {
  loaderReady = false;
  int32_t state = link.DeviceState();
  if (state <= DEV_SEARCHING) return Dialogue::Unknown;
  Drain(link);
  if (state == DEV_BOOTLOADER) {
    loaderReady = true;
    return Dialogue::Block;
  }
  uint8_t answer = 0;
  if (Send(link, kEnterBlockLoader.data(), kEnterBlockLoader.size()) &&
      link.Port().GetChar(answer, link.Config().timeouts.flashResponse) == SerialResult::Ok &&
      answer == kBlockLoaderReady) {
    loaderReady = true;
    return Dialogue::Block;
  }
  return Dialogue::Stream;
}

// Switches a present device off; true when it fell silent (the line supplies it), and
// then it stays off. A device that still answers is switched on again.
bool SupplyCyclesDevice(DutLink& link) {
  link.PowerOff();
  Pause(link, kPowerOffSettleMs);
  if (link.PresenceCheck()) {
    link.PowerOn();
    return false;
  }
  return true;
}

// Dots at 2400 baud until the boot loader has been caught (kPhaseCaught), the user cancelled or
// the link is being stopped (kPhaseCancelled), or a dot could not be sent (kPhaseLineFailed:
// without that end the loop would spin, and with nothing on the line it could never succeed).
DotPhase CatchStreamLoader(DutLink& link, bool autoCycle, const FlashPromptFactory& makePrompt) {
  std::unique_ptr<FlashPrompt> prompt;
  if (!autoCycle && makePrompt) prompt = makePrompt();
  SerialPort& port = link.Port();
  SerialSettings line = port.Settings();
  const bool savedEcho = line.echo;
  line.echo = false;
  line.baudRate = kStreamBaudRate;
  port.Apply(line);

  int64_t clock = NowMs();
  int phase = kPhaseStarting;
  bool shown = false;
  while (phase < kPhaseCaught) {
    if (link.StopRequested()) {
      phase = kPhaseCancelled;
      break;
    }
    port.Purge();
    if (!Send(link, &kDot, 1)) {
      phase = link.StopRequested() ? kPhaseCancelled : kPhaseLineFailed;
      break;
    }
    int64_t elapsed = NowMs() - clock;
    if ((phase == kPhaseStarting || phase == kPhasePrompted) && elapsed >= kPromptAfterMs) {
      if (autoCycle) {
        link.PowerOn();
        clock = NowMs();
        phase = kPhasePoweredOn;
      } else if (prompt == nullptr) {
        phase = kPhaseCancelled;  // nobody can switch the device
      } else {
        if (!shown) {
          prompt->Show(MsgText("FLASH_DLGTITLE"), MsgText("FLASH_DUTOFFONPROMPT"));
          shown = true;
          phase = kPhasePrompted;
        }
        switch (prompt->Answer()) {
          case PromptAnswer::None:
            break;
          case PromptAnswer::Ok:
            clock = NowMs();
            phase = kPhasePoweredOn;
            break;
          case PromptAnswer::Cancel:
            phase = kPhaseCancelled;
            break;
        }
      }
    } else if (phase == kPhasePoweredOn && elapsed >= kDotsAfterPowerOnMs) {
      phase = kPhaseCaught;
    }
  }
  port.SetEcho(savedEcho);
  prompt.reset();
  return static_cast<DotPhase>(phase);
}

// The caught boot loader erases its memory.
bool EraseStreamLoader(DutLink& link) {
  if (!Pause(link, kBeforeEraseMs)) return false;
  link.Port().Purge();
  if (!Send(link, kEraseRequest.data(), kEraseRequest.size())) return false;
  return link.WaitForStrings(kEraseAnswerMs, {kEraseDone}) == 1;
}

bool SendBlocks(DutLink& link, const FirmwareImage& image) {
  if (!Send(link, &image.leadByte, 1)) return false;
  const uint32_t count = image.blockCount;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* block = image.data.data() + static_cast<size_t>(i) * kFlashBlockSize;
    if (!Send(link, block, kFlashBlockSize)) return false;
    uint8_t answer = 0;
    // No answer counts as a refusal.
    if (link.Port().GetChar(answer, link.Config().timeouts.flashResponse) != SerialResult::Ok)
      answer = 0;
    link.Notify(DN_FLASHSTART, Percent(i, count));
    if (answer != kBlockAccepted) return false;
  }
  if (!Pause(link, kAfterLastBlockMs)) return false;
  return link.Port().InQueue() == 0;
}

bool SendStream(DutLink& link, const FirmwareImage& image) {
  const uint64_t total = image.byteCount;
  for (uint64_t sent = 0; sent < total;) {
    size_t piece = static_cast<size_t>(std::min<uint64_t>(kStreamPiece, total - sent));
    if (!Send(link, image.data.data() + sent, piece)) return false;
    sent += piece;
    link.Notify(DN_FLASHSTART, Percent(sent, total));
  }
  return link.WaitForStrings(kStreamDoneAnswerMs, {kStreamDone}) == 1;
}

// The outcome reaches the user interface; the device is supplied again.
FlashOutcome Finish(DutLink& link, FlashOutcome outcome) {
  switch (outcome) {
    case FlashOutcome::Success:
      link.Notify(DN_FLASHOK, 0);
      break;
    case FlashOutcome::Failure:
      link.Notify(DN_FLASHFAILED, 0);
      break;
    case FlashOutcome::Ended:
      link.Notify(DN_FLASHEND, 0);
      break;
  }
  link.PowerOn();
  return outcome;
}

// The image handed over by RequestFlash, by its ticket.
std::mutex gPendingMutex;
std::shared_ptr<const FirmwareImage> gPendingImage;
uintptr_t gPendingTicket = 0;
uintptr_t gLastTicket = 0;

std::shared_ptr<const FirmwareImage> TakePendingImage(uintptr_t ticket) {
  std::lock_guard lock(gPendingMutex);
  if (ticket == 0 || ticket != gPendingTicket) return nullptr;
  gPendingTicket = 0;
  return std::move(gPendingImage);
}

}  // namespace

FlashOutcome FlashFirmware(DutLink& link, const FirmwareImage& image,
                           const FlashPromptFactory& prompt) {
  const ImageKind kind = KindOf(image);
  const size_t expected = kind == ImageKind::Block
                              ? static_cast<size_t>(image.blockCount) * kFlashBlockSize
                              : image.byteCount;
  // An image whose counts do not match its data is never sent.
  if (kind == ImageKind::Empty || image.data.size() != expected) {
    return Finish(link, FlashOutcome::Failure);
  }

  bool loaderReady = false;
  Dialogue dialogue = DetectDialogue(link, loaderReady);

  // The image must fit the dialogue; a mismatch fails before anything else is sent.
  bool fits = false;
  switch (dialogue) {
    case Dialogue::Unknown:
    case Dialogue::Stream:
      fits = kind == ImageKind::Stream;
      break;
    case Dialogue::Block:
      fits = kind == ImageKind::Block;
      break;
  }
  if (!fits) {
    // A block boot loader that said "?" keeps waiting for an image.
    if (loaderReady) link.SetDeviceState(DEV_BOOTLOADER);
    return Finish(link, FlashOutcome::Failure);
  }

  if (dialogue != Dialogue::Block) {
    SerialPort& port = link.Port();
    const uint32_t rateBefore = port.Settings().baudRate;
    bool autoCycle = dialogue == Dialogue::Stream && SupplyCyclesDevice(link);
    const DotPhase dots = CatchStreamLoader(link, autoCycle, prompt);
    const bool caught = dots == kPhaseCaught;
    FlashOutcome outcome = dots == kPhaseLineFailed ? FlashOutcome::Failure : FlashOutcome::Ended;
    if (caught) {
      outcome = EraseStreamLoader(link) ? FlashOutcome::Success : FlashOutcome::Failure;
      if (outcome == FlashOutcome::Success) {
        link.SetDeviceState(DEV_FLASHING);
        link.Notify(DN_FLASHSTART, 0);
        Drain(link);
        if (!SendStream(link, image)) outcome = FlashOutcome::Failure;
      }
    }
    if (caught || autoCycle) {
      // The device was switched off or its boot loader took over: it starts afresh at the
      // configured rate.
      link.SetDeviceState(DEV_SEARCHING);
      port.SetBaudRate(link.Config().baudRate);
    } else {
      // Cancelled before the device was switched off: it heard only dots at another rate and is
      // where it was; the link's presence check after the command tells.
      port.SetBaudRate(rateBefore);
    }
    return Finish(link, outcome);
  }

  link.SetDeviceState(DEV_FLASHING);
  link.Notify(DN_FLASHSTART, 0);
  Drain(link);
  bool ok = SendBlocks(link, image);
  // After the last block the device starts its new firmware, at the configured rate (not at a
  // 2400-baud switch of the firmware it replaced); after a failure its boot loader waits for the
  // image again at the rate it was entered at.
  link.SetDeviceState(ok ? DEV_SEARCHING : DEV_BOOTLOADER);
  SerialPort& port = link.Port();
  if (ok && port.Settings().baudRate != link.Config().baudRate)
    port.SetBaudRate(link.Config().baudRate);
  return Finish(link, ok ? FlashOutcome::Success : FlashOutcome::Failure);
}

void InstallFlashProcedure(DutLink& link, FlashPromptFactory prompt) {
  link.SetFlashProcedure([prompt = std::move(prompt)](DutLink& l, uintptr_t ticket) {
    std::shared_ptr<const FirmwareImage> image = TakePendingImage(ticket);
    if (image == nullptr) {
      Finish(l, FlashOutcome::Failure);
      return;
    }
    FlashFirmware(l, *image, prompt);
  });
}

bool RequestFlash(DutLink& link, std::shared_ptr<const FirmwareImage> image) {
  if (image == nullptr) return false;
  uintptr_t ticket;
  {
    std::lock_guard lock(gPendingMutex);
    ticket = ++gLastTicket;
    if (ticket == 0) ticket = ++gLastTicket;
    gPendingImage = std::move(image);
    gPendingTicket = ticket;
  }
  if (link.RequestCommand(CMD_FLASH, ticket)) return true;
  std::lock_guard lock(gPendingMutex);
  if (gPendingTicket == ticket) {
    gPendingTicket = 0;
    gPendingImage.reset();
  }
  return false;
}

UpdateStart StartFirmwareUpdate(const FirmwareUpdateHooks& hooks) {
  std::string path;
  if (!hooks.chooseFile || !hooks.chooseFile(path)) return UpdateStart::Cancelled;
  auto image = std::make_shared<FirmwareImage>();
  if (ReadFirmwareFile(path, *image) != 1) return UpdateStart::FileFailed;
  if (KindOf(*image) == ImageKind::Empty) return UpdateStart::Empty;
  bool yes = hooks.confirm ? hooks.confirm()
                           : ShowMessage(MsgKind::Question, MsgText("FLASH_QOVERWRITE"),
                                         MsgText("FLASH_DLGTITLE")) == MsgAnswer::Yes;
  if (!yes) return UpdateStart::Declined;
  if (!hooks.progress || !hooks.progress(image)) {
    ShowMessage(MsgKind::Error, MsgText("FLASH_WRITEFAILED"), MsgText("FLASH_DLGTITLE"));
    return UpdateStart::Refused;
  }
  return UpdateStart::Ran;
}

}  // namespace lumo

// lumokonf-cli flash --port P FILE [--timeout S]: the firmware update. Reads FILE, starts the
// link on the port, waits up to the timeout for the device (a device in configuration mode, or
// one without firmware; none at all is fine for a stream image), then runs the flash procedure.
// A progress bar goes to standard error when it is a terminal. When the user must switch the
// device off and on, the prompt asks on the terminal: Enter for Ok, "c" (or end of input) for
// Cancel. Exit 0 on success, 1 on failure or cancel. SIGINT or SIGTERM during the update lets it
// run to its end (a device cut off in its boot loader has no firmware), reports the outcome and
// ends with 130 or 143.
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "base/translations.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "cli/stop_signal.h"
#include "firmware/firmware_file.h"
#include "firmware/flash.h"
#include "platform/cp1252.h"

namespace lumo::cli {
namespace {

constexpr double kDefaultTimeoutSeconds = 10;
constexpr int kBarWidth = 40;
constexpr auto kEventStep = std::chrono::milliseconds(200);
constexpr auto kRequestStep = std::chrono::milliseconds(10);

struct FlashArgs {
  std::string port;
  std::string file;
  double timeout = kDefaultTimeoutSeconds;
};

// The prompt on the terminal: runs on the link thread, never blocks (the dots go on meanwhile).
class TerminalPrompt : public FlashPrompt {
 public:
  void Show(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s [Enter = Ok, c = Cancel]\n", Cp1252ToUtf8(title).c_str(),
                 Cp1252ToUtf8(text).c_str());
  }

  PromptAnswer Answer() override {
    while (answer_ == PromptAnswer::None) {
      pollfd in{STDIN_FILENO, POLLIN, 0};
      if (::poll(&in, 1, 0) <= 0) break;
      char c = 0;
      ssize_t got = ::read(STDIN_FILENO, &c, 1);
      if (got <= 0) {
        answer_ = PromptAnswer::Cancel;  // end of input: nobody will answer
      } else if (c == '\n') {
        answer_ = cancel_ ? PromptAnswer::Cancel : PromptAnswer::Ok;
      } else if (c == 'c' || c == 'C') {
        cancel_ = true;
      }
    }
    return answer_;
  }

 private:
  PromptAnswer answer_ = PromptAnswer::None;
  bool cancel_ = false;
};

class ProgressBar {
 public:
  ProgressBar() : shown_(::isatty(STDERR_FILENO) == 1) {}
  ~ProgressBar() { Done(); }

  void Set(int percent) {
    if (!shown_) return;
    percent = std::clamp(percent, 0, 100);
    // percent is clamped to 0..100 above: both parts of the bar have a length from 0 up.
    const auto filled = static_cast<size_t>(percent * kBarWidth / 100);
    std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, '.').c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
  }
  void Done() {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
  }

 private:
  bool shown_;
  bool drawn_ = false;
};

// Waits until the device has shown itself (configuration mode, or a boot loader announcing
// itself) or the limit passed; false only when the port failed.
bool WaitForDeviceOrNone(DeviceSession& session, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    if (now >= end) return true;
    LinkEvent event;
    if (!session.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now))) {
      return true;
    }
    // DN_READY also ends a handshake whose presence check failed: only configuration mode counts.
    if (event.code == DN_READY && session.Link().InConfigMode()) return true;
    if (event.code == DN_NOFIRMWARE) return true;
    if (event.code == DN_PORTFAILED) return false;
  }
}

int RunFlash(const FlashArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  auto image = std::make_shared<FirmwareImage>();
  if (ReadFirmwareFile(args.file, *image) != 1) return kExitFailed;
  if (KindOf(*image) == ImageKind::Empty) {
    PrintError("The firmware file holds no data: nothing to send.");
    return kExitFailed;
  }

  // A link of this command's own: it ends with the command, before the program's statics.
  DutLink link;
  InstallFlashProcedure(link, [] { return std::make_unique<TerminalPrompt>(); });
  DeviceSession session(link);
  if (!session.Start(args.port, LinkConfigFromProgram())) return kExitFailed;
  const auto limit = TimeoutOption(args.timeout);
  if (!WaitForDeviceOrNone(session, limit)) {
    PrintError("The port failed (adapter unplugged?)");
    return kExitFailed;
  }
  // Until here a signal ends the program at once; an update once requested runs to its end.
  InstallStopSignals();
  auto end = std::chrono::steady_clock::now() + limit;
  while (!RequestFlash(link, image)) {
    if (StopRequested()) return ExitAfterStop(kExitFailed);
    if (std::chrono::steady_clock::now() >= end || link.Mode() == MODE_OFF) {
      PrintError(FormatMsg("FLASH_WRITEFAILED"));
      return kExitFailed;
    }
    std::this_thread::sleep_for(kRequestStep);
  }

  // The update's record, handed over once its outcome is known.
  auto record = [&](HistoryOutcome outcome, const std::string& reason) {
    HistoryRecord r = DeviceJobRecord(link, HistoryJob::Flash, nullptr);
    SetRecordFile(r, args.file);
    r.outcome = outcome;
    r.reason = reason;
    RecordJob(options, std::move(r));
  };
  ProgressBar bar;
  for (;;) {
    LinkEvent event;
    if (!session.Next(event, kEventStep)) {
      if (link.Mode() == MODE_OFF) {
        bar.Done();
        PrintError("The port failed (adapter unplugged?)");
        record(HistoryOutcome::DeviceLost, "the port failed during the update");
        return ExitAfterStop(kExitFailed);
      }
      continue;
    }
    switch (event.code) {
      case DN_FLASHSTART:
        bar.Set(event.value);
        break;
      case DN_FLASHOK:
        bar.Done();
        std::printf("%s\n", Cp1252ToUtf8(MsgText("FLASH_WRITESUCCESS")).c_str());
        record(HistoryOutcome::Done, "");
        return ExitAfterStop(kExitOk);
      case DN_FLASHFAILED:
        bar.Done();
        PrintError(MsgText("FLASH_WRITEFAILED"));
        record(HistoryOutcome::Failed, Cp1252ToUtf8(MsgText("FLASH_WRITEFAILED")));
        return ExitAfterStop(kExitFailed);
      case DN_FLASHEND:
        bar.Done();
        PrintError("Firmware update cancelled.");
        record(HistoryOutcome::Cancelled, "firmware update cancelled");
        return ExitAfterStop(kExitFailed);
      default:
        break;
    }
  }
}

void SetupFlashCommand(CommandContext& context) {
  auto args = std::make_shared<FlashArgs>();
  CLI::App* sub = context.app.add_subcommand("flash", "update the device's firmware");
  AddPortOption(sub, args->port);
  sub->add_option("file", args->file, "firmware file (.tg5 block file or .bfl stream file)")
      ->required();
  AddTimeoutOption(sub, args->timeout);
  AddTraceOption(sub, context.options);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunFlash(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupFlashCommand);

}  // namespace lumo::cli

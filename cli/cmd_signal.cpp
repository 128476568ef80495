// lumokonf-cli signal --port P [--count N] [--timeout SECONDS]
//
// The light curtain's signal test on a terminal: polls the device every 200 ms and prints one
// line per sample: synchronised or not, the hardware gain, the weakest and the strongest signal.
// With --count 0 (the default) it runs until interrupted: SIGINT ends it with 130, SIGTERM
// with 143, after the sample in progress.
#include <iostream>
#include <thread>

#include "base/translations.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/stop_signal.h"
#include "definitions/setup.h"
#include "platform/cp1252.h"
#include "signal/signal_values.h"

namespace lumo::cli {
namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(200);

struct SignalArgs {
  std::string port;
  int count = 0;  // 0: until interrupted
  double timeoutSeconds = 10;
};

int RunSignal(const SignalArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  if (DeviceType() == kDeviceJovix) {
    PrintError("The signal test is for light curtains.");
    return kExitFailed;
  }
  DutLink& link = TheLink();
  DeviceSession session(link);
  auto limit = TimeoutOption(args.timeoutSeconds);
  if (!session.Start(args.port, LinkConfigFromProgram())) return kExitFailed;
  if (!session.WaitForDevice(limit)) return kExitFailed;
  InstallStopSignals();

  int samples = 0;
  int failures = 0;
  while (!StopRequested() && (args.count == 0 || samples < args.count)) {
    auto next = std::chrono::steady_clock::now() + kPollInterval;
    if (!session.Request(CMD_POLLSIGNAL, 0, limit)) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      return kExitFailed;
    }
    LinkEvent event;
    bool answered = false;
    while (session.Next(event, limit)) {
      if (event.code == DN_SIGNAL) {
        answered = event.value == 1;
        break;
      }
      if (event.code == DN_PORTFAILED) return kExitFailed;
    }
    if (answered) {
      SignalSample s = DecodeSignal(link.SignalStatus());
      std::cout << Cp1252ToUtf8(MsgText(s.synchronised ? "DUTLOCKED" : "DUTUNLOCKED")) << ", "
                << GainText(s.highGain) << ", min " << s.weakest << ", max " << s.strongest
                << std::endl;
      ++samples;
      failures = 0;
    } else if (++failures >= 5) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      return kExitFailed;
    }
    std::this_thread::sleep_until(next);
  }
  session.Stop(true);
  return ExitAfterStop(kExitOk);
}

void SetupSignalCommand(CommandContext& context) {
  auto args = std::make_shared<SignalArgs>();
  CLI::App* sub = context.app.add_subcommand("signal", "show the light curtain's signal live");
  AddPortOption(sub, args->port);
  sub->add_option("--count", args->count,
                  "number of samples; 0 (the default): until interrupted (Ctrl-C, exit 130)")
      ->check(CLI::NonNegativeNumber);
  AddTimeoutOption(sub, args->timeoutSeconds);
  AddTraceOption(sub, context.options);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunSignal(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupSignalCommand);

}  // namespace lumo::cli

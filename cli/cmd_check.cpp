// lumokonf-cli check --port P [--json] [--timeout SECONDS]: the line check (link/line_check.h).
// One line per step: its verdict, what was found and the next thing to do. Exit 0 when a device
// was found and the Echo setting fits the interface, 1 otherwise.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/device_session.h"
#include "link/line_check.h"
#include "platform/cp1252.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

struct CheckArgs {
  std::string port;
  bool json = false;
  double timeoutSeconds = 10;
};

const char* EchoName(EchoFinding echo) {
  switch (echo) {
    case EchoFinding::Unknown:
      return "unknown";
    case EchoFinding::On:
      return "on";
    case EchoFinding::Off:
      return "off";
    case EchoFinding::Unclear:
      return "unclear";
  }
  return "";
}

void PrintText(const LineCheckReport& report, const std::string& port) {
  std::printf("Line check of %s\n", port.c_str());
  for (const CheckStep& step : report.steps) {
    std::printf("  %-8s %-6s %s\n", step.name.c_str(), CheckVerdictName(step.verdict),
                Cp1252ToUtf8(step.text).c_str());
    if (!step.next.empty()) std::printf("  %-8s %-6s next: %s\n", "", "", step.next.c_str());
  }
  std::printf("%s\n", report.ExitCode() == 0 ? "Result: device found, the settings fit."
                      : report.found         ? "Result: device found, but the settings do not fit."
                                             : "Result: no device found.");
}

void PrintJson(const LineCheckReport& report, const std::string& port) {
  Json steps = Json::array();
  for (const CheckStep& step : report.steps) {
    steps.push_back({{"step", step.name},
                     {"verdict", CheckVerdictName(step.verdict)},
                     {"text", Cp1252ToUtf8(step.text)},
                     {"next", step.next}});
  }
  Json out = {{"port", port},
              {"found", report.found},
              {"settingFits", report.settingFits},
              {"dtr", report.dtrSwitchable},
              {"echo", EchoName(report.echo)},
              {"echoSetting", report.echoSetting ? "on" : "off"},
              {"bootMs", report.bootMs >= 0 ? Json(report.bootMs) : Json(nullptr)},
              {"identity", report.found ? Json(Cp1252ToUtf8(report.identity)) : Json(nullptr)},
              {"firmware", report.found ? Json::array({report.firmware[0], report.firmware[1]})
                                        : Json(nullptr)},
              {"speedSwitched", report.speedSwitched},
              {"steps", steps}};
  std::printf("%s\n", out.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
}

int RunCheck(const CheckArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  LineCheckOptions check;
  check.port = args.port;
  check.config = LinkConfigFromProgram();
  check.deviceLimit = TimeoutOption(args.timeoutSeconds);
  LineCheckReport report = RunLineCheck(TheLink(), check);
  if (args.json) {
    PrintJson(report, args.port);
  } else {
    PrintText(report, args.port);
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) return kExitFailed;
  return report.ExitCode();
}

void SetupCheckCommand(CommandContext& context) {
  auto args = std::make_shared<CheckArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "check",
      "check a serial line step by step: port, permission, holder, DTR, echo, boot "
      "time, identity; what to do next");
  AddPortOption(sub, args->port);
  sub->add_flag("--json", args->json, "print one JSON object");
  AddTimeoutOption(sub, args->timeoutSeconds);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunCheck(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupCheckCommand);

}  // namespace lumo::cli

// lumokonf-cli read --port P [--out FILE] [--json] [--verify] [--timeout SECONDS]
//
// --verify reads every page twice and fails a page whose two replies differ (a byte corrupted on
// the line has no checksum to show it).
// Starts the link on the port (the link switches the device's supply on), waits for the device,
// reads all its pages and prints one line per parameter: the name as shown and the Device cell's
// text, then the beam configuration of a light curtain. --out saves the Device values as a
// parameter file; --json prints one object instead of the lines. The device is given back to
// normal operation at the end.
#include <iostream>
#include <nlohmann/json.hpp>

#include "base/settings.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "platform/cp1252.h"
#include "platform/text.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

struct ReadArgs {
  std::string port;
  std::string out;
  bool json = false;
  bool verify = false;
  double timeoutSeconds = 10;
};

int RunRead(const ReadArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  if (args.verify) {
    // For this run only; the command line never writes the settings file.
    Settings settings = CurrentSettings();
    settings.verifyReads = 1;
    SetCurrentSettings(settings);
  }
  DutLink& link = TheLink();
  DeviceSession session(link);
  auto limit = TimeoutOption(args.timeoutSeconds);
  if (!session.StartAndRead(args.port, limit)) {
    // A device that answered and then failed is on record; no device, no record.
    if (!link.Identity().empty()) {
      HistoryRecord record = DeviceJobRecord(link, HistoryJob::Read, nullptr);
      record.outcome =
          link.Mode() == MODE_OFF ? HistoryOutcome::DeviceLost : HistoryOutcome::Failed;
      record.reason = "the parameters could not be read";
      RecordJob(options, std::move(record));
    }
    return kExitFailed;
  }
  RecordJob(options, DeviceJobRecord(link, HistoryJob::Read, nullptr));

  ParDef* def = CurrentDefinition();
  const bool lightCurtain = DeviceType() != kDeviceJovix;
  std::string beams = lightCurtain ? DeviceBeamText(link) : std::string();

  if (!args.out.empty()) {
    CopyDeviceToEdit(def);
    if (!SaveParameterFile(args.out, def, DeviceType(), beams)) return kExitFailed;
  }

  if (args.json) {
    Json parameters = Json::array();
    for (const PVar& record : def->records) {
      if (record.bracketed) continue;
      int32_t value = DeviceValue(&record);
      parameters.push_back({{"name", Cp1252ToUtf8(record.name)},
                            {"value", value == NoValue ? Json(nullptr) : Json(value)},
                            {"text", Cp1252ToUtf8(DeviceCellText(def, &record, true))}});
    }
    auto firmware = link.FirmwareWord();
    Json out = {{"identity", Cp1252ToUtf8(link.Identity())},
                {"firmware", {firmware[0], firmware[1]}},
                {"deviceType", DeviceType()},
                {"port", link.PortName()},
                {"parameters", parameters},
                {"beams", lightCurtain ? Json(Cp1252ToUtf8(beams)) : Json(nullptr)}};
    std::cout << out.dump(2) << "\n";
  } else {
    std::cout << Cp1252ToUtf8(DeviceStatusLine(link)) << "\n";
    for (const PVar& record : def->records) {
      if (record.bracketed) continue;
      std::cout << Cp1252ToUtf8(WithoutHotkeyMarks(NameCellText(def, &record))) << "\t"
                << Cp1252ToUtf8(DeviceCellText(def, &record, true)) << "\n";
    }
    if (lightCurtain)
      std::cout << Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("KONFRAY"))) << "\t"
                << Cp1252ToUtf8(beams) << "\n";
  }
  session.Stop(true);
  return kExitOk;
}

void SetupReadCommand(CommandContext& context) {
  auto args = std::make_shared<ReadArgs>();
  CLI::App* sub = context.app.add_subcommand("read", "read a device's parameters and print them");
  AddPortOption(sub, args->port);
  sub->add_option("--out", args->out, "save the device's values as a parameter file");
  sub->add_flag("--json", args->json, "print one JSON object");
  sub->add_flag("--verify", args->verify,
                "read every page twice; a page whose two replies differ fails the read");
  AddTimeoutOption(sub, args->timeoutSeconds);
  AddTraceOption(sub, context.options);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunRead(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupReadCommand);

}  // namespace lumo::cli

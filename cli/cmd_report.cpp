// lumokonf-cli report --port P --out FILE.html [--lang en|de] [--timeout S]
// lumokonf-cli report --from FILE.par --out FILE.html [--lang en|de]
//
// The configuration report of a device (read from it, then given back to normal operation) or of
// a parameter file: a self-contained, printable HTML page (cli/config_report.h). Its checksum is
// a CRC-32 over the parameter pages: for a device the pages as read (each at its length), for a
// file the pages its values give on erased memory (0xFF), so two reports of the same kind show
// at a glance whether two parameter memories of the same kind are equal. A second checksum covers
// exactly what a parameter file carries (record names with values, the beam range text), so a
// device and the file saved from it show the same one. The page replaces the target whole
// (ReplaceFile: links followed, permissions kept, the old file intact on failure).
#include <cstdio>
#include "base/save_failure.h"
#include "base/translations.h"
#include "cli/command.h"
#include "cli/config_report.h"
#include "cli/device_session.h"
#include "cli/production_line.h"
#include "definitions/setup.h"
#include "platform/cp1252.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace lumo::cli {
namespace {

// The firmware word's bit for references stored as 8-bit floating point numbers.
constexpr uint8_t kFp8Bit = 0x80;
// The pages a device's parameters live in.
constexpr int kFirstParameterPage = 0;
constexpr int kLastParameterPage = 4;
// Length of a page that a file's values are laid out in.
constexpr int kShortPageLength = 32;
constexpr uint8_t kErased = 0xFF;

struct ReportArgs {
  std::string port;
  std::string from;
  std::string out;
  double timeoutSeconds = 10;
};

ReportData CommonData() {
  ReportData data;
  data.lang = CurrentLanguage() == kLangGerman ? ReportLang::German : ReportLang::English;
  data.deviceType = DeviceTypeName(DeviceType());
  data.displayName = Cp1252ToUtf8(DeviceDisplayName());
  data.dateTime = LocalTimeText("%Y-%m-%d %H:%M");
  data.columnName = Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("PARCOLNAME")));
  data.columnValue = Cp1252ToUtf8(MsgText("PARCOLDEVICE"));
  return data;
}

bool FromDevice(const ReportArgs& args, ReportData& data) {
  DutLink& link = TheLink();
  DeviceSession session(link);
  if (!session.StartAndRead(args.port, TimeoutOption(args.timeoutSeconds))) return false;
  const bool lightCurtain = DeviceType() != kDeviceJovix;
  const auto firmware = link.FirmwareWord();
  data.identity = Cp1252ToUtf8(link.Identity());
  if (lightCurtain) data.firmware = std::to_string(firmware[0]) + "," + std::to_string(firmware[1]);
  data.port = link.PortName();
  data.rows = CollectRows(CurrentDefinition(), false);
  const PageImage image = link.CopyDeviceImage();
  std::vector<int> lengths(kLastParameterPage + 1, -1);
  for (int p = kFirstParameterPage; p <= kLastParameterPage; ++p)
    lengths[static_cast<size_t>(p)] = link.PageLength(p);
  data.checksum = PagesChecksum(image, lengths);
  const std::string beamText = lightCurtain ? DeviceBeamText(link) : std::string();
  // What a file saved from this device carries: the values the Edit column takes from it.
  NamedValues values;
  for (const PVar& record : CurrentDefinition()->records) {
    if (record.bracketed) continue;
    const int32_t value = DeviceValue(&record);
    if (IsValidValue(&record, value)) values.emplace_back(WithoutHotkeyMarks(record.name), value);
  }
  data.valuesChecksum = ValuesChecksum(std::move(values), beamText);
  if (lightCurtain) {
    data.beamCaption = Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("KONFRAY")));
    data.beams = Cp1252ToUtf8(beamText);
    const int beams = lengths[0];
    if (beams > 0) data.references.assign(image.bytes[0], image.bytes[0] + beams);
    data.fp8 = (firmware[0] & kFp8Bit) != 0;
  }
  session.Stop(true);
  return true;
}

bool FromFile(const ReportArgs& args, ReportData& data) {
  ParDef* def = CurrentDefinition();
  BeamStates beams{};
  beams.fill(kBeamActive);
  if (!LoadParameterFileForWrite(args.from, def, beams)) return false;
  const bool lightCurtain = DeviceType() != kDeviceJovix;
  data.source = args.from;
  data.columnValue = Cp1252ToUtf8(MsgText("PARCOLFILE"));
  data.rows = CollectRows(def, true);

  // The pages the file's values give on erased memory.
  PageImage erased;
  for (auto& page : erased.bytes)
    for (uint8_t& byte : page) byte = kErased;
  Images().device = erased;
  Images().edit = erased;
  CopyFileToEdit(def);
  ApplyEdits(def);
  BeamRange range{static_cast<int>(RayLimitFirst()), static_cast<int>(RayLimitLast())};
  if (lightCurtain) PutIntoEditImage(beams, 0, range, Images().edit);
  std::vector<int> lengths(kLastParameterPage + 1, kShortPageLength);
  data.checksum = PagesChecksum(Images().edit, lengths);
  const std::string beamText = lightCurtain ? FormatRangeText(beams, range) : std::string();
  NamedValues values;
  for (const PVar& record : def->records) {
    if (!record.bracketed && record.fileValid)
      values.emplace_back(WithoutHotkeyMarks(record.name), record.fileValue);
  }
  data.valuesChecksum = ValuesChecksum(std::move(values), beamText);
  if (lightCurtain) {
    data.beamCaption = Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("KONFRAY")));
    data.beams = Cp1252ToUtf8(beamText);
  }
  return true;
}

int RunReport(const ReportArgs& args, const GlobalOptions& options) {
  if (args.port.empty() == args.from.empty()) {
    PrintError("report: give either --port or --from");
    return kExitUsage;
  }
  if (!PrepareProgram(options)) return kExitFailed;
  ReportData data = CommonData();
  bool ok = args.from.empty() ? FromDevice(args, data) : FromFile(args, data);
  if (!ok) return kExitFailed;
  ReplaceResult saved = ReplaceFileWith(args.out, RenderReportHtml(data));
  if (!saved.ok()) {
    PrintError("Cannot write the report " + args.out + ": " +
               Cp1252ToUtf8(SaveFailureText("ERRKFG_SAVE", saved)));
    return kExitFailed;
  }
  char checksums[48];
  std::snprintf(checksums, sizeof checksums, "%08X values %08X", data.checksum,
                data.valuesChecksum);
  std::printf("%s: %s\n", args.out.c_str(), checksums);
  return kExitOk;
}

void SetupReportCommand(CommandContext& context) {
  auto args = std::make_shared<ReportArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "report", "write a printable HTML configuration report of a device or a parameter file");
  sub->add_option("--port", args->port, "serial port of the device to report on");
  sub->add_option("--from", args->from, "report on a parameter file instead of a device");
  sub->add_option("--out", args->out, "the HTML file to write")->required();
  sub->add_option("--lang", context.options.language, "language of the report")
      ->check(CLI::IsMember({"en", "de"}));
  AddTimeoutOption(sub, args->timeoutSeconds);
  AddTraceOption(sub, context.options);
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunReport(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupReportCommand);

}  // namespace lumo::cli

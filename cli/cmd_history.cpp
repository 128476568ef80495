// lumokonf-cli history [--unit TEXT] [--station NAME] [--since DATE] [--until DATE]
//                      [--file NAME] [--json | --csv] [--report FILE]
//
// The unit history's records that match, newest first: one line each (time in UTC, station,
// operator, job, outcome, identity, firmware, file, reason), or a JSON array, or CSV. --unit
// takes a serial number or a whole identity text. --report FILE (with --unit) writes the
// configuration report of the unit's last record with its history beneath. Records that wait
// in the local queue for a server are sent first; how many still wait is said on standard
// error.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <nlohmann/json.hpp>
#include <tuple>

#include "base/save_failure.h"
#include "base/translations.h"
#include "cli/command.h"
#include "cli/config_report.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "definitions/setup.h"
#include "history/history_recorder.h"
#include "platform/cp1252.h"
#include "platform/file_system.h"
#include "platform/text.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

// How long the command waits for waiting records to reach the server before it asks.
constexpr auto kSendLimit = std::chrono::seconds(5);

struct HistoryArgs {
  std::string unit;
  std::string station;
  std::string since;
  std::string until;
  std::string file;
  bool json = false;
  bool csv = false;
  std::string report;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 15];
  }
  return text;
}

std::string Crc(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", crc);
  return text;
}

std::string Firmware(const HistoryRecord& r) {
  return std::to_string(r.firmware[0]) + "," + std::to_string(r.firmware[1]);
}

// Field of a CSV line: quoted when it holds a comma, a quote or a line end.
std::string CsvText(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

// A stored text as the terminal may show it: no control characters from someone's database.
std::string Printable(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7f ? ' ' : c;
  }
  return out;
}

Json RecordJson(const HistoryRecord& r) {
  Json values = Json::object();
  for (const auto& [name, value] : r.selfTestValues) values[name] = value;
  return Json{{"id", r.id},
              {"time", r.timeUtc},
              {"station", r.station},
              {"operator", r.operatorName},
              {"programVersion", r.programVersion},
              {"port", r.port},
              {"deviceType", r.deviceType},
              {"identity", r.identity},
              {"serial", r.serial},
              {"firmware", {r.firmware[0], r.firmware[1]}},
              {"job", JobText(r.job)},
              {"outcome", OutcomeText(r.outcome)},
              {"failedPage", r.failedPage},
              {"reason", r.reason},
              {"file", r.fileName},
              {"fileCrc", Crc(r.fileCrc)},
              {"reportCrc", Crc(r.reportCrc)},
              {"selftest", r.selfTestVerdict},
              {"selftestValues", values},
              {"pagesBefore", Hex(r.pagesBefore)},
              {"pagesAfter", Hex(r.pagesAfter)}};
}

const char* kCsvHeader =
    "time,station,operator,job,outcome,identity,serial,port,firmware,file,fileCrc,reportCrc,"
    "failedPage,reason,selftest,id";

std::string CsvLine(const HistoryRecord& r) {
  return CsvText(r.timeUtc) + "," + CsvText(r.station) + "," + CsvText(r.operatorName) + "," +
         JobText(r.job) + "," + OutcomeText(r.outcome) + "," + CsvText(r.identity) + "," +
         CsvText(r.serial) + "," + CsvText(r.port) + "," + CsvText(Firmware(r)) + "," +
         CsvText(r.fileName) + "," + Crc(r.fileCrc) + "," + Crc(r.reportCrc) + "," +
         std::to_string(r.failedPage) + "," + CsvText(r.reason) + "," + CsvText(r.selfTestVerdict) +
         "," + r.id;
}

std::string TextLine(const HistoryRecord& r) {
  std::string line = r.timeUtc.substr(0, 19) + "  " + r.station + "  " + r.operatorName + "  " +
                     JobText(r.job) + "  " + OutcomeText(r.outcome) + "  " + r.identity + "  fw " +
                     Firmware(r);
  if (!r.fileName.empty()) line += "  file " + r.fileName;
  if (!r.selfTestVerdict.empty()) line += "  selftest " + r.selfTestVerdict;
  if (!r.reason.empty()) line += "  (" + r.reason + ")";
  return Printable(line);
}

// The report of the unit's last record read back, with every record beneath.
bool WriteUnitReport(const std::string& out, const std::vector<HistoryRecord>& records,
                     const GlobalOptions& options) {
  if (!PrepareProgram(options)) return false;
  const HistoryRecord* last = nullptr;
  for (const HistoryRecord& r : records)
    if (r.pagesAfter.size() == kHistoryPageBytes) {
      last = &r;
      break;
    }
  ReportData data;
  data.lang = CurrentLanguage() == kLangGerman ? ReportLang::German : ReportLang::English;
  data.deviceType = DeviceTypeName(DeviceType());
  data.displayName = Cp1252ToUtf8(DeviceDisplayName());
  data.columnName = Cp1252ToUtf8(WithoutHotkeyMarks(MsgText("PARCOLNAME")));
  data.columnValue = Cp1252ToUtf8(MsgText("PARCOLDEVICE"));
  if (last != nullptr) {
    if (last->deviceType != DeviceType()) {
      PrintError("The unit's last record is of another device type than the definition in use.");
      return false;
    }
    std::memcpy(&Images().device.bytes[0][0], last->pagesAfter.data(), kHistoryPageBytes);
    data.rows = CollectRows(CurrentDefinition(), false);
    data.identity = last->identity;
    data.firmware = Firmware(*last);
    data.port = last->port;
    data.dateTime = last->timeUtc.substr(0, 16) + " UTC";
    data.checksum = last->reportCrc;
  } else {
    data.identity = records.front().identity;
  }
  std::string html = RenderReportHtml(data);
  std::string table =
      "<h2>History</h2>\n<table>\n<tr><th>UTC</th><th>Station</th>"
      "<th>Operator</th><th>Job</th><th>Outcome</th><th>File</th>"
      "<th>Self-test</th><th>Checksum</th></tr>\n";
  for (const HistoryRecord& r : records) {
    table += "<tr><td>" + HtmlEscape(r.timeUtc.substr(0, 19)) + "</td><td>" +
             HtmlEscape(r.station) + "</td><td>" + HtmlEscape(r.operatorName) + "</td><td>" +
             JobText(r.job) + "</td><td>" + OutcomeText(r.outcome) +
             (r.reason.empty() ? std::string() : ": " + HtmlEscape(r.reason)) + "</td><td>" +
             HtmlEscape(r.fileName) + "</td><td>" + HtmlEscape(r.selfTestVerdict) + "</td><td>" +
             Crc(r.reportCrc) + "</td></tr>\n";
  }
  table += "</table>\n";
  size_t end = html.rfind("</body>");
  html.insert(end == std::string::npos ? html.size() : end, table);
  ReplaceResult saved = ReplaceFileWith(out, html);
  if (!saved.ok()) {
    PrintError("Cannot write the report " + out + ": " +
               Cp1252ToUtf8(SaveFailureText("ERRKFG_SAVE", saved)));
    return false;
  }
  std::printf("%s: %zu records\n", out.c_str(), records.size());
  return true;
}

int RunHistory(const HistoryArgs& args, const GlobalOptions& options) {
  if (args.json && args.csv) {
    PrintError("history: give --json or --csv, not both");
    return kExitUsage;
  }
  if (!args.report.empty() && args.unit.empty()) {
    PrintError("history: --report needs --unit");
    return kExitUsage;
  }
  HistoryFilter filter;
  filter.unit = args.unit;
  filter.station = args.station;
  filter.fileName = args.file;
  for (auto [text, end, into] : {std::tuple{&args.since, false, &filter.since},
                                 std::tuple{&args.until, true, &filter.until}}) {
    if (text->empty()) continue;
    auto parsed = ParseHistoryDate(*text, end);
    if (!parsed) {
      PrintError("history: '" + *text + "' is no date (YYYY-MM-DD or YYYY-MM-DD HH:MM[:SS], UTC)");
      return kExitUsage;
    }
    *into = *parsed;
  }
  const HistoryLocation location = CommandHistoryLocation(options);
  if (location.kind == HistoryLocation::Kind::Off) {
    PrintError("history: the unit history is switched off (--history or [History] Database=)");
    return kExitFailed;
  }
  int64_t waiting = 0;
  {
    // Whatever waits in the local queue goes to the history first.
    HistoryRecorder recorder(location);
    recorder.Drain(kSendLimit);
    waiting = recorder.Waiting();
  }
  std::unique_ptr<HistoryStore> store;
  HistoryStatus status = OpenHistoryStore(location, &store);
  std::vector<HistoryRecord> records;
  if (status.Ok()) status = store->Query(filter, &records);
  if (!status.Ok()) {
    PrintError("history: " + status.message);
    return kExitFailed;
  }
  if (waiting > 0)
    std::fprintf(stderr, "history: %lld records wait in the local queue for %s\n",
                 static_cast<long long>(waiting), MaskedLocation(location.target).c_str());
  if (!args.report.empty()) {
    if (records.empty()) {
      PrintError("history: no record of the unit " + args.unit);
      return kExitFailed;
    }
    return WriteUnitReport(args.report, records, options) ? kExitOk : kExitFailed;
  }
  if (args.json) {
    Json out = Json::array();
    for (const HistoryRecord& r : records) out.push_back(RecordJson(r));
    std::cout << out.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  } else if (args.csv) {
    std::cout << kCsvHeader << "\n";
    for (const HistoryRecord& r : records) std::cout << CsvLine(r) << "\n";
  } else {
    for (const HistoryRecord& r : records) std::cout << TextLine(r) << "\n";
  }
  return kExitOk;
}

void SetupHistoryCommand(CommandContext& context) {
  auto args = std::make_shared<HistoryArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "history", "the unit history: what was done to which device, newest first");
  sub->add_option("--unit", args->unit, "serial number or whole identity text of a unit");
  sub->add_option("--station", args->station, "records of this station (host name)");
  sub->add_option("--since", args->since, "from this date on (YYYY-MM-DD [HH:MM[:SS]], UTC)");
  sub->add_option("--until", args->until, "up to this date (a date alone: its whole day)");
  sub->add_option("--file", args->file, "records that used this parameter file (its name)");
  sub->add_flag("--json", args->json, "print a JSON array");
  sub->add_flag("--csv", args->csv, "print CSV with a header line");
  sub->add_option("--report", args->report,
                  "with --unit: the configuration report of the unit's last record, with its "
                  "history beneath (HTML)");
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunHistory(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupHistoryCommand);

}  // namespace lumo::cli

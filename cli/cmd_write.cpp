// lumokonf-cli write --port P --file FILE [--timeout SECONDS]
//
// Batch programming without a window: waits for the device and reads it, takes its values and
// beams into the Edit column (as the desktop program does after a read), loads the parameter file
// into the File column (adopting its beam configuration), copies File to Edit, writes what
// differs, waits for the read-back, and checks that every value of the file and the beams read
// back as written. Exit 0 only then. The whole file is checked before the port is opened: any
// line that sets no value, or one the parameter cannot hold, is printed with its line number
// and the file is refused (exit 1, nothing written) unless --skip-invalid writes the rest.
// SIGINT or SIGTERM while the device is being written lets the write and its read-back finish
// (a device is never left half-written), verifies, reports and ends with 130 or 143.
// --repeat [--count N] [--log FILE] [--json-progress] [--flash FIRMWARE] [--selftest
// [--limits FILE]]: the same for unit after unit on a production line (cli/production_line.h),
// each unit optionally flashed first and self-tested after the verify.
#include <iostream>

#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "cli/production_line.h"
#include "cli/stop_signal.h"
#include "definitions/cell_text.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "platform/text.h"

namespace lumo::cli {
namespace {

struct WriteArgs {
  std::string port;
  std::string file;
  double timeoutSeconds = 10;
  bool repeat = false;
  bool skipInvalid = false;
  LineArgs line;
};

// Waits for the end of a write: false (message printed) when a page failed or nothing came.
bool WaitForWrite(DeviceSession& session, std::chrono::milliseconds limit, HistoryRecord& record) {
  bool failed = false;
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto now = std::chrono::steady_clock::now();
    LinkEvent event;
    if (now >= end ||
        !session.Next(event, std::chrono::duration_cast<std::chrono::milliseconds>(end - now))) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      record.outcome = HistoryOutcome::DeviceLost;
      record.reason = "no answer";
      return false;
    }
    switch (event.code) {
      case DN_WRITEFAILED:
        PrintError(FormatMsg("ERRCONFWRITE", {std::to_string(event.value)}));
        if (!failed) {
          record.failedPage = static_cast<int>(event.value);
          record.reason = "page " + std::to_string(event.value) + " could not be written";
        }
        record.outcome = HistoryOutcome::Failed;
        failed = true;
        break;
      case DN_READFAILED:
        PrintError(FormatMsg("ERRCONFREAD", {std::to_string(event.value)}));
        if (!failed) {
          record.failedPage = static_cast<int>(event.value);
          record.reason = "page " + std::to_string(event.value) + " could not be read back";
        }
        record.outcome = HistoryOutcome::Failed;
        failed = true;
        break;
      case DN_WRITEEND:
        return !failed;
      case DN_PORTFAILED:
        PrintError("The port failed (adapter unplugged?)");
        record.outcome = HistoryOutcome::DeviceLost;
        record.reason = "the port failed";
        return false;
      default:
        break;
    }
  }
}

int RunWrite(const WriteArgs& args, const GlobalOptions& options) {
  if (args.repeat) {
    LineArgs line = args.line;
    line.port = args.port;
    line.file = args.file;
    line.timeoutSeconds = args.timeoutSeconds;
    line.skipInvalid = args.skipInvalid;
    return RunProductionLine(line, options);
  }
  if (!PrepareProgram(options)) return kExitFailed;
  const InvalidLines invalid = args.skipInvalid ? InvalidLines::SkipReport : InvalidLines::Refuse;
  {
    // The whole file is checked before the device is touched.
    BeamStates beams{};
    if (!LoadParameterFileForWrite(args.file, CurrentDefinition(), beams, invalid))
      return kExitFailed;
  }
  DutLink& link = TheLink();
  DeviceSession session(link);
  auto limit = TimeoutOption(args.timeoutSeconds);
  if (!session.StartAndRead(args.port, limit)) return kExitFailed;
  // Until here a signal ends the program at once (nothing was changed); from here on the
  // program decides when it ends.
  InstallStopSignals();

  ParDef* def = CurrentDefinition();
  const bool lightCurtain = DeviceType() != kDeviceJovix;
  CopyDeviceToEdit(def);
  // The record of this write: what the unit held before, and after the read-back.
  const PageImage before = link.CopyDeviceImage();
  HistoryRecord outcome;
  auto record = [&](HistoryOutcome result, const std::string& reason) {
    HistoryRecord r = DeviceJobRecord(link, HistoryJob::Write, &before);
    SetRecordFile(r, args.file);
    r.outcome = outcome.outcome != HistoryOutcome::Done ? outcome.outcome : result;
    r.failedPage = outcome.failedPage;
    r.reason = !outcome.reason.empty() ? outcome.reason : reason;
    RecordJob(options, std::move(r));
  };
  BeamStates beams{};
  if (lightCurtain) DeviceBeamText(link, &beams);
  if (!LoadParameterFileForWrite(args.file, def, beams, InvalidLines::SkipQuiet))
    return kExitFailed;

  CopyFileToEdit(def);
  ApplyEdits(def);
  uint8_t layout = link.FirmwareWord()[0];
  BeamRange range{};
  if (lightCurtain) {
    range = DeviceBeamRange(link);
    PutIntoEditImage(beams, layout, range, Images().edit);
  }
  link.EditImage([](PageImage& image) { image = Images().edit; });

  if (link.AnyPageNeedsWrite()) {
    if (StopRequested()) {
      record(HistoryOutcome::Cancelled, "stopped by signal before the write");
      return ExitAfterStop(kExitFailed);
    }
    if (!session.Request(CMD_WRITE, 0, limit)) {
      PrintError(FormatMsg("NODEVICE", {DeviceDisplayName()}));
      record(HistoryOutcome::DeviceLost, "the device did not take the write");
      return ExitAfterStop(kExitFailed);
    }
    // From here on the link writes and reads back whatever signal comes.
    if (!WaitForWrite(session, limit, outcome)) {
      record(HistoryOutcome::Failed, "the write failed");
      return ExitAfterStop(kExitFailed);
    }
    session.WaitIdle(limit);
    TakeDeviceImages(link);
  }

  // Every value of the file, and the beams, must read back as written.
  int mismatches = 0;
  for (const PVar& parameter : def->records) {
    if (!parameter.fileValid || parameter.bracketed || parameter.constant) continue;
    if (!parameter.editValid) {
      PrintError(NotValidLine(def, &parameter, parameter.fileValue));
      ++mismatches;
    } else if (DeviceValue(&parameter) != parameter.editValue) {
      PrintError(NotTakenLine(def, &parameter, parameter.editValue));
      ++mismatches;
    }
  }
  if (lightCurtain &&
      ConfigChanged(beams, range, link.CopyDeviceImage(), layout, link.ConfigValid())) {
    PrintError(WithoutHotkeyMarks(MsgText("KONFRAYMOD")));
    ++mismatches;
  }
  std::string status = DeviceStatusLine(link);
  record(mismatches > 0 ? HistoryOutcome::Failed : HistoryOutcome::Done,
         mismatches > 0 ? std::to_string(mismatches) + " values did not read back as written" : "");
  session.Stop(true);
  if (mismatches > 0) return ExitAfterStop(kExitFailed);
  std::cout << Cp1252ToUtf8(status) << ": " << args.file << "\n";
  if (StopRequested()) PrintError("written and verified; stopped by signal");
  return ExitAfterStop(kExitOk);
}

void SetupWriteCommand(CommandContext& context) {
  auto args = std::make_shared<WriteArgs>();
  CLI::App* sub =
      context.app.add_subcommand("write", "write a parameter file into a device and verify it");
  AddPortOption(sub, args->port);
  sub->add_option("--file", args->file, "parameter file (.par, .kfg)")->required();
  AddTimeoutOption(sub, args->timeoutSeconds);
  CLI::Option* repeat =
      sub->add_flag("--repeat", args->repeat,
                    "program unit after unit until interrupted (or --count units are done)");
  sub->add_option("--count", args->line.count,
                  "with --repeat: end after N units (fewer done: exit 1)")
      ->check(CLI::PositiveNumber)
      ->needs(repeat);
  sub->add_option("--log", args->line.logFile,
                  "with --repeat: one line per unit (CSV for *.csv, else JSON lines)")
      ->needs(repeat);
  sub->add_flag("--json-progress", args->line.jsonProgress,
                "with --repeat: machine-readable progress events on standard output")
      ->needs(repeat);
  sub->add_flag("--skip-invalid", args->skipInvalid,
                "write the file's valid lines and leave out the invalid ones (each is printed)");
  sub->add_option("--flash", args->line.firmwareFile,
                  "with --repeat: flash this firmware file into every unit first")
      ->needs(repeat);
  CLI::Option* selfTest =
      sub->add_flag("--selftest", args->line.selfTest,
                    "with --repeat: run the self-test on every unit after the verify")
          ->needs(repeat);
  sub->add_option("--limits", args->line.limitsFile,
                  "with --selftest: the rules file (default: Limits.txt)")
      ->needs(selfTest);
  AddTraceOption(sub, context.options);
  sub->footer(
      sub->get_footer() +
      "\n\nEvents of --repeat --json-progress, one JSON object a line (lumokonf-cli(1) lists "
      "every field with an example): waiting {unit, port}; device {unit, port, identity, "
      "firmware [main, minor]}; step {step, state start|end, ok}; progress {step, percent}; "
      "operator {action}; unit {the --log record: result, step, reason, flash, values by record "
      "name as numbers, beams, selftest, seconds, texts}; removed {unit}; summary {units, "
      "passed, failed, failedByReason, meanSeconds}. Steps: flash, restart, read, file, write, "
      "readback, verify, selftest.");
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunWrite(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupWriteCommand);

}  // namespace lumo::cli

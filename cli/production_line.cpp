#include "cli/production_line.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>

#include "cli/device_session.h"
#include "cli/history_session.h"
#include "cli/stop_signal.h"
#include "definitions/setup.h"
#include "firmware/firmware_file.h"
#include "firmware/flash.h"
#include "history/history_job.h"
#include "link/adapter_watch.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

namespace lumo::cli {

namespace {

using Json = LineJson;
using Clock = std::chrono::steady_clock;
using Wait = UnitWait;

// The rules file found as the program finds it when --limits is not given.
constexpr const char* kLimitsFileName = "Limits.txt";

// The self-test rules in the program's table, lent to the link for the run: taken back from the
// link, and the table emptied, when the run ends, however it ends.
class LentSelfTestRules {
 public:
  LentSelfTestRules(DutLink& link, bool lend)
      : link_(link), adapter_(TheLimitTable()), lent_(lend) {
    if (lent_) link_.SetSelfTestRules(&adapter_);
  }
  LentSelfTestRules(const LentSelfTestRules&) = delete;
  LentSelfTestRules& operator=(const LentSelfTestRules&) = delete;
  ~LentSelfTestRules() {
    if (!lent_) return;
    link_.SetSelfTestRules(nullptr);
    FreeLimitTable();
  }

 private:
  DutLink& link_;
  LimitRulesAdapter adapter_;
  bool lent_;
};

// Waits for the next unit in configuration mode: Done, PortFailed, Gone when a stop was
// requested, TimedOut when the limit (zero: none) passed. found receives when the unit answered
// its prompt (its time on the line starts there).
Wait WaitForUnit(DeviceSession& session, Clock::time_point& found,
                 std::chrono::milliseconds limit) {
  found = Clock::now();
  const auto end = found + limit;
  for (;;) {
    if (StopRequested()) return Wait::Gone;
    if (limit.count() > 0 && Clock::now() >= end) return Wait::TimedOut;
    LinkEvent event;
    if (!session.Next(event, kWaitSlice)) {
      if (session.Link().Mode() == MODE_OFF) return Wait::PortFailed;
      continue;
    }
    if (event.code == DN_PORTFAILED) return Wait::PortFailed;
    if (event.code == DN_FOUND) found = Clock::now();
    if (event.code == DN_READY && session.Link().InConfigMode()) return Wait::Done;
  }
}

// How often the wait for an unplugged adapter looks at a stop request.
constexpr int kAdapterWaitSliceMs = 200;

// The adapter went away between units: says so, waits until it is back (or a stop is
// requested) and starts the link on it again. False when the wait ended without it.
bool AwaitAdapter(DeviceSession& session, AdapterWatch& adapter, const LinkConfig& config,
                  LineProgress& progress) {
  session.Stop(false);
  adapter.Start();
  if (progress.On()) {
    progress.Emit({{"event", "unplugged"}, {"port", adapter.Name()}});
  } else {
    std::cout << "adapter unplugged: " << adapter.Name() << std::endl;
  }
  std::string back;
  while (!StopRequested() && back.empty()) back = adapter.WaitBack(kAdapterWaitSliceMs);
  adapter.Stop();
  if (back.empty()) return false;
  if (progress.On()) {
    progress.Emit({{"event", "replugged"}, {"port", back}});
  } else {
    std::cout << "adapter back: " << back << std::endl;
  }
  return session.Start(back, config);
}

// Gives the unit back to normal operation and waits until the link no longer finds it.
void ReleaseUnit(DeviceSession& session, std::chrono::milliseconds limit) {
  DutLink& link = session.Link();
  if (link.InConfigMode()) session.Request(CMD_LEAVE, 0, limit);
  while (link.InConfigMode() && link.Mode() != MODE_OFF && !StopRequested()) {
    LinkEvent event;
    session.Next(event, kWaitSlice);
  }
}

// The firmware image for every unit; nullptr after the reader's message.
std::shared_ptr<const FirmwareImage> ReadLineFirmware(const std::string& path) {
  auto image = std::make_shared<FirmwareImage>();
  if (ReadFirmwareFile(path, *image) != 1) return nullptr;
  if (KindOf(*image) == ImageKind::Empty) {
    PrintError("The firmware file holds no data: nothing to send.");
    return nullptr;
  }
  return image;
}

// The self-test rules into the program's table; false after the reader's message.
bool LoadLineRules(const std::string& path) {
  if (path.empty()) {
    if (LoadLimitsFile(kLimitsFileName)) return true;
    if (TheLimitTable().Empty()) {
      PrintError(std::string("No self-test rules: '") + kLimitsFileName +
                 "' is missing in the start and program directories or is not valid; name "
                 "the rules file with --limits FILE.");
    }
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    PrintError("Cannot open the self-test rules file '" + path + "': " + std::strerror(errno));
    return false;
  }
  return ReadLimitRules(in);
}

// The unit's record in the unit history, handed over as soon as its result is known.
void RecordUnit(DutLink& link, const LineArgs& args, const GlobalOptions& options,
                const UnitRecord& unit) {
  HistoryRecord record = DeviceJobRecord(link, HistoryJob::Line, nullptr);
  record.pagesBefore = unit.pagesBefore;
  record.port = unit.port;
  record.identity = unit.identity;
  record.firmware[0] = unit.firmware[0];
  record.firmware[1] = unit.firmware[1];
  SetRecordFile(record, args.file);
  if (!unit.passed) {
    record.outcome = unit.flash == "cancelled" ? HistoryOutcome::Cancelled
                     : !link.InConfigMode()    ? HistoryOutcome::DeviceLost
                                               : HistoryOutcome::Failed;
    record.reason = unit.step + ": " + unit.reason;
  }
  record.selfTestVerdict = unit.selfTest;
  RecordJob(options, std::move(record));
}

// Says that the next unit is awaited.
void ReportWaiting(LineProgress& progress, int next, const std::string& port) {
  if (progress.On()) {
    progress.Emit({{"event", "waiting"}, {"unit", next}, {"port", port}});
  } else {
    std::cout << "waiting for a device on " << port << std::endl;
  }
}

// The unit as it was found, before its first step: its record's first fields.
UnitRecord FoundUnit(DutLink& link, LineProgress& progress, int next) {
  UnitRecord unit;
  unit.time = LocalTimeText(kUnitTimeFormat);
  unit.port = link.PortName();
  unit.identity = Cp1252ToUtf8(link.Identity());
  auto firmware = link.FirmwareWord();
  unit.firmware[0] = firmware[0];
  unit.firmware[1] = firmware[1];
  progress.Emit({{"event", "device"},
                 {"unit", next},
                 {"port", unit.port},
                 {"identity", unit.identity},
                 {"firmware", FirmwareJson(unit.firmware)}});
  return unit;
}

// The unit's outcome on standard output.
void ReportUnit(LineProgress& progress, int next, const UnitRecord& unit) {
  if (progress.On()) {
    Json event = UnitJson(unit);
    event["event"] = "unit";
    event["unit"] = next;
    progress.Emit(event);
  } else if (!OutputFailed()) {
    std::cout << "unit " << next << ": " << unit.identity << " "
              << (unit.passed ? "ok" : "FAILED at " + unit.step + ": " + unit.reason) << std::endl;
  }
  CheckedFlush();
}

// Says that the unit left configuration mode (removed or switched off).
void ReportRemoved(LineProgress& progress, int next) {
  if (progress.On()) {
    progress.Emit({{"event", "removed"}, {"unit", next}});
  } else {
    std::cout << "unit " << next << " removed" << std::endl;
  }
}

void ReportSummary(LineProgress& progress, const LineTotals& totals) {
  if (progress.On()) {
    progress.Emit(SummaryJson(totals));
  } else if (!OutputFailed()) {
    std::cout << LineSummary(totals) << std::flush;
  }
  CheckedFlush();
}

}  // namespace

int RunProductionLine(const LineArgs& args, const GlobalOptions& options) {
  if (!PrepareProgram(options)) return kExitFailed;
  // The whole file is checked once before any unit is touched.
  {
    BeamStates beams{};
    InvalidLines invalid = args.skipInvalid ? InvalidLines::SkipReport : InvalidLines::Refuse;
    if (!LoadParameterFileForWrite(args.file, CurrentDefinition(), beams, invalid))
      return kExitFailed;
  }
  UnitPlan plan;
  plan.file = args.file;
  plan.skipInvalid = args.skipInvalid;
  plan.limit = TimeoutOption(args.timeoutSeconds);
  if (!args.firmwareFile.empty()) {
    plan.firmware = ReadLineFirmware(args.firmwareFile);
    if (plan.firmware == nullptr) return kExitFailed;
  }
  plan.selfTest = args.selfTest;
  if (plan.selfTest && !LoadLineRules(args.limitsFile)) return kExitFailed;
  UnitLog log;
  if (!log.Open(args.logFile)) {
    PrintError(log.FailureText(args.logFile));
    return kExitFailed;
  }
  // From here on the line decides when it ends: a stop signal ends it after the unit in progress.
  StopSignalScope stopSignals;

  LineProgress progress(args.jsonProgress);
  LineTotals totals;
  int result = kExitOk;
  std::string why;  // why the loop ended early (printed at the end)
  {
    DutLink& link = TheLink();
    // Nobody answers a prompt on the line: an update that needs the device switched off and on
    // by hand ends as cancelled.
    if (plan.firmware != nullptr) InstallFlashProcedure(link, nullptr);
    LentSelfTestRules rules(link, plan.selfTest);
    // A unit is given back to normal operation by the loop (ReleaseUnit); at the end the link and
    // its line trace stop without another word to the device.
    DeviceSession session(link, SessionEnd::Stay);
    const auto limit = plan.limit;
    // Each unit is read in its own step, after its update: not already during the handshake.
    // Every page is read twice and compared: what the log says a unit holds must be what it
    // holds.
    LinkConfig config = LinkConfigFromProgram();
    config.autoRead = false;
    config.verifyReads = true;
    AdapterWatch adapter;
    adapter.Remember(args.port);
    if (!session.Start(args.port, config)) {
      result = kExitFailed;
    } else {
      while (args.count <= 0 || totals.units < args.count) {
        const int next = totals.units + 1;
        ReportWaiting(progress, next, args.port);
        Clock::time_point started;
        // --timeout bounds the wait for the first unit; later units come when they come.
        Wait found =
            WaitForUnit(session, started, totals.units == 0 ? limit : std::chrono::milliseconds(0));
        // An adapter unplugged between units: the line waits for it and goes on.
        if (found == Wait::PortFailed && !StopRequested() && adapter.CanReturn()) {
          if (AwaitAdapter(session, adapter, config, progress)) continue;
          if (StopRequested()) break;
        }
        if (found == Wait::PortFailed) {
          why = "The port failed (adapter unplugged?)";
          result = kExitFailed;
        } else if (found == Wait::TimedOut) {
          why = Cp1252ToUtf8(FormatMsg("NODEVICE", {DeviceDisplayName()})) + " (no unit within " +
                std::to_string(limit.count() / 1000) + " s)";
          result = kExitFailed;
        }
        if (found != Wait::Done) break;
        UnitRecord unit = FoundUnit(link, progress, next);
        RunUnit(session, plan, progress, unit);
        unit.seconds = std::chrono::duration<double>(Clock::now() - started).count();
        totals.Add(unit);
        RecordUnit(link, args, options, unit);
        const bool logged = log.Write(unit);
        ReportUnit(progress, next, unit);
        if (!logged) {
          // Without its log a unit cannot be traced: no further unit is programmed.
          why = log.FailureText(args.logFile);
          result = kExitFailed;
        }
        ReleaseUnit(session, limit);
        if (!link.InConfigMode() && !StopRequested() && !OutputFailed())
          ReportRemoved(progress, next);
        if (!logged || OutputFailed() || StopRequested()) break;
      }
    }
  }

  ReportSummary(progress, totals);
  if (!why.empty()) PrintError(Utf8ToCp1252(why));
  if (OutputFailed()) result = kExitFailed;  // main says why
  if (result == kExitOk && totals.passed < totals.units) result = kExitFailed;
  if (args.count > 0 && totals.units < args.count) {
    PrintError("stopped after " + std::to_string(totals.units) + " of " +
               std::to_string(args.count) + " units");
    result = kExitFailed;
  }
  return ExitAfterStop(result);
}

}  // namespace lumo::cli

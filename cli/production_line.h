// Programming on a production line: `write --repeat` programs one unit after the other on one
// port, without a restart between them, optionally flashing the firmware first and running the
// self-test after the write.
//
// State model. One DeviceSession runs the link for the whole run; the parameter model (Device,
// Edit and File values) is refilled for every unit: the unit's values are read, the file is
// loaded into File, File copied to Edit and written. Per unit:
//   wait for the device (its prompt after power-up or replugging) -> [flash -> wait for the
//   device back in configuration mode] -> read -> write -> verify -> [self-test -> wait for the
//   restart after the supply cut] -> log line -> leave configuration mode -> wait until the
//   device is gone
// The firmware image and the self-test rules are read once before the first unit.
// A unit that fails at any step is logged with the step and the reason and never counted as
// done; the loop goes on with the next unit. The loop ends after --count units (0: no limit),
// on SIGINT/SIGTERM (the unit in progress is finished first), when the port fails, the log or
// standard output cannot be written, or no first unit came within --timeout. Fewer units than
// --count is a failure.
//
//   LoadParameterFileForWrite  load a parameter file into the File column, adopting its beams;
//                              false also for a beam line that does not read, and for any line
//                              that sets no value or one out of range (each printed with its
//                              line number and name) unless the caller skips those lines
//   StableValues               the file's parameters under their record names (no hotkey
//                              marks) with their numeric values, as the logs carry them
//   VerifyWritten              the file's values and beams as read back; "" when all match
//   UnitRecord                 what one unit's log line holds
//   SelfTestFailures           the failing rules and beams of a self-test run, as words
//   SelfTestVerdict            "passed", or "failed: " and the failures
//   LogFormatFor / LogLine     CSV for "*.csv", JSON lines otherwise; one line per unit
//   LineSummary                units, passed, failed by reason, mean time per unit
//   RunProductionLine          the loop; exit status 0 when every unit passed
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "cli/command.h"
#include "files/beam_config.h"

namespace lumo {
struct ParDef;
struct BeamValues;
class LimitTable;
}  // namespace lumo

namespace lumo::cli {

// How LoadParameterFileForWrite treats lines that set no value or one out of range.
enum class InvalidLines {
  Refuse,      // printed; the file is refused
  SkipQuiet,   // left out without a word (the file was checked and reported before)
  SkipReport,  // printed, left out; the rest is used
};
bool LoadParameterFileForWrite(const std::string& path, ParDef* def, BeamStates& beams,
                               InvalidLines invalid = InvalidLines::Refuse);

// name (the definition's record name without "&"), value (the number to write), shown name and
// shown text (UTF-8) of every parameter the file sets.
struct StableValue {
  std::string name;
  int32_t value = 0;
  std::string shownName;
  std::string text;
};
std::vector<StableValue> StableValues(ParDef* def);

// The first mismatch between what was to be written and what was read back ("" when none);
// every mismatch is also printed.
std::string VerifyWritten(ParDef* def, bool lightCurtain, const BeamStates& beams, BeamRange range,
                          uint8_t layout);

// The failing rules (their descriptions) and beams ("beam N", counted from 1) of the last
// evaluated self-test, separated by "; " (UTF-8); "" when none failed.
std::string SelfTestFailures(const LimitTable& table, const BeamValues& beams);
// "passed" when every shown rule and beam passed, else "failed: " and the failures ("failed"
// alone for a table without rules).
std::string SelfTestVerdict(const LimitTable& table, const BeamValues& beams);

struct UnitRecord {
  std::string time;  // local time the unit was found, "YYYY-MM-DD HH:MM:SS"
  std::string port;
  std::string identity;  // UTF-8
  int firmware[2] = {0, 0};
  bool passed = false;
  std::string step;                 // the step that failed ("" when passed)
  std::string reason;               // why, in words
  std::string flash;                // "" when not flashed; "ok", "failed" or "cancelled"
  std::vector<StableValue> values;  // what was written
  std::string beams;                // the beam range text written ("" for a joystick)
  std::string selfTest;             // "" when not run, else SelfTestVerdict
  double seconds = 0;
  std::vector<uint8_t> pagesBefore;  // the unit's pages as read before the write (unit history)
};

enum class LogFormat { JsonLines, Csv };
LogFormat LogFormatFor(const std::string& path);
// The CSV header line (without line end).
std::string CsvHeader();
// One log line (without line end).
std::string LogLine(const UnitRecord& unit, LogFormat format);

struct LineTotals {
  int units = 0;
  int passed = 0;
  std::map<std::string, int> failedByReason;  // "step: reason"
  double seconds = 0;
  void Add(const UnitRecord& unit);
};
std::string LineSummary(const LineTotals& totals);

struct LineArgs {
  std::string port;
  std::string file;
  std::string logFile;
  int count = 0;  // 0: until interrupted
  bool jsonProgress = false;
  double timeoutSeconds = 10;  // per step once a unit was found
  std::string firmwareFile;    // flashed into every unit first ("" for none)
  bool selfTest = false;       // run the self-test after the verify
  std::string limitsFile;      // the self-test rules ("": Limits.txt as the program finds it)
  bool skipInvalid = false;    // write the rest of a file with invalid lines
};

int RunProductionLine(const LineArgs& args, const GlobalOptions& options);

}  // namespace lumo::cli

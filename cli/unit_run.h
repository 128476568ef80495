// One unit on the production line: its steps from the device found in configuration mode to its
// log record, and the pieces of those steps that the single write shares.
//
// State model. The loop (cli/production_line.h) owns the DeviceSession and hands each unit
// found to RunUnit. The parameter model (Device, Edit and File values) is refilled for every
// unit: the unit's values are read, the file is loaded into File, File copied to Edit and
// written. Per unit:
//   [flash -> wait for the device back in configuration mode] -> read -> file -> write ->
//   read-back -> verify -> [self-test -> wait for the restart after the supply cut]
// The first step that fails ends the unit; the record names the step and the reason, and the
// progress output ends that step with ok false. The steps' waits have the plan's limit each; a
// step the link carries out as one command (an update, a write with its read-back) always runs
// to its end once requested.
//
//   LoadParameterFileForWrite  load a parameter file into the File column, adopting its beams;
//                              false also for a beam line that does not read, and for any line
//                              that sets no value or one out of range (each printed with its
//                              line number and name) unless the caller skips those lines
//   StableValues               the file's parameters under their record names (no hotkey
//                              marks) with their numeric values, as the logs carry them
//   VerifyWritten              the file's values and beams as read back; "" when all match
//   SelfTestFailures           the failing rules and beams of a self-test run, as words
//   SelfTestVerdict            "passed", or "failed: " and the failures
//   UnitWait                   how a wait for the device ended
//   UnitPlan / RunUnit         what every unit gets, and one unit's steps
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/line_log.h"
#include "files/beam_config.h"

namespace lumo {
struct ParDef;
struct BeamValues;
struct FirmwareImage;
class LimitTable;
}  // namespace lumo

namespace lumo::cli {

class DeviceSession;

// How LoadParameterFileForWrite treats lines that set no value or one out of range.
enum class InvalidLines {
  Refuse,      // printed; the file is refused
  SkipQuiet,   // left out without a word (the file was checked and reported before)
  SkipReport,  // printed, left out; the rest is used
};
bool LoadParameterFileForWrite(const std::string& path, ParDef* def, BeamStates& beams,
                               InvalidLines invalid = InvalidLines::Refuse);

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

// How often the line looks at its stop flag while it waits for a device or an event.
constexpr auto kWaitSlice = std::chrono::milliseconds(200);

enum class UnitWait { Done, Failed, Gone, PortFailed, TimedOut };

// What every unit gets: the parameter file, and what was read once before the first unit.
struct UnitPlan {
  std::string file;
  bool skipInvalid = false;                       // write the rest of a file
  std::chrono::milliseconds limit{0};             // per step
  std::shared_ptr<const FirmwareImage> firmware;  // nullptr: no flash
  bool selfTest = false;                          // the rules are in the program's table
};

// Every step of one unit found in configuration mode; the record tells how it went (passed, or
// the failed step and why; flash, values, beams, self-test verdict, pages before the write).
void RunUnit(DeviceSession& session, const UnitPlan& plan, LineProgress& progress,
             UnitRecord& unit);

}  // namespace lumo::cli

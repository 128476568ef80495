// What the production line writes about its units: one record a unit, the log file with one
// line a unit, the totals and their summary, and the machine-readable progress on standard
// output (--json-progress).
//
// State model. A unit's record is filled by the unit's run (cli/unit_run.h) and the loop
// (cli/production_line.h); once the unit has ended it is added to the totals, handed to the
// unit history, written to the log and reported. The log file is only appended to, every line
// flushed as soon as it is written, so a crash loses at most the unit in progress.
//
//   StableValue / UnitRecord   what one unit's log line holds
//   LogFormatFor / LogLine     CSV for "*.csv", JSON lines otherwise; one line per unit
//   CsvHeader                  the CSV file's first line
//   UnitJson / FirmwareJson    the unit as one JSON object (log line and progress event)
//   kUnitTimeFormat            "YYYY-MM-DD HH:MM:SS", the local time a unit was found
//   LineTotals / LineSummary   units, passed, failed by reason, mean time per unit
//   SummaryJson                the totals as the progress summary event
//   UnitLog                    the log file, appended to, one flushed line per unit
//   LineProgress               the progress events, one JSON object a line (--json-progress)
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace lumo::cli {

// name (the definition's record name without "&"), value (the number to write), shown name and
// shown text (UTF-8) of every parameter the file sets.
struct StableValue {
  std::string name;
  int32_t value = 0;
  std::string shownName;
  std::string text;
};

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

using LineJson = nlohmann::ordered_json;

enum class LogFormat { JsonLines, Csv };
LogFormat LogFormatFor(const std::string& path);
// The CSV header line (without line end).
std::string CsvHeader();
// One log line (without line end).
std::string LogLine(const UnitRecord& unit, LogFormat format);
// values: stable name -> number; texts: stable name -> {name, text} as the program shows them
// in the language of the run (for people; never needed to read the values).
LineJson UnitJson(const UnitRecord& unit);
LineJson FirmwareJson(const int (&firmware)[2]);
constexpr const char* kUnitTimeFormat = "%Y-%m-%d %H:%M:%S";

struct LineTotals {
  int units = 0;
  int passed = 0;
  std::map<std::string, int> failedByReason;  // "step: reason"
  double seconds = 0;
  void Add(const UnitRecord& unit);
};
std::string LineSummary(const LineTotals& totals);
LineJson SummaryJson(const LineTotals& totals);

// The per-unit log file, appended to (a production log grows over days).
class UnitLog {
 public:
  UnitLog() = default;
  UnitLog(const UnitLog&) = delete;
  UnitLog& operator=(const UnitLog&) = delete;
  ~UnitLog();
  // True also for no file (""); false when the file cannot be opened or its header written.
  bool Open(const std::string& path);
  // False when the line could not be written completely (a full disk, a lost file system).
  bool Write(const UnitRecord& unit);
  std::string FailureText(const std::string& path) const;

 private:
  std::FILE* file_ = nullptr;
  LogFormat format_ = LogFormat::JsonLines;
  int error_ = 0;
};

// The machine-readable progress on standard output (--json-progress), one object a line; with
// it off, nothing is written.
class LineProgress {
 public:
  explicit LineProgress(bool on) : on_(on) {}
  bool On() const { return on_; }
  void Emit(const LineJson& event);
  // A step's start, or its end with its outcome; the step is remembered for Percent.
  void Step(const char* step, bool start, bool ok = true);
  void Percent(int percent);

 private:
  bool on_;
  std::string step_;
};

}  // namespace lumo::cli

// One entry of the unit history: what the program did to which device, when, where and by whom.
//
// State model: none. A HistoryRecord is a plain value; the front end fills it after a job's
// outcome is known and hands it to the recorder (history/history_recorder.h), which stores it.
// Every text in a record is UTF-8 (the core's Windows-1252 texts are converted when the record
// is filled); page images are the stored bytes, kHistoryPageBytes long or empty.
//
//   HistoryJob / HistoryOutcome  the kind of job and how it ended; JobText/OutcomeText and back
//   NewRecordId                  32 hexadecimal digits from the system's random source
//   UtcTimeText                  "YYYY-MM-DD HH:MM:SS.mmm" in UTC (sorts as it reads)
//   SerialFromIdentity           the serial number an identity text carries ("SN 004711")
//   StationName / OperatorName   host name and login name of this process
//   MaskedLocation               a database location with any password replaced by "***"
//   ParseHistoryDate             a --since/--until date into the stored time format
//   NamedValuesText / ...        "name=value" lines of self-test values, and back
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumo {

// 8 pages of 256 bytes: the device's parameter memory.
constexpr size_t kHistoryPageBytes = 2048;
// Longest text field kept from a stored record; a hostile database cannot make us hold more.
constexpr size_t kHistoryTextLimit = 64 * 1024;

enum class HistoryJob { Read, Write, Flash, SelfTest, Line };
enum class HistoryOutcome { Done, Failed, DeviceLost, Cancelled };

const char* JobText(HistoryJob job);
const char* OutcomeText(HistoryOutcome outcome);
std::optional<HistoryJob> JobFromText(const std::string& text);
std::optional<HistoryOutcome> OutcomeFromText(const std::string& text);

struct HistoryRecord {
  std::string id;              // NewRecordId: the key, unique across stations
  std::string timeUtc;         // UtcTimeText
  std::string station;         // host name
  std::string operatorName;    // login name
  std::string programVersion;  // "3.2.0"
  std::string port;
  int deviceType = 0;
  std::string identity;
  std::string serial;  // SerialFromIdentity; "" when the identity carries none
  int firmware[2] = {0, 0};
  HistoryJob job = HistoryJob::Read;
  std::vector<uint8_t> pagesBefore;  // as read before the job; empty when not read
  std::vector<uint8_t> pagesAfter;   // as read back after the job; empty when not read
  uint32_t reportCrc = 0;            // page checksum of the configuration report (pagesAfter)
  std::string fileName;              // parameter file used, "" for none
  uint32_t fileCrc = 0;              // its value checksum
  HistoryOutcome outcome = HistoryOutcome::Done;
  int failedPage = -1;          // the page a write or read failed at, -1 for none
  std::string reason;           // why it failed, in words ("" when done)
  std::string selfTestVerdict;  // "" when no self-test ran, else "passed" / "failed: ..."
  std::vector<std::pair<std::string, std::string>> selfTestValues;  // every shown value

  bool operator==(const HistoryRecord&) const = default;
};

// Fills id, time, station, operator and program version.
void StampRecord(HistoryRecord& record, const std::string& programVersion);

std::string NewRecordId();
std::string UtcTimeText();
std::string SerialFromIdentity(const std::string& identity);
std::string StationName();
std::string OperatorName();
std::string MaskedLocation(const std::string& location);

// "YYYY-MM-DD" or "YYYY-MM-DD HH:MM[:SS]" (a 'T' in place of the space is accepted). For an end
// of range a date alone means the end of that day. nullopt for anything else.
std::optional<std::string> ParseHistoryDate(const std::string& text, bool endOfRange);

// "name=value" per line; '=' '\n' '\\' in names and values are escaped with '\\'.
std::string NamedValuesText(const std::vector<std::pair<std::string, std::string>>& values);
// The lines back; a line without '=' is left out, at most kHistoryTextLimit bytes are read.
std::vector<std::pair<std::string, std::string>> NamedValuesFromText(const std::string& text);

}  // namespace lumo

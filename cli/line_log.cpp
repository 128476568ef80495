#include "cli/line_log.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include "cli/stop_signal.h"
#include "platform/text.h"

namespace lumo::cli {

namespace {

// A CSV field: quoted when it holds a separator, a quote or a line break; quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\";\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

double MeanSeconds(const LineTotals& totals) {
  return totals.units > 0 ? totals.seconds / totals.units : 0.0;
}

}  // namespace

LineJson FirmwareJson(const int (&firmware)[2]) {
  return LineJson::array({firmware[0], firmware[1]});
}

LineJson UnitJson(const UnitRecord& unit) {
  LineJson values = LineJson::object();
  LineJson texts = LineJson::object();
  for (const StableValue& v : unit.values) {
    values[v.name] = v.value;
    texts[v.name] = {{"name", v.shownName}, {"text", v.text}};
  }
  return LineJson{{"time", unit.time},
                  {"port", unit.port},
                  {"identity", unit.identity},
                  {"firmware", FirmwareJson(unit.firmware)},
                  {"result", unit.passed ? "ok" : "failed"},
                  {"step", unit.step},
                  {"reason", unit.reason},
                  {"flash", unit.flash},
                  {"values", values},
                  {"beams", unit.beams.empty() ? LineJson(nullptr) : LineJson(unit.beams)},
                  {"selftest", unit.selfTest},
                  {"seconds", unit.seconds},
                  {"texts", texts}};
}

LogFormat LogFormatFor(const std::string& path) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return LogFormat::JsonLines;
  return EqualNoCase(std::string_view(path).substr(dot + 1), "csv") ? LogFormat::Csv
                                                                    : LogFormat::JsonLines;
}

std::string CsvHeader() {
  return "time,port,identity,firmware,result,step,reason,flash,values,beams,selftest,seconds";
}

std::string LogLine(const UnitRecord& unit, LogFormat format) {
  switch (format) {
    case LogFormat::JsonLines:
      return UnitJson(unit).dump();
    case LogFormat::Csv:
      break;
  }
  std::string values;
  for (const StableValue& v : unit.values) {
    if (!values.empty()) values += "; ";
    values += v.name + "=" + std::to_string(v.value);
  }
  std::string firmware =
      "[" + std::to_string(unit.firmware[0]) + ", " + std::to_string(unit.firmware[1]) + "]";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", unit.seconds);
  return CsvField(unit.time) + "," + CsvField(unit.port) + "," + CsvField(unit.identity) + "," +
         CsvField(firmware) + "," + (unit.passed ? "ok" : "failed") + "," + CsvField(unit.step) +
         "," + CsvField(unit.reason) + "," + CsvField(unit.flash) + "," + CsvField(values) + "," +
         CsvField(unit.beams) + "," + CsvField(unit.selfTest) + "," + seconds;
}

void LineTotals::Add(const UnitRecord& unit) {
  ++units;
  seconds += unit.seconds;
  if (unit.passed) {
    ++passed;
  } else {
    ++failedByReason[unit.step + ": " + unit.reason];
  }
}

std::string LineSummary(const LineTotals& totals) {
  char mean[32];
  std::snprintf(mean, sizeof mean, "%.1f", MeanSeconds(totals));
  std::string text = "units " + std::to_string(totals.units) + ", passed " +
                     std::to_string(totals.passed) + ", failed " +
                     std::to_string(totals.units - totals.passed) + ", mean " + mean +
                     " s per unit\n";
  for (const auto& [reason, count] : totals.failedByReason)
    text += "  failed " + std::to_string(count) + " x " + reason + "\n";
  return text;
}

LineJson SummaryJson(const LineTotals& totals) {
  LineJson reasons = LineJson::object();
  for (const auto& [reason, count] : totals.failedByReason) reasons[reason] = count;
  return {{"event", "summary"},        {"units", totals.units},
          {"passed", totals.passed},   {"failed", totals.units - totals.passed},
          {"failedByReason", reasons}, {"meanSeconds", MeanSeconds(totals)}};
}

UnitLog::~UnitLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool UnitLog::Open(const std::string& path) {
  if (path.empty()) return true;
  format_ = LogFormatFor(path);
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) return false;
  errno = 0;
  if (format_ == LogFormat::Csv && std::ftell(file_) == 0)
    std::fprintf(file_, "%s\n", CsvHeader().c_str());
  if (std::fflush(file_) != 0 || std::ferror(file_) != 0) {
    error_ = errno;
    return false;
  }
  return true;
}

bool UnitLog::Write(const UnitRecord& unit) {
  if (file_ == nullptr) return true;
  std::string line = LogLine(unit, format_) + "\n";
  errno = 0;
  bool ok = std::fwrite(line.data(), 1, line.size(), file_) == line.size();
  ok = std::fflush(file_) == 0 && ok && std::ferror(file_) == 0;
  if (!ok) error_ = errno;
  return ok;
}

std::string UnitLog::FailureText(const std::string& path) const {
  return "Cannot write the log file " + path +
         (error_ != 0 ? std::string(": ") + std::strerror(error_) : std::string());
}

void LineProgress::Emit(const LineJson& event) {
  if (!on_ || OutputFailed()) return;
  std::cout << event.dump() << '\n';
  CheckedFlush();
}

void LineProgress::Step(const char* step, bool start, bool ok) {
  if (!start) {
    Emit({{"event", "step"}, {"step", step}, {"state", "end"}, {"ok", ok}});
  } else {
    Emit({{"event", "step"}, {"step", step}, {"state", "start"}});
  }
  step_ = step;
}

void LineProgress::Percent(int percent) {
  Emit({{"event", "progress"}, {"step", step_}, {"percent", percent}});
}

}  // namespace lumo::cli

#include "link/line_trace.h"

#include <cerrno>
#include <chrono>
#include <ctime>

#include "link/dut_link.h"

namespace lumo {

namespace {

int64_t WallMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

const char* KindText(TraceKind kind) {
  switch (kind) {
    case TraceKind::Sent:
      return "TX";
    case TraceKind::Received:
      return "RX";
    case TraceKind::Event:
      return "--";
  }
  return "??";
}

// Width of the hex column: kTraceBytesPerLine bytes of "XX ".
constexpr size_t kHexColumn = kTraceBytesPerLine * 3;

}  // namespace

std::string FormatTraceLine(const TraceRecord& record) {
  std::time_t seconds = static_cast<std::time_t>(record.wallMs / 1000);
  int millis = static_cast<int>(record.wallMs % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[40];
  size_t used = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(stamp + used, sizeof stamp - used, ".%03d", millis < 0 ? 0 : millis);

  std::string line = std::string(stamp) + "  " + KindText(record.kind) + "  ";
  if (record.kind == TraceKind::Event) return line + record.data;
  std::string hex;
  std::string text;
  char byteText[4];
  for (char c : record.data) {
    auto b = static_cast<uint8_t>(c);
    std::snprintf(byteText, sizeof byteText, "%02X ", b);
    hex += byteText;
    text += (b >= 0x20 && b < 0x7F) ? c : '.';
  }
  if (hex.size() < kHexColumn) hex.append(kHexColumn - hex.size(), ' ');
  return line + hex + "|" + text + "|";
}

LineTrace::~LineTrace() {
  Stop();
}

bool LineTrace::Start(const std::string& path, int& err) {
  Stop();
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (file == nullptr) {
    err = errno;
    return false;
  }
  err = 0;
  file_ = file;
  droppedReported_ = 0;
  dropped_.store(0);
  {
    std::lock_guard lock(mutex_);
    pending_.clear();
    stop_ = false;
    path_ = path;
  }
  running_.store(true);
  writer_ = std::thread(&LineTrace::WriterMain, this);
  Event("trace started");
  return true;
}

void LineTrace::Stop() {
  if (!writer_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  writer_.join();
  running_.store(false);
  std::fclose(file_);
  file_ = nullptr;
  std::lock_guard lock(mutex_);
  path_.clear();
}

std::string LineTrace::Path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

void LineTrace::Sent(const uint8_t* data, size_t n) {
  if (running_.load()) Add(TraceKind::Sent, std::string(reinterpret_cast<const char*>(data), n));
}

void LineTrace::Received(const uint8_t* data, size_t n) {
  if (running_.load())
    Add(TraceKind::Received, std::string(reinterpret_cast<const char*>(data), n));
}

void LineTrace::Event(const std::string& text) {
  if (running_.load()) Add(TraceKind::Event, text);
}

void LineTrace::Add(TraceKind kind, std::string data) {
  TraceRecord record{kind, WallMs(), std::move(data)};
  std::lock_guard lock(mutex_);
  if (stop_) return;
  if (pending_.size() >= kTracePendingLimit) {
    dropped_.fetch_add(1);
    return;
  }
  pending_.push_back(std::move(record));
}

void LineTrace::WriterMain() {
  std::vector<TraceRecord> taken;
  for (;;) {
    bool last = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(kTraceFlushMs), [this] { return stop_; });
      taken.swap(pending_);
      last = stop_;
    }
    WriteRecords(taken);
    taken.clear();
    if (last) break;
  }
}

// Writes the records, joining bytes of one direction that came close together into one line.
void LineTrace::WriteRecords(std::vector<TraceRecord>& records) {
  uint64_t dropped = dropped_.load();
  if (dropped != droppedReported_) {
    TraceRecord note{TraceKind::Event, WallMs(),
                     std::to_string(dropped - droppedReported_) +
                         " records lost: the trace file could not keep up"};
    std::fprintf(file_, "%s\n", FormatTraceLine(note).c_str());
    droppedReported_ = dropped;
  }
  size_t i = 0;
  while (i < records.size()) {
    TraceRecord line = std::move(records[i]);
    int64_t lastMs = line.wallMs;
    ++i;
    if (line.kind != TraceKind::Event) {
      while (i < records.size() && records[i].kind == line.kind &&
             records[i].wallMs - lastMs <= kTraceMergeMs &&
             line.data.size() + records[i].data.size() <= kTraceBytesPerLine) {
        line.data += records[i].data;
        lastMs = records[i].wallMs;
        ++i;
      }
    }
    // Long transfers run on over several lines.
    for (size_t at = 0; line.kind != TraceKind::Event && at < line.data.size();
         at += kTraceBytesPerLine) {
      TraceRecord part{line.kind, line.wallMs, line.data.substr(at, kTraceBytesPerLine)};
      std::fprintf(file_, "%s\n", FormatTraceLine(part).c_str());
    }
    if (line.kind == TraceKind::Event) std::fprintf(file_, "%s\n", FormatTraceLine(line).c_str());
  }
  std::fflush(file_);
}

// ---- the program's trace of its link ----------------------------------------------------------

namespace {

// Never destroyed: the serial layer may still hold its pointer while a call ends.
LineTrace& ProgramTrace() {
  static LineTrace* trace = new LineTrace;
  return *trace;
}

std::mutex& ProgramTraceMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

bool StartLinkTrace(DutLink& link, const std::string& path, int& err) {
  std::lock_guard lock(ProgramTraceMutex());
  LineTrace& trace = ProgramTrace();
  link.Port().SetTap(nullptr);
  if (!trace.Start(path, err)) return false;
  link.Port().SetTap(&trace);
  return true;
}

void StopLinkTrace(DutLink& link) {
  std::lock_guard lock(ProgramTraceMutex());
  link.Port().SetTap(nullptr);
  ProgramTrace().Stop();
}

std::string LinkTraceFile() {
  return ProgramTrace().Path();
}

}  // namespace lumo

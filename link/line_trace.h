// The line trace: every byte sent and received on the link's port, with a millisecond time stamp
// and its direction, and the link's notifications and line events, written to one text file a
// service technician can send in.
//
// State model. A LineTrace is a LineTap (link/serial_port.h): the serial layer calls it on the
// link thread while it holds the port's lock. Those calls only append a record to a pending list
// under a short mutex (no I/O, no formatting beyond a copy of the bytes); the trace's own writer
// thread takes the list every kTraceFlushMs, formats it and writes it to the file. So tracing
// never changes the timing of the line. When the writer falls behind by more than
// kTracePendingLimit records the newest ones are counted, not kept, and the file says how many
// were lost. Stop() writes what is pending and closes the file.
//
// File format, one line per record:
//   2026-12-06 21:30:01.123  TX  20 20 20 20  |    |
//   2026-12-06 21:30:01.125  RX  21           |!|
//   2026-12-06 21:30:01.126  --  DN_FOUND 0
// Consecutive bytes of one direction within kTraceMergeMs share a line (at most
// kTraceBytesPerLine). Bytes outside 0x20..0x7E show as "." in the text column.
//
//   LineTrace::Start / Stop / IsRunning / Path     open the file and run the writer / end both
//   Sent, Received, Event                          the tap (any thread, never blocks on I/O)
//   FormatTraceLine                                one line of the file (tests)
//   StartLinkTrace / StopLinkTrace / LinkTraceFile the program's trace of its one link, as the
//                                                  desktop program's settings switch it
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_port.h"

namespace lumo {

class DutLink;

// How often the writer empties the pending list into the file.
inline constexpr int kTraceFlushMs = 100;
// Bytes of one direction closer together than this share a line.
inline constexpr int64_t kTraceMergeMs = 20;
inline constexpr size_t kTraceBytesPerLine = 16;
// Records waiting for the writer beyond which new ones are dropped (and counted).
inline constexpr size_t kTracePendingLimit = 200000;

enum class TraceKind : uint8_t { Sent, Received, Event };

struct TraceRecord {
  TraceKind kind = TraceKind::Event;
  int64_t wallMs = 0;  // milliseconds since the epoch (system clock)
  std::string data;    // the bytes, or the event's text
};

// One line of the trace file, without its line end.
std::string FormatTraceLine(const TraceRecord& record);

class LineTrace : public LineTap {
 public:
  LineTrace() = default;
  ~LineTrace() override;
  LineTrace(const LineTrace&) = delete;
  LineTrace& operator=(const LineTrace&) = delete;

  // Creates (truncates) the file and starts the writer; false with errno's value in err when the
  // file cannot be created. A running trace is stopped first.
  bool Start(const std::string& path, int& err);
  // Writes what is pending, ends the writer and closes the file. Safe to call twice.
  void Stop();
  bool IsRunning() const { return running_.load(); }
  std::string Path() const;
  // Records dropped because the writer fell behind.
  uint64_t Dropped() const { return dropped_.load(); }

  void Sent(const uint8_t* data, size_t n) override;
  void Received(const uint8_t* data, size_t n) override;
  void Event(const std::string& text) override;

 private:
  void Add(TraceKind kind, std::string data);
  void WriterMain();
  void WriteRecords(std::vector<TraceRecord>& records);

  std::atomic<bool> running_{false};
  std::atomic<uint64_t> dropped_{0};
  mutable std::mutex mutex_;  // guards pending_, stop_, path_
  std::condition_variable wake_;
  std::vector<TraceRecord> pending_;
  bool stop_ = false;
  std::string path_;
  // Writer thread only (and Start/Stop while it is not running).
  std::FILE* file_ = nullptr;
  uint64_t droppedReported_ = 0;
  std::thread writer_;
};

// The trace of TheLink()'s port: started on the file (replacing a trace running on another
// file), stopped, and the file it writes ("" when off). Any thread; the link may be running.
bool StartLinkTrace(DutLink& link, const std::string& path, int& err);
void StopLinkTrace(DutLink& link);
std::string LinkTraceFile();

}  // namespace lumo

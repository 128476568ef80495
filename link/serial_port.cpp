#include "link/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>

#include "link/port_names.h"
#include "platform/clock.h"
#include "platform/port_lock.h"
#include "platform/port_provider.h"

namespace lumo {
namespace {

// A total read or write limit beyond this many milliseconds (decades) counts as none, so that
// deadlines never overflow the clock.
constexpr uint64_t kMaxTotalMs = uint64_t{1} << 40;

// A drain may take this much longer than the bytes' wire time (a busy USB adapter).
constexpr int64_t kDrainSlackMs = 1000;

using Clock = LinkClock;

// The calling thread's last result, with the errno of a System result beside it.
thread_local SerialResult tResult = SerialResult::Ok;
thread_local int tErrno = 0;

SerialResult Fail(SerialResult result) {
  tResult = result;
  tErrno = 0;
  return result;
}

// The result of a driver's errno (0: success).
SerialResult FromErrno(int err) {
  tResult = err == 0 ? SerialResult::Ok : SerialResult::System;
  tErrno = err;
  return tResult;
}

std::chrono::milliseconds Ms(uint64_t ms) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::min(ms, kMaxTotalMs)));
}

// Time one character takes on the line: start bit, data bits, parity bit, stop bits.
Clock::duration CharTime(const SerialSettings& line) {
  const uint64_t halfBits = 2u * (1u + line.dataBits) + (line.parity != 0 ? 2u : 0u) +
                            (line.stopBits == 0   ? 2u
                             : line.stopBits == 1 ? 3u
                                                  : 4u);
  const uint64_t baud = line.baudRate != 0 ? line.baudRate : 1;
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::nanoseconds(halfBits * 500000000ull / baud));
}

// A write has ended when its bytes have left the line: the driver's output buffer is empty and,
// since a pseudo-terminal or a USB adapter reports that long before the wire is done, the bytes'
// wire time at the line's rate has passed since the write began. Every time limit for the
// device's reaction starts after this.
int WaitUntilSent(SerialDriver& driver, const SerialSettings& line, Clock::time_point started,
                  size_t count) {
  const Clock::time_point onWire = started + CharTime(line) * static_cast<int64_t>(count);
  const auto wireMs = std::chrono::ceil<std::chrono::milliseconds>(onWire - Clock::now()).count();
  const int drainLimitMs = static_cast<int>(std::max<int64_t>(wireMs, 0) + kDrainSlackMs);
  if (int err = driver.Drain(drainLimitMs)) return err;
  SleepUntil(onWire);
  return 0;
}

// Milliseconds left until deadline, rounded up so that a wait never ends early.
int RemainingMs(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Reads up to count bytes under the read timeouts t, with one deadline for the whole read. got
// receives what came; returns a driver error or 0 (also when fewer came).
int ReadBlock(SerialDriver& driver, LineTap* tap, uint8_t* buffer, uint32_t count, uint32_t& got,
              const SerialTimeouts& t) {
  got = 0;
  // interval MAX, totals 0: take what is waiting and return at once.
  const bool immediate =
      t.readInterval == kSerialTimeoutMax && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
  // interval MAX, multiplier MAX, constant between: return as soon as anything came, waiting at
  // most the constant for it.
  const bool returnOnData = t.readInterval == kSerialTimeoutMax &&
                            t.readTotalMultiplier == kSerialTimeoutMax &&
                            t.readTotalConstant != 0 && t.readTotalConstant != kSerialTimeoutMax;
  const uint64_t totalMs = returnOnData
                               ? t.readTotalConstant
                               : uint64_t{t.readTotalMultiplier} * count + t.readTotalConstant;
  const bool hasTotal = !immediate && totalMs != 0 && totalMs < kMaxTotalMs;
  const bool hasInterval = !returnOnData && t.readInterval != 0 && !immediate;
  const auto start = Clock::now();
  const auto deadline = start + Ms(totalMs);
  const auto interval = Ms(t.readInterval);
  auto lastByte = start;

  for (;;) {
    size_t n = 0;
    if (int err = driver.ReadSome(buffer + got, count - got, n)) return err;
    auto now = Clock::now();
    if (n > 0) {
      if (tap != nullptr) tap->Received(buffer + got, n);
      got += static_cast<uint32_t>(n);
      lastByte = now;
      if (got >= count || returnOnData) return 0;
      continue;
    }
    if (immediate) return 0;
    int waitMs = -1;
    if (hasTotal) {
      if (now >= deadline) return 0;
      waitMs = RemainingMs(deadline, now);
    }
    if (hasInterval && got > 0) {
      auto gapEnd = lastByte + interval;
      if (now >= gapEnd) return 0;
      int gapMs = RemainingMs(gapEnd, now);
      waitMs = waitMs < 0 ? gapMs : std::min(waitMs, gapMs);
    }
    bool ready = false, woken = false;
    if (int err = driver.WaitReadable(waitMs, ready, woken)) return err;
    if (woken) return 0;
  }
}

}  // namespace

SerialResult SerialLastResult() {
  return tResult;
}

int SerialLastErrno() {
  return tResult == SerialResult::System ? tErrno : 0;
}

// ---- the port's own -----------------------------------------------------------------------

const PortLockKey& SerialPort::LockKey() const {
  const PortLockKey* key = lockKey_.load(std::memory_order_acquire);
  return key != nullptr ? *key : PortLockKey::For(std::string());
}

bool SerialPort::PrepareOpen(const std::string& name) {
  if (opened_.load()) {
    PortLock lock(LockKey());
    Fail(SerialResult::AlreadyOpen);
    return false;
  }
  {
    std::lock_guard guard(nameMutex_);
    name_ = name;
  }
  lockKey_.store(&PortLockKey::For(name), std::memory_order_release);
  return true;
}

void SerialPort::Reset() {
  opened_.store(false);
  driver_.reset();
  {
    std::lock_guard guard(nameMutex_);
    name_.clear();
  }
  lockKey_.store(nullptr, std::memory_order_release);
  settings_ = SerialSettings{};
  applied_ = SerialTimeouts{};
  outputs_ = 0;
  lineErrors_ = 0;
  countsSeen_ = LineErrorCounts{};
}

bool SerialPort::RequireOpen() {
  if (driver_) return true;
  Fail(SerialResult::NotOpen);
  return false;
}

// Reads the driver's error counters and queue; ORs the new error events into the line errors.
// Returns the driver's error (0 on success); waiting receives the bytes waiting.
int SerialPort::QueryStatus(int& waiting) {
  if (int err = driver_->InQueue(waiting)) return err;
  LineErrorCounts now;
  int err = driver_->GetErrorCounts(now);
  if (err == ENOTTY) return 0;  // no counters on this device: no error bits, no failure
  if (err != 0) return err;
  const LineErrorCounts& seen = countsSeen_;
  // Counters wrap around; unsigned differences stay right across the wrap.
  if (now.bufOverrun - seen.bufOverrun != 0) lineErrors_ |= kLineErrRxOverflow;
  if (now.overrun - seen.overrun != 0) lineErrors_ |= kLineErrOverrun;
  if (now.parity - seen.parity != 0) lineErrors_ |= kLineErrParity;
  if (now.frame - seen.frame != 0) lineErrors_ |= kLineErrFrame;
  if (now.brk - seen.brk != 0) lineErrors_ |= kLineErrBreak;
  countsSeen_ = now;
  return 0;
}

// Steps common to Open and OpenDriver once the driver is open: break off, the outputs word
// cleared, the error counters taken as the starting point, the settings read.
SerialResult SerialPort::Attach(std::unique_ptr<SerialDriver> driver) {
  driver_ = std::move(driver);
  opened_.store(true);
  int err = driver_->SetBreak(false);
  if (err != 0 && err != ENOTTY) return FromErrno(err);
  outputs_ = 0;
  lineErrors_ = 0;
  LineErrorCounts counts;
  countsSeen_ = driver_->GetErrorCounts(counts) == 0 ? counts : LineErrorCounts{};
  if (LineTap* tap = tap_.load()) tap->Event("open " + Name());
  return Refresh();
}

// ---- open and close -----------------------------------------------------------------------

SerialPort::~SerialPort() = default;

SerialResult SerialPort::Open(const std::string& path) {
  // Only a path: a name as the user gives it is turned into one where it enters the program.
  if (path.empty() || PortPathOf(path) != path) return Fail(SerialResult::BadArgument);
  if (!PrepareOpen(path)) return tResult;
  PortLock lock(LockKey());
  if (driver_) return Fail(SerialResult::AlreadyOpen);
  if (!PortExists(path)) return Fail(SerialResult::BadArgument);
  const std::optional<PortProvider> provider = PortProviderFor(path);
  if (!provider || !provider->open) return Fail(SerialResult::BadArgument);
  int err = 0;
  std::unique_ptr<SerialDriver> driver = provider->open(path, err);
  if (!driver) return FromErrno(err != 0 ? err : EIO);
  return Attach(std::move(driver));
}

SerialResult SerialPort::OpenDriver(const std::string& name, std::unique_ptr<SerialDriver> driver) {
  if (!driver || name.empty() || name.size() > kSerialNameMax)
    return Fail(SerialResult::BadArgument);
  if (!PrepareOpen(name)) return tResult;
  PortLock lock(LockKey());
  return Attach(std::move(driver));
}

SerialResult SerialPort::Close() {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  if (LineTap* tap = tap_.load()) tap->Event("close");
  Reset();
  return Fail(SerialResult::Ok);
}

bool SerialPort::IsOpen() {
  PortLock lock(LockKey());
  if (!RequireOpen()) return false;
  return Errors(false) < kLineErrStatusUnreadable;
}

bool SerialPort::Opened() const {
  return opened_.load();
}

std::string SerialPort::Name() const {
  std::lock_guard guard(nameMutex_);
  return name_;
}

// ---- settings and outputs -----------------------------------------------------------------

SerialSettings SerialPort::Settings() const {
  return settings_;
}

SerialResult SerialPort::Refresh() {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  DriverLine line;
  if (int err = driver_->GetLine(line)) return FromErrno(err);
  int waiting = 0;
  QueryStatus(waiting);  // only to bring the line errors up to date
  settings_.baudRate = line.baudRate;
  settings_.dataBits = line.dataBits;
  settings_.stopBits = line.stopBits;
  settings_.parity = line.parity;
  settings_.timeouts = applied_;

  LineMode dtr = LineMode::Disabled, rts = LineMode::Disabled;
  int err = driver_->GetModes(dtr, rts);
  if (err == ENOTTY) return FromErrno(0);  // modes unknown: the outputs word keeps its bits
  if (err != 0) return FromErrno(err);
  uint16_t bits = 0;
  switch (rts) {
    case LineMode::Enabled:
      bits |= kOutRtsOn;
      break;
    case LineMode::Handshake:
      bits |= kOutRtsHandshake;
      break;
    case LineMode::Disabled:
      bits |= kOutRtsOff;
      break;
  }
  switch (dtr) {
    case LineMode::Enabled:
      bits |= kOutDtrOn;
      break;
    case LineMode::Handshake:
      bits |= kOutDtrHandshake;
      break;
    case LineMode::Disabled:
      bits |= kOutDtrOff;
      break;
  }
  outputs_ = static_cast<uint16_t>((outputs_ & kOutBreakMask) | bits);
  return FromErrno(0);
}

SerialResult SerialPort::Apply(const SerialSettings& wanted) {
  PortLock lock(LockKey());
  // Taken as they are; what the device made of them is read back below. On a closed port the
  // echo flag holds for its next open, the rest is read from the device then.
  settings_ = wanted;
  if (!RequireOpen()) return tResult;
  DriverLine line;
  int err = driver_->GetLine(line);
  if (err == 0) {
    line.baudRate = wanted.baudRate;
    line.dataBits = wanted.dataBits;
    line.stopBits = wanted.stopBits;
    line.parity = wanted.parity;
    line.parityCheck = wanted.parity != 0;
    err = driver_->SetLine(line);
  }
  applied_ = wanted.timeouts;
  const SerialResult readBack = Refresh();
  if (err != 0) return FromErrno(err);
  return readBack;
}

SerialResult SerialPort::SetBaudRate(uint32_t baudRate) {
  PortLock lock(LockKey());
  SerialSettings line = settings_;
  line.baudRate = baudRate;
  return Apply(line);
}

void SerialPort::SetEcho(bool on) {
  PortLock lock(LockKey());
  settings_.echo = on;
}

int SerialPort::DriverSetDtr(bool on) {
  PortLock lock(LockKey());
  return driver_ ? driver_->SetDtr(on) : EBADF;
}

uint16_t SerialPort::Outputs() const {
  return outputs_;
}

SerialResult SerialPort::SetOutputs(uint16_t request) {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  SerialDriver& driver = *driver_;
  const uint16_t rts = request & kOutRtsMask;
  const uint16_t dtr = request & kOutDtrMask;
  // Handshake on a modem line is not available from the tty layer.
  if (rts == kOutRtsHandshake || dtr == kOutDtrHandshake) return FromErrno(EINVAL);
  uint16_t next = outputs_;
  if (rts) next = static_cast<uint16_t>((next & ~kOutRtsMask) | rts);
  if (dtr) next = static_cast<uint16_t>((next & ~kOutDtrMask) | dtr);
  if (rts && rts != (outputs_ & kOutRtsMask)) {
    int err = driver.SetRts(rts == kOutRtsOn);
    if (err != 0 && err != ENOTTY) return FromErrno(err);
  }
  if (dtr && dtr != (outputs_ & kOutDtrMask)) {
    int err = driver.SetDtr(dtr == kOutDtrOn);
    if (err != 0 && err != ENOTTY) return FromErrno(err);
    if (LineTap* tap = tap_.load()) tap->Event(dtr == kOutDtrOn ? "DTR on" : "DTR off");
  }
  outputs_ = next;

  int err = 0;
  if (request & kOutBreakOn) {
    err = driver.SetBreak(true);
  } else if ((request & kOutBreakOff) != (outputs_ & kOutBreakOff) || (outputs_ & kOutBreakOn)) {
    err = driver.SetBreak(false);
  }
  if (err != 0 && err != ENOTTY) return FromErrno(err);
  outputs_ = static_cast<uint16_t>((outputs_ & ~kOutBreakMask) | (request & kOutBreakMask));
  return FromErrno(0);
}

// ---- status -------------------------------------------------------------------------------

uint16_t SerialPort::Errors(bool clear) {
  PortLock lock(LockKey());
  if (!RequireOpen()) return kLineErrStatusUnreadable;
  int waiting = 0;
  if (int err = QueryStatus(waiting)) {
    FromErrno(err);
    return kLineErrStatusUnreadable;
  }
  const uint16_t bits = lineErrors_;
  if (clear) lineErrors_ = 0;
  Fail(SerialResult::Ok);
  return bits;
}

int SerialPort::InQueue() {
  PortLock lock(LockKey());
  if (!RequireOpen()) return -1;
  int waiting = 0;
  if (int err = QueryStatus(waiting)) {
    FromErrno(err);
    return -1;
  }
  Fail(SerialResult::Ok);
  return waiting;
}

SerialResult SerialPort::Purge() {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  return FromErrno(driver_->Purge());
}

// ---- transfers ----------------------------------------------------------------------------

SerialResult SerialPort::Write(const void* data, size_t length) {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  if (!data) return Fail(SerialResult::BadArgument);
  if (SetOutputs(kOutBreakOff) != SerialResult::Ok) return tResult;
  // Longer transfers are refused rather than cut to their low 16 bits.
  if (length > kSerialMaxTransfer) return Fail(SerialResult::BadArgument);
  if (length == 0) return FromErrno(0);
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (settings_.echo) {
    const int waiting = InQueue();
    if (waiting < 0) return tResult;
    // The echo could not be told apart from what was waiting: nothing is sent.
    if (waiting > 0) return Fail(SerialResult::EchoInputWaiting);
  }
  const uint64_t limitMs =
      uint64_t{applied_.writeTotalMultiplier} * length + applied_.writeTotalConstant;
  const int timeoutMs = (limitMs == 0 || limitMs > 0x7FFFFFFF) ? -1 : static_cast<int>(limitMs);
  size_t written = 0;
  const Clock::time_point started = Clock::now();
  const int writeErr = driver_->Write(bytes, length, written, timeoutMs);
  if (LineTap* tap = tap_.load(); tap != nullptr && written > 0) tap->Sent(bytes, written);
  if (writeErr != 0) return FromErrno(writeErr);
  if (written < length) return Fail(SerialResult::WriteShort);
  if (int err = WaitUntilSent(*driver_, settings_, started, length)) return FromErrno(err);
  if (!settings_.echo) return FromErrno(0);

  uint8_t echo[kSerialEchoChunk];
  for (size_t done = 0; done < length;) {
    const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(kSerialEchoChunk, length - done));
    uint32_t got = 0;
    if (Read(echo, chunk, got) != SerialResult::Ok || got != chunk ||
        std::memcmp(echo, bytes + done, chunk) != 0)
      return Fail(SerialResult::EchoMismatch);
    done += chunk;
  }
  return FromErrno(0);
}

SerialResult SerialPort::WaitInput(uint32_t limitMs) {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  SerialDriver& driver = *driver_;
  const auto deadline = Clock::now() + Ms(limitMs);
  for (;;) {
    int waiting = 0;
    if (int err = driver.InQueue(waiting)) return FromErrno(err);
    if (waiting > 0) return FromErrno(0);
    const auto now = Clock::now();
    if (now >= deadline) break;
    bool ready = false, woken = false;
    if (int err = driver.WaitReadable(RemainingMs(deadline, now), ready, woken))
      return FromErrno(err);
    if (woken) break;
  }
  return Fail(SerialResult::ReadShort);
}

SerialResult SerialPort::GetChar(uint8_t& byte, uint32_t limitMs) {
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  SerialTimeouts once = applied_;
  once.readInterval = 0;
  once.readTotalMultiplier = 0;
  once.readTotalConstant = limitMs;
  // A limit of 0 would mean "no limit at all" and could block for ever: take only what waits.
  if (limitMs == 0) once.readInterval = kSerialTimeoutMax;
  uint8_t received = 0;
  uint32_t got = 0;
  if (int err = ReadBlock(*driver_, tap_.load(), &received, 1, got, once)) return FromErrno(err);
  if (got == 0) return Fail(SerialResult::ReadShort);
  byte = received;
  return FromErrno(0);
}

SerialResult SerialPort::Read(void* buffer, uint32_t count, uint32_t& received) {
  received = 0;
  PortLock lock(LockKey());
  if (!RequireOpen()) return tResult;
  if (!buffer || count > kSerialMaxTransfer) return Fail(SerialResult::BadArgument);
  if (count == 0) return FromErrno(0);
  uint32_t got = 0;
  const int err =
      ReadBlock(*driver_, tap_.load(), static_cast<uint8_t*>(buffer), count, got, applied_);
  received = got;
  if (err != 0) return FromErrno(err);
  if (got < count) return Fail(SerialResult::ReadShort);
  return FromErrno(0);
}

// Without the port lock: the call it ends holds it. The port stays open while this runs (the
// owner closes it only after the reading thread has ended).
void SerialPort::Wake() {
  if (opened_.load() && driver_) driver_->Wake();
}

void SerialPort::TakeWake() {
  if (!driver_) return;
  bool ready = false, woken = false;
  driver_->WaitReadable(0, ready, woken);
}

LineTap* SerialPort::Tap() const {
  return tap_.load();
}

void SerialPort::SetTap(LineTap* tap) {
  tap_.store(tap);
}

}  // namespace lumo

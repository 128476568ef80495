#include "link/serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "platform/message_box.h"
#include "platform/port_lock.h"
#include "platform/port_provider.h"

namespace lumo {
namespace {

constexpr uint32_t kSapiSignature = 0x53415049;  // "SAPI"

constexpr const char* kDevicePrefix = "\\\\.\\";  // \\.\ before a port name
constexpr const char* kComName = "COM";
constexpr const char* kTtySPrefix = "/dev/ttyS";
// Highest COM number mapped onto a ttyS device.
constexpr unsigned long kMaxComNumber = 4096;

constexpr const char* kSapiCaption = "Serial API";
constexpr const char* kUndeclaredText =
    "Failure: \n\nA port structure given to functions of the SAPI lib\n have to be initialized "
    "via SAPI_DECLARE(<identifier>)!\n";

// A total read or write limit beyond this many milliseconds (decades) counts as none, so that
// deadlines never overflow the clock.
constexpr uint64_t kMaxTotalMs = uint64_t{1} << 40;

// A drain may take this much longer than the bytes' wire time (a busy USB adapter).
constexpr int64_t kDrainSlackMs = 1000;

using Clock = LinkClock;

// The calling thread's last result, with the errno of a System result beside it.
thread_local SerialResult tResult = SerialResult::Ok;
thread_local int tErrno = 0;

void SetError(SerialResult result) {
  tResult = result;
  tErrno = 0;
}

// Sets the last result from a driver's errno (0: success) and answers whether it was a success.
int Result(int err) {
  tResult = err == 0 ? SerialResult::Ok : SerialResult::System;
  tErrno = err;
  return err == 0 ? 1 : 0;
}

bool IsBlank(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string RecordName(const SapiPort* port) {
  return std::string(port->name, strnlen(port->name, kSapiNameCapacity));
}

// The lock of the record's name; the key is looked up again only when the name changed.
const PortLockKey& LockKeyOf(SapiPort* port) {
  const size_t n = strnlen(port->name, kSapiNameCapacity);
  const PortLockKey* key = port->lockKey.load(std::memory_order_acquire);
  if (key == nullptr || key->PortName().size() != n ||
      std::memcmp(key->PortName().data(), port->name, n) != 0) {
    key = &PortLockKey::For(std::string(port->name, n));
    port->lockKey.store(key, std::memory_order_release);
  }
  return *key;
}

// First step of every operation: a record must exist and be declared.
bool ValidRecord(const SapiPort* port) {
  if (!port) {
    SetError(SerialResult::BadArgument);
    return false;
  }
  if (port->signature != kSapiSignature) {
    ShowMessage(MsgKind::Error, kUndeclaredText, kSapiCaption, MsgOwner::Desktop);
    SetError(SerialResult::BadArgument);
    return false;
  }
  return true;
}

bool RequireOpen(const SapiPort* port) {
  if (port->handle) return true;
  SetError(SerialResult::NotOpen);
  return false;
}

void ResetRecord(SapiPort* port) {
  port->handle.reset();
  std::memset(port->name, 0, sizeof port->name);
  port->signature = kSapiSignature;
  port->baudRate = 0;
  port->dataBits = 0;
  port->stopBits = 0;
  port->parity = 0;
  port->timeouts = SapiTimeouts{};
  port->outputs = 0;
  port->lineErrors = 0;
  port->echo = 0;
  port->appliedTimeouts = SapiTimeouts{};
  port->countsSeen = LineErrorCounts{};
}

// Reads the driver's error counters and queue; ORs the new error events into the record.
// Returns the driver's error (0 on success); count receives the bytes waiting.
int QueryStatus(SapiPort* port, int& count) {
  if (int err = port->handle->InQueue(count)) return err;
  LineErrorCounts now;
  int err = port->handle->GetErrorCounts(now);
  if (err == ENOTTY) return 0;  // no counters on this device: no error bits, no failure
  if (err != 0) return err;
  const LineErrorCounts& seen = port->countsSeen;
  // Counters wrap around; unsigned differences stay right across the wrap.
  if (now.bufOverrun - seen.bufOverrun != 0) port->lineErrors |= kLineErrRxOverflow;
  if (now.overrun - seen.overrun != 0) port->lineErrors |= kLineErrOverrun;
  if (now.parity - seen.parity != 0) port->lineErrors |= kLineErrParity;
  if (now.frame - seen.frame != 0) port->lineErrors |= kLineErrFrame;
  if (now.brk - seen.brk != 0) port->lineErrors |= kLineErrBreak;
  port->countsSeen = now;
  return 0;
}

std::chrono::milliseconds Ms(uint64_t ms) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::min(ms, kMaxTotalMs)));
}

// Milliseconds left until deadline, rounded up so that a wait never ends early.
// Time one character takes on the line at the record's settings: start bit, data bits, parity
// bit, stop bits.
Clock::duration CharTime(const SapiPort* port) {
  const uint64_t halfBits = 2u * (1u + port->dataBits) + (port->parity != 0 ? 2u : 0u) +
                            (port->stopBits == 0   ? 2u
                             : port->stopBits == 1 ? 3u
                                                   : 4u);
  const uint64_t baud = port->baudRate != 0 ? port->baudRate : 1;
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::nanoseconds(halfBits * 500000000ull / baud));
}

// A write has ended when its bytes have left the line: the driver's output buffer is empty and,
// since a pseudo-terminal or a USB adapter reports that long before the wire is done, the bytes'
// wire time at the line's rate has passed since the write began. Every time limit for the
// device's reaction starts after this.
int WaitUntilSent(SapiPort* port, Clock::time_point started, size_t count) {
  const Clock::time_point onWire = started + CharTime(port) * static_cast<int64_t>(count);
  const auto wireMs = std::chrono::ceil<std::chrono::milliseconds>(onWire - Clock::now()).count();
  const int drainLimitMs = static_cast<int>(std::max<int64_t>(wireMs, 0) + kDrainSlackMs);
  if (int err = port->handle->Drain(drainLimitMs)) return err;
  SleepUntil(onWire);
  return 0;
}

int RemainingMs(Clock::time_point deadline, Clock::time_point now) {
  if (deadline <= now) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
  return ms > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(ms);
}

// Reads up to count bytes under the record's applied read timeouts, with one deadline for the
// whole read. got receives what came; returns a driver error or 0 (also when fewer came).
int ReadBlock(SapiPort* port, uint8_t* buffer, uint32_t count, uint32_t& got) {
  got = 0;
  const SapiTimeouts& t = port->appliedTimeouts;
  // interval MAX, totals 0: take what is waiting and return at once.
  const bool immediate =
      t.readInterval == kSapiTimeoutMax && t.readTotalMultiplier == 0 && t.readTotalConstant == 0;
  // interval MAX, multiplier MAX, constant between: return as soon as anything came, waiting at
  // most the constant for it.
  const bool returnOnData = t.readInterval == kSapiTimeoutMax &&
                            t.readTotalMultiplier == kSapiTimeoutMax && t.readTotalConstant != 0 &&
                            t.readTotalConstant != kSapiTimeoutMax;
  const uint64_t totalMs = returnOnData
                               ? t.readTotalConstant
                               : uint64_t{t.readTotalMultiplier} * count + t.readTotalConstant;
  const bool hasTotal = !immediate && totalMs != 0 && totalMs < kMaxTotalMs;
  const bool hasInterval = !returnOnData && t.readInterval != 0 && !immediate;
  const auto start = Clock::now();
  const auto deadline = start + Ms(totalMs);
  const auto interval = Ms(t.readInterval);
  auto lastByte = start;

  SerialDriver& driver = *port->handle;
  for (;;) {
    size_t n = 0;
    if (int err = driver.ReadSome(buffer + got, count - got, n)) return err;
    auto now = Clock::now();
    if (n > 0) {
      if (LineTap* tap = port->tap.load()) tap->Received(buffer + got, n);
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

// Steps common to Serial_Open and Serial_OpenDriver once the driver is open: break off, the
// outputs word cleared, the error counters taken as the starting point, the settings read.
int AttachDriver(SapiPort* port, std::unique_ptr<SerialDriver> driver) {
  port->handle = std::move(driver);
  int err = port->handle->SetBreak(false);
  if (err != 0 && err != ENOTTY) return Result(err);
  port->outputs = 0;
  port->lineErrors = 0;
  LineErrorCounts counts;
  port->countsSeen = port->handle->GetErrorCounts(counts) == 0 ? counts : LineErrorCounts{};
  if (LineTap* tap = port->tap.load()) tap->Event(std::string("open ") + RecordName(port));
  return Serial_GetState(port);
}

// Normalises name with prefix and checks that the record may be opened under it; the record's
// name changes only when it is closed.
bool PrepareOpen(SapiPort* port, const char* name) {
  char normalized[kSapiNameCapacity];
  if (!name || !Serial_NormalizeName(name, normalized, sizeof normalized, true)) {
    SetError(SerialResult::BadArgument);
    return false;
  }
  if (port->handle) {
    PortLock lock(LockKeyOf(port));
    SetError(SerialResult::AlreadyOpen);
    return false;
  }
  std::memcpy(port->name, normalized, sizeof normalized);
  return true;
}

}  // namespace

SapiPort::SapiPort(SapiDeclareTag) : signature(kSapiSignature) {}

uint32_t Serial_GetLastError() {
  switch (tResult) {
    case SerialResult::Ok:
      return 0;
    case SerialResult::NotOpen:
      return kSapiErrInvalidHandle;
    case SerialResult::AlreadyOpen:
      return kSapiErrAlreadyOpen;
    case SerialResult::BadArgument:
      return kSapiErrBadArguments;
    case SerialResult::WriteShort:
      return kSapiErrWriteFault;
    case SerialResult::ReadShort:
      return kSapiErrReadFault;
    case SerialResult::EchoMismatch:
      return kSapiErrEchoMismatch;
    case SerialResult::EchoInputWaiting:
      return kSapiErrEchoInputWaiting;
    case SerialResult::BufferTooSmall:
      return kSapiErrBufferTooSmall;
    case SerialResult::System:
      return static_cast<uint32_t>(tErrno);
  }
  return static_cast<uint32_t>(tErrno);
}

SerialResult SerialLastResult() {
  return tResult;
}

int SerialLastErrno() {
  return tResult == SerialResult::System ? tErrno : 0;
}

int Serial_NormalizeName(const char* text, char* out, size_t capacity, bool withPrefix) {
  if (!text || !out || capacity == 0) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  const char* p = text;
  while (*p && (IsBlank(static_cast<unsigned char>(*p)) || *p == '\\' || *p == '.')) ++p;
  std::string name;
  if (*p == '/') {
    // A device path, used as written: only the blanks after it go.
    name = p;
    while (!name.empty() && IsBlank(static_cast<unsigned char>(name.back()))) name.pop_back();
  } else {
    std::string rest = p;
    size_t cut = 0;
    while (cut < rest.size() && !IsBlank(static_cast<unsigned char>(rest[cut]))) ++cut;
    std::string word = rest.substr(0, cut);
    for (char& c : word) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (IsPrefixedPortName(word)) {
      name = word;
    } else {
      name = withPrefix ? kDevicePrefix + rest : rest;
      size_t end = name.find_first_of(" \t\n\v\f\r:", withPrefix ? std::strlen(kDevicePrefix) : 0);
      if (end != std::string::npos) name.erase(end);
      for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
    }
  }
  if (name.size() >= capacity) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  std::memcpy(out, name.c_str(), name.size() + 1);
  SetError(SerialResult::Ok);
  return 1;
}

std::string Serial_DevicePath(const char* normalizedName) {
  if (!normalizedName) return std::string();
  std::string name = normalizedName;
  if (!name.empty() && name[0] == '/') return name;
  if (name.rfind(kDevicePrefix, 0) == 0) name.erase(0, std::strlen(kDevicePrefix));
  if (name.rfind(kComName, 0) != 0) return std::string();
  std::string digits = name.substr(std::strlen(kComName));
  if (digits.empty() || digits.size() > 4 || digits[0] == '0') return std::string();
  unsigned long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::string();
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number < 1 || number > kMaxComNumber) return std::string();
  return kTtySPrefix + std::to_string(number - 1);
}

bool Serial_PortExists(const char* name) {
  char normalized[kSapiNameCapacity];
  const SerialResult savedResult = tResult;
  const int savedErrno = tErrno;
  bool ok = name && Serial_NormalizeName(name, normalized, sizeof normalized, false);
  tResult = savedResult;
  tErrno = savedErrno;
  if (!ok) return false;
  const std::optional<PortProvider> provider = PortProviderFor(normalized);
  if (!provider || !provider->exists) return false;
  if (!provider->prefix.empty() || normalized[0] == '/') return provider->exists(normalized);
  // A COM name stands for a UART that answers, not only a device file the kernel made.
  std::string path = Serial_DevicePath(normalized);
  return !path.empty() && SerialHardwareExists(path);
}

std::vector<SerialPortInfo> ListSerialPorts() {
  return ListProvidedPorts();
}

int Serial_EnumPorts(char* out, uint32_t capacity, uint32_t* needed) {
  if (!needed) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  std::vector<SerialPortInfo> ports = ListSerialPorts();
  size_t size = 1;  // the closing zero byte
  for (const auto& port : ports) size += port.path.size() + 1;
  *needed = static_cast<uint32_t>(size);
  if (!out || capacity < size) {
    SetError(SerialResult::BufferTooSmall);
    return 0;
  }
  char* p = out;
  for (const auto& port : ports) {
    std::memcpy(p, port.path.c_str(), port.path.size() + 1);
    p += port.path.size() + 1;
  }
  *p = '\0';
  SetError(SerialResult::Ok);
  return 1;
}

int Serial_Open(SapiPort* port, const char* name) {
  if (!ValidRecord(port) || !PrepareOpen(port, name)) return 0;
  PortLock lock(LockKeyOf(port));
  if (port->handle) {
    SetError(SerialResult::AlreadyOpen);
    return 0;
  }
  if (!Serial_PortExists(port->name)) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  const std::optional<PortProvider> provider = PortProviderFor(port->name);
  if (!provider || !provider->open) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  // The device provider opens device paths; a prefixed provider its own names.
  const std::string target =
      provider->prefix.empty() ? Serial_DevicePath(port->name) : RecordName(port);
  int err = 0;
  std::unique_ptr<SerialDriver> driver = provider->open(target, err);
  if (!driver) return Result(err != 0 ? err : EIO);
  return AttachDriver(port, std::move(driver));
}

int Serial_OpenDriver(SapiPort* port, const char* name, std::unique_ptr<SerialDriver> driver) {
  if (!ValidRecord(port)) return 0;
  if (!driver) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  if (!PrepareOpen(port, name)) return 0;
  PortLock lock(LockKeyOf(port));
  return AttachDriver(port, std::move(driver));
}

int Serial_Close(SapiPort* port) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  if (LineTap* tap = port->tap.load()) tap->Event("close");
  ResetRecord(port);
  SetError(SerialResult::Ok);
  return 1;
}

int Serial_IsOpen(SapiPort* port) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  return Serial_GetErrors(port, false) < kLineErrStatusUnreadable ? 1 : 0;
}

int Serial_GetState(SapiPort* port) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  DriverLine line;
  if (int err = port->handle->GetLine(line)) return Result(err);
  int waiting = 0;
  QueryStatus(port, waiting);  // only to bring the line errors up to date
  port->baudRate = line.baudRate;
  port->dataBits = line.dataBits;
  port->stopBits = line.stopBits;
  port->parity = line.parity;
  port->timeouts = port->appliedTimeouts;

  LineMode dtr = LineMode::Disabled, rts = LineMode::Disabled;
  int err = port->handle->GetModes(dtr, rts);
  if (err == ENOTTY) return Result(0);  // modes unknown: the outputs word keeps its bits
  if (err != 0) return Result(err);
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
  port->outputs = static_cast<uint16_t>((port->outputs & kOutBreakMask) | bits);
  return Result(0);
}

int Serial_SetState(SapiPort* port) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  DriverLine line;
  int err = port->handle->GetLine(line);
  if (err == 0) {
    line.baudRate = port->baudRate;
    line.dataBits = port->dataBits;
    line.stopBits = port->stopBits;
    line.parity = port->parity;
    line.parityCheck = port->parity != 0;
    err = port->handle->SetLine(line);
  }
  port->appliedTimeouts = port->timeouts;
  int readBack = Serial_GetState(port);
  if (err != 0) return Result(err);
  return readBack;
}

int SetOutputs(SapiPort* port, uint16_t request) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  SerialDriver& driver = *port->handle;
  const uint16_t rts = request & kOutRtsMask;
  const uint16_t dtr = request & kOutDtrMask;
  // Handshake on a modem line is not available from the tty layer.
  if (rts == kOutRtsHandshake || dtr == kOutDtrHandshake) return Result(EINVAL);
  uint16_t next = port->outputs;
  if (rts) next = static_cast<uint16_t>((next & ~kOutRtsMask) | rts);
  if (dtr) next = static_cast<uint16_t>((next & ~kOutDtrMask) | dtr);
  if (rts && rts != (port->outputs & kOutRtsMask)) {
    int err = driver.SetRts(rts == kOutRtsOn);
    if (err != 0 && err != ENOTTY) return Result(err);
  }
  if (dtr && dtr != (port->outputs & kOutDtrMask)) {
    int err = driver.SetDtr(dtr == kOutDtrOn);
    if (err != 0 && err != ENOTTY) return Result(err);
    if (LineTap* tap = port->tap.load()) tap->Event(dtr == kOutDtrOn ? "DTR on" : "DTR off");
  }
  port->outputs = next;

  int err = 0;
  if (request & kOutBreakOn) {
    err = driver.SetBreak(true);
  } else if ((request & kOutBreakOff) != (port->outputs & kOutBreakOff) ||
             (port->outputs & kOutBreakOn)) {
    err = driver.SetBreak(false);
  }
  if (err != 0 && err != ENOTTY) return Result(err);
  port->outputs =
      static_cast<uint16_t>((port->outputs & ~kOutBreakMask) | (request & kOutBreakMask));
  return Result(0);
}

uint16_t Serial_GetErrors(SapiPort* port, bool clear) {
  if (!ValidRecord(port)) return kLineErrStatusUnreadable;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return kLineErrStatusUnreadable;
  int waiting = 0;
  if (int err = QueryStatus(port, waiting)) {
    Result(err);
    return kLineErrStatusUnreadable;
  }
  uint16_t bits = port->lineErrors;
  if (clear) port->lineErrors = 0;
  SetError(SerialResult::Ok);
  return bits;
}

int Serial_InQueue(SapiPort* port) {
  if (!ValidRecord(port)) return -1;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return -1;
  int waiting = 0;
  if (int err = QueryStatus(port, waiting)) {
    Result(err);
    return -1;
  }
  SetError(SerialResult::Ok);
  return waiting;
}

int Serial_Purge(SapiPort* port) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  return Result(port->handle->Purge());
}

int Serial_Write(SapiPort* port, const void* data, int length) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  if (!data) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  if (!SetOutputs(port, kOutBreakOff)) return 0;
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t n = length < 0 ? std::strlen(static_cast<const char*>(data)) : static_cast<size_t>(length);
  // Longer transfers are refused rather than cut to their low 16 bits.
  if (n > kSapiMaxTransfer) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  if (n == 0) return Result(0);
  if (port->echo) {
    int waiting = Serial_InQueue(port);
    if (waiting < 0) return 0;
    if (waiting > 0) {
      // The echo could not be told apart from what was waiting: nothing is sent.
      SetError(SerialResult::EchoInputWaiting);
      return 0;
    }
  }
  const SapiTimeouts& t = port->appliedTimeouts;
  uint64_t limitMs = uint64_t{t.writeTotalMultiplier} * n + t.writeTotalConstant;
  int timeoutMs = (limitMs == 0 || limitMs > 0x7FFFFFFF) ? -1 : static_cast<int>(limitMs);
  size_t written = 0;
  const Clock::time_point started = Clock::now();
  int writeErr = port->handle->Write(bytes, n, written, timeoutMs);
  if (LineTap* tap = port->tap.load(); tap != nullptr && written > 0) tap->Sent(bytes, written);
  if (writeErr != 0) return Result(writeErr);
  if (written < n) {
    SetError(SerialResult::WriteShort);
    return 0;
  }
  if (int err = WaitUntilSent(port, started, n)) return Result(err);
  if (!port->echo) return Result(0);

  uint8_t echo[kSapiEchoChunk];
  for (size_t done = 0; done < n;) {
    uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(kSapiEchoChunk, n - done));
    uint32_t got = 0;
    if (!Serial_Read(port, echo, chunk, &got) || got != chunk ||
        std::memcmp(echo, bytes + done, chunk) != 0) {
      SetError(SerialResult::EchoMismatch);
      return 0;
    }
    done += chunk;
  }
  return Result(0);
}

int Serial_WaitInput(SapiPort* port, uint32_t limitMs) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  SerialDriver& driver = *port->handle;
  const auto deadline = Clock::now() + Ms(limitMs);
  for (;;) {
    int waiting = 0;
    if (int err = driver.InQueue(waiting)) return Result(err);
    if (waiting > 0) return Result(0);
    const auto now = Clock::now();
    if (now >= deadline) break;
    bool ready = false, woken = false;
    if (int err = driver.WaitReadable(RemainingMs(deadline, now), ready, woken)) return Result(err);
    if (woken) break;
  }
  SetError(SerialResult::ReadShort);
  return 0;
}

int Serial_GetChar(SapiPort* port, uint8_t* byte, uint32_t limitMs) {
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  const SapiTimeouts saved = port->appliedTimeouts;
  SapiTimeouts once = saved;
  once.readInterval = 0;
  once.readTotalMultiplier = 0;
  once.readTotalConstant = limitMs;
  // A limit of 0 would mean "no limit at all" and could block for ever: take only what waits.
  if (limitMs == 0) once.readInterval = kSapiTimeoutMax;
  port->appliedTimeouts = once;
  uint8_t received = 0;
  uint32_t got = 0;
  int err = ReadBlock(port, &received, 1, got);
  port->appliedTimeouts = saved;
  if (err != 0) return Result(err);
  if (got == 0) {
    SetError(SerialResult::ReadShort);
    return 0;
  }
  if (byte) *byte = received;
  return Result(0);
}

int Serial_Read(SapiPort* port, void* buffer, uint32_t count, uint32_t* received) {
  if (received) *received = 0;
  if (!ValidRecord(port)) return 0;
  PortLock lock(LockKeyOf(port));
  if (!RequireOpen(port)) return 0;
  if (!buffer || count > kSapiMaxTransfer) {
    SetError(SerialResult::BadArgument);
    return 0;
  }
  if (count == 0) return Result(0);
  uint32_t got = 0;
  int err = ReadBlock(port, static_cast<uint8_t*>(buffer), count, got);
  if (received) *received = got;
  if (err != 0) return Result(err);
  if (got < count) {
    SetError(SerialResult::ReadShort);
    return 0;
  }
  return Result(0);
}

void Serial_Wake(SapiPort* port) {
  if (port && port->signature == kSapiSignature && port->handle) port->handle->Wake();
}

// SerialPort: every call goes through the layer's functions on the port's record, so both keep
// exactly the same behaviour while callers move over.

// Going away releases the driver (and with it the device) without the steps of Close: no line
// event for a tap that may be gone, no port lock taken while the program ends.
SerialPort::~SerialPort() = default;

SerialResult SerialPort::Open(const std::string& name) {
  Serial_Open(&record_, name.c_str());
  return tResult;
}

SerialResult SerialPort::OpenDriver(const std::string& name, std::unique_ptr<SerialDriver> driver) {
  Serial_OpenDriver(&record_, name.c_str(), std::move(driver));
  return tResult;
}

SerialResult SerialPort::Close() {
  Serial_Close(&record_);
  return tResult;
}

bool SerialPort::IsOpen() {
  return Serial_IsOpen(&record_) != 0;
}

bool SerialPort::Opened() const {
  return record_.handle != nullptr;
}

std::string SerialPort::Name() const {
  return RecordName(&record_);
}

SerialSettings SerialPort::Settings() const {
  SerialSettings s;
  s.baudRate = record_.baudRate;
  s.dataBits = record_.dataBits;
  s.stopBits = record_.stopBits;
  s.parity = record_.parity;
  s.echo = record_.echo != 0;
  s.timeouts = record_.timeouts;
  return s;
}

SerialResult SerialPort::Apply(const SerialSettings& settings) {
  {
    // The fields change under the port's lock, like every other change of the record.
    PortLock lock(LockKeyOf(&record_));
    record_.baudRate = settings.baudRate;
    record_.dataBits = settings.dataBits;
    record_.stopBits = settings.stopBits;
    record_.parity = settings.parity;
    record_.echo = settings.echo ? 1 : 0;
    record_.timeouts = settings.timeouts;
  }
  Serial_SetState(&record_);
  return tResult;
}

SerialResult SerialPort::Refresh() {
  Serial_GetState(&record_);
  return tResult;
}

void SerialPort::SetEcho(bool on) {
  PortLock lock(LockKeyOf(&record_));
  record_.echo = on ? 1 : 0;
}

int SerialPort::DriverSetDtr(bool on) {
  PortLock lock(LockKeyOf(&record_));
  return record_.handle ? record_.handle->SetDtr(on) : EBADF;
}

uint16_t SerialPort::Outputs() const {
  return record_.outputs;
}

SerialResult SerialPort::SetOutputs(uint16_t request) {
  lumo::SetOutputs(&record_, request);
  return tResult;
}

uint16_t SerialPort::Errors(bool clear) {
  return Serial_GetErrors(&record_, clear);
}

int SerialPort::InQueue() {
  return Serial_InQueue(&record_);
}

SerialResult SerialPort::Purge() {
  Serial_Purge(&record_);
  return tResult;
}

SerialResult SerialPort::Write(const void* data, size_t length) {
  // Beyond the largest transfer the layer refuses it (after its checks of the port), as it
  // refuses kSapiMaxTransfer + 1.
  const int n = static_cast<int>(std::min<size_t>(length, size_t{kSapiMaxTransfer} + 1));
  Serial_Write(&record_, data, n);
  return tResult;
}

SerialResult SerialPort::WaitInput(uint32_t limitMs) {
  Serial_WaitInput(&record_, limitMs);
  return tResult;
}

SerialResult SerialPort::GetChar(uint8_t& byte, uint32_t limitMs) {
  Serial_GetChar(&record_, &byte, limitMs);
  return tResult;
}

SerialResult SerialPort::Read(void* buffer, uint32_t count, uint32_t& received) {
  Serial_Read(&record_, buffer, count, &received);
  return tResult;
}

void SerialPort::Wake() {
  Serial_Wake(&record_);
}

void SerialPort::TakeWake() {
  if (!record_.handle) return;
  bool ready = false, woken = false;
  record_.handle->WaitReadable(0, ready, woken);
}

LineTap* SerialPort::Tap() const {
  return record_.tap.load();
}

void SerialPort::SetTap(LineTap* tap) {
  record_.tap.store(tap);
}

}  // namespace lumo

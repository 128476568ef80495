// The serial port layer: the only code that touches a serial port.
//
// State: a SerialPort is closed when made and after Close; Open (by name, through the port
// providers) or OpenDriver (over a driver the caller made) make it open. While open it holds the
// driver, the line settings as last read back from the device, the timeouts and echo flag the
// transfers obey (as last applied), the outputs word and the line error bits gathered since they
// were last cleared. Every call holds the port's lock (re-entrant for its thread, system-wide
// through a lock file; platform/port_lock.h) from its first check to its return.
//
// Results: every call answers a SerialResult and leaves it as the calling thread's last result
// (SerialLastResult); a System result keeps the errno the device or the system gave beside it
// (SerialLastErrno: EBUSY the port is in use, EIO it is gone, ...).
//
// Port names: inside the program a port is its path: a device file ("/dev/ttyUSB0") or a
// registered provider's own name ("SIM:TG5" when the program registered the simulated devices;
// platform/port_provider.h). What a user types ("COM1", "com12:", "\\.\COM3", " /dev/ttyUSB0 ")
// becomes a path once, where it enters the program (link/port_names.h); Open takes only paths.
//
//   SerialResult          the closed set of results
//   SerialLastResult      the calling thread's last result of the layer
//   SerialLastErrno       the errno of that result when it is System (0 otherwise)
//   SerialTimeouts        the five timeouts of a port
//   SerialSettings        line settings, echo and timeouts a port is to work with
//   LineTap               an observer of every byte and line event of a port (tracing)
//   SerialPort            one port: open, close, settings, outputs, transfers
//     Open / OpenDriver   open by path through its provider / over a driver the caller made
//     Close               close the port (the tap sees it); going away closes without a trace
//     IsOpen              open and its status readable
//     Apply / Refresh     apply line settings and timeouts and read them back / read them back
//     SetBaudRate         Apply with only the rate changed
//     SetOutputs          switch RTS, DTR and break
//     Errors              accumulated line error bits (kLineErrStatusUnreadable: unreadable)
//     InQueue / Purge     received bytes waiting / discard them
//     Write               send bytes, wait until they have left the line (driver drained and
//                         their wire time passed), then check the echo when echo is on
//     WaitInput / GetChar / Read
//                         wait for a byte / take one within a limit / exactly count bytes
//     Wake / TakeWake     end a wait for input in progress on another thread / drop a pending wake
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/port_lock.h"
#include "platform/serial_driver.h"

namespace lumo {

// Longest port name, in bytes (a path of the system the names come from holds at most 260).
inline constexpr size_t kSerialNameMax = 260;
// A single transfer moves at most this many bytes.
inline constexpr uint32_t kSerialMaxTransfer = 65535;
// Echoes are read back and compared in chunks of at most this many bytes.
inline constexpr uint32_t kSerialEchoChunk = 100;
// A read interval of this value with both read totals 0 returns at once with what is waiting.
inline constexpr uint32_t kSerialTimeoutMax = 0xFFFFFFFF;
// Bits of the outputs word and of SetOutputs requests.
inline constexpr uint16_t kOutRtsOn = 0x01;
inline constexpr uint16_t kOutRtsOff = 0x02;
inline constexpr uint16_t kOutRtsHandshake = 0x03;
inline constexpr uint16_t kOutRtsMask = 0x03;
inline constexpr uint16_t kOutDtrOn = 0x04;
inline constexpr uint16_t kOutDtrOff = 0x08;
inline constexpr uint16_t kOutDtrHandshake = 0x0C;
inline constexpr uint16_t kOutDtrMask = 0x0C;
inline constexpr uint16_t kOutBreakOn = 0x10;
inline constexpr uint16_t kOutBreakOff = 0x20;
inline constexpr uint16_t kOutBreakMask = 0x30;

// Line error bits.
inline constexpr uint16_t kLineErrRxOverflow = 0x1;
inline constexpr uint16_t kLineErrOverrun = 0x2;
inline constexpr uint16_t kLineErrParity = 0x4;
inline constexpr uint16_t kLineErrFrame = 0x8;
inline constexpr uint16_t kLineErrBreak = 0x10;
inline constexpr uint16_t kLineErrStatusUnreadable = 0x8000;

// The five timeouts in milliseconds, with the meaning they have on the system the layer was
// designed for: the read interval is the largest gap between two received bytes (0: none); a
// read may take at most multiplier x count + constant (both 0: no total limit); likewise for
// writes.
struct SerialTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
  bool operator==(const SerialTimeouts&) const = default;
};

// Sees what passes on a port: bytes sent and received (echoes included) and line events (open,
// close, DTR). Called on the thread using the port while it holds the port's lock, so it must
// return at once, never block on I/O and never call the port. It stays set across closing and
// opening.
class LineTap {
 public:
  virtual ~LineTap() = default;
  virtual void Sent(const uint8_t* data, size_t n) = 0;
  virtual void Received(const uint8_t* data, size_t n) = 0;
  virtual void Event(const std::string& text) = 0;
};

// What an operation of the layer came to. System: the device or the system refused it, and the
// errno it gave is kept beside the result (SerialLastErrno).
enum class SerialResult : uint8_t {
  Ok,
  NotOpen,           // the port is not open
  AlreadyOpen,       // open on a port that is open already
  BadArgument,       // missing buffer, a name that is no port's path, length out of range
  WriteShort,        // the driver took fewer bytes than were to be written
  ReadShort,         // fewer bytes came than were requested (including none, or a wake)
  EchoMismatch,      // the echo was short or differed
  EchoInputWaiting,  // echo on and received bytes were waiting: nothing was sent
  System,            // errno from the device (EBUSY: in use, EIO: gone, ...)
};

SerialResult SerialLastResult();
int SerialLastErrno();

struct SerialSettings {
  uint32_t baudRate = 0;
  uint8_t dataBits = 0;  // 4 to 8
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool echo = false;     // the line returns every byte sent
  SerialTimeouts timeouts;
  bool operator==(const SerialSettings&) const = default;
};

// One serial port. Settings are applied with Apply and read back from the device; what the port
// obeys is what was last applied. Calls from several threads are serialised by the port's lock;
// Wake alone may run beside a call in progress, and Opened and Name never wait for one.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  // Releases the driver (and with it the device) without the steps of Close: no line event for a
  // tap that may be gone, no port lock taken while the program ends.
  ~SerialPort();

  // path: a device file or a provider's own name, as PortPathOf gives it.
  SerialResult Open(const std::string& path);
  // name: what the port is called (its lock and Name); the driver is the port.
  SerialResult OpenDriver(const std::string& name, std::unique_ptr<SerialDriver> driver);
  SerialResult Close();
  // Open and its status readable.
  bool IsOpen();
  // Opened and not closed since, whether or not its status reads.
  bool Opened() const;
  // The name of the last open (also of one that failed); "" after Close.
  std::string Name() const;

  // The settings as last read from the device (echo and timeouts: as last applied).
  SerialSettings Settings() const;
  // Applies settings, then reads them back; the timeouts and echo take effect even when the
  // device refused the line settings.
  SerialResult Apply(const SerialSettings& settings);
  // Apply with only the rate changed.
  SerialResult SetBaudRate(uint32_t baudRate);
  // Reads the line settings and outputs back from the device.
  SerialResult Refresh();
  // Echo on or off at once, without touching the device.
  void SetEcho(bool on);
  // The kOut... bits as last set or read.
  uint16_t Outputs() const;
  SerialResult SetOutputs(uint16_t request);
  // Asks the device itself to switch DTR, bypassing the outputs word: its errno (ENOTTY: the
  // device has no DTR; EBADF: not open), so that a caller can learn whether DTR is switchable.
  int DriverSetDtr(bool on);
  // Accumulated kLineErr... bits (kLineErrStatusUnreadable: status unreadable).
  uint16_t Errors(bool clear);
  // Received bytes waiting (-1: status unreadable).
  int InQueue();
  SerialResult Purge();
  // Sends length bytes (at most kSerialMaxTransfer), waits until they have left the line, then
  // checks the echo when echo is on.
  SerialResult Write(const void* data, size_t length);
  // Ok when a received byte waits (it stays waiting); ReadShort when none came within limitMs
  // or Wake ended the wait.
  SerialResult WaitInput(uint32_t limitMs);
  // limitMs 0 takes only a byte that is already waiting.
  SerialResult GetChar(uint8_t& byte, uint32_t limitMs);
  // Exactly count bytes within the read timeouts; received says how many came.
  SerialResult Read(void* buffer, uint32_t count, uint32_t& received);
  // Any thread: ends a wait for input of this port in progress (or the next one).
  void Wake();
  // Takes a wake still pending, so that it ends no later wait; waits for and reads nothing.
  void TakeWake();
  // The observer of the line (nullptr: none); any thread may set it.
  LineTap* Tap() const;
  void SetTap(LineTap* tap);

 private:
  const PortLockKey& LockKey() const;
  // Takes name as the port's name (and its lock) for an open; the name changes only while closed.
  bool PrepareOpen(const std::string& name);
  SerialResult Attach(std::unique_ptr<SerialDriver> driver);
  void Reset();
  bool RequireOpen();
  int QueryStatus(int& waiting);

  std::unique_ptr<SerialDriver> driver_;  // null while closed
  std::atomic<bool> opened_{false};
  mutable std::mutex nameMutex_;  // guards name_ alone, so Name never waits for a transfer
  std::string name_;
  // The lock of the port's name (of "" while never opened).
  std::atomic<const PortLockKey*> lockKey_{nullptr};
  SerialSettings settings_;
  // The timeouts the transfers obey: as last applied.
  SerialTimeouts applied_;
  uint16_t outputs_ = 0;     // kOut... bits
  uint16_t lineErrors_ = 0;  // kLineErr... bits accumulated since the last clearing
  // The driver's error counts when the line errors were last updated.
  LineErrorCounts countsSeen_;
  std::atomic<LineTap*> tap_{nullptr};
};

}  // namespace lumo

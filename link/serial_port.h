// The serial port layer ("Serial API"): the only code that touches a serial port.
//
// State: one record, SapiPort, per port; the system declares exactly one, owned by the link
// engine. Its public fields are the owner's to fill in (baud rate, echo, timeouts) before
// Serial_SetState applies them; the driver's copy of the settings (what was last applied) lives in
// the record's private part and is what the transfers obey. Closing returns the record to the
// state SAPI_DECLARE gave it. Every operation on a record holds the per-port lock (re-entrant for
// its thread, system-wide through a lock file) from its record check to its return.
//
// Results: 1 success, 0 failure; the reason is in the calling thread's last-error code
// (Serial_GetLastError), 0 after success. Codes of the layer itself:
//   6           the port is not open
//   29          the driver accepted fewer bytes than were to be written
//   30          fewer bytes were received than requested (including none)
//   85          open on a record whose port is already open
//   160         missing buffer or record, undeclared record, bad name, unknown port, length out
//               of range
//   0x20000001  echo check failed: the echo was short or differed
//   0x20000002  echo on and received bytes were waiting: the write sent nothing
//   0x20000003  Serial_EnumPorts: the buffer is too small for the list (see needed)
// Any other value is an errno value from the device (EBUSY: the port is in use, EIO: gone).
//
// Port names: "COM1", "com12:", "\\.\COM3" are normalised to "\\.\COMn" and open /dev/ttyS<n-1>;
// a name beginning with "/" is a device path used as written (blanks around it removed); a name
// beginning with a registered provider's prefix (platform/port_provider.h; "SIM:" when the
// program registered the simulated devices) is that provider's, kept in upper case. A port is
// opened through the provider owning its name; the device provider gets the device path.
//
//   SAPI_DECLARE          declare a record in its initial state
//   Serial_GetLastError   the calling thread's last-error code
//   Serial_NormalizeName  a port name in the layer's normal form
//   Serial_DevicePath     the device file a normalised name opens ("" for none)
//   Serial_PortExists     whether the machine has that port
//   Serial_EnumPorts      the serial ports as a double-zero-terminated list
//   ListSerialPorts       the serial ports with a description each
//   Serial_Open           open a port by name and read its settings into the record
//   Serial_OpenDriver     open a record over a driver the caller made (tests, tools)
//   Serial_Close          close the port and reset the record
//   Serial_IsOpen         open and its status readable
//   Serial_GetState       read line settings, timeouts and output modes into the record
//   Serial_SetState       apply the record's line settings and timeouts, then read them back
//   SetOutputs            switch RTS, DTR and break
//   Serial_GetErrors      accumulated line error bits (0x8000: status unreadable)
//   Serial_InQueue        received bytes waiting (-1: status unreadable)
//   Serial_Purge          discard every received byte not yet read
//   Serial_Write          send bytes, wait until they have left the line (driver drained and
//                         their wire time passed), then check the echo when the echo flag is set
//   Serial_WaitInput      wait until a received byte waits, at most a time limit
//   Serial_GetChar        one byte within a time limit
//   Serial_Read           exactly count bytes within the port's read timeouts
//   Serial_Wake           end a read of this port in progress on another thread
//   LineTap               an observer of every byte and line event of a record (tracing)
//
// The same layer as a class (the functions above are being replaced by it):
//   SerialResult          the closed set of results; System carries an errno beside it
//   SerialLastResult      the calling thread's last result of the layer
//   SerialLastErrno       the errno of that result when it is System (0 otherwise)
//   SerialSettings        line settings, echo and timeouts a port is to work with
//   SerialPort            one port: open, close, settings, outputs, transfers; every call
//                         answers a SerialResult and leaves it (with its errno) as the thread's
//                         last result
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/port_lock.h"
#include "platform/serial_driver.h"
#include "platform/serial_ports.h"

namespace lumo {

// Last-error codes of the layer itself.
inline constexpr uint32_t kSapiErrInvalidHandle = 6;
inline constexpr uint32_t kSapiErrWriteFault = 29;
inline constexpr uint32_t kSapiErrReadFault = 30;
inline constexpr uint32_t kSapiErrAlreadyOpen = 85;
inline constexpr uint32_t kSapiErrBadArguments = 160;
inline constexpr uint32_t kSapiErrEchoMismatch = 0x20000001;
inline constexpr uint32_t kSapiErrEchoInputWaiting = 0x20000002;
inline constexpr uint32_t kSapiErrBufferTooSmall = 0x20000003;

// Capacity of a port name with its terminator (paths hold at most 260 characters).
inline constexpr size_t kSapiNameCapacity = 261;
// A single transfer moves at most this many bytes.
inline constexpr uint32_t kSapiMaxTransfer = 65535;
// Echoes are read back and compared in chunks of at most this many bytes.
inline constexpr uint32_t kSapiEchoChunk = 100;
// A read interval of this value with both read totals 0 returns at once with what is waiting.
inline constexpr uint32_t kSapiTimeoutMax = 0xFFFFFFFF;

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
struct SapiTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
  bool operator==(const SapiTimeouts&) const = default;
};

// Sees what passes on a port: bytes sent and received (echoes included) and line events (open,
// close, DTR). Called on the thread using the port while it holds the port's lock, so it must
// return at once, never block on I/O and never call the port. Set it on a record with
// SapiPort::tap; it stays set across closing and opening.
class LineTap {
 public:
  virtual ~LineTap() = default;
  virtual void Sent(const uint8_t* data, size_t n) = 0;
  virtual void Received(const uint8_t* data, size_t n) = 0;
  virtual void Event(const std::string& text) = 0;
};

struct SapiDeclareTag {};
inline constexpr SapiDeclareTag kSapiDeclare{};

struct SapiPort {
  // A record without SAPI_DECLARE: no signature, refused by every operation.
  SapiPort() = default;
  explicit SapiPort(SapiDeclareTag);
  SapiPort(const SapiPort&) = delete;
  SapiPort& operator=(const SapiPort&) = delete;

  std::unique_ptr<SerialDriver> handle;  // null while closed
  char name[kSapiNameCapacity] = {};     // normalised, e.g. "\\.\COM1"
  uint32_t signature = 0;
  uint32_t baudRate = 0;
  uint8_t dataBits = 0;  // 4 to 8
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  SapiTimeouts timeouts;
  uint16_t outputs = 0;     // kOut... bits
  uint16_t lineErrors = 0;  // kLineErr... bits accumulated since the last clearing
  uint8_t echo = 0;         // the line returns every byte sent

  // The layer's own: the timeouts the transfers obey (as last applied), and the driver's error
  // counts when the line errors were last updated.
  SapiTimeouts appliedTimeouts;
  LineErrorCounts countsSeen;
  // The lock of the record's name, looked up again only when the name changed.
  std::atomic<const PortLockKey*> lockKey{nullptr};

  // The observer of the line (nullptr: none); any thread may set it.
  std::atomic<LineTap*> tap{nullptr};
};

#define SAPI_DECLARE(identifier) ::lumo::SapiPort identifier(::lumo::kSapiDeclare)

// What an operation of the layer came to. System: the device or the system refused it, and the
// errno it gave is kept beside the result (SerialLastErrno).
enum class SerialResult : uint8_t {
  Ok,
  NotOpen,           // the port is not open
  AlreadyOpen,       // open on a port that is open already
  BadArgument,       // missing buffer, bad or unknown port name, length out of range
  WriteShort,        // the driver took fewer bytes than were to be written
  ReadShort,         // fewer bytes came than were requested (including none, or a wake)
  EchoMismatch,      // the echo was short or differed
  EchoInputWaiting,  // echo on and received bytes were waiting: nothing was sent
  BufferTooSmall,    // the port list does not fit the buffer
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
  SapiTimeouts timeouts;
  bool operator==(const SerialSettings&) const = default;
};

// One serial port. Closed when made and after Close; Open or OpenDriver make it open, and it
// stays open until Close (or destruction). Settings are applied with Apply and read back from
// the device; what the port obeys is what was last applied. Calls from several threads are
// serialised by the port's lock; Wake alone may run beside a call in progress.
class SerialPort {
 public:
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;
  ~SerialPort();

  SerialResult Open(const std::string& name);
  SerialResult OpenDriver(const std::string& name, std::unique_ptr<SerialDriver> driver);
  SerialResult Close();
  // Open and its status readable.
  bool IsOpen();
  // Opened and not closed since, whether or not its status reads.
  bool Opened() const;
  // The name of the last open as the layer keeps it (also of one that failed); "" after Close.
  std::string Name() const;

  // The settings as last read from the device (echo and timeouts: as last applied).
  SerialSettings Settings() const;
  // Applies settings, then reads them back; the timeouts and echo take effect even when the
  // device refused the line settings.
  SerialResult Apply(const SerialSettings& settings);
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
  // Sends length bytes (at most kSapiMaxTransfer), waits until they have left the line, then
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
  // The observer of the line (nullptr: none); kept across closing and opening.
  LineTap* Tap() const;
  void SetTap(LineTap* tap);

  // The record underneath, for code not yet moved to this class.
  SapiPort& Record() { return record_; }

 private:
  SapiPort record_{kSapiDeclare};
};

uint32_t Serial_GetLastError();

int Serial_NormalizeName(const char* text, char* out, size_t capacity, bool withPrefix);
std::string Serial_DevicePath(const char* normalizedName);
bool Serial_PortExists(const char* name);
// needed receives the size the list takes, terminators included; fails with
// kSapiErrBufferTooSmall when out is missing or capacity is below it.
int Serial_EnumPorts(char* out, uint32_t capacity, uint32_t* needed);
std::vector<SerialPortInfo> ListSerialPorts();

int Serial_Open(SapiPort* port, const char* name);
int Serial_OpenDriver(SapiPort* port, const char* name, std::unique_ptr<SerialDriver> driver);
int Serial_Close(SapiPort* port);
int Serial_IsOpen(SapiPort* port);
int Serial_GetState(SapiPort* port);
int Serial_SetState(SapiPort* port);
int SetOutputs(SapiPort* port, uint16_t request);
uint16_t Serial_GetErrors(SapiPort* port, bool clear);
int Serial_InQueue(SapiPort* port);
int Serial_Purge(SapiPort* port);
// length < 0: up to the terminating zero byte.
int Serial_Write(SapiPort* port, const void* data, int length);
// 1 when a received byte waits (it stays waiting). 0 when none came within limitMs or
// Serial_Wake ended the wait (kSapiErrReadFault), or the status could not be read (errno).
int Serial_WaitInput(SapiPort* port, uint32_t limitMs);
// limitMs 0 takes only a byte that is already waiting.
int Serial_GetChar(SapiPort* port, uint8_t* byte, uint32_t limitMs);
int Serial_Read(SapiPort* port, void* buffer, uint32_t count, uint32_t* received);
// Any thread, without the port lock: ends a WaitReadable of the port's driver in progress (or
// the next one). The record must stay open while this runs.
void Serial_Wake(SapiPort* port);

}  // namespace lumo

// One open serial device, as the serial port layer (link/serial_port.h) sees it.
//
// The port layer owns the Windows-like semantics (five timeouts, echo check, last-error codes,
// the per-port lock); a driver only moves bytes and switches lines. Two implementations:
//   platform/serial_posix.cpp   a tty device file through termios (real ports and ptys)
//   sim/sim_port.h              the in-process simulated devices
// Both reach the port layer through the provider registry (platform/port_provider.h).
//
// Every call returns 0 on success or a positive errno value. ENOTTY from SetDtr, SetRts,
// SetBreak or GetErrorCounts means "not supported by this device" (a pty has no modem lines and
// no error counters); the port layer treats that as success without effect, never as a failure.
// EIO from InQueue, WaitReadable or ReadSome means the device is gone (adapter unplugged).
//
// Threads: one thread uses a driver at a time (the port layer's lock sees to it), except
// Wake(), which any thread may call at any time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace lumo {

// Line settings in the serial port's codes.
struct DriverLine {
  uint32_t baudRate = 9600;
  uint8_t dataBits = 8;  // 4 to 8
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  bool parityCheck = false;
};

// Modem line modes as the driver reports them.
enum class LineMode : uint8_t { Disabled, Enabled, Handshake };

// Error events counted by the driver since the device was opened.
struct LineErrorCounts {
  uint32_t frame = 0;
  uint32_t parity = 0;
  uint32_t brk = 0;
  uint32_t overrun = 0;     // the UART lost bytes
  uint32_t bufOverrun = 0;  // the driver's input buffer overflowed
};

class SerialDriver {
 public:
  virtual ~SerialDriver() = default;

  virtual int GetLine(DriverLine& line) = 0;
  virtual int SetLine(const DriverLine& line) = 0;

  virtual int GetModes(LineMode& dtr, LineMode& rts) = 0;
  virtual int SetDtr(bool on) = 0;
  virtual int SetRts(bool on) = 0;
  virtual int SetBreak(bool on) = 0;
  virtual int GetErrorCounts(LineErrorCounts& counts) = 0;

  // Number of received bytes waiting to be read.
  virtual int InQueue(int& count) = 0;
  // Discards every received byte not yet read.
  virtual int Purge() = 0;

  // Waits until a byte can be read, timeoutMs passes (negative: no limit), or Wake() is called.
  // ready is true when a byte can be read; false after a timeout or a wake-up (woken tells which).
  virtual int WaitReadable(int timeoutMs, bool& ready, bool& woken) = 0;
  // Reads what is there now, at most n bytes, without waiting.
  virtual int ReadSome(uint8_t* buffer, size_t n, size_t& got) = 0;
  // Writes all n bytes unless timeoutMs passes first (negative: no limit); written tells how many
  // the driver accepted.
  virtual int Write(const uint8_t* data, size_t n, size_t& written, int timeoutMs) = 0;
  // Waits until the bytes written so far have left the driver's output buffer, at most timeoutMs.
  // Many adapters (and every pseudo-terminal) report this long before the last byte is on the
  // wire: the port layer adds the bytes' wire time as the floor (link/serial_port.h).
  virtual int Drain(int timeoutMs) = 0;

  // Interrupts a WaitReadable in progress (or the next one, if none is) from any thread.
  virtual void Wake() = 0;
};

// Opens a tty device file exclusively with O_NOCTTY, raw: honours and writes the lock file other
// serial programs use (platform/device_lock.h, removed again on close), then flock and TIOCEXCL.
// Sets err on failure (EBUSY when another program holds the port).
std::unique_ptr<SerialDriver> OpenPosixSerial(const std::string& path, int& err);

// Registers the tty device files as the port provider for device paths
// (platform/port_provider.h): open through OpenPosixSerial, the list of serial hardware, any
// terminal device exists.
void RegisterSerialDevicePorts();

}  // namespace lumo

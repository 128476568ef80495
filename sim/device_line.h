// The device side of a serial line, as the firmware of a simulated device sees it.
//
// State model: the line supplies the device and carries bytes both ways. Supply comes and goes
// with the program: DTR on the in-process line (sim/sim_port.h), the program holding the
// pseudo-terminal open for `lumokonf-cli simulate` (sim/pty_server.h). Every switch-on starts a
// new power epoch; a device session belongs to the epoch it started in, and as soon as the supply
// drops (or drops and returns) the reads of that session answer PowerLost and its writes are
// dropped. Close() ends the line for good: waits and reads answer Closed.
//
//   WaitPowerOn  wait until the device is supplied, giving the epoch of that switch-on
//   ReadByte     one byte sent by the program, with a time limit
//   Write        bytes to the program; returns when the last of them has left (paced lines)
//   BaudRate     the rate the program set on its side of the line
//   Close        end the line (any thread)
//
// Threads: one device thread uses the line; Close() may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumo::sim {

enum class LineRead { Byte, Timeout, PowerLost, Closed };

class DeviceLine {
 public:
  virtual ~DeviceLine() = default;

  // Waits until the device is supplied; false when the line was closed meanwhile.
  virtual bool WaitPowerOn(uint64_t& epoch) = 0;
  // Waits up to timeoutMs (negative: no limit) for one byte from the program.
  virtual LineRead ReadByte(uint64_t epoch, uint8_t& byte, int timeoutMs) = 0;
  // Sends bytes to the program, returning when they have left; dropped when the supply of that
  // epoch is gone.
  virtual void Write(uint64_t epoch, const uint8_t* data, size_t n) = 0;
  // The baud rate the program set on its side of the line (0 when unknown).
  virtual uint32_t BaudRate() = 0;
  virtual void Close() = 0;
};

}  // namespace lumo::sim

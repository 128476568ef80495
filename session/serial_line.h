// The serial line settings a device definition asks for: its [Baudrate] value read over the
// defaults of the device type.
//
// State: none; pure functions of their arguments.
//
//   DefaultSerialLine   the line settings a device type starts with
//   ParseSerialLine     a [Baudrate] value text ("9600,8,n,1") over the defaults; each field
//                       that cannot be read ends the reading, and the rest keep their defaults
#pragma once

#include <cstdint>

namespace lumo {

// Parity codes and stop-bit codes of the serial line settings.
enum SerialParity : uint8_t {
  kParityNone = 0,
  kParityOdd = 1,
  kParityEven = 2,
  kParityMark = 3,
  kParitySpace = 4
};
enum SerialStopBits : uint8_t { kStopBitsOne = 0, kStopBitsOneHalf = 1, kStopBitsTwo = 2 };

struct SerialLineSettings {
  int32_t baudRate;
  uint8_t dataBits;
  uint8_t parity;    // SerialParity
  uint8_t stopBits;  // SerialStopBits
};

SerialLineSettings DefaultSerialLine(int deviceType);
// text: the [Baudrate] value, or nullptr when the definition has no such setting.
SerialLineSettings ParseSerialLine(const char* text, int deviceType);

}  // namespace lumo

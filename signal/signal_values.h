// The light curtain's signal figures, decoded from the four status bytes of a signal poll.
//
//   byte 0  bit 1 (0x02) set: not synchronised to the transmitter
//   byte 1  bit 4 (0x10) set: high hardware gain; bits 0-3: scale exponent e
//   byte 2  weakest signal, raw;  byte 3  strongest signal, raw
// weakest = byte 2 * 2^e and strongest = byte 3 * 2^e (at most 255 * 2^15: no overflow).
#pragma once

#include <array>
#include <cstdint>

namespace lumo {

struct SignalSample {
  bool synchronised = false;
  bool highGain = false;
  uint32_t weakest = 0;
  uint32_t strongest = 0;
  uint8_t rawWeakest = 0;
  uint8_t rawStrongest = 0;
};

SignalSample DecodeSignal(const std::array<uint8_t, 4>& status);

// The gain text the signal test shows (not translated).
const char* GainText(bool highGain);

}  // namespace lumo

#include "signal/signal_values.h"

namespace lumo {

namespace {
constexpr uint8_t kNotSynchronisedBit = 0x02;
constexpr uint8_t kHighGainBit = 0x10;
constexpr uint8_t kExponentMask = 0x0F;
}  // namespace

SignalSample DecodeSignal(const std::array<uint8_t, 4>& status) {
  SignalSample sample;
  sample.synchronised = (status[0] & kNotSynchronisedBit) == 0;
  sample.highGain = (status[1] & kHighGainBit) != 0;
  unsigned exponent = status[1] & kExponentMask;
  sample.rawWeakest = status[2];
  sample.rawStrongest = status[3];
  sample.weakest = static_cast<uint32_t>(status[2]) << exponent;
  sample.strongest = static_cast<uint32_t>(status[3]) << exponent;
  return sample;
}

const char* GainText(bool highGain) {
  return highGain ? "high gain" : "low gain";
}

}  // namespace lumo

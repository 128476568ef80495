#include "signal/signal_values.h"

#include <algorithm>

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

namespace {
constexpr int kRawFull = 255;  // a raw signal of 255 spans the whole bar
constexpr int kByteBits = 8;
constexpr unsigned kLowByte = 0xFF;
// Bar colours: red = green = 255 - 63 * age, blue = 255 - 30 * age (age 0 is white).
constexpr int kColourTop = 255;
constexpr int kRedGreenStep = 63;
constexpr int kBlueStep = 30;
}  // namespace

void SignalHistory::Store(uint8_t rawWeakest, uint8_t rawStrongest) {
  entries_[static_cast<size_t>(index_)] =
      static_cast<uint16_t>(rawWeakest | (static_cast<unsigned>(rawStrongest) << kByteBits));
}

void SignalHistory::Advance() {
  index_ = (index_ + 1) % kSignalHistorySize;
}

uint16_t SignalHistory::Entry(int age) const {
  // The ring index points at the next slot to be written: the oldest entry.
  const int slot = ((index_ + age) % kSignalHistorySize + kSignalHistorySize) % kSignalHistorySize;
  return entries_[static_cast<size_t>(slot)];
}

void SignalHistory::Clear() {
  entries_.fill(0);
  index_ = 0;
}

SignalHistory& TheSignalHistory() {
  static SignalHistory history;
  return history;
}

int MulDiv(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (product < 0 ? -product : product) + half;
  const int64_t divisor = c < 0 ? -static_cast<int64_t>(c) : c;
  const int64_t result = magnitude / divisor;
  return static_cast<int>(negative ? -result : result);
}

BarPixels BarSpan(int width, uint16_t entry) {
  const int weakest = entry & kLowByte;
  const int strongest = entry >> kByteBits;
  BarPixels pixels;
  pixels.left = MulDiv(width, weakest, kRawFull);
  pixels.right = weakest > strongest ? pixels.left : MulDiv(width, strongest, kRawFull) + 1;
  // A strongest signal of 255 would reach one pixel past the bar.
  pixels.right = std::min(pixels.right, width);
  pixels.left = std::min(pixels.left, pixels.right);
  return pixels;
}

Rgb BarColour(int age) {
  // The low byte of the difference, wrapping as the two's complement does for an old bar.
  const auto redGreen =
      static_cast<uint8_t>(static_cast<unsigned>(kColourTop - kRedGreenStep * age) & kLowByte);
  const auto blue =
      static_cast<uint8_t>(static_cast<unsigned>(kColourTop - kBlueStep * age) & kLowByte);
  return {redGreen, redGreen, blue};
}

}  // namespace lumo

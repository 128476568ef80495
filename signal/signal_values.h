// The light curtain's signal figures, decoded from the four status bytes of a signal poll.
//
//   byte 0  bit 1 (0x02) set: not synchronised to the transmitter
//   byte 1  bit 4 (0x10) set: high hardware gain; bits 0-3: scale exponent e
//   byte 2  weakest signal, raw;  byte 3  strongest signal, raw
// weakest = byte 2 * 2^e and strongest = byte 3 * 2^e (at most 255 * 2^15: no overflow).
//
// The signal test's history: a ring of the last five samples' raw (weakest, strongest) pairs,
// one global ring that outlives the dialog (user interface thread only). Each pair is drawn as
// a bar from weakest/255 to strongest/255 of the bar's width, oldest first, newest darkest.
//
//   DecodeSignal     the four status bytes as figures
//   GainText         "high gain" / "low gain"
//   SignalHistory    the ring: Store at the index, Advance after a shown sample, Entry by age
//   TheSignalHistory the program's ring
//   MulDiv           a * b / c rounded to nearest
//   BarSpan          the pixels a pair covers in a bar of a given width
//   BarColour        the colour of a bar by age (0 oldest .. 4 newest)
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

constexpr int kSignalHistorySize = 5;

class SignalHistory {
 public:
  // Writes the pair into the entry at the ring index (weakest in the low byte).
  void Store(uint8_t rawWeakest, uint8_t rawStrongest);
  // Moves the ring index on: the stored entry becomes the newest.
  void Advance();
  // age 0 is the oldest entry, kSignalHistorySize - 1 the newest.
  uint16_t Entry(int age) const;
  int Index() const { return index_; }
  void Clear();

 private:
  std::array<uint16_t, kSignalHistorySize> entries_{};
  int index_ = 0;
};

SignalHistory& TheSignalHistory();

// a * b / c rounded to the nearest integer (halves away from zero); -1 for c = 0.
int MulDiv(int a, int b, int c);

// The pixels [left, right) a pair covers in a bar `width` pixels wide, counted from the bar's
// left edge; empty (left == right) when the weakest is larger than the strongest.
struct BarPixels {
  int left = 0;
  int right = 0;
};
BarPixels BarSpan(int width, uint16_t entry);

struct Rgb {
  uint8_t red, green, blue;
};
Rgb BarColour(int age);

}  // namespace lumo

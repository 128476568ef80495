// Signal figures from the four status bytes, the history ring and the bar geometry.
#include "signal/signal_values.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(DecodeSignal, FiguresAndTexts) {
  SignalSample s = DecodeSignal({0x00, 0x13, 10, 200});
  EXPECT_EQ(s.weakest, 80u);
  EXPECT_EQ(s.strongest, 1600u);
  EXPECT_TRUE(s.highGain);
  EXPECT_STREQ(GainText(s.highGain), "high gain");
  EXPECT_TRUE(s.synchronised);
  EXPECT_FALSE(DecodeSignal({0x02, 0, 0, 0}).synchronised);
  EXPECT_TRUE(DecodeSignal({0x01, 0, 0, 0}).synchronised);
  EXPECT_TRUE(DecodeSignal({0x04, 0, 0, 0}).synchronised);
  EXPECT_EQ(DecodeSignal({0, 0x0F, 255, 255}).strongest, 255u << 15);
}

void CheckMulDiv(int a, int b, int c, int expected) {
  EXPECT_EQ(MulDiv(a, b, c), expected) << a << " * " << b << " / " << c;
}

TEST(Bar, MulDivRoundsToNearest) {
  CheckMulDiv(228, 10, 255, 9);                     // 8.94
  CheckMulDiv(228, 200, 255, 179);                  // 178.8
  CheckMulDiv(10, 1, 4, 3);                         // 2.5 rounds up
  CheckMulDiv(-10, 1, 4, -3);                       // and away from zero below it
  CheckMulDiv(1 << 30, 1 << 30, 1 << 30, 1 << 30);  // no overflow in between
  CheckMulDiv(5, 5, 0, -1);
}

void CheckSpan(int width, uint8_t weakest, uint8_t strongest, int left, int right) {
  BarPixels p = BarSpan(width, static_cast<uint16_t>(weakest | strongest << 8));
  EXPECT_EQ(p.left, left) << int(weakest) << ".." << int(strongest);
  EXPECT_EQ(p.right, right) << int(weakest) << ".." << int(strongest);
}

TEST(Bar, SpansAndColours) {
  CheckSpan(228, 10, 200, 9, 180);
  CheckSpan(228, 0, 255, 0, 228);  // never past the bar
  CheckSpan(228, 50, 50, 45, 46);  // one pixel
  CheckSpan(228, 11, 10, 10, 10);  // weakest above strongest: empty
  const Rgb expected[] = {
      {255, 255, 255}, {192, 192, 225}, {129, 129, 195}, {66, 66, 165}, {3, 3, 135}};
  for (int age = 0; age < kSignalHistorySize; ++age) {
    Rgb c = BarColour(age);
    EXPECT_EQ(c.red, expected[age].red) << age;
    EXPECT_EQ(c.green, expected[age].green) << age;
    EXPECT_EQ(c.blue, expected[age].blue) << age;
  }
}

TEST(SignalHistory, RingKeepsTheLastFiveOldestFirst) {
  SignalHistory h;
  for (int age = 0; age < kSignalHistorySize; ++age) EXPECT_EQ(h.Entry(age), 0);
  for (int i = 1; i <= 7; ++i) {
    h.Store(static_cast<uint8_t>(i), static_cast<uint8_t>(100 + i));
    h.Advance();
  }
  EXPECT_EQ(h.Index(), 2);
  for (int age = 0; age < kSignalHistorySize; ++age) {
    EXPECT_EQ(h.Entry(age), (3 + age) | (103 + age) << 8) << age;
  }
  // A stored pair that is not advanced stays the slot to be overwritten next (the oldest).
  h.Store(50, 60);
  EXPECT_EQ(h.Entry(0), 50 | 60 << 8);
  h.Clear();
  EXPECT_EQ(h.Entry(4), 0);
  EXPECT_EQ(h.Index(), 0);
}

}  // namespace
}  // namespace lumo

#include "files/beam_config.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

BeamStates Active(std::initializer_list<int> beams) {
  BeamStates s{};
  s.fill(kBeamInactive);
  for (int b : beams) s[b - 1] = kBeamActive;
  return s;
}

BeamStates AllActive() {
  BeamStates s{};
  s.fill(kBeamActive);
  return s;
}

std::string Format(const BeamStates& s, int first = 1, int last = 32) {
  return FormatRangeText(s, {first, last});
}

TEST(RangeText, FormatsRunsAsThePanelShowsThem) {
  EXPECT_EQ(Format(Active({1, 2, 3, 4, 5})), "-5");
  EXPECT_EQ(Format(Active({3, 7, 8})), "3;7-8");
  EXPECT_EQ(Format(AllActive()), "-32");
  BeamStates tail = Active({});
  for (int b = 10; b <= 256; ++b) tail[b - 1] = kBeamActive;
  EXPECT_EQ(Format(tail), "10-");
  EXPECT_EQ(Format(Active({})), "");
  EXPECT_EQ(Format(Active({1})), "1");
}

TEST(RangeText, UndeterminedBeamInRangeGivesQuestionMarks) {
  BeamStates s = Active({1});
  s[4] = kBeamUndetermined;
  EXPECT_EQ(Format(s), "???");
  EXPECT_EQ(Format(s, 6, 32), "");  // outside the panel range it does not count
}

TEST(RangeText, SingleLastBeamIsNotLost) {
  BeamStates s = Active({256});
  std::string text = Format(s, 1, 256);
  EXPECT_EQ(text, "256");
  BeamStates back{};
  ASSERT_TRUE(ReadRangeText(text.c_str(), back, false, true));
  EXPECT_EQ(back, s);
}

TEST(RangeText, ReadSelectsTheNamedBeams) {
  BeamStates s{};
  ASSERT_TRUE(ReadRangeText("1-5 ; 6 ; 10-", s, false, true));
  for (int b = 1; b <= 256; ++b) {
    bool expected = b <= 6 || b >= 10;
    EXPECT_EQ(s[b - 1] == kBeamActive, expected) << b;
  }
  ASSERT_TRUE(ReadRangeText("-3", s, false, true));
  EXPECT_EQ(s, Active({1, 2, 3}));
  ASSERT_TRUE(ReadRangeText("-", s, false, true));
  EXPECT_EQ(s, AllActive());
  ASSERT_TRUE(ReadRangeText("0x10", s, false, true));
  EXPECT_EQ(s, Active({16}));
  ASSERT_TRUE(ReadRangeText("0;300;250-300", s, false, true));  // outside 1..256 ignored
  EXPECT_EQ(s, Active({250, 251, 252, 253, 254, 255, 256}));
  ASSERT_TRUE(ReadRangeText(";;", s, false, true));
  EXPECT_EQ(s, Active({}));
}

TEST(RangeText, MalformedTextClearsWhenApplyingAndChangesNothingWhenChecking) {
  BeamStates s = Active({4});
  EXPECT_FALSE(ReadRangeText("abc", s, true, false));
  EXPECT_EQ(s, Active({4}));
  EXPECT_FALSE(ReadRangeText("1-2 x", s, false, false));
  EXPECT_EQ(s, Active({}));
  EXPECT_FALSE(ReadRangeText("-x", s, true, false));
}

TEST(RangeText, RoundTripsWithAFixedSeed) {
  uint32_t seed = 12345;
  for (int round = 0; round < 200; ++round) {
    BeamStates s{};
    for (auto& b : s) {
      seed = seed * 1103515245u + 12345u;
      b = (seed >> 16) % 3 == 0 ? kBeamInactive : kBeamActive;
    }
    std::string text = Format(s, 1, 256);
    BeamStates back{};
    ASSERT_TRUE(ReadRangeText(text.c_str(), back, false, true)) << text;
    EXPECT_EQ(back, s) << text;
  }
}

TEST(Deactivate, NamedBeamsEndInactiveOthersKeepTheirState) {
  BeamStates s = AllActive();
  ASSERT_TRUE(DeactivateRange("1-5 ; 6 ; 10-", s));
  EXPECT_EQ(Format(s), "7-9");
  BeamStates before = Active({2, 3});
  s = before;
  ASSERT_TRUE(DeactivateRange("5-3", s));
  EXPECT_EQ(s, before);
  EXPECT_FALSE(DeactivateRange("abc", s));
  EXPECT_EQ(s, before);
  s[9] = kBeamUndetermined;
  ASSERT_TRUE(DeactivateRange("1-5", s));
  EXPECT_EQ(s[9], kBeamUndetermined);  // not named: kept
  EXPECT_EQ(s[1], kBeamInactive);
  ASSERT_TRUE(DeactivateRange("-", s));
  EXPECT_EQ(s[9], kBeamInactive);  // named: inactive, whatever it was
}

TEST(DeviceLayout, BitmapAndByteLayouts) {
  PageImage image{};
  image.bytes[kBeamPage][0] = 0x03;  // bitmap: beams 1 and 33
  image.bytes[kBeamPage][1] = 0xFF;  // byte layout: beam 2 active
  EXPECT_TRUE(DeviceSaysActive(image, 1, 0xA0));
  EXPECT_TRUE(DeviceSaysActive(image, 33, 0xA0));
  EXPECT_FALSE(DeviceSaysActive(image, 65, 0xA0));
  EXPECT_FALSE(DeviceSaysActive(image, 1, 0x80));
  EXPECT_TRUE(DeviceSaysActive(image, 2, 0x80));

  BeamStates s = Active({});
  TakeFromDevice(image, 0xA0, {1, 64}, s);
  EXPECT_EQ(s[0], kBeamActive);
  EXPECT_EQ(s[32], kBeamActive);
  EXPECT_EQ(s[1], kBeamActive);  // byte 1 = 0xFF: beams 2 and 34 in the bitmap
  EXPECT_EQ(s[2], kBeamInactive);
}

TEST(DeviceLayout, PutIntoEditImageKeepsOtherBitsAndSkipsUndetermined) {
  PageImage edit{};
  edit.bytes[kBeamPage][0] = 0xF0;
  BeamStates s = Active({1});
  s[32] = kBeamUndetermined;  // beam 33: bit 1 of byte 0, left alone
  PutIntoEditImage(s, 0xE0, {1, 40}, edit);
  EXPECT_EQ(edit.bytes[kBeamPage][0], 0xF1);

  PageImage bytes{};
  PutIntoEditImage(Active({2}), 0x00, {1, 3}, bytes);
  EXPECT_EQ(bytes.bytes[kBeamPage][0], 0);
  EXPECT_EQ(bytes.bytes[kBeamPage][1], 0xFF);
}

TEST(DeviceLayout, DiffersAndChanged) {
  PageImage device{};
  device.bytes[kBeamPage][0] = 0x01;  // bitmap: beam 1 active
  BeamStates s = Active({1});
  EXPECT_FALSE(ConfigChanged(s, {1, 32}, device, 0xA0, true));
  s[1] = kBeamActive;
  EXPECT_TRUE(BeamDiffers(s, 2, device, 0xA0, true));
  EXPECT_FALSE(BeamDiffers(s, 2, device, 0xA0, false));
  EXPECT_TRUE(ConfigChanged(s, {1, 32}, device, 0xA0, true));
  EXPECT_FALSE(ConfigChanged(s, {3, 32}, device, 0xA0, true));
  s[1] = kBeamUndetermined;
  EXPECT_FALSE(BeamDiffers(s, 2, device, 0xA0, true));
}

TEST(PanelRangeTest, LimitsProcessedBeamsAndByteLayoutCap) {
  BeamRange limits{1, 256};
  auto r = PanelRange(false, limits, 4, 20, true, true, 0xA0);
  EXPECT_EQ(r.first, 4);
  EXPECT_EQ(r.last, 20);
  r = PanelRange(true, limits, 4, 20, true, true, 0xA0);
  EXPECT_EQ(r.last, 256);
  r = PanelRange(true, limits, 0, 0, false, false, 0x00);
  EXPECT_EQ(r.first, 1);
  EXPECT_EQ(r.last, 32);
  r = PanelRange(false, limits, 30, 10, true, true, 0xA0);  // inverted: the limits
  EXPECT_EQ(r.first, 1);
  EXPECT_EQ(r.last, 256);
}

}  // namespace
}  // namespace lumo

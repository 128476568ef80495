// Beam reference arithmetic: range preset, gains, FP8, distance texts, statistics, and the
// references dialog's model.
#include "signal/references.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lumo {
namespace {

const ReferenceSettings kDefaults{};

ReferenceSettings WithThreshold(double threshold) {
  ReferenceSettings s;
  s.gainThreshold = threshold;
  return s;
}

void CheckRange(double metres, uint32_t expected, const ReferenceSettings& s = kDefaults) {
  EXPECT_EQ(RangeToReference(metres, s), expected) << "d = " << metres;
}

TEST(RangeToReference, FollowsTheInverseSquareAndItsLimits) {
  CheckRange(10.0, 20);
  CheckRange(1.0, 2000);
  CheckRange(0.2, 30000);  // 50000 limited
  CheckRange(0.0, 30000);  // no distance
  CheckRange(2.5, 320);
  CheckRange(20.0, 20);       // beyond [MaxDistance]: taken as 10 m
  CheckRange(1e-200, 30000);  // d * d is 0: no division by zero reaches the result
  CheckRange(std::numeric_limits<double>::quiet_NaN(), 30000);
  ReferenceSettings negative;
  negative.calFactor = -2000.0;
  CheckRange(1.0, 0, negative);  // never a negative value converted to unsigned
}

void CheckShift(uint32_t value, int expected, int32_t mantissa = 28) {
  ReferenceSettings s;
  s.sigMaxMantissa = mantissa;
  EXPECT_EQ(SoftGainShift(value, s), expected) << value << " with mantissa " << mantissa;
}

TEST(Gains, SoftShiftAndHardwareGain) {
  CheckShift(20, 0);
  CheckShift(28, 0);
  CheckShift(29, 1);
  CheckShift(2000, 7);  // 2000 >> 7 = 15
  CheckShift(30000, 11);
  CheckShift(0xFFFFFFFFu, 28);
  CheckShift(5, 32, -1);  // a limit below zero is never reached: the search still ends
  CheckShift(0, 0, 0);
  EXPECT_EQ(SelectHwGain(20, kDefaults), 0);
  EXPECT_EQ(SelectHwGain(2, kDefaults), 1);  // compared with >=
  EXPECT_EQ(SelectHwGain(20, WithThreshold(3000.0)), 1);
  EXPECT_EQ(SelectHwGain(3001, WithThreshold(3000.0)), 0);
}

void CheckFp8(uint16_t value, uint8_t code, uint16_t decoded) {
  EXPECT_EQ(EncodeFP8(value), code) << "encode " << value;
  EXPECT_EQ(DecodeFP8(code), decoded) << "decode " << int(code);
}

TEST(Fp8, EncodesAndDecodes) {
  CheckFp8(0, 0x00, 0);
  CheckFp8(1, 0x01, 1);
  CheckFp8(2, 0x10, 2);
  CheckFp8(3, 0x18, 3);
  CheckFp8(20, 0x44, 20);
  CheckFp8(2000, 0xAF, 1984);
  CheckFp8(30000, 0xED, 29696);
  CheckFp8(65535, 0xFF, 63488);
  for (int b = 0x01; b <= 0x0F; ++b) EXPECT_EQ(DecodeFP8(static_cast<uint8_t>(b)), 1) << b;
  // Codes with an exponent of 4 or more lose no mantissa bit: they encode back to themselves.
  for (int b = 0x40; b <= 0xFF; ++b) {
    EXPECT_EQ(EncodeFP8(DecodeFP8(static_cast<uint8_t>(b))), b) << b;
  }
  // Encoding truncates: the decoded value never exceeds the encoded one.
  for (uint32_t v = 1; v <= 0xFFFF; v += 97) EXPECT_LE(DecodeFP8(EncodeFP8(uint16_t(v))), v);
}

void CheckChoice(uint32_t value, bool fp8, int byte, int hw, int sw,
                 const ReferenceSettings& s = kDefaults) {
  ReferenceChoice c = ReferenceFromValue(value, fp8, 1, 9, s);
  EXPECT_EQ(int(c.byte), byte) << value;
  EXPECT_EQ(c.hw, hw) << value;
  EXPECT_EQ(c.sw, sw) << value;
}

TEST(ReferenceFromValue, StoredByteAndGains) {
  CheckChoice(20, false, 20, 0, 0);
  CheckChoice(20, false, 20, 1, 0, WithThreshold(3000.0));
  CheckChoice(2000, false, 15, 0, 7);
  CheckChoice(28u << 15, false, 28, 0, 15);
  CheckChoice((28u << 15) + (1u << 15), false, 255, 0, 15);  // SW would be 16: clamped
  CheckChoice(0xFFFFFFFFu, false, 255, 0, 15);
  CheckChoice(2000, true, 0xAF, 1, 9);   // FP8: gains as they were
  CheckChoice(70000, true, 0xFF, 1, 9);  // beyond 16 bits: the largest code, not 70000 % 65536
  ReferenceSettings wide;
  wide.sigMaxMantissa = 1000;
  CheckChoice(900, false, 255, 0, 0, wide);  // a byte never wraps
}

TEST(RangePreset, TooFarAndFp8) {
  RangePreset p = PresetFromDistance(10.0, false, 1, kDefaults);
  EXPECT_FALSE(p.tooFar);
  EXPECT_EQ(p.value, 20u);
  EXPECT_EQ(int(p.choice.byte), 20);
  EXPECT_EQ(p.choice.hw, 0);
  EXPECT_TRUE(PresetFromDistance(10.05, false, 1, kDefaults).tooFar);
  EXPECT_TRUE(
      PresetFromDistance(std::numeric_limits<double>::infinity(), false, 0, kDefaults).tooFar);
  RangePreset f = PresetFromDistance(1.0, true, 1, kDefaults);
  EXPECT_EQ(int(f.choice.byte), 0xAF);
  EXPECT_EQ(f.choice.sw, 0);
  EXPECT_EQ(f.choice.hw, 1);
}

void CheckParse(const char* text, double expected) {
  EXPECT_DOUBLE_EQ(ParseDistance(text), expected) << '"' << text << '"';
}

TEST(Distance, ParsedWithCommaAndFormattedWithPoint) {
  CheckParse("2,5", 2.5);
  CheckParse("2.5", 2.5);
  CheckParse("  7 m", 7.0);
  CheckParse("+3", 3.0);
  CheckParse("-4", -4.0);
  CheckParse("", 0.0);
  CheckParse("abc", 0.0);
  CheckParse("nan", 0.0);
  CheckParse("1,2,3", 1.2);
  EXPECT_TRUE(std::isinf(ParseDistance("inf")));
  EXPECT_DOUBLE_EQ(ParseDistance(std::string(300, '1')), 1.11111111111111111e198);  // 199 digits
  EXPECT_EQ(FormatDistance(2.5), "2.5");
  EXPECT_EQ(FormatDistance(10.0), "10.0");
  EXPECT_EQ(FormatDistance(0.0), "0.0");
  EXPECT_EQ(FormatDistance(2.25), "2.2");
  EXPECT_EQ(FormatDistance(1e300).size(), 303u);
}

TEST(Statistics, IgnoresZeroAndUsesTheShift) {
  ReferenceBytes refs{};
  refs[0] = 10;
  refs[1] = 0;
  refs[2] = 30;
  refs[3] = 21;
  refs[4] = 255;  // beyond the beam count
  ReferenceStatistics s = ComputeStatistics(refs, 4, false, 2);
  EXPECT_EQ(s.smallest, 40u);
  EXPECT_EQ(s.largest, 120u);
  EXPECT_EQ(s.mean, (40u + 120u + 84u) / 3);
  ReferenceStatistics none = ComputeStatistics(ReferenceBytes{}, 32, false, 0);
  EXPECT_EQ(none.smallest, 0u);
  EXPECT_EQ(none.largest, 0u);
  EXPECT_EQ(none.mean, 0u);
  refs.fill(0xFF);
  ReferenceStatistics all = ComputeStatistics(refs, 256, true, 0);
  EXPECT_EQ(all.mean, 63488u);  // the sum does not wrap
}

class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_.beamCount = 4;
    device_.inConfigMode = true;
    device_.gainsPresent = true;
    device_.hw = 1;
    device_.sw = 2;
    for (int i = 0; i < kReferenceBeams; ++i) device_.bytes[size_t(i)] = uint8_t(10 + i);
    ASSERT_TRUE(editor_.Load(device_, kDefaults));
  }
  DeviceReferences device_;
  ReferenceBytes edited_{};
  ReferenceEditor editor_{edited_};
};

TEST_F(EditorTest, LoadsAndKnowsWhatIsUnsaved) {
  EXPECT_EQ(editor_.Hw(), 1);
  EXPECT_EQ(editor_.Sw(), 2);
  EXPECT_EQ(editor_.Reconstructed(2), 11u << 2);
  EXPECT_FALSE(editor_.Unsaved());
  editor_.SetHw(0);
  EXPECT_TRUE(editor_.Unsaved());
  editor_.SetHw(1);
  editor_.SetSwFromNumber(0x123);  // 0x23 modulo 256, then the low 4 bits
  EXPECT_EQ(editor_.Sw(), 3);
  EXPECT_TRUE(editor_.GainsDiffer());
  editor_.SetSwFromNumber(2);
  EXPECT_FALSE(editor_.Unsaved());
  DeviceReferences noGains = device_;
  noGains.gainsPresent = false;
  ReferenceBytes other{};
  EXPECT_FALSE(ReferenceEditor(other).Load(noGains, kDefaults));
  noGains.fp8 = true;
  EXPECT_TRUE(ReferenceEditor(other).Load(noGains, kDefaults));
}

TEST_F(EditorTest, RawEdits) {
  editor_.EditRaw(2, 300);
  EXPECT_EQ(editor_.EditedByte(2), 44);
  EXPECT_TRUE(editor_.BeamChanged(2));
  EXPECT_FALSE(editor_.BeamChanged(1));
  EXPECT_TRUE(editor_.Unsaved());
  editor_.EditRaw(2, 11);  // back to the device's byte
  EXPECT_FALSE(editor_.Unsaved());
  editor_.EditRaw(9, 5);  // no such beam: nothing
  EXPECT_EQ(edited_[8], 18);
  // "All": every one of the 256 bytes, and HW for the value the byte stands for.
  editor_.EditRaw(0, 7);
  for (uint8_t b : edited_) ASSERT_EQ(b, 7);
  EXPECT_EQ(editor_.Hw(), 0);  // 7 << 2 = 28 > 2.0
  editor_.EditRaw(0, -1);
  EXPECT_EQ(edited_[255], 255);
  // Out of configuration mode no beam counts as changed.
  editor_.SetInConfigMode(false);
  EXPECT_FALSE(editor_.AnyBeamChanged());
}

TEST_F(EditorTest, ReconstructedEdits) {
  editor_.EditReconstructed(3, 2000);
  EXPECT_EQ(editor_.EditedByte(3), 15);
  EXPECT_EQ(editor_.Sw(), 7);
  EXPECT_EQ(editor_.Hw(), 0);
  EXPECT_EQ(editor_.Reconstructed(3), 1920u);
  // A gain change through one beam changes what every beam stands for.
  EXPECT_EQ(editor_.Reconstructed(1), 10u << 7);
  editor_.EditReconstructed(0, 20);
  for (uint8_t b : edited_) ASSERT_EQ(b, 20);
  EXPECT_EQ(editor_.Sw(), 0);
  editor_.EditReconstructed(1, 29u << 15);  // SW would be 16: the largest value instead
  EXPECT_EQ(editor_.Sw(), 15);
  EXPECT_EQ(editor_.EditedByte(1), 255);
  editor_.EditReconstructed(1, -5);  // no negative reference
  EXPECT_EQ(editor_.EditedByte(1), 0);
}

TEST_F(EditorTest, ClipboardText) {
  EXPECT_EQ(editor_.ClipboardText(),
            "HW gain: 1, SW gain: 2\r\n 1:\t40\r\n 2:\t44\r\n 3:\t48\r\n 4:\t52\r\n");
  // Beams 10 and more are not padded.
  device_.beamCount = 12;
  ASSERT_TRUE(editor_.Load(device_, kDefaults));
  EXPECT_NE(editor_.ClipboardText().find("\r\n12:\t"), std::string::npos);
  // FP8: the gains play no part.
  device_.fp8 = true;
  ASSERT_TRUE(editor_.Load(device_, kDefaults));
  editor_.SetSwFromNumber(5);
  EXPECT_FALSE(editor_.Unsaved());
}

}  // namespace
}  // namespace lumo

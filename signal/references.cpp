#include "signal/references.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "definitions/setup.h"

namespace lumo {

namespace {

constexpr int kFp8MantissaBits = 4;
constexpr uint8_t kFp8MantissaMask = 0x0F;
constexpr int kFp8LeadingOne = 16;  // the mantissa's implied leading one
constexpr uint16_t kTopBit = 0x8000;
constexpr int kMaxShift = 32;  // S >> 32 is 0 for every 32-bit S
constexpr int kSwMask = 0x0F;
constexpr uint32_t kByteMask = 0xFF;
constexpr uint32_t kMaxFp8Input = 0xFFFF;

// The first line of the clipboard text of a device with FP8 references.
constexpr const char* kFp8ClipboardHeader = "Empf\xE4nger mit FP8-Bezugswerten\r\n";

bool IsBeamRow(int row, int beamCount) {
  return row >= 1 && row <= beamCount;
}

}  // namespace

ReferenceSettings ReferenceSettings::FromDefinition() {
  ReferenceSettings settings;
  settings.calFactor = CalFactor();
  settings.maxDistance = MaxDistance();
  settings.gainThreshold = GainThreshold();
  settings.sigMaxMantissa = SigMaxMantissa();
  return settings;
}

uint32_t RangeToReference(double metres, const ReferenceSettings& settings) {
  // A distance that is no number reads like no distance at all: the largest reference.
  if (metres == 0.0 || std::isnan(metres)) return kMaxReference;
  double d = metres > settings.maxDistance ? settings.maxDistance : metres;
  double s = settings.calFactor / (d * d);
  // Compared as a double first, so that the conversion below never sees a value out of range.
  if (std::isnan(s) || s >= kMaxReference) return kMaxReference;
  if (s <= 0.0) return 0;
  return static_cast<uint32_t>(s);
}

int SelectHwGain(uint32_t value, const ReferenceSettings& settings) {
  return settings.gainThreshold >= static_cast<double>(value) ? 1 : 0;
}

int SoftGainShift(uint32_t value, const ReferenceSettings& settings) {
  // In 64 bits, so that even a mantissa limit below zero ends the search (at 32).
  const int64_t limit = settings.sigMaxMantissa;
  int shift = 0;
  while (shift<kMaxShift&& static_cast<int64_t>(value >> shift)> limit) ++shift;
  return shift;
}

uint8_t EncodeFP8(uint16_t value) {
  if (value <= 1) return static_cast<uint8_t>(value);
  int shifts = 0;
  uint16_t v = value;
  while ((v & kTopBit) == 0) {
    v = static_cast<uint16_t>(v << 1);
    ++shifts;
  }
  const int exponent = 15 - shifts;
  const int mantissa = (v >> (15 - kFp8MantissaBits)) & kFp8MantissaMask;
  return static_cast<uint8_t>((exponent << kFp8MantissaBits) | mantissa);
}

uint16_t DecodeFP8(uint8_t byte) {
  if (byte == 0) return 0;
  const int exponent = byte >> kFp8MantissaBits;
  const uint32_t mantissa = static_cast<uint32_t>(byte & kFp8MantissaMask) + kFp8LeadingOne;
  const uint32_t value = exponent >= kFp8MantissaBits ? mantissa << (exponent - kFp8MantissaBits)
                                                      : mantissa >> (kFp8MantissaBits - exponent);
  return static_cast<uint16_t>(value);
}

ReferenceChoice ReferenceFromValue(uint32_t value, bool fp8, int hw, int sw,
                                   const ReferenceSettings& settings) {
  ReferenceChoice choice;
  if (fp8) {
    choice.byte = EncodeFP8(static_cast<uint16_t>(std::min(value, kMaxFp8Input)));
    choice.hw = hw;
    choice.sw = sw;
    return choice;
  }
  choice.hw = SelectHwGain(value, settings);
  const int shift = SoftGainShift(value, settings);
  if (shift > kMaxSoftGain) {
    // SW has 4 bits: beyond them the largest value the byte and SW can stand for.
    choice.sw = kMaxSoftGain;
    choice.byte = static_cast<uint8_t>(kByteMask);
    return choice;
  }
  choice.sw = shift;
  // A mantissa limit above 255 could leave more than a byte: the byte saturates.
  choice.byte = static_cast<uint8_t>(std::min(value >> shift, kByteMask));
  return choice;
}

RangePreset PresetFromDistance(double metres, bool fp8, int hw, const ReferenceSettings& settings) {
  RangePreset preset;
  preset.tooFar = metres > settings.maxDistance;
  preset.value = RangeToReference(metres, settings);
  preset.choice = ReferenceFromValue(preset.value, fp8, hw, 0, settings);
  return preset;
}

uint32_t ReconstructedValue(uint8_t byte, bool fp8, int sw) {
  if (fp8) return DecodeFP8(byte);
  return static_cast<uint32_t>(byte) << (sw & kSwMask);
}

double ParseDistance(const std::string& text) {
  std::string t = text.substr(0, kMaxDistanceText);
  std::replace(t.begin(), t.end(), ',', '.');
  const char* p = t.c_str();
  const char* end = p + t.size();
  while (p < end && ((*p >= 0x01 && *p <= 0x20) || *p == 0x7F)) ++p;
  if (p < end && *p == '+') ++p;
  double value = 0.0;
  // from_chars: the decimal point is always ".", whatever the locale says.
  auto [next, error] = std::from_chars(p, end, value);
  if (error != std::errc() || next == p || std::isnan(value)) return 0.0;
  return value;
}

std::string FormatDistance(double metres) {
  char text[400];  // "%.1f" of the largest double has 311 characters
  auto [end, error] = std::to_chars(text, text + sizeof text, metres, std::chars_format::fixed, 1);
  if (error != std::errc()) return "0.0";
  return std::string(text, end);
}

ReferenceStatistics ComputeStatistics(const ReferenceBytes& device, int beamCount, bool fp8,
                                      int sw) {
  ReferenceStatistics stats;
  uint64_t sum = 0;
  uint32_t count = 0;
  const int n = std::clamp(beamCount, 0, kReferenceBeams);
  for (int i = 0; i < n; ++i) {
    const uint32_t value = ReconstructedValue(device[static_cast<size_t>(i)], fp8, sw);
    if (value == 0) continue;
    stats.smallest = count == 0 ? value : std::min(stats.smallest, value);
    stats.largest = std::max(stats.largest, value);
    sum += value;
    ++count;
  }
  if (count != 0) stats.mean = static_cast<uint32_t>(sum / count);
  return stats;
}

ReferenceBytes& EditedReferences() {
  static ReferenceBytes edited{};
  return edited;
}

ReferenceEditor::ReferenceEditor(ReferenceBytes& edited) : edited_(edited) {}

bool ReferenceEditor::Load(const DeviceReferences& device, const ReferenceSettings& settings) {
  device_ = device;
  device_.beamCount = std::clamp(device.beamCount, 0, kReferenceBeams);
  settings_ = settings;
  edited_ = device.bytes;
  hw_ = device.hw != 0 ? 1 : 0;
  sw_ = device.sw & kSwMask;
  return device.fp8 || device.gainsPresent;
}

uint8_t ReferenceEditor::EditedByte(int beam) const {
  return IsBeamRow(beam, device_.beamCount) ? edited_[static_cast<size_t>(beam - 1)] : 0;
}

uint32_t ReferenceEditor::Reconstructed(int beam) const {
  return ReconstructedValue(EditedByte(beam), device_.fp8, sw_);
}

bool ReferenceEditor::BeamChanged(int beam) const {
  if (!device_.inConfigMode || !IsBeamRow(beam, device_.beamCount)) return false;
  const size_t i = static_cast<size_t>(beam - 1);
  return edited_[i] != device_.bytes[i];
}

bool ReferenceEditor::AnyBeamChanged() const {
  for (int beam = 1; beam <= device_.beamCount; ++beam) {
    if (BeamChanged(beam)) return true;
  }
  return false;
}

bool ReferenceEditor::GainsDiffer() const {
  return !device_.fp8 && (sw_ != device_.sw || hw_ != (device_.hw != 0 ? 1 : 0));
}

bool ReferenceEditor::Unsaved() const {
  return AnyBeamChanged() || GainsDiffer();
}

void ReferenceEditor::SetAll(uint8_t byte) {
  edited_.fill(byte);
}

void ReferenceEditor::EditRaw(int row, int32_t number) {
  const uint32_t n = static_cast<uint32_t>(number);
  const auto byte = static_cast<uint8_t>(n & kByteMask);
  if (row == 0) {
    if (!device_.fp8) hw_ = SelectHwGain(n << sw_, settings_);
    SetAll(byte);
  } else if (IsBeamRow(row, device_.beamCount)) {
    edited_[static_cast<size_t>(row - 1)] = byte;
  }
}

void ReferenceEditor::EditReconstructed(int row, int32_t number) {
  if (row != 0 && !IsBeamRow(row, device_.beamCount)) return;
  const uint32_t value = number < 0 ? 0u : static_cast<uint32_t>(number);
  const ReferenceChoice choice = ReferenceFromValue(value, device_.fp8, hw_, sw_, settings_);
  hw_ = choice.hw;
  sw_ = choice.sw;
  if (row == 0) {
    SetAll(choice.byte);
  } else {
    edited_[static_cast<size_t>(row - 1)] = choice.byte;
  }
}

void ReferenceEditor::SetSwFromNumber(int32_t number) {
  sw_ = static_cast<int>(static_cast<uint32_t>(number) & kByteMask) & kSwMask;
}

bool ReferenceEditor::ApplyRange(double metres) {
  const RangePreset preset = PresetFromDistance(metres, device_.fp8, hw_, settings_);
  if (preset.tooFar) return false;
  if (!device_.fp8) {
    hw_ = preset.choice.hw;
    sw_ = preset.choice.sw;
  }
  SetAll(preset.choice.byte);
  return true;
}

ReferenceStatistics ReferenceEditor::Statistics() const {
  return ComputeStatistics(device_.bytes, device_.beamCount, device_.fp8, device_.sw);
}

std::string ReferenceEditor::ClipboardText() const {
  std::string text;
  char line[64];
  if (device_.fp8) {
    text = kFp8ClipboardHeader;
  } else {
    // The gains the rows below were computed with.
    std::snprintf(line, sizeof line, "HW gain: %d, SW gain: %d\r\n", hw_, sw_);
    text = line;
  }
  for (int beam = 1; beam <= device_.beamCount; ++beam) {
    std::snprintf(line, sizeof line, "%2d:\t%u\r\n", beam, Reconstructed(beam));
    text += line;
  }
  return text;
}

}  // namespace lumo

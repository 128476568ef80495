// Beam reference values of the light curtain: the range preset arithmetic, the 8-bit floating
// point form (FP8) and the editing model of the references dialog.
//
// State model. The device references are page 0 of the device image, one byte per beam (the
// link reads them). The edited references are one global array of 256 bytes (EditedReferences),
// used by the user interface thread only: the references dialog fills it from the device when it
// opens and after each write, every edit and the range presets change it, and a write copies it
// into page 0 of the edit image when a beam changed. Two gains scale a reference byte b:
// HW (0 low, 1 high) and SW (0 to 15, a left shift), so the byte stands for b << SW; devices with
// FP8 references store DecodeFP8(b) instead and the gains play no part.
//
//   ReferenceSettings        [CalFactor], [MaxDistance], [GainThreshold], [SigMaxMantissa]
//   RangeToReference         S = k / (d/m)^2, limited to 30000
//   SelectHwGain             1 (high) when [GainThreshold] >= S
//   SoftGainShift            smallest e with S >> e <= [SigMaxMantissa]
//   EncodeFP8, DecodeFP8     the 8-bit floating point form
//   ReferenceFromValue       stored byte and gains for a wanted value
//   PresetFromDistance       the range preset: value, byte, gains, or "too far"
//   ReconstructedValue       the value a stored byte stands for
//   ParseDistance            a typed distance (decimal comma accepted), no number = 0
//   FormatDistance           "%.1f" without the locale's decimal mark
//   ComputeStatistics        smallest, largest and mean of the non-zero references
//   EditedReferences         the global edited references
//   ReferenceEditor          the references dialog's model (edits, gains, unsaved, clipboard)
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace lumo {

constexpr int kReferenceBeams = 256;       // beams of a light curtain, each with its reference byte
constexpr uint32_t kMaxReference = 30000;  // the largest value a range preset gives
constexpr int kMaxSoftGain = 15;           // SW lives in 4 bits

using ReferenceBytes = std::array<uint8_t, kReferenceBeams>;

struct ReferenceSettings {
  double calFactor = 2000.0;  // k of S = k / (d/m)^2
  double maxDistance = 10.0;  // metres
  double gainThreshold = 2.0;
  int32_t sigMaxMantissa = 28;
  // The values of the current device definition, with their defaults.
  static ReferenceSettings FromDefinition();
};

uint32_t RangeToReference(double metres, const ReferenceSettings& settings);
int SelectHwGain(uint32_t value, const ReferenceSettings& settings);
// Not limited to 4 bits (at most 32).
int SoftGainShift(uint32_t value, const ReferenceSettings& settings);
uint8_t EncodeFP8(uint16_t value);
uint16_t DecodeFP8(uint8_t byte);

// The stored byte and gains for a wanted value v. Gains: HW := SelectHwGain(v),
// SW := SoftGainShift(v), byte := v >> SW. A value so large that SW would exceed 15 is clamped
// to the largest representable value (SW 15, byte 255). FP8: byte := EncodeFP8(v), values above
// 65535 taken as 65535 (the largest code), gains as given.
struct ReferenceChoice {
  uint8_t byte = 0;
  int hw = 0;
  int sw = 0;
};
ReferenceChoice ReferenceFromValue(uint32_t value, bool fp8, int hw, int sw,
                                   const ReferenceSettings& settings);

struct RangePreset {
  bool tooFar = false;  // the distance exceeds [MaxDistance]: nothing changes
  uint32_t value = 0;   // RangeToReference
  ReferenceChoice choice;
};
// In FP8 mode SW is 0 and HW is `hw`.
RangePreset PresetFromDistance(double metres, bool fp8, int hw, const ReferenceSettings& settings);

uint32_t ReconstructedValue(uint8_t byte, bool fp8, int sw);

constexpr size_t kMaxDistanceText = 199;  // characters of a typed distance read
double ParseDistance(const std::string& text);
std::string FormatDistance(double metres);

struct ReferenceStatistics {
  uint32_t smallest = 0;  // 0 when no reference is non-zero
  uint32_t largest = 0;
  uint32_t mean = 0;
};
ReferenceStatistics ComputeStatistics(const ReferenceBytes& device, int beamCount, bool fp8,
                                      int sw);

ReferenceBytes& EditedReferences();

// What the device holds, as last read.
struct DeviceReferences {
  ReferenceBytes bytes{};  // page 0 of the device image
  int beamCount = 0;       // bytes of page 0 read, 0 to 256
  bool fp8 = false;
  bool inConfigMode = false;
  bool gainsPresent = false;  // [HW-Amp] and [SW-Amp] exist in the definition
  int hw = 0;                 // the parameters' device values
  int sw = 0;
};

// The references dialog's model. Rows: 0 is "All", row i (1 to n) is beam i.
class ReferenceEditor {
 public:
  explicit ReferenceEditor(ReferenceBytes& edited = EditedReferences());

  // Edited references := device references, gains from the parameters. False outside FP8 mode
  // when the gain parameters are missing.
  bool Load(const DeviceReferences& device, const ReferenceSettings& settings);
  // The device's state changed without a reload (configuration mode).
  void SetInConfigMode(bool on) { device_.inConfigMode = on; }

  int BeamCount() const { return device_.beamCount; }
  bool Fp8() const { return device_.fp8; }
  int Hw() const { return hw_; }
  int Sw() const { return sw_; }
  const DeviceReferences& Device() const { return device_; }
  const ReferenceBytes& Edited() const { return edited_; }
  uint8_t EditedByte(int beam) const;
  uint32_t Reconstructed(int beam) const;
  bool BeamChanged(int beam) const;
  bool AnyBeamChanged() const;
  bool GainsDiffer() const;
  bool Unsaved() const;

  // Raw byte column: the number modulo 256; row 0 also selects HW for number << SW.
  void EditRaw(int row, int32_t number);
  // Reconstructed value column: byte and gains from the value (a negative number counts as 0).
  void EditReconstructed(int row, int32_t number);
  // The SW field: the number modulo 256, then its low 4 bits.
  void SetSwFromNumber(int32_t number);
  void SetHw(int hw) { hw_ = hw != 0 ? 1 : 0; }
  // The dialog's range preset: false (nothing changed) when too far.
  bool ApplyRange(double metres);

  ReferenceStatistics Statistics() const;
  // The table as plain text with CR LF line ends, Windows-1252.
  std::string ClipboardText() const;

 private:
  void SetAll(uint8_t byte);

  ReferenceBytes& edited_;
  DeviceReferences device_;
  ReferenceSettings settings_;
  int hw_ = 0;
  int sw_ = 0;
};

}  // namespace lumo

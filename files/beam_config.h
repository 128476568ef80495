// The beam configuration of a light curtain, independent of any window.
//
// State: 256 beam states, one byte per beam number 1..256 (index = beam - 1): 255 active,
// 0 inactive, 128 undetermined (never written), anything else inactive when written. The beam
// panel shows a range [first, last] of them; parameter files store them as a range text such as
// "1-5 ; 6 ; 10-".
//
// In the device the beams live in the first 32 bytes of page 2, in one of two layouts chosen by
// firmware byte 0: the bitmap layout (bits 0x80 and 0x20 both set: beam b is bit (b-1)/32 of byte
// (b-1)%32, set = active, 256 beams) or the byte layout (beam b is byte (b-1)%32, 255 = active,
// at most 32 beams).
//
//   ReadRangeText      check or apply a range text (applying sets the named beams active)
//   DeactivateRange    the named beams become inactive, all others keep their state
//   FormatRangeText    the range text of the active beams, as the panel shows it
//   PanelRange         the first and last beam the panel shows
//   DeviceSaysActive   a beam's state in a page image
//   TakeFromDevice     beam states from the device image
//   PutIntoEditImage   beam states into the edit image
//   BeamDiffers, ConfigChanged
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "definitions/pardef.h"

namespace lumo {

constexpr int kBeamCount = 256;
constexpr uint8_t kBeamActive = 255;
constexpr uint8_t kBeamInactive = 0;
constexpr uint8_t kBeamUndetermined = 128;
constexpr int kBeamPage = 2;           // page of the page images holding the beams
constexpr int kBeamBytes = 32;         // bytes of that page used for the beams
constexpr size_t kRangeTextMax = 200;  // characters of a range text at most

using BeamStates = std::array<uint8_t, kBeamCount>;

// The beams first..last shown by the panel.
struct BeamRange {
  int first = 1;
  int last = 256;
};

// True when firmware byte 0 selects the bitmap layout.
bool UsesBitmapLayout(uint8_t firmwareByte0);

// Reads a range text. checkOnly: only says whether it is well formed, nothing changes.
// Otherwise: clearFirst sets every state to inactive first; the named beams become active; a
// malformed text leaves every state inactive. Returns whether the text is well formed.
bool ReadRangeText(const char* text, BeamStates& states, bool checkOnly, bool clearFirst);

// Deactivates the beams named by a range text; false (nothing changed) when it is malformed.
bool DeactivateRange(const char* text, BeamStates& states);

// The range text of the active beams of the panel range; "???" when one of them is undetermined.
std::string FormatRangeText(const BeamStates& states, BeamRange range);

// The panel range: the device's limits with editAllRays, else the first and last processed beam
// (values <= 0 or missing: pass the limits); capped at 32 in the byte layout; the limits again
// when the result is empty or inverted.
BeamRange PanelRange(bool editAllRays, BeamRange deviceLimits, int64_t firstProcessed,
                     int64_t lastProcessed, bool haveFirst, bool haveLast, uint8_t firmwareByte0);

bool DeviceSaysActive(const PageImage& image, int beam, uint8_t firmwareByte0);

void TakeFromDevice(const PageImage& deviceImage, uint8_t firmwareByte0, BeamRange range,
                    BeamStates& states);

// Writes the beams of the range (undetermined ones left out) into page 2 of the edit image.
void PutIntoEditImage(const BeamStates& states, uint8_t firmwareByte0, BeamRange range,
                      PageImage& editImage);

// Whether the beam's state differs from the device image (never for an undetermined beam or
// while the device's parameters have not been read).
bool BeamDiffers(const BeamStates& states, int beam, const PageImage& deviceImage,
                 uint8_t firmwareByte0, bool deviceValid);

bool ConfigChanged(const BeamStates& states, BeamRange range, const PageImage& deviceImage,
                   uint8_t firmwareByte0, bool deviceValid);

}  // namespace lumo

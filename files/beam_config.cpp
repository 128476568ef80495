#include "files/beam_config.h"

#include <algorithm>

#include "definitions/scan.h"

namespace lumo {

namespace {

constexpr uint8_t kBitmapLayoutBits = 0x80 | 0x20;  // firmware byte 0: beams as a bitmap
constexpr int kByteLayoutMaxBeam = 32;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

void SetRange(BeamStates& states, int64_t from, int64_t to) {
  from = std::max<int64_t>(from, 1);
  to = std::min<int64_t>(to, kBeamCount);
  for (int64_t b = from; b <= to; ++b) states[static_cast<size_t>(b - 1)] = kBeamActive;
}

// Flips every determined state: active becomes inactive, anything else active.
void FlipDetermined(BeamStates& states) {
  for (uint8_t& s : states) {
    if (s == kBeamUndetermined) continue;
    s = s == kBeamActive ? kBeamInactive : kBeamActive;
  }
}

}  // namespace

bool UsesBitmapLayout(uint8_t firmwareByte0) {
  return (firmwareByte0 & kBitmapLayoutBits) == kBitmapLayoutBits;
}

bool ReadRangeText(const char* text, BeamStates& states, bool checkOnly, bool clearFirst) {
  if (text == nullptr) text = "";
  BeamStates work = states;
  if (clearFirst) work.fill(kBeamInactive);
  const char* p = text;
  bool wellFormed = true;
  while (*p != '\0') {
    if (*p == ';') ++p;
    SkipBlanks(p);
    bool haveStart = false;
    int32_t start = 0;
    if (IsDigit(*p)) {
      ParseNumber(p, &start);
      haveStart = true;
      SkipBlanks(p);
    }
    if (*p != '\0' && *p != ';' && *p != '-') {
      wellFormed = false;
      break;
    }
    if (*p == '-') {
      ++p;
      SkipBlanks(p);
      int32_t end = kBeamCount;
      if (*p != '\0' && *p != ';') ParseNumber(p, &end);
      // A missing start means beam 1 (max with 1 below).
      SetRange(work, haveStart ? start : 0, end);
    } else if (haveStart) {
      SetRange(work, start, start);
    }
  }
  if (checkOnly) return wellFormed;
  if (!wellFormed) {
    states.fill(kBeamInactive);
    return false;
  }
  states = work;
  return true;
}

bool DeactivateRange(const char* text, BeamStates& states) {
  BeamStates probe = states;
  if (!ReadRangeText(text, probe, true, false)) return false;
  FlipDetermined(states);
  ReadRangeText(text, states, false, false);
  FlipDetermined(states);
  return true;
}

std::string FormatRangeText(const BeamStates& states, BeamRange range) {
  for (int b = range.first; b <= range.last; ++b) {
    if (states[static_cast<size_t>(b - 1)] == kBeamUndetermined) return "???";
  }
  std::string text;
  int b = range.first;
  while (b <= range.last) {
    if (states[static_cast<size_t>(b - 1)] != kBeamActive) {
      ++b;
      continue;
    }
    // A run goes on over all following active beams, also beyond the panel's last beam.
    int start = b;
    int end = b;
    while (end < kBeamCount && states[static_cast<size_t>(end)] == kBeamActive) ++end;
    bool single = start == end;
    if (!text.empty()) text += ';';
    if (!single && start != range.first) text += std::to_string(start);
    if (!single) text += '-';
    // A single beam always names itself, also beam 256, which would otherwise vanish.
    if (end != kBeamCount || single) text += std::to_string(end);
    b = end + 1;
  }
  if (text == "-") text += std::to_string(range.last);
  return text;
}

BeamRange PanelRange(bool editAllRays, BeamRange deviceLimits, int64_t firstProcessed,
                     int64_t lastProcessed, bool haveFirst, bool haveLast, uint8_t firmwareByte0) {
  int64_t first = deviceLimits.first;
  int64_t last = deviceLimits.last;
  if (!editAllRays) {
    if (haveFirst) first = firstProcessed;
    if (haveLast) last = lastProcessed;
  }
  if (!UsesBitmapLayout(firmwareByte0)) {
    first = std::min<int64_t>(first, kByteLayoutMaxBeam);
    last = std::min<int64_t>(last, kByteLayoutMaxBeam);
  }
  if (first <= 0 || last < 1 || first > last || last > kBeamCount) {
    first = deviceLimits.first;
    last = deviceLimits.last;
  }
  return {static_cast<int>(first), static_cast<int>(last)};
}

bool DeviceSaysActive(const PageImage& image, int beam, uint8_t firmwareByte0) {
  if (beam < 1 || beam > kBeamCount) return false;
  int index = beam - 1;
  uint8_t byte = image.bytes[kBeamPage][static_cast<size_t>(index % kBeamBytes)];
  if (UsesBitmapLayout(firmwareByte0)) return (byte >> (index / kBeamBytes)) & 1;
  return byte == kBeamActive;
}

void TakeFromDevice(const PageImage& deviceImage, uint8_t firmwareByte0, BeamRange range,
                    BeamStates& states) {
  for (int b = range.first; b <= range.last; ++b) {
    states[static_cast<size_t>(b - 1)] =
        DeviceSaysActive(deviceImage, b, firmwareByte0) ? kBeamActive : kBeamInactive;
  }
}

void PutIntoEditImage(const BeamStates& states, uint8_t firmwareByte0, BeamRange range,
                      PageImage& editImage) {
  bool bitmap = UsesBitmapLayout(firmwareByte0);
  for (int b = range.first; b <= range.last; ++b) {
    uint8_t state = states[static_cast<size_t>(b - 1)];
    if (state == kBeamUndetermined) continue;
    int index = b - 1;
    uint8_t& byte = editImage.bytes[kBeamPage][static_cast<size_t>(index % kBeamBytes)];
    if (bitmap) {
      auto bit = static_cast<uint8_t>(1u << (index / kBeamBytes));
      byte = state == kBeamActive ? static_cast<uint8_t>(byte | bit)
                                  : static_cast<uint8_t>(byte & ~bit);
    } else {
      byte = state == kBeamActive ? kBeamActive : kBeamInactive;
    }
  }
}

bool BeamDiffers(const BeamStates& states, int beam, const PageImage& deviceImage,
                 uint8_t firmwareByte0, bool deviceValid) {
  if (!deviceValid || beam < 1 || beam > kBeamCount) return false;
  uint8_t state = states[static_cast<size_t>(beam - 1)];
  if (state == kBeamUndetermined) return false;
  return DeviceSaysActive(deviceImage, beam, firmwareByte0) != (state == kBeamActive);
}

bool ConfigChanged(const BeamStates& states, BeamRange range, const PageImage& deviceImage,
                   uint8_t firmwareByte0, bool deviceValid) {
  for (int b = range.first; b <= range.last; ++b) {
    if (BeamDiffers(states, b, deviceImage, firmwareByte0, deviceValid)) return true;
  }
  return false;
}

}  // namespace lumo

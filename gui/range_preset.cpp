#include "gui/range_preset.h"

#include <algorithm>
#include <cstring>

#include "base/translations.h"
#include "definitions/setup.h"
#include "gui/gui_text.h"
#include "platform/message_box.h"

namespace lumo::gui {

namespace {
constexpr uint8_t kFp8FirmwareBit = 0x80;  // firmware word byte 0
constexpr int kReferencePage = 0;
constexpr const char* kSwParameter = "[SW-Amp]";
constexpr const char* kHwParameter = "[HW-Amp]";

bool AnyBeamDiffers(const ReferenceBytes& edited, const PageImage& device, int beamCount) {
  const int n = std::clamp(beamCount, 0, kReferenceBeams);
  return std::memcmp(edited.data(), device.bytes[kReferencePage], static_cast<size_t>(n)) != 0;
}
}  // namespace

bool Fp8Mode(const DutLink& link) {
  return DeviceType() == kDeviceTG5 && (link.FirmwareWord()[0] & kFp8FirmwareBit) != 0;
}

DeviceReferences ReadDeviceReferences(DutLink& link) {
  DeviceReferences device;
  const PageImage image = link.CopyDeviceImage();
  if (link.ConfigValid()) Images().device = image;
  std::memcpy(device.bytes.data(), image.bytes[kReferencePage], device.bytes.size());
  device.beamCount = std::clamp(link.PageLength(kReferencePage), 0, kReferenceBeams);
  device.fp8 = Fp8Mode(link);
  device.inConfigMode = link.InConfigMode();
  int32_t sw = 0;
  int32_t hw = 0;
  device.gainsPresent = GetParameter(kSwParameter, &sw) && GetParameter(kHwParameter, &hw);
  device.sw = sw;
  device.hw = hw;
  return device;
}

bool WriteReferences(DutLink& link, const ReferenceBytes& edited, bool fp8, int hw, int sw) {
  if (link.Mode() != MODE_IDLE || !link.ConfigValid()) return false;
  Images().device = link.CopyDeviceImage();
  Images().edit = link.CopyEditImage();
  if (!fp8) {
    SetParameter(kSwParameter, sw);
    SetParameter(kHwParameter, hw);
  }
  if (AnyBeamDiffers(edited, Images().device, link.PageLength(kReferencePage))) {
    std::memcpy(Images().edit.bytes[kReferencePage], edited.data(), edited.size());
  }
  link.EditImage([](PageImage& image) { image = Images().edit; });
  return link.RequestCommand(CMD_WRITE, 0);
}

void ApplyRangePreset(DutLink& link, QLineEdit& field) {
  const std::string typed = ToCp1252(field.text().left(static_cast<int>(kMaxDistanceText)));
  const double metres = ParseDistance(typed);
  field.setText(QString::fromStdString(FormatDistance(metres)));
  const bool fp8 = Fp8Mode(link);
  const ReferenceSettings settings = ReferenceSettings::FromDefinition();
  const RangePreset preset = PresetFromDistance(metres, fp8, 0, settings);
  if (preset.tooFar) {
    ShowMessage(MsgKind::Error, MsgText("ERRSIG_MAXDISTANCE"), MsgText("SIG_DLGTITLE"));
    return;
  }
  if (ShowMessage(MsgKind::Question, MsgText("SIG_QWRITE"), MsgText("SIG_DLGTITLE")) !=
      MsgAnswer::Yes) {
    return;
  }
  // The write needs an idle link with a valid read; without one nothing changes.
  if (link.Mode() != MODE_IDLE || !link.ConfigValid()) return;
  ReferenceBytes& edited = EditedReferences();
  edited.fill(preset.choice.byte);
  field.selectAll();
  WriteReferences(link, edited, fp8, preset.choice.hw, preset.choice.sw);
}

}  // namespace lumo::gui

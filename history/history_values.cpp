#include "history/history_values.h"

#include <cstring>

#include "definitions/cell_text.h"
#include "platform/text.h"

namespace lumo {

namespace {

bool PagesFit(const std::vector<uint8_t>& bytes) {
  return bytes.size() == kHistoryPageBytes && sizeof(PageImage::bytes) == kHistoryPageBytes;
}

// Binds a copy of the images for the decoder while it lives, then the images bound before.
class BoundImages {
 public:
  explicit BoundImages(const std::vector<uint8_t>& device) : previous_(&Images()) {
    std::memcpy(&images_.device.bytes[0][0], device.data(), kHistoryPageBytes);
    images_.edit = previous_->edit;
    BindImages(&images_);
  }
  ~BoundImages() { BindImages(previous_); }
  BoundImages(const BoundImages&) = delete;
  BoundImages& operator=(const BoundImages&) = delete;

 private:
  PageImages* previous_;
  PageImages images_{};
};

std::vector<int32_t> DecodedValues(ParDef* def, const std::vector<uint8_t>& pages) {
  BoundImages bound(pages);
  std::vector<int32_t> values;
  for (const PVar& record : def->records) values.push_back(DeviceValue(&record));
  return values;
}

}  // namespace

std::vector<std::string> ChangedParameterNames(ParDef* def, int deviceType,
                                               const HistoryRecord& record) {
  std::vector<std::string> names;
  if (def == nullptr || record.deviceType != deviceType || !PagesFit(record.pagesBefore) ||
      !PagesFit(record.pagesAfter))
    return names;
  const auto before = DecodedValues(def, record.pagesBefore);
  const auto after = DecodedValues(def, record.pagesAfter);
  for (size_t i = 0; i < def->records.size(); ++i) {
    const PVar& parameter = def->records[i];
    if (parameter.bracketed || parameter.constant || before[i] == after[i]) continue;
    names.push_back(WithoutHotkeyMarks(NameCellText(def, &parameter)));
  }
  return names;
}

bool CopyRecordToEdit(ParDef* def, int deviceType, const HistoryRecord& record) {
  if (def == nullptr || record.deviceType != deviceType || !PagesFit(record.pagesAfter))
    return false;
  BoundImages bound(record.pagesAfter);
  CopyDeviceToEdit(def);
  return true;
}

}  // namespace lumo

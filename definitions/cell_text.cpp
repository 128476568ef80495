#include "definitions/cell_text.h"

namespace lumo {

namespace {

constexpr const char* kUnknownText = "???";

// The shown name of the state with the value, or "%d" for a record without states.
std::string ValueText(const ParDef* list, const PVar* record, int32_t value, bool markUnknown) {
  if (record->states.empty()) return std::to_string(value);
  const PState* state = StateByValue(record, value);
  if (state != nullptr) return DisplayText(list, state->name);
  if (!markUnknown) return std::string();
  std::string text = "{";
  text += std::to_string(value);
  text += "} (?)";
  return text;
}

}  // namespace

std::string NameCellText(const ParDef* list, const PVar* record) {
  if (record == nullptr) return {};
  return DisplayText(list, record->name);
}

std::string DeviceCellText(const ParDef* list, const PVar* record, bool deviceReadValid) {
  if (record == nullptr || !deviceReadValid) return kUnknownText;
  return ValueText(list, record, DeviceValue(record), true);
}

std::string EditCellText(const ParDef* list, const PVar* record) {
  if (record == nullptr || !record->editValid) return kUnknownText;
  return ValueText(list, record, record->editValue, false);
}

std::string FileCellText(const ParDef* list, const PVar* record) {
  if (record == nullptr || !record->fileValid) return kUnknownText;
  return ValueText(list, record, record->fileValue, false);
}

}  // namespace lumo

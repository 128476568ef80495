#include "definitions/cell_text.h"

#include <initializer_list>

#include "base/translations.h"
#include "platform/text.h"

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

// A translated text with its "%s" filled in order.
std::string Filled(const char* msgId, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (const char* p = MsgText(msgId); *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && next != args.end()) {
      out += *next++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
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

std::string PlainName(const ParDef* list, const PVar* record) {
  return WithoutHotkeyMarks(NameCellText(list, record));
}

std::string NotTakenLine(const ParDef* list, const PVar* record, int32_t written) {
  if (record == nullptr) return {};
  std::string value = ValueText(list, record, written, true);
  return Filled("WRITE_VALUELINE",
                {PlainName(list, record), value, DeviceCellText(list, record, true)});
}

std::string NotValidLine(const ParDef* list, const PVar* record, int32_t value) {
  if (record == nullptr) return {};
  return Filled("WRITE_NOTVALID", {PlainName(list, record), std::to_string(value)});
}

std::vector<WrittenValue> ValuesToWrite(const ParDef* list) {
  std::vector<WrittenValue> written;
  if (list == nullptr) return written;
  for (size_t i = 0; i < list->records.size(); ++i) {
    const PVar& record = list->records[i];
    if (record.bracketed || record.constant || !record.editValid) continue;
    if (record.editValue != DeviceValue(&record)) {
      written.push_back({static_cast<int>(i), record.editValue});
    }
  }
  return written;
}

std::string NotTakenLines(const ParDef* list, const std::vector<WrittenValue>& written) {
  std::string lines;
  for (const WrittenValue& w : written) {
    const PVar* record = GetRecord(list, w.index);
    if (record == nullptr || DeviceValue(record) == w.value) continue;
    if (!lines.empty()) lines += "\n";
    lines += NotTakenLine(list, record, w.value);
  }
  return lines;
}

}  // namespace lumo

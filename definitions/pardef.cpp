// Operations over the parameter list of a ParDef.
#include <cstring>

#include "definitions/pardef.h"

namespace lumo {
namespace {

// Lower case of the C locale: names and hotkeys compare the same whatever the user's locale.
char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualIgnoringCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (Lower(*a) != Lower(*b)) return false;
  }
  return *a == *b;
}

}  // namespace

PVar* GetRecord(ParDef* list, int index) {
  if (list == nullptr || index < 0 || static_cast<size_t>(index) >= list->records.size()) {
    return nullptr;
  }
  return &list->records[static_cast<size_t>(index)];
}

const PVar* GetRecord(const ParDef* list, int index) {
  return GetRecord(const_cast<ParDef*>(list), index);
}

bool NamesMatch(const char* a, const char* b) {
  if (a == nullptr || b == nullptr) return false;
  for (;;) {
    if (*a == '&') ++a;
    if (*b == '&') ++b;
    if (Lower(*a) != Lower(*b)) return false;
    if (*a == '\0') return true;
    ++a;
    ++b;
  }
}

PVar* FindRecord(ParDef* list, const char* name) {
  if (list == nullptr || name == nullptr) return nullptr;
  for (size_t i = list->records.size(); i-- > 0;) {
    if (NamesMatch(list->records[i].name, name)) return &list->records[i];
  }
  return nullptr;
}

const PVar* FindRecord(const ParDef* list, const char* name) {
  return FindRecord(const_cast<ParDef*>(list), name);
}

bool IsBracketed(const PVar* record) {
  return record != nullptr && record->bracketed;
}

bool IsConstant(const PVar* record) {
  return record != nullptr && record->constant;
}

bool IsMacro(const char* text) {
  if (text == nullptr) return false;
  const size_t n = std::strlen(text);
  return n >= 3 && text[0] == '$' && text[1] == '(' && text[n - 1] == ')';
}

const char* DisplayText(const ParDef* list, const char* text) {
  if (text == nullptr) return nullptr;
  if (!IsMacro(text)) return text;
  if (list == nullptr || list->macros.empty()) return kNoTranslation;
  const char* shown =
      TableText(list->macros.data(), list->macros.size(), TranslationVariant(), 0, text);
  return shown != nullptr ? shown : kNoTranslation;
}

char Hotkey(const ParDef* list, const PVar* record) {
  if (record == nullptr) return 0;
  const char* shown = DisplayText(list, record->name);
  const char* amp = shown != nullptr ? std::strchr(shown, '&') : nullptr;
  if (amp == nullptr || amp[1] == '\0') return 0;
  return Lower(amp[1]);
}

int FindRecordByHotkey(const ParDef* list, char key) {
  // A record without a hotkey has the hotkey 0; the key 0 finds no record.
  if (list == nullptr || key == 0) return -1;
  const char wanted = Lower(key);
  for (size_t i = list->records.size(); i-- > 0;) {
    if (Hotkey(list, &list->records[i]) == wanted) return static_cast<int>(i);
  }
  return -1;
}

void SetEdit(PVar* record, int32_t value) {
  if (record == nullptr || record->constant) return;
  record->editValue = value;
  record->editValid = IsValidValue(record, value) ? 1 : 0;
}

const PState* StateByValue(const PVar* record, int32_t value) {
  if (record == nullptr || record->constant) return nullptr;
  for (const PState& state : record->states) {
    if (state.value == value) return &state;
  }
  return nullptr;
}

const PState* StateByText(const ParDef* list, const PVar* record, const char* text) {
  if (record == nullptr || record->constant || text == nullptr) return nullptr;
  for (const PState& state : record->states) {
    if (EqualIgnoringCase(state.name, text)) return &state;
  }
  for (const PState& state : record->states) {
    if (EqualIgnoringCase(DisplayText(list, state.name), text)) return &state;
  }
  return nullptr;
}

bool IsChanged(const PVar* record, bool deviceReadValid) {
  return deviceReadValid && record != nullptr && record->editValid &&
         record->editValue != DeviceValue(record, 0);
}

bool GetValueByName(const ParDef* list, const char* name, int32_t* value) {
  const PVar* record = FindRecord(list, name);
  if (record == nullptr || record->constant) return false;
  if (value != nullptr) *value = DeviceValue(record, 0);
  return true;
}

bool SetValueByName(ParDef* list, const char* name, int32_t value) {
  PVar* record = FindRecord(list, name);
  if (record == nullptr || record->constant) return false;
  StoreValue(record, value);
  return true;
}

bool GetConstant(const ParDef* list, const char* name, double* value) {
  const PVar* record = FindRecord(list, name);
  if (record == nullptr || !record->constant) return false;
  if (value != nullptr) *value = record->constantValue;
  return true;
}

bool AnyChanged(const ParDef* list, bool deviceReadValid) {
  if (list == nullptr) return false;
  for (const PVar& record : list->records) {
    if (IsChanged(&record, deviceReadValid)) return true;
  }
  return false;
}

void CopyDeviceToEdit(ParDef* list) {
  if (list == nullptr) return;
  for (size_t i = list->records.size(); i-- > 0;) {
    SetEdit(&list->records[i], DeviceValue(&list->records[i], 0));
  }
}

void CopyFileToEdit(ParDef* list) {
  if (list == nullptr) return;
  for (size_t i = list->records.size(); i-- > 0;) {
    if (list->records[i].fileValid) SetEdit(&list->records[i], list->records[i].fileValue);
  }
}

void ApplyEdits(ParDef* list) {
  if (list == nullptr) return;
  for (size_t i = list->records.size(); i-- > 0;) {
    PVar& record = list->records[i];
    if (record.bracketed || !record.editValid) continue;
    if (record.editValue != DeviceValue(&record, 0)) StoreValue(&record, record.editValue);
  }
}

}  // namespace lumo

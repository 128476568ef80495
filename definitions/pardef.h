// Parameter model and value codec.
//
// State: one ParDef per parsed device definition (the program keeps one current ParDef from
// start to exit): its parameter list of PVar records, each with its states, and its own macro
// table. After parsing only the values change: the Edit and File values with their valid flags
// (user interface thread) and the two page images:
//   device image  the bytes last read from the device (written by the link engine)
//   edit image    the bytes to be written (a copy of each page read, then changed by StoreValue)
// The codec reads the device image and writes the edit image of the bound PageImages (a pair
// owned by this module unless the link engine binds its own). The model takes no lock: the
// device image is read only while the link is idle with a valid read, and ApplyEdits runs only
// right before the user interface asks the link to write.
//
// Record access:
//   GetRecord           record by index (nullptr when absent)
//   FindRecord          last record whose name matches, "&" skipped, case ignored
//   IsBracketed         hidden setting, constant or text setting ("[NAME]")
//   IsConstant          constant ("[NAME] = (value)")
//   IsMacro             "$(NAME)"
//   DisplayText         a text as shown: macros through the definition's macro table
//   Hotkey              the lower-case letter after the first "&" of the shown name
//   FindRecordByHotkey  index of the last record with that hotkey, -1 when none
// Values of one record:
//   DeviceValue         decode from the device image (masks, shift, sign, linked value)
//   StoreValue          encode into the edit image
//   IsValidValue        a value the record can hold: a state, or one that survives the round trip
//   SetEdit             Edit value and its valid flag (constants left alone)
//   StateByValue        first state with that value
//   StateByText         first state with that name as written, else as shown
//   IsChanged           Edit value valid and different from the device value
// Values by name:
//   GetValueByName, SetValueByName, GetConstant
// Over the whole list:
//   AnyChanged, CopyDeviceToEdit, CopyFileToEdit, ApplyEdits
// Page images:
//   Images, BindImages
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/translations.h"

namespace lumo {

// The mark for a value that cannot be formed.
constexpr int32_t NoValue = 2147483647;

constexpr int kPageCount = 8;        // pages 0..7 of the parameter memory
constexpr int kPageSize = 256;       // bytes per page in an image
constexpr int kMaxParamPage = 7;     // highest page a parameter may address
constexpr int kMaxParamOffset = 31;  // device pages are 32 bytes: offsets 0..31
constexpr int kMaxRShift = 15;       // a wider shift leaves nothing of a byte

constexpr size_t kMaxNameLen = 50;          // names, reference names, state names
constexpr size_t kMaxDescriptionLen = 200;  // descriptions and text setting values
constexpr size_t kMaxRecords = 255;         // the list's count is 8 bits
constexpr size_t kMaxStates = 255;          // a record's state count is 8 bits

// A chain of references is followed through at most kMaxReferenceDepth + 1 records.
constexpr int kMaxReferenceDepth = 10;

// One copy of the device's parameter memory: 8 pages of 256 bytes.
struct PageImage {
  uint8_t bytes[kPageCount][kPageSize];
};

// The two copies the codec works on.
struct PageImages {
  PageImage device;  // as last read from the device
  PageImage edit;    // to be written to the device
};

// One named state of a record.
struct PState {
  int32_t value = 0;
  char name[kMaxNameLen + 1] = {};  // as written, often a macro
  uint8_t isDefault = 0;            // marked "*" in the definition
};

// One parameter record. Flags are 0 or 1.
struct PVar {
  uint8_t page = 0;            // 0..7
  uint8_t offset = 0;          // 0..31
  uint32_t mask = 0;           // bits of the byte that belong to the parameter
  uint8_t rShift = 0;          // right shift after masking, 0..15
  int32_t editValue = 0;       // the Edit column's value
  int32_t fileValue = 0;       // the File column's value
  uint8_t isSigned = 0;        // raw value is sign-extended
  uint8_t bracketed = 0;       // hidden setting, constant or text setting: not a table row
  uint8_t editValid = 0;       // editValue is valid
  uint8_t fileValid = 0;       // fileValue is valid
  uint8_t constant = 0;        // a constant: no memory cell
  uint8_t hasReference = 0;    // the value is combined with refTarget's value
  std::vector<PState> states;  // at most kMaxStates, in definition order
  uint8_t hasLimits = 0;       // minimum and maximum apply
  int32_t minimum = 0;         // inclusive
  int32_t maximum = 0;         // inclusive
  double constantValue = 0.0;
  char name[kMaxNameLen + 1] = {};                // as written; "&" marks the hotkey
  char description[kMaxDescriptionLen + 1] = {};  // tooltip, or the value of a text setting
  const PVar* refTarget = nullptr;                // set after parsing, same list
  char refName[kMaxNameLen + 1] = {};             // reference target's name as written
  char op = 0;                                    // one of "+-_*/\" with a reference
};

// A parsed device definition: the parameter list (parameters in text order, then bracketed
// lines in text order) and the definition's macro table in translation row format, sorted.
// The list is one vector of records in list order, each holding its states: record i is
// records[i], and the parser keeps both counts within their 8-bit limits.
// Records point at each other (refTarget) and the macro rows at the text pool, so a ParDef is
// never copied; it lives behind a std::unique_ptr.
struct ParDef {
  std::vector<PVar> records;                   // at most kMaxRecords
  std::vector<TranslationRow> macros;          // key kind 1, variant 0, msgId = "$(NAME)"
  std::vector<std::unique_ptr<char[]>> texts;  // storage of the macro rows' texts

  ParDef() = default;
  ParDef(const ParDef&) = delete;
  ParDef& operator=(const ParDef&) = delete;

  size_t Count() const { return records.size(); }
};

// Record access. Every function accepts nullptr for the list or record.
PVar* GetRecord(ParDef* list, int index);
const PVar* GetRecord(const ParDef* list, int index);
PVar* FindRecord(ParDef* list, const char* name);
const PVar* FindRecord(const ParDef* list, const char* name);
bool IsBracketed(const PVar* record);
bool IsConstant(const PVar* record);
bool IsMacro(const char* text);
// Names compared as FindRecord compares them.
bool NamesMatch(const char* a, const char* b);
// A macro's text in the current language ("<NO_TRANSLATION>" when the macro table has no row);
// any other text unchanged; nullptr for nullptr.
const char* DisplayText(const ParDef* list, const char* text);
char Hotkey(const ParDef* list, const PVar* record);
int FindRecordByHotkey(const ParDef* list, char key);

// Values of one record.
int32_t DeviceValue(const PVar* record, int depth = 0);
void StoreValue(PVar* record, int32_t value);
bool IsValidValue(const PVar* record, int32_t value);
void SetEdit(PVar* record, int32_t value);
const PState* StateByValue(const PVar* record, int32_t value);
const PState* StateByText(const ParDef* list, const PVar* record, const char* text);
// deviceReadValid: the link holds a complete, valid read of the device (DEV_VALID or later).
bool IsChanged(const PVar* record, bool deviceReadValid);

// Values by name.
bool GetValueByName(const ParDef* list, const char* name, int32_t* value);
bool SetValueByName(ParDef* list, const char* name, int32_t value);
bool GetConstant(const ParDef* list, const char* name, double* value);

// Over the whole list.
bool AnyChanged(const ParDef* list, bool deviceReadValid);
void CopyDeviceToEdit(ParDef* list);
void CopyFileToEdit(ParDef* list);
void ApplyEdits(ParDef* list);

// The images the codec works on: the bound pair, or this module's own pair when none is bound.
PageImages& Images();
// Binds a pair owned by the caller (nullptr: back to this module's own pair).
void BindImages(PageImages* images);

// The pure codec arithmetic, for the operations above and their tests.
// Shown value from a raw field value v and the target's value r; NoValue when it has none.
int32_t LinkedValue(char op, int32_t v, int32_t r);
// Raw field value for a shown value x; false when there is none.
bool LinkedRaw(char op, int32_t x, int32_t r, int32_t* raw);

// Copies text into a fixed field, cut to size - 1 characters, always NUL-terminated.
template <size_t N>
void CopyField(char (&field)[N], const char* text) {
  size_t i = 0;
  if (text != nullptr) {
    for (; i + 1 < N && text[i] != '\0'; ++i) field[i] = text[i];
  }
  field[i] = '\0';
}

}  // namespace lumo

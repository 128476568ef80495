#include "base/settings.h"

#include <cstddef>
#include <cstring>
#include <mutex>

#include "base/program_paths.h"
#include "base/save_failure.h"
#include "platform/message_box.h"
#include "platform/profile_file.h"

namespace lumo {

namespace {

constexpr const char* kCommSection = "CommSettings";
constexpr const char* kMiscSection = "Misc";
constexpr const char* kDefaultPortName = "COM1:";
constexpr const char* kNeutralLanguage = "NEUTRAL";

enum class SettingKind { Text, Flag };

struct SettingRow {
  const char* section;
  const char* key;
  SettingKind kind;
  size_t offset;            // of the field in Settings
  size_t capacity;          // text fields: bytes including the NUL
  const char* defaultText;  // text fields
  uint8_t defaultFlag;      // flag fields
};

#define LUMO_TEXT(field) SettingKind::Text, offsetof(Settings, field), sizeof(Settings::field)
#define LUMO_FLAG(field) SettingKind::Flag, offsetof(Settings, field), 0, nullptr

// In the order the file is written: the section's keys stay together and new keys are added
// in this order.
// section        key                   kind, field                         default
const SettingRow kSettingRows[] = {
    {kCommSection, "DefaultPortName", LUMO_TEXT(defaultPortName), kDefaultPortName, 0},
    {kCommSection, "Echo", LUMO_FLAG(echo), 1},
    {kCommSection, "Beep", LUMO_FLAG(beep), 0},
    {kMiscSection, "DefaultKonfFile", LUMO_TEXT(defaultKonfFile), "", 0},
    {kMiscSection, "AutoReadConf", LUMO_FLAG(autoReadConf), 1},
    {kMiscSection, "PropertiesOnStart", LUMO_FLAG(propertiesOnStart), 1},
    {kMiscSection, "AutoCopyConf", LUMO_FLAG(autoCopyConf), 1},
    {kMiscSection, "EditAllRays", LUMO_FLAG(editAllRays), 1},
    {kMiscSection, "EnableToolTips", LUMO_FLAG(enableToolTips), 1},
    {kMiscSection, "QueryLeaveMode", LUMO_FLAG(queryLeaveMode), 0},
    {kMiscSection, "Language", LUMO_TEXT(language), kNeutralLanguage, 0},
    {kMiscSection, "TraceFile", LUMO_TEXT(traceFile), "", 0},
    {kMiscSection, "VerifyReads", LUMO_FLAG(verifyReads), 0},
};

#undef LUMO_TEXT
#undef LUMO_FLAG

char* TextField(Settings* s, const SettingRow& row) {
  return reinterpret_cast<char*>(s) + row.offset;
}
const char* TextField(const Settings& s, const SettingRow& row) {
  return reinterpret_cast<const char*>(&s) + row.offset;
}
uint8_t* FlagField(Settings* s, const SettingRow& row) {
  return reinterpret_cast<uint8_t*>(s) + row.offset;
}
uint8_t FlagField(const Settings& s, const SettingRow& row) {
  return *(reinterpret_cast<const uint8_t*>(&s) + row.offset);
}

// Windows-1252 lower-case letters and their capitals outside a-z.
struct CaseRow {
  unsigned char lower;
  unsigned char upper;
};
// lower  upper
const CaseRow kCaseRows[] = {
    {0x9A, 0x8A},  // s caron
    {0x9C, 0x8C},  // ligature oe
    {0x9E, 0x8E},  // z caron
    {0xFF, 0x9F},  // y diaeresis
};
constexpr unsigned char kLatinLowerFirst = 0xE0;
constexpr unsigned char kLatinLowerLast = 0xFE;
constexpr unsigned char kDivisionSign = 0xF7;  // in the range, but not a letter
constexpr unsigned char kCaseDistance = 0x20;

std::mutex g_settingsMutex;
Settings g_settings = DefaultSettings();

}  // namespace

void CopyField(char* field, size_t capacity, const std::string& text) {
  if (field == nullptr || capacity == 0) return;
  size_t length = text.size() < capacity - 1 ? text.size() : capacity - 1;
  std::memcpy(field, text.data(), length);
  field[length] = '\0';
}

Settings DefaultSettings() {
  Settings s{};
  for (const SettingRow& row : kSettingRows) {
    switch (row.kind) {
      case SettingKind::Text:
        CopyField(TextField(&s, row), row.capacity, row.defaultText);
        break;
      case SettingKind::Flag:
        *FlagField(&s, row) = row.defaultFlag;
        break;
    }
  }
  s.batch = 0;
  return s;
}

void UpperCaseWin1252(char* text) {
  if (text == nullptr) return;
  for (char* p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if ((c >= 'a' && c <= 'z') ||
        (c >= kLatinLowerFirst && c <= kLatinLowerLast && c != kDivisionSign)) {
      c = static_cast<unsigned char>(c - kCaseDistance);
    } else {
      for (const CaseRow& row : kCaseRows) {
        if (c == row.lower) c = row.upper;
      }
    }
    *p = static_cast<char>(c);
  }
}

void NormalizeLanguageName(char* text) {
  if (text == nullptr) return;
  UpperCaseWin1252(text);
  if (std::strcmp(text, "DEUTSCH") == 0) std::strcpy(text, "GERMAN");
}

void ReadSettingsFile(const std::string& path, Settings* settings) {
  ProfileFile file;
  file.Load(path);  // unreadable or missing: every key takes its default
  ReadSettingsProfile(file, settings);
}

void ReadSettingsProfile(const ProfileFile& file, Settings* settings) {
  if (settings == nullptr) return;
  uint32_t batch = settings->batch;
  *settings = DefaultSettings();
  settings->batch = batch;
  for (const SettingRow& row : kSettingRows) {
    std::string value;
    if (!file.Get(row.section, row.key, &value)) continue;
    switch (row.kind) {
      case SettingKind::Text:
        CopyField(TextField(settings, row), row.capacity, value);
        break;
      case SettingKind::Flag:
        // An empty value counts as absent, as the profile number reader treats it.
        if (!value.empty()) *FlagField(settings, row) = ProfileNumberIsNonZero(value) ? 1 : 0;
        break;
    }
  }
  NormalizeLanguageName(settings->language);
}

bool WriteSettingsFile(const std::string& path, const Settings& settings, ReplaceResult* why) {
  ProfileFile file;
  file.Load(path);
  WriteSettingsProfile(settings, &file);
  return file.Save(path, why);
}

void WriteSettingsProfile(const Settings& settings, ProfileFile* profile) {
  ProfileFile& file = *profile;
  for (const SettingRow& row : kSettingRows) {
    switch (row.kind) {
      case SettingKind::Text: {
        const char* text = TextField(settings, row);
        file.Set(row.section, row.key, std::string(text, strnlen(text, row.capacity)));
        break;
      }
      case SettingKind::Flag:
        file.Set(row.section, row.key, FlagField(settings, row) != 0 ? "1" : "0");
        break;
    }
  }
}

void LoadSettings(const std::string& path) {
  Settings loaded = CurrentSettings();
  ReadSettingsFile(path, &loaded);
  std::lock_guard<std::mutex> lock(g_settingsMutex);
  uint32_t batch = g_settings.batch;  // may have changed while the file was read
  g_settings = loaded;
  g_settings.batch = batch;
}

bool SaveSettings(const std::string& path) {
  ReplaceResult why;
  if (WriteSettingsFile(path, CurrentSettings(), &why)) return true;
  ShowMessage(MsgKind::Error, SaveFailureText("ERRSAVE_SETTINGS", why), ApplicationTitle());
  return false;
}

Settings CurrentSettings() {
  std::lock_guard<std::mutex> lock(g_settingsMutex);
  return g_settings;
}

void SetCurrentSettings(const Settings& settings) {
  std::lock_guard<std::mutex> lock(g_settingsMutex);
  g_settings = settings;
}

void SetBatchState(uint32_t bits, bool on) {
  std::lock_guard<std::mutex> lock(g_settingsMutex);
  g_settings.batch = on ? (g_settings.batch | bits) : (g_settings.batch & ~bits);
}

}  // namespace lumo

// Program settings: the settings file's keys and the batch programming state.
//
// State: one current Settings record for the whole run, behind the functions below and guarded
// by a mutex (the user interface thread changes it; the link and command line may read it).
// LoadSettings fills its file keys from the settings file (twice at start); the settings dialog
// and the "Show tooltips" command change it in memory; only SaveSettings writes the file. The
// batch programming bits are never read from or written to the file, so batch programming always
// starts switched off.
//
//   DefaultSettings       the record with every default (no file)
//   ReadSettingsFile      the file keys read from a file into a record (pure apart from reading)
//   WriteSettingsFile     the file keys of a record written into a file, other content kept
//   ReadSettingsProfile, WriteSettingsProfile   the same on a settings file held in memory
//   LoadSettings          ReadSettingsFile into the current record (batch bits untouched)
//   SaveSettings          WriteSettingsFile of the current record; a failure is shown with its
//   reason CurrentSettings       a copy of the current record SetCurrentSettings    replace the
//   current record SetBatchState         set or clear batch bits of the current record
//   UpperCaseWin1252      upper-case a Windows-1252 text in place
//   NormalizeLanguageName upper case, and "DEUTSCH" becomes "GERMAN"
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/file_system.h"
#include "platform/profile_file.h"

namespace lumo {

// Text limits of the record, in characters (the buffers hold one more for the NUL).
constexpr size_t kPortNameChars = 260;  // a port name: a device path such as a by-id link
constexpr size_t kKonfFileChars = 260;  // a path
constexpr size_t kLanguageChars = 48;   // a language name

// Batch programming bits.
constexpr uint32_t kBatchOn = 0x1;       // switched on in the settings dialog
constexpr uint32_t kBatchOffered = 0x2;  // offered: device type 1 in expert mode

struct Settings {
  char defaultPortName[kPortNameChars + 1];  // CommSettings/DefaultPortName; empty: offline
  uint8_t echo;                              // CommSettings/Echo
  uint8_t beep;                              // CommSettings/Beep
  char defaultKonfFile[kKonfFileChars + 1];  // Misc/DefaultKonfFile
  uint8_t propertiesOnStart;                 // Misc/PropertiesOnStart
  uint8_t autoReadConf;                      // Misc/AutoReadConf
  uint8_t autoCopyConf;                      // Misc/AutoCopyConf
  uint8_t editAllRays;                       // Misc/EditAllRays
  uint8_t enableToolTips;                    // Misc/EnableToolTips
  uint8_t queryLeaveMode;                    // Misc/QueryLeaveMode
  char language[kLanguageChars + 1];         // Misc/Language, upper case; "NEUTRAL": system's
  char traceFile[kKonfFileChars + 1];        // Misc/TraceFile; empty: no line trace (expert)
  uint8_t verifyReads;                       // Misc/VerifyReads: every page read twice (expert)
  uint32_t batch;                            // kBatch* bits, never in the file
};

Settings DefaultSettings();
// Missing file, missing key: the default. The record's batch bits are left as they are.
void ReadSettingsFile(const std::string& path, Settings* settings);
// The same from a settings file already in memory, and the file keys set in one.
void ReadSettingsProfile(const ProfileFile& file, Settings* settings);
void WriteSettingsProfile(const Settings& settings, ProfileFile* file);
// False when the file could not be written; it is then unchanged and `why` (optional) says what
// failed. Shows nothing.
bool WriteSettingsFile(const std::string& path, const Settings& settings,
                       ReplaceResult* why = nullptr);

void LoadSettings(const std::string& path);
bool SaveSettings(const std::string& path);
Settings CurrentSettings();
void SetCurrentSettings(const Settings& settings);
void SetBatchState(uint32_t bits, bool on);

// Copies text into a fixed field of capacity bytes, cut to fit and always NUL-terminated.
void CopyField(char* field, size_t capacity, const std::string& text);

void UpperCaseWin1252(char* text);
void NormalizeLanguageName(char* text);

}  // namespace lumo

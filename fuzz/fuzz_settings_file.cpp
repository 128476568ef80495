// Fuzz target: the settings file reader (through the profile file reader) and a save of what
// was read, which must keep every line it did not understand.
#include <cstring>

#include "app/settings.h"
#include "fuzz/fuzz_support.h"
#include "platform/profile_file.h"

namespace {

bool IsPlainName(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c <= ' ' || c == 0x7F || c == '"' || c == '\'') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lumo::fuzz::ScratchFile file("lumo-fuzz-settings");
  if (!file.Write(data, size)) return 0;

  lumo::Settings settings = lumo::DefaultSettings();
  lumo::ReadSettingsFile(file.Path(), &settings);
  // Every text field stays terminated within its capacity.
  if (strnlen(settings.language, sizeof settings.language) == sizeof settings.language)
    __builtin_trap();
  if (strnlen(settings.defaultKonfFile, sizeof settings.defaultKonfFile) ==
      sizeof settings.defaultKonfFile)
    __builtin_trap();

  lumo::ProfileFile profile;
  if (profile.Load(file.Path())) {
    (void)profile.GetInt("Misc", "AutoReadConf", 0);
    (void)profile.GetString("Misc", "Language", "NEUTRAL");
    (void)lumo::WriteSettingsFile(file.Path(), settings);
    // What was written reads back to the same record. Only plain names are compared: quotes
    // are taken off on every read, blanks and control bytes at the ends are trimmed.
    lumo::Settings again = lumo::DefaultSettings();
    lumo::ReadSettingsFile(file.Path(), &again);
    if (IsPlainName(settings.language) && strcmp(again.language, settings.language) != 0)
      __builtin_trap();
  }
  return 0;
}

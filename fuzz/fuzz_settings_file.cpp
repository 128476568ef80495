// Fuzz target: the settings file reader (through the profile file reader) and a save of what
// was read, which must keep every line it did not understand. Works in memory: the file
// functions only add the reading and the replacing of the file around the same code.
#include <cstring>

#include "base/settings.h"
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
  if (size > lumo::ProfileFile::kMaxFileBytes) return 0;
  lumo::ProfileFile profile;
  profile.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));

  lumo::Settings settings = lumo::DefaultSettings();
  lumo::ReadSettingsProfile(profile, &settings);
  // Every text field stays terminated within its capacity.
  if (strnlen(settings.language, sizeof settings.language) == sizeof settings.language)
    __builtin_trap();
  if (strnlen(settings.defaultKonfFile, sizeof settings.defaultKonfFile) ==
      sizeof settings.defaultKonfFile)
    __builtin_trap();

  (void)profile.GetInt("Misc", "AutoReadConf", 0);
  (void)profile.GetString("Misc", "Language", "NEUTRAL");
  const size_t linesBefore = profile.Lines().size();
  lumo::WriteSettingsProfile(settings, &profile);
  // A save keeps every line it read (it only changes or adds keys).
  if (profile.Lines().size() < linesBefore) __builtin_trap();

  // What was written reads back to the same record. Only plain names are compared: quotes are
  // taken off on every read, blanks and control bytes at the ends are trimmed.
  lumo::ProfileFile written;
  written.LoadText(profile.Text());
  lumo::Settings again = lumo::DefaultSettings();
  lumo::ReadSettingsProfile(written, &again);
  if (IsPlainName(settings.language) && strcmp(again.language, settings.language) != 0)
    __builtin_trap();
  if (again.verifyReads != settings.verifyReads || again.echo != settings.echo) __builtin_trap();
  return 0;
}

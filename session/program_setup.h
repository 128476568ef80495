// The program's state as the desktop program sets it up at start, for a program that works
// without its windows (lumokonf-cli): paths, the desktop program's settings file, language,
// translation tables, the device definition and its setup, the application title.
//
// State: none of its own; it settles the current startup paths, settings, language,
// definition and title (base/, definitions/).
//
//   ProgramChoices        what the caller chose over the settings file: language, echo, a
//                         definition file
//   SelectProgramLanguage the language of every message: the choice, else the settings file's
//                         Language key, else the system's
//   SettingsEcho          whether the line echoes: the choice, else the settings file's Echo key
//   PrepareProgram        all of it; false after its message was shown
#pragma once

#include <string>

namespace lumo {

// The desktop program's name: both programs read its settings file.
inline constexpr const char* kDesktopProgramName = "lumokonf";

struct ProgramChoices {
  std::string language;        // "en", "de"; anything else: from the settings
  std::string echo;            // "on", "off"; anything else: from the settings
  std::string definitionFile;  // empty: the definition search (start folder, program, built in)
};

void SelectProgramLanguage(const ProgramChoices& choices);
bool SettingsEcho(const ProgramChoices& choices);
bool PrepareProgram(const ProgramChoices& choices);

}  // namespace lumo

// What the desktop program decides at start: what its command line asks for, and whether the
// settings dialog comes first.
//
// State: none; pure functions of their arguments (plain C++, no Qt, so the rules are tested on
// their own).
//
//   JoinCommandLine         argv[1..] joined with single spaces
//   IsExpertCommandLine     the whole command line is exactly "-exp"
//   MatchAppDefCommandLine  "-appdef", optional blanks, one word: the definition file name
//   ReadCommandLine         both rules in their order: expert mode, else a new configurator
//   ReadCommandLineArgs     the same from the program's arguments ("-appdef" FILE with blanks)
//   FirstStartAction        settings dialog first, or parameter file and link
#pragma once

#include <cstdint>
#include <string>

#include "base/program_paths.h"
#include "base/settings.h"

namespace lumo {

std::string JoinCommandLine(int argc, const char* const* argv);
bool IsExpertCommandLine(const std::string& commandLine);
// True with the file name when the command line asks for a new configurator.
bool MatchAppDefCommandLine(const std::string& commandLine, std::string* definitionFile);

// What the command line asks for; "-exp" and "-appdef" never act together.
struct CommandLineRequest {
  uint32_t startFlags = 0;       // kStartExpert for "-exp"
  bool newConfigurator = false;  // "-appdef FILE": write a new configurator and end
  std::string definitionFile;    // FILE of "-appdef"
};
CommandLineRequest ReadCommandLine(const std::string& commandLine);
// argv[0] is the program. Exactly "-appdef" followed by one argument takes that argument whole
// as the file name (on Linux the shell has split the words already); anything else is read as
// the joined command line.
CommandLineRequest ReadCommandLineArgs(int argc, const char* const* argv);

enum class StartAction { OpenSettingsDialog, LoadFileAndStartLink };
StartAction FirstStartAction(const Settings& settings, uint32_t startFlags);

}  // namespace lumo

// Start-up: where the program's files are, the command line, the serial line settings of the
// definition, the application title.
//
// State: one current StartupPaths record (start directory, program directory, program file
// name, settings file, help file, start flags), settled once at start and read by the other
// parts afterwards; and the application title, "Lumo-Konf V3.2" until a display name beginning
// with "!" replaces it. Both are behind the functions below and guarded by a mutex. Everything
// else here is a pure function of its arguments (and of which files exist).
//
//   WithTrailingSeparator   a folder path ending in "/"
//   CurrentDirectory        getcwd, ending in "/"
//   ProgramFilePath         the running program's full path (/proc/self/exe)
//   SplitProgramPath        a full path into folder (ending in "/") and file name
//   ReplaceExtension        a file name with its extension replaced (or added)
//   FileReadable            a regular file that can be opened for reading
//   FindSettingsFile        start directory, then program directory, else start directory
//   FindHelpFile            ".pdf" in both folders, then ".htm" in both, then the installed
//                           documentation folder, else empty
//   InstalledDataFile       a file in the installed share folder beside the program's bin folder
//   FolderWritable          the user may create files in the folder
//   SaveDialogFolder        where save dialogs start: the program directory when writable (a
//                           program folder of its own), else the start directory
//   SettlePaths             all of the above from a start directory and a program path
//   SettleStartupPaths      the same from the process itself (optionally another program name)
//   JoinCommandLine         argv[1..] joined with single spaces
//   IsExpertCommandLine     the whole command line is exactly "-exp"
//   MatchAppDefCommandLine  "-appdef", optional blanks, one word: the definition file name
//   ReadCommandLine         both rules in their order: expert mode, else a new configurator
//   ReadCommandLineArgs     the same from the program's arguments ("-appdef" FILE with blanks)
//   DefaultSerialLine       the line settings a device type starts with
//   ParseSerialLine         a [Baudrate] value text over the defaults
//   TitleForDisplayName     the application title and the name shown in the window title
//   FirstStartAction        settings dialog first, or parameter file and link
//   CurrentStartupPaths / SetCurrentStartupPaths, ApplicationTitle / SetApplicationTitle
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings.h"

namespace lumo {

inline constexpr const char* kApplicationTitle = "Lumo-Konf V3.2";
constexpr size_t kTitleChars = 260;        // the application title's limit
constexpr size_t kProgramNameChars = 256;  // the program file name's limit

// A system install puts the program into <prefix>/bin and its data beside it; these folders are
// looked in after the start directory and the program directory.
inline constexpr const char* kInstalledDataFolder = "../share/lumokonf/";
inline constexpr const char* kInstalledDocFolder = "../share/doc/lumokonf/";

constexpr uint32_t kStartExpert = 0x1;  // start flags bit 0: "-exp"

struct StartupPaths {
  std::string startDir;         // current directory at start, ends in "/"
  std::string programDir;       // the program file's folder, ends in "/"
  std::string programFileName;  // without folder, at most kProgramNameChars
  std::string settingsFile;     // "<program>.ini", found or to be created
  std::string helpFile;         // "<program>.pdf" or ".htm"; empty: no help
  uint32_t startFlags = 0;      // kStart* bits
};

std::string WithTrailingSeparator(const std::string& folder);
std::string CurrentDirectory();
std::string ProgramFilePath();
void SplitProgramPath(const std::string& fullPath, std::string* folder, std::string* fileName);
std::string ReplaceExtension(const std::string& fileName, const std::string& extension);
bool FileReadable(const std::string& path);
std::string FindSettingsFile(const std::string& startDir, const std::string& programDir,
                             const std::string& programFileName);
std::string FindHelpFile(const std::string& startDir, const std::string& programDir,
                         const std::string& programFileName);
bool FolderWritable(const std::string& folder);
std::string SaveDialogFolder(const StartupPaths& paths);
// programDir + folder + name when that file is readable, else empty.
std::string InstalledDataFile(const std::string& programDir, const char* folder,
                              const std::string& name);
StartupPaths SettlePaths(const std::string& startDir, const std::string& programPath);
// programName: use this file name instead of the running program's own (the command line tool
// passes "lumokonf" to find the desktop program's settings file); empty: the program's own.
StartupPaths SettleStartupPaths(const std::string& programName = std::string());

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

// Parity codes and stop-bit codes of the serial line settings.
enum SerialParity : uint8_t {
  kParityNone = 0,
  kParityOdd = 1,
  kParityEven = 2,
  kParityMark = 3,
  kParitySpace = 4
};
enum SerialStopBits : uint8_t { kStopBitsOne = 0, kStopBitsOneHalf = 1, kStopBitsTwo = 2 };

struct SerialLineSettings {
  int32_t baudRate;
  uint8_t dataBits;
  uint8_t parity;    // SerialParity
  uint8_t stopBits;  // SerialStopBits
};

SerialLineSettings DefaultSerialLine(int deviceType);
// text: the [Baudrate] value, or nullptr when the definition has no such setting.
SerialLineSettings ParseSerialLine(const char* text, int deviceType);

struct TitleParts {
  std::string applicationTitle;  // caption of message boxes, first part of the window title
  std::string shownName;         // the display name as the window title shows it
};
TitleParts TitleForDisplayName(const std::string& displayName);

enum class StartAction { OpenSettingsDialog, LoadFileAndStartLink };
StartAction FirstStartAction(const Settings& settings, uint32_t startFlags);

StartupPaths CurrentStartupPaths();
void SetCurrentStartupPaths(const StartupPaths& paths);
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

}  // namespace lumo

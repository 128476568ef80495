// Where the program's files are, and the application title.
//
// State: one current StartupPaths record (start directory, program directory, program file
// name, settings file, help file, start flags), settled once at start and read by the other
// parts afterwards; and the application title, "Lumo-Konf V3.2" until a display name beginning
// with "!" replaces it. Both are behind the functions below and guarded by a mutex. Everything
// else here is a pure function of its arguments (and of which files exist).
//
//   WithTrailingSeparator   a folder path ending in "/"
//   CurrentDirectory        getcwd, ending in "/"
//   ProgramFilePath         the running program's full path (/proc/self/exe), also after the
//                           program file was replaced while it runs
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
//   TitleForDisplayName     the application title and the name shown in the window title
//   CurrentStartupPaths / SetCurrentStartupPaths, ApplicationTitle / SetApplicationTitle
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

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

struct TitleParts {
  std::string applicationTitle;  // caption of message boxes, first part of the window title
  std::string shownName;         // the display name as the window title shows it
};
TitleParts TitleForDisplayName(const std::string& displayName);

StartupPaths CurrentStartupPaths();
void SetCurrentStartupPaths(const StartupPaths& paths);
std::string ApplicationTitle();
void SetApplicationTitle(const std::string& title);

}  // namespace lumo

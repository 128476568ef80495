#include "base/program_paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace lumo {

namespace {

constexpr char kSeparator = '/';
constexpr const char* kSettingsExtension = ".ini";
constexpr const char* kHelpExtensions[] = {".pdf", ".htm"};  // in the order they are preferred
constexpr const char* kOwnExecutable = "/proc/self/exe";
constexpr const char* kFallbackStartDir = "./";
constexpr const char* kFallbackProgramName = "lumokonf";  // when the program path is unknown
constexpr const char* kDeletedMark = " (deleted)";        // the link's suffix once replaced

std::mutex g_startupMutex;
StartupPaths g_paths;
std::string g_title = kApplicationTitle;

}  // namespace

std::string WithTrailingSeparator(const std::string& folder) {
  if (!folder.empty() && folder.back() == kSeparator) return folder;
  return folder + kSeparator;
}

std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      return WithTrailingSeparator(buffer.data());
    }
    if (errno != ERANGE || buffer.size() > (1u << 20)) return kFallbackStartDir;
    buffer.resize(buffer.size() * 2);
  }
}

std::string ProgramFilePath() {
  std::vector<char> buffer(4096);
  for (;;) {
    ssize_t n = readlink(kOwnExecutable, buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) {
      // A program file replaced while it runs (an update, a rebuild) is still the program.
      std::string path(buffer.data(), static_cast<size_t>(n));
      const std::string mark = kDeletedMark;
      if (path.size() > mark.size() && path.ends_with(mark)) path.resize(path.size() - mark.size());
      return path;
    }
    if (buffer.size() > (1u << 20)) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

void SplitProgramPath(const std::string& fullPath, std::string* folder, std::string* fileName) {
  size_t slash = fullPath.rfind(kSeparator);
  std::string dir = (slash == std::string::npos) ? std::string() : fullPath.substr(0, slash + 1);
  std::string name = (slash == std::string::npos) ? fullPath : fullPath.substr(slash + 1);
  if (name.size() > kProgramNameChars) name.resize(kProgramNameChars);
  if (folder != nullptr) *folder = dir;
  if (fileName != nullptr) *fileName = name;
}

std::string ReplaceExtension(const std::string& fileName, const std::string& extension) {
  size_t dot = fileName.rfind('.');
  // A leading dot names a hidden file; it does not start an extension.
  if (dot == std::string::npos || dot == 0) return fileName + extension;
  return fileName.substr(0, dot) + extension;
}

bool FileReadable(const std::string& path) {
  if (path.empty()) return false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat st;
  bool regular = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
  close(fd);
  return regular;
}

std::string FindSettingsFile(const std::string& startDir, const std::string& programDir,
                             const std::string& programFileName) {
  std::string name = ReplaceExtension(programFileName, kSettingsExtension);
  if (FileReadable(startDir + name)) return startDir + name;
  if (FileReadable(programDir + name)) return programDir + name;
  return startDir + name;
}

bool FolderWritable(const std::string& folder) {
  if (folder.empty()) return false;
  struct stat st;
  return stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
         access(folder.c_str(), W_OK | X_OK) == 0;
}

// An installed program lives in a folder nobody may write to (/usr/bin): a file saved there
// would fail, so the dialog starts where the user started the program.
std::string SaveDialogFolder(const StartupPaths& paths) {
  return FolderWritable(paths.programDir) ? paths.programDir : paths.startDir;
}

std::string FindHelpFile(const std::string& startDir, const std::string& programDir,
                         const std::string& programFileName) {
  for (const char* extension : kHelpExtensions) {
    std::string name = ReplaceExtension(programFileName, extension);
    if (FileReadable(startDir + name)) return startDir + name;
    if (FileReadable(programDir + name)) return programDir + name;
  }
  for (const char* extension : kHelpExtensions) {
    std::string installed = InstalledDataFile(programDir, kInstalledDocFolder,
                                              ReplaceExtension(programFileName, extension));
    if (!installed.empty()) return installed;
  }
  return std::string();
}

std::string InstalledDataFile(const std::string& programDir, const char* folder,
                              const std::string& name) {
  if (programDir.empty() || name.empty()) return std::string();
  std::string path = WithTrailingSeparator(programDir) + folder + name;
  return FileReadable(path) ? path : std::string();
}

StartupPaths SettlePaths(const std::string& startDir, const std::string& programPath) {
  StartupPaths paths;
  paths.startDir = WithTrailingSeparator(startDir);
  SplitProgramPath(programPath, &paths.programDir, &paths.programFileName);
  if (paths.programDir.empty()) paths.programDir = paths.startDir;
  if (paths.programFileName.empty()) paths.programFileName = kFallbackProgramName;
  paths.settingsFile = FindSettingsFile(paths.startDir, paths.programDir, paths.programFileName);
  paths.helpFile = FindHelpFile(paths.startDir, paths.programDir, paths.programFileName);
  paths.startFlags = 0;
  return paths;
}

StartupPaths SettleStartupPaths(const std::string& programName) {
  std::string programPath = ProgramFilePath();
  if (!programName.empty()) {
    std::string folder;
    SplitProgramPath(programPath, &folder, nullptr);
    programPath = folder + programName;
  }
  return SettlePaths(CurrentDirectory(), programPath);
}

TitleParts TitleForDisplayName(const std::string& displayName) {
  TitleParts parts;
  if (!displayName.empty() && displayName[0] == '!') {
    parts.applicationTitle = displayName.substr(0, kTitleChars);
  } else {
    parts.applicationTitle = kApplicationTitle;
    parts.shownName = displayName;
  }
  return parts;
}

StartupPaths CurrentStartupPaths() {
  std::lock_guard<std::mutex> lock(g_startupMutex);
  return g_paths;
}

void SetCurrentStartupPaths(const StartupPaths& paths) {
  std::lock_guard<std::mutex> lock(g_startupMutex);
  g_paths = paths;
}

std::string ApplicationTitle() {
  std::lock_guard<std::mutex> lock(g_startupMutex);
  return g_title;
}

void SetApplicationTitle(const std::string& title) {
  std::lock_guard<std::mutex> lock(g_startupMutex);
  g_title = title.substr(0, kTitleChars);
}

}  // namespace lumo

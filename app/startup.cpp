#include "app/startup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <limits>
#include <mutex>
#include <vector>

namespace lumo {

namespace {

constexpr char kSeparator = '/';
constexpr const char* kExpertOption = "-exp";
constexpr const char* kAppDefOption = "-appdef";
constexpr const char* kSettingsExtension = ".ini";
constexpr const char* kHelpExtensions[] = {".pdf", ".htm"};  // in the order they are preferred
constexpr const char* kOwnExecutable = "/proc/self/exe";
constexpr const char* kFallbackStartDir = "./";
constexpr const char* kFallbackProgramName = "lumokonf";  // when the program path is unknown
constexpr const char* kDeletedMark = " (deleted)";        // the link's suffix once replaced

// Serial line limits and defaults.
constexpr int32_t kBaudMin = 110;
constexpr int32_t kBaudMax = 256000;
constexpr int32_t kBaudDefaultJovix = 9600;
constexpr int32_t kBaudDefaultOther = 1200;
constexpr int kDeviceTypeJovix = 2;
constexpr int kDataBitsMin = 4;
constexpr int kDataBitsMax = 8;
constexpr uint8_t kDataBitsDefault = 8;

// Parity letters of the [Baudrate] value, either case.
struct ParityRow {
  char letter;
  uint8_t code;
};
// letter  code
constexpr ParityRow kParityRows[] = {
    {'n', kParityNone}, {'o', kParityOdd},   {'e', kParityEven},
    {'m', kParityMark}, {'s', kParitySpace},
};

// Stop-bit counts that are accepted exactly; anything else is one stop bit.
struct StopBitsRow {
  float count;
  uint8_t code;
};
// count  code
constexpr StopBitsRow kStopBitsRows[] = {
    {1.0f, kStopBitsOne},
    {1.5f, kStopBitsOneHalf},
    {2.0f, kStopBitsTwo},
};

std::mutex g_startupMutex;
StartupPaths g_paths;
std::string g_title = kApplicationTitle;

// The white space of formatted input: space, tab, LF, VT, FF, CR.
bool IsInputSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Formatted reading of a text, one conversion at a time, as "%ld", "%d", "%1[...]", "%f" and
// the format's literal characters and blanks read it. Every Read/Match returns false on a
// matching failure; the caller then stops, and the fields not yet read keep their defaults.
class FormattedInput {
 public:
  explicit FormattedInput(const char* text) : p_(text) {}

  // A blank in the format: any amount of white space, also none.
  void SkipSpace() {
    while (IsInputSpace(*p_)) ++p_;
  }

  bool Match(char literal) {
    if (*p_ != literal) return false;
    ++p_;
    return true;
  }

  // "%d"/"%ld": white space, an optional sign, at least one decimal digit. Values beyond the
  // 32-bit range saturate, so a huge number can never wrap into an accepted one.
  bool ReadInteger(int64_t* value) {
    SkipSpace();
    const char* q = p_;
    bool negative = (*q == '-');
    if (*q == '-' || *q == '+') ++q;
    if (!IsDigit(*q)) return false;
    int64_t magnitude = 0;
    constexpr int64_t kLimit = int64_t{1} << 32;
    for (; IsDigit(*q); ++q) {
      if (magnitude < kLimit) magnitude = magnitude * 10 + (*q - '0');
    }
    p_ = q;
    *value = negative ? -magnitude : magnitude;
    return true;
  }

  // "%1[set]": exactly one character of the set, no white space skipped.
  bool ReadOneOf(const char* set, char* value) {
    if (*p_ == '\0') return false;
    for (const char* s = set; *s != '\0'; ++s) {
      if (*s == *p_) {
        *value = *p_++;
        return true;
      }
    }
    return false;
  }

  // "%f": white space, then the longest decimal floating-point text: sign, digits, point,
  // digits (at least one digit in all), an exponent only when digits follow it.
  bool ReadFloat(float* value) {
    SkipSpace();
    const char* q = p_;
    bool negative = (*q == '-');
    if (*q == '-' || *q == '+') ++q;
    const char* mantissa = q;
    size_t digits = 0;
    for (; IsDigit(*q); ++q) ++digits;
    if (*q == '.') {
      ++q;
      for (; IsDigit(*q); ++q) ++digits;
    }
    if (digits == 0) return false;
    if (*q == 'e' || *q == 'E') {
      const char* e = q + 1;
      if (*e == '-' || *e == '+') ++e;
      if (IsDigit(*e)) {
        while (IsDigit(*e)) ++e;
        q = e;
      }
    }
    float parsed = 0.0f;
    auto result = std::from_chars(mantissa, q, parsed, std::chars_format::general);
    // Out of range: read, but no count a line can have; NaN never equals an accepted count.
    if (result.ec != std::errc()) parsed = std::numeric_limits<float>::quiet_NaN();
    p_ = q;
    *value = negative ? -parsed : parsed;
    return true;
  }

 private:
  const char* p_;
};

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

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] == nullptr) break;
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

bool IsExpertCommandLine(const std::string& commandLine) {
  return commandLine == kExpertOption;
}

bool MatchAppDefCommandLine(const std::string& commandLine, std::string* definitionFile) {
  const std::string option = kAppDefOption;
  if (commandLine.compare(0, option.size(), option) != 0) return false;
  size_t begin = option.size();
  while (begin < commandLine.size() && IsInputSpace(commandLine[begin])) ++begin;
  size_t end = begin;
  while (end < commandLine.size() && !IsInputSpace(commandLine[end]) && commandLine[end] != '\0') {
    ++end;
  }
  if (end == begin) return false;
  // The whole word is the file name: a path here may be longer than 260 characters, and a cut
  // one would name another file.
  if (definitionFile != nullptr) *definitionFile = commandLine.substr(begin, end - begin);
  return true;
}

CommandLineRequest ReadCommandLine(const std::string& commandLine) {
  CommandLineRequest request;
  if (IsExpertCommandLine(commandLine)) {
    request.startFlags |= kStartExpert;
  } else {
    request.newConfigurator = MatchAppDefCommandLine(commandLine, &request.definitionFile);
  }
  return request;
}

CommandLineRequest ReadCommandLineArgs(int argc, const char* const* argv) {
  // "-appdef" and one more argument: the shell has already split the words, so that argument is
  // the file name whole, blanks included.
  if (argc == 3 && argv != nullptr && argv[1] != nullptr && argv[2] != nullptr &&
      std::string(argv[1]) == kAppDefOption && argv[2][0] != '\0') {
    CommandLineRequest request;
    request.newConfigurator = true;
    request.definitionFile = argv[2];
    return request;
  }
  return ReadCommandLine(JoinCommandLine(argc, argv));
}

SerialLineSettings DefaultSerialLine(int deviceType) {
  SerialLineSettings line;
  line.baudRate = (deviceType == kDeviceTypeJovix) ? kBaudDefaultJovix : kBaudDefaultOther;
  line.dataBits = kDataBitsDefault;
  line.parity = kParityNone;
  line.stopBits = kStopBitsOne;
  return line;
}

SerialLineSettings ParseSerialLine(const char* text, int deviceType) {
  SerialLineSettings line = DefaultSerialLine(deviceType);
  if (text == nullptr) return line;
  FormattedInput in(text);

  int64_t baud = 0;
  if (!in.ReadInteger(&baud)) return line;
  if (baud >= kBaudMin && baud <= kBaudMax) line.baudRate = static_cast<int32_t>(baud);

  in.SkipSpace();
  int64_t bits = 0;
  if (!in.Match(',') || !in.ReadInteger(&bits)) return line;
  if (bits >= kDataBitsMin && bits <= kDataBitsMax) line.dataBits = static_cast<uint8_t>(bits);

  in.SkipSpace();
  if (!in.Match(',')) return line;
  in.SkipSpace();
  char letter = 0;
  if (!in.ReadOneOf("oemsnOEMSN", &letter)) return line;
  for (const ParityRow& row : kParityRows) {
    if (row.letter == LowerAscii(letter)) line.parity = row.code;
  }

  in.SkipSpace();
  float stop = 0.0f;
  if (!in.Match(',') || !in.ReadFloat(&stop)) return line;
  for (const StopBitsRow& row : kStopBitsRows) {
    if (row.count == stop) line.stopBits = row.code;
  }
  return line;
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

StartAction FirstStartAction(const Settings& settings, uint32_t startFlags) {
  if (settings.propertiesOnStart != 0 || (startFlags & kStartExpert) != 0) {
    return StartAction::OpenSettingsDialog;
  }
  return StartAction::LoadFileAndStartLink;
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

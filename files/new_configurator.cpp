#include "files/new_configurator.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <sstream>
#include <vector>

#include "base/program_paths.h"
#include "base/save_failure.h"
#include "base/translations.h"
#include "definitions/definition.h"
#include "definitions/embedded.h"
#include "definitions/loader.h"
#include "platform/file_system.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

// The running program's own file.
constexpr const char* kSelfExe = "/proc/self/exe";
// A definition file read for embedding is held in memory; anything larger is no definition
// (the length field has 32 bits, and start-up refuses files of 30 KiB or more anyway).
constexpr uint64_t kMaxDefinitionBytes = 16u * 1024u * 1024u;
constexpr std::size_t kCopyChunk = 64 * 1024;

std::mutex g_hookMutex;
SaveFileHook g_saveHook;

// Why a write failed: decides the message shown.
enum class NewAppError { None, Write, OpenDefinition };

const char* ErrorMsgId(NewAppError error) {
  switch (error) {
    case NewAppError::None:
      return nullptr;
    case NewAppError::Write:
      return "ERRNEWAPP_WRITE";
    case NewAppError::OpenDefinition:
      return "ERRPVAR_OPEN";
  }
  return nullptr;
}

void ShowNewAppError(const char* msgId, const ReplaceResult* why = nullptr) {
  std::string text = why != nullptr && !why->ok() ? SaveFailureText(msgId, *why) : MsgText(msgId);
  ShowMessage(MsgKind::Error, text, MsgText("NEWAPP_TITLE"), MsgOwner::Desktop);
}

// A descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  bool Close() {
    if (fd_ < 0) return true;
    int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
  }

 private:
  int fd_;
};

bool WriteAllAt(int fd, const void* data, std::size_t size, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<std::size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

// Copies the whole of `from` into `to` (both at offset 0); the number of bytes copied.
bool CopyAll(int from, int to, uint64_t& copied) {
  std::vector<char> buffer(kCopyChunk);
  copied = 0;
  for (;;) {
    ssize_t n = ::pread(from, buffer.data(), buffer.size(), static_cast<off_t>(copied));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!WriteAllAt(to, buffer.data(), static_cast<std::size_t>(n), copied)) return false;
    copied += static_cast<uint64_t>(n);
  }
}

// Reads a whole file of at most kMaxDefinitionBytes; false when it cannot be opened or read.
NewAppError ReadDefinitionFile(const std::string& name, std::string& bytes) {
  Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    return NewAppError::OpenDefinition;
  }
  bytes.clear();
  char buffer[4096];
  for (;;) {
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return NewAppError::Write;
    if (n == 0) return NewAppError::None;
    if (bytes.size() + static_cast<std::size_t>(n) > kMaxDefinitionBytes) return NewAppError::Write;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

std::string DirectoryOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ProgramDirectory() {
  std::string settled = CurrentStartupPaths().programDir;
  return !settled.empty() ? settled : DirectoryOf(ProgramFilePath());
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Appends one line of the definition file (with its line end, if any), filtered, to `out`.
void AppendFilteredLine(std::string line, std::string& out) {
  const bool hadLineEnd = !line.empty() && line.back() == '\n';
  // The text is handled as a C string: a NUL ends it (the line end is kept).
  std::size_t nul = line.find('\0');
  if (nul != std::string::npos) {
    line.resize(nul);
    if (hadLineEnd) line.push_back('\n');
  }
  // The first "#" outside a quoted text starts a comment, as the definition reader sees it.
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted) {
      line.resize(i);
      line.push_back('\n');
      break;
    }
  }
  if (line.size() > 1) out += line;
}

// Reads, filters and parses a definition file: the text a new program file embeds, or nothing
// when the file cannot be read (error set) or the text does not parse (the parser has shown
// why, error stays None).
std::optional<std::string> CheckedDefinitionText(const std::string& definitionFile,
                                                 NewAppError& error) {
  std::string bytes;
  error = ReadDefinitionFile(definitionFile, bytes);
  if (error != NewAppError::None) return std::nullopt;
  std::string text = FilterDefinitionLines(bytes);
  // Parsed exactly as the new program will read it: the text, then the marker.
  std::istringstream embedded(text + kEmbeddedMarker, std::ios::binary);
  std::unique_ptr<ParDef> checked = ParseDefinitionFile(embedded);
  if (!checked) return std::nullopt;
  DiscardDefinition(checked);
  return text;
}

// Copies the source program into `fd`, then writes `text` and the trailer at the place of its
// embedded definition.
bool FillNewProgram(int source, int fd, const std::string& text) {
  uint64_t copied = 0;
  if (!CopyAll(source, fd, copied)) return false;
  uint64_t oldSize = 0;
  std::optional<EmbeddedSpan> span = FindEmbeddedDefinition(fd, oldSize);
  if (oldSize != copied || text.size() > UINT32_MAX) {
    errno = EIO;
    return false;
  }
  const uint64_t textStart = span ? span->textStart : oldSize;
  EmbeddedTrailer trailer = MakeTrailer(static_cast<uint32_t>(text.size()));
  const uint64_t newEnd = textStart + text.size() + trailer.size();
  if (!WriteAllAt(fd, text.data(), text.size(), textStart) ||
      !WriteAllAt(fd, trailer.data(), trailer.size(), textStart + text.size())) {
    return false;
  }
  // Fewer than 16 old bytes behind the new trailer would leave a torn trailer at the end of the
  // file, and the new definition could not be found: cut them off.
  return !(newEnd < oldSize && oldSize - newEnd < kEmbeddedTrailerSize &&
           ::ftruncate(fd, static_cast<off_t>(newEnd)) != 0);
}

// The job of WriteNewConfiguratorFrom without the messages, with the checked text.
NewAppError WriteNewProgram(const std::string& sourceProgram, const std::string& newProgram,
                            const std::string& text, ReplaceResult& why) {
  if (newProgram.empty()) return NewAppError::Write;
  Fd source(::open(sourceProgram.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat sourceStat {};
  if (!source.ok() || ::fstat(source.get(), &sourceStat) != 0) return NewAppError::Write;

  // Never over the running program. (The source itself may be the target: the new file
  // replaces it only when complete.)
  struct stat targetStat {
  }, selfStat{};
  if (::stat(newProgram.c_str(), &targetStat) == 0 && ::stat(kSelfExe, &selfStat) == 0 &&
      SameFile(targetStat, selfStat)) {
    return NewAppError::Write;
  }
  // A new file gets the source's mode bits, writable by its owner ("normal" attributes); a
  // file replaced keeps its own.
  const mode_t newMode = (sourceStat.st_mode & 07777) | S_IWUSR;
  why = ReplaceFile(
      newProgram, [&](int fd) { return FillNewProgram(source.get(), fd, text); }, newMode);
  return why.ok() ? NewAppError::None : NewAppError::Write;
}

bool HasTxtExtension(const std::string& fileName) {
  std::size_t dot = fileName.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = fileName.substr(dot);
  if (ext.size() != 4) return false;
  for (char& c : ext) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return ext == ".txt";
}

}  // namespace

void SetNewConfiguratorSaveHook(SaveFileHook hook) {
  std::lock_guard lock(g_hookMutex);
  g_saveHook = std::move(hook);
}

std::string FilterDefinitionLines(std::string_view bytes) {
  std::string out;
  std::string line;
  std::size_t i = 0;
  while (i < bytes.size()) {
    line.clear();
    while (i < bytes.size()) {
      char c = bytes[i++];
      if (c == '\r' && i < bytes.size() && bytes[i] == '\n') continue;  // CR LF reads as LF
      line.push_back(c);
      if (c == '\n') break;
    }
    AppendFilteredLine(line, out);
  }
  return out;
}

bool WriteNewConfiguratorFrom(const std::string& sourceProgram, const std::string& newProgram,
                              const std::string& definitionFile) {
  NewAppError error = NewAppError::None;
  std::optional<std::string> text = CheckedDefinitionText(definitionFile, error);
  if (!text) {
    if (error != NewAppError::None) ShowNewAppError(ErrorMsgId(error));
    return false;
  }
  ReplaceResult why;
  error = WriteNewProgram(sourceProgram, newProgram, *text, why);
  if (error == NewAppError::None) return true;
  ShowNewAppError(ErrorMsgId(error), &why);
  return false;
}

bool WriteNewConfigurator(const std::string& newProgram, const std::string& definitionFile) {
  return WriteNewConfiguratorFrom(kSelfExe, newProgram, definitionFile);
}

int CreateNewConfigurator(const std::string& definitionFile) {
  struct stat st {};
  if (definitionFile.empty() || ::stat(definitionFile.c_str(), &st) != 0) {
    ShowNewAppError("ERRPVAR_OPEN");
    return 0;
  }
  if (!HasTxtExtension(FileNameOf(definitionFile)) || st.st_size < 0 ||
      static_cast<uint64_t>(st.st_size) >= kMaxDefinitionFileSize) {
    ShowNewAppError("ERRNEWAPP_NOASCIIFILE");
    return 0;
  }
  // The text is read, filtered and parsed once, before anything is asked or written; what is
  // written is exactly the text that parsed. The parser reports its own errors.
  NewAppError error = NewAppError::None;
  std::optional<std::string> text =
      S_ISREG(st.st_mode) ? CheckedDefinitionText(definitionFile, error) : std::nullopt;
  if (!S_ISREG(st.st_mode)) error = NewAppError::OpenDefinition;
  if (!text) {
    if (error != NewAppError::None) ShowNewAppError(ErrorMsgId(error));
    return 0;
  }

  SaveFileHook hook;
  {
    std::lock_guard lock(g_hookMutex);
    hook = g_saveHook;
  }
  if (!hook) return 0;
  SaveFileRequest request;
  request.title = MsgText("NEWAPP_TITLE");
  request.filter = MsgText("NEWAPP_OFNFILTER");
  request.defaultExtension = "exe";
  // A program folder of its own (writable) as on Windows; an installed program's folder is
  // not writable, so then the folder the program was started in.
  StartupPaths paths = CurrentStartupPaths();
  paths.programDir = ProgramDirectory();
  if (paths.startDir.empty()) paths.startDir = CurrentDirectory();
  request.initialDirectory = SaveDialogFolder(paths);
  std::optional<std::string> chosen = hook(request);
  if (!chosen) return 0;

  ReplaceResult why;
  error = WriteNewProgram(kSelfExe, *chosen, *text, why);
  if (error != NewAppError::None) {
    ShowNewAppError(ErrorMsgId(error), &why);
    return 0;
  }
  ShowMessage(MsgKind::Plain, MsgText("NEWAPP_SUCCESS"), MsgText("NEWAPP_TITLE"),
              MsgOwner::Desktop);
  return 1;
}

}  // namespace lumo

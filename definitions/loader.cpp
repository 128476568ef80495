#include "definitions/loader.h"

#include <sys/stat.h>

#include <fstream>

#include "app/startup.h"
#include "app/translations.h"
#include "definitions/definition.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

std::string WithSeparator(std::string dir) {
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens a definition file that exists as a regular file; false when there is none to read.
bool OpenDefinitionFile(const std::string& path, std::ifstream& file) {
  if (!IsRegularFile(path)) return false;
  file.open(path, std::ios::binary);
  return file.is_open();
}

}  // namespace

std::unique_ptr<ParDef> ParseDefinitionFile(std::istream& file) {
  try {
    return ParseDefinition(file);
  } catch (const std::ios_base::failure&) {
    // The file buffer throws on a failed read; the parse is then void.
    ShowMessage(MsgKind::Error, MsgText("ERRPVAR_OPEN"), MsgText("PARDEF_OPEN"));
    return nullptr;
  }
}

DefinitionPlaces CurrentDefinitionPlaces() {
  DefinitionPlaces places;
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) != nullptr) places.startDirectory = WithSeparator(buffer);
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n > 0) {
    buffer[n] = '\0';
    places.programFile = buffer;
    std::size_t slash = places.programFile.rfind('/');
    if (slash != std::string::npos)
      places.programDirectory = places.programFile.substr(0, slash + 1);
  }
  return places;
}

std::unique_ptr<ParDef> LoadDefinitionFrom(const DefinitionPlaces& places,
                                           DefinitionSource* source) {
  if (source != nullptr) *source = DefinitionSource::None;
  std::ifstream file;
  DefinitionSource found = DefinitionSource::None;
  if (!places.startDirectory.empty() &&
      OpenDefinitionFile(WithSeparator(places.startDirectory) + kDefinitionFileName, file)) {
    found = DefinitionSource::StartDirectory;
  }
  if (found == DefinitionSource::None && OpenDefinitionFile(places.programFile, file)) {
    if (FindEmbeddedDefinition(file)) {
      found = DefinitionSource::Embedded;
    } else {
      file.close();
    }
  }
  if (found == DefinitionSource::None && !places.programDirectory.empty()) {
    file.clear();
    if (OpenDefinitionFile(WithSeparator(places.programDirectory) + kDefinitionFileName, file)) {
      found = DefinitionSource::ProgramDirectory;
    }
  }
  if (found == DefinitionSource::None) {
    ShowMessage(MsgKind::Error, MsgText("ERRPVAR_NODEFS"), MsgText("PARDEF_OPEN"));
    return nullptr;
  }
  std::unique_ptr<ParDef> def = ParseDefinitionFile(file);
  if (def && source != nullptr) *source = found;
  return def;
}

std::unique_ptr<ParDef> LoadDefinition(DefinitionSource* source) {
  return LoadDefinitionFrom(CurrentDefinitionPlaces(), source);
}

}  // namespace lumo

#include "definitions/loader.h"

#include <sys/stat.h>

#include <fstream>

#include "base/program_paths.h"
#include "base/translations.h"
#include "definitions/builtin_definition.h"
#include "definitions/definition.h"
#include "platform/file_system.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

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

std::string UsedFileNote(const std::string& path) {
  if (path.empty()) return std::string();
  std::string note = MsgText("FILE_USED");
  size_t mark = note.find("%s");
  if (mark != std::string::npos) note.replace(mark, 2, PathForText(path));
  return note;
}

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
  // The same places the settings and help files are looked for in, so that a program file
  // replaced while it runs (an update) still finds the definition embedded in it.
  DefinitionPlaces places;
  places.startDirectory = CurrentDirectory();
  places.programFile = ProgramFilePath();
  SplitProgramPath(places.programFile, &places.programDirectory, nullptr);
  places.builtInText = BuiltInDefinitionText();
  return places;
}

std::unique_ptr<ParDef> LoadDefinitionFrom(const DefinitionPlaces& places,
                                           DefinitionSource* source) {
  if (source != nullptr) *source = DefinitionSource::None;
  std::ifstream file;
  DefinitionSource found = DefinitionSource::None;
  // A file made on Windows is often named "pardef.txt": a name differing only in case is taken
  // when the exact one is missing, and its messages name it.
  std::string usedName;
  if (!places.startDirectory.empty()) {
    bool differs = false;
    std::string path = FindFileAnyCase(places.startDirectory, kDefinitionFileName, &differs);
    if (OpenDefinitionFile(path, file)) {
      found = DefinitionSource::StartDirectory;
      if (differs) usedName = path;
    }
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
    bool differs = false;
    std::string path = FindFileAnyCase(places.programDirectory, kDefinitionFileName, &differs);
    if (OpenDefinitionFile(path, file)) {
      found = DefinitionSource::ProgramDirectory;
      if (differs) usedName = path;
    }
  }
  if (found == DefinitionSource::None && !places.builtInText.empty()) {
    std::unique_ptr<ParDef> def = ParseDefinitionText(places.builtInText);
    if (def && source != nullptr) *source = DefinitionSource::BuiltIn;
    return def;
  }
  if (found == DefinitionSource::None) {
    ShowMessage(MsgKind::Error, MsgText("ERRPVAR_NODEFS"), MsgText("PARDEF_OPEN"));
    return nullptr;
  }
  ScopedMessageNote note(UsedFileNote(usedName));
  std::unique_ptr<ParDef> def = ParseDefinitionFile(file);
  if (def && source != nullptr) *source = found;
  return def;
}

std::unique_ptr<ParDef> LoadDefinition(DefinitionSource* source) {
  return LoadDefinitionFrom(CurrentDefinitionPlaces(), source);
}

}  // namespace lumo

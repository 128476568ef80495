// Loading the device definition from its three places.
//
// State: none. The definition is looked for, in this order, as
//   1. "ParDef.txt" in the start directory,
//   2. the definition embedded at the end of the program file (definitions/embedded.h),
//   3. "ParDef.txt" in the program directory,
//   4. the definition compiled into the program (definitions/builtin_definition.h), which no
//      strip of the program file can remove,
// and the first one found is parsed (a file counts as found when it is a regular file that can
// be opened for reading). A definition found but rejected by the parser ends the search: the
// parser has shown its message. When none is found, one message box says so.
//
//   DefinitionPlaces         the start directory, the program file and the program directory
//   CurrentDefinitionPlaces  those of the running program
//   LoadDefinitionFrom       search the given places and parse
//   LoadDefinition           the same for the running program
//   ParseDefinitionFile      parse an opened file; a read error is reported, never thrown
//   UsedFileNote             "File: <path>", the line added to messages about a file found
//                            under a name differing in case ("pardef.txt")
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "definitions/embedded.h"
#include "definitions/pardef.h"

namespace lumo {

// File name of a definition file in the start or program directory.
inline constexpr const char* kDefinitionFileName = "ParDef.txt";

// Which place a definition came from.
enum class DefinitionSource { None, StartDirectory, Embedded, ProgramDirectory, BuiltIn };

struct DefinitionPlaces {
  std::string startDirectory;    // ends in "/"
  std::string programFile;       // full path of the program file
  std::string programDirectory;  // ends in "/"
  std::string_view builtInText;  // the compiled-in definition; empty: none
};

DefinitionPlaces CurrentDefinitionPlaces();

// nullptr when no definition was found or the one found was rejected; `source` (optional)
// receives the place the parsed text came from.
std::unique_ptr<ParDef> LoadDefinitionFrom(const DefinitionPlaces& places,
                                           DefinitionSource* source = nullptr);
std::unique_ptr<ParDef> LoadDefinition(DefinitionSource* source = nullptr);

// ParseDefinition over a file opened in binary mode. The file stream may fail while it is read
// (a folder opened as a file, an I/O error): that shows "Unable to open parameter definition
// file!" and gives nullptr.
std::unique_ptr<ParDef> ParseDefinitionFile(std::istream& file);

// Empty for an empty path.
std::string UsedFileNote(const std::string& path);

}  // namespace lumo

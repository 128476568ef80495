// New configurator: a copy of a program file with another device definition embedded.
//
// State: the save-file hook (set once by the desktop program before use; headless callers set
// one that returns the name they were given). The running program file is only read, never
// changed. The definition file is read once, filtered, and the filtered text parsed exactly as
// the new program will read it (followed by the marker); only a text that parses is written, so
// a new configurator that could not start is never made. A new program file appears only
// complete: it is written through ReplaceFile (platform/file_system.h: beside the target's real
// path, synced, renamed over it); on any failure a file already at the chosen name is left as
// it was and the message says why.
//
// New file: the source program's bytes up to the start of its embedded definition (its end when
// it has none), then the filtered definition text and the trailer (definitions/embedded.h).
// Filtered text: each line cut at its first "#" outside a quoted text (the "#" becomes the line
// end), CR LF read as LF, lines of at most one character left out; lines of any length are
// handled whole. The copy is not shortened: a shorter text leaves the rest of the old text and
// the old trailer behind the new trailer, whose length leads back to the same text start. Only
// when fewer than 16 old bytes would remain (the old trailer torn apart, the new text
// unreachable) is the copy cut right after the new trailer.
//
//   SetNewConfiguratorSaveHook  install the save-file question (nullptr: every question cancels)
//   CreateNewConfigurator       check a definition file, ask for the name, write; 1 or 0
//   WriteNewConfigurator        check and write the new program file from the running program
//   WriteNewConfiguratorFrom    the same from any source program file
//   FilterDefinitionLines       pure: the filtered text of a definition file's bytes
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumo {

// Definition files must be smaller than this (30 KiB).
inline constexpr uint64_t kMaxDefinitionFileSize = 30720;

// What the save-file question shows. `filter` holds description and pattern pairs, each
// NUL-terminated, ending with an empty string (Windows-1252).
struct SaveFileRequest {
  std::string title;
  const char* filter = nullptr;
  std::string defaultExtension;  // "exe"
  std::string initialDirectory;  // the program directory when writable, else the start one
  bool confirmOverwrite = true;
};

// Returns the chosen file name, or nothing when the user cancelled.
using SaveFileHook = std::function<std::optional<std::string>(const SaveFileRequest&)>;

void SetNewConfiguratorSaveHook(SaveFileHook hook);

// The whole job for "-appdef FILE": 1 when a new configurator was written, 0 otherwise. Every
// error is shown (no owner); a cancelled question ends with 0 and no message.
int CreateNewConfigurator(const std::string& definitionFile);

// Writes the running program with the definition embedded to `newProgram`. Reports its own
// errors (a definition that does not parse writes nothing); refuses to write over the running
// program's own file.
bool WriteNewConfigurator(const std::string& newProgram, const std::string& definitionFile);

bool WriteNewConfiguratorFrom(const std::string& sourceProgram, const std::string& newProgram,
                              const std::string& definitionFile);

// The filtered text of a definition file's bytes, as written into a new program file.
std::string FilterDefinitionLines(std::string_view fileBytes);

}  // namespace lumo

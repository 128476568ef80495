// Fuzz target: the definition parser and the filter that prepares a definition for a new
// program file. The parser reads a text in memory through the same stream code as a file (one
// parse an input: a second through a stream of its own would only halve the speed).
#include <cstring>

#include "definitions/definition.h"
#include "files/new_configurator.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = lumo::fuzz::AsText(data, size);
  auto def = lumo::ParseDefinitionText(text);
  if (def != nullptr) {
    // A parsed list must be walkable: every record reachable, its name terminated.
    for (size_t i = 0; i < def->Count(); ++i) {
      const lumo::PVar* record = lumo::GetRecord(def.get(), static_cast<int>(i));
      if (record == nullptr || strnlen(record->name, sizeof record->name) == sizeof record->name)
        __builtin_trap();
      (void)lumo::DisplayText(def.get(), record->name);
    }
    lumo::DiscardDefinition(def);
  }
  (void)lumo::FilterDefinitionLines(text);
  return 0;
}

// The example files of the repository (examples/, LUMO_EXAMPLES_DIR) as tests use them: a
// definition parsed as the programs load it, and a file's bytes.
#pragma once

#include <fstream>
#include <memory>
#include <string>

#include "definitions/loader.h"
#include "tests/support/temp_dir.h"

namespace lumo::test {

inline std::string ExamplePath(const std::string& name) {
  return std::string(LUMO_EXAMPLES_DIR) + "/" + name;
}

inline std::string ReadExample(const std::string& name) {
  return ReadFile(ExamplePath(name));
}

// The example definition parsed; null when it does not parse.
inline std::unique_ptr<ParDef> ExampleDefinition(const std::string& name) {
  std::ifstream in(ExamplePath(name), std::ios::binary);
  return ParseDefinitionFile(in);
}

}  // namespace lumo::test

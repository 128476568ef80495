// Fuzz target: the definition embedded at the end of a program file. The input is the whole
// program file; the trailer is found from a stream and from a descriptor, both must agree and
// stay inside the file, and the text found is parsed.
#include <algorithm>
#include <sstream>

#include "definitions/definition.h"
#include "definitions/embedded.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lumo::fuzz::ScratchFile file("lumo-fuzz-program");
  const std::string bytes = lumo::fuzz::AsText(data, size);

  std::optional<lumo::EmbeddedSpan> pure;
  if (size >= lumo::kEmbeddedTrailerSize) {
    lumo::EmbeddedTrailer tail{};
    std::copy(data + size - tail.size(), data + size, tail.begin());
    pure = lumo::LocateEmbeddedText(tail, size);
    if (pure && pure->textStart + pure->textLength + lumo::kEmbeddedTrailerSize > size)
      __builtin_trap();
  }

  std::istringstream in(bytes, std::ios::in | std::ios::binary);
  const bool found = lumo::FindEmbeddedDefinition(in);
  if (found != pure.has_value()) __builtin_trap();
  if (found) {
    if (static_cast<uint64_t>(in.tellg()) != pure->textStart) __builtin_trap();
    auto def = lumo::ParseDefinition(in);
    lumo::DiscardDefinition(def);
  }

  if (file.Write(data, size)) {
    int fd = open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
      uint64_t fileSize = 0;
      auto span = lumo::FindEmbeddedDefinition(fd, fileSize);
      close(fd);
      if (fileSize != size || span.has_value() != pure.has_value()) __builtin_trap();
      if (span && span->textStart != pure->textStart) __builtin_trap();
    }
  }
  return 0;
}

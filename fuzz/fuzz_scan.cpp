// Fuzz target: the scanning helpers over one text: numbers, quoted and delimited tokens,
// delimiters, and the blank normalisation.
#include <cstring>

#include "definitions/scan.h"
#include "fuzz/fuzz_support.h"

namespace {
constexpr const char* kDelimiters = ",;=()[]";
constexpr size_t kTokenChars = 16;  // small on purpose: long tokens must be cut, never overflow
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text = lumo::fuzz::AsText(data, size);

  int32_t value = 0;
  (void)lumo::ParseNumberAt(text.c_str(), &value);

  // Cursor scans in turn until the text ends or an error sticks; each step must move or stop.
  lumo::ScanCursor cursor{text.c_str(), nullptr};
  const char* end = text.c_str() + strlen(text.c_str());
  char token[kTokenChars + 1];
  for (int step = 0; cursor.error == nullptr && *cursor.position != '\0'; ++step) {
    if (step > 3 * static_cast<int>(size + 1)) __builtin_trap();  // a scan that never moves
    const char* before = cursor.position;
    int32_t result = 0;
    switch (step % 3) {
      case 0:
        result = lumo::ScanNumber(&cursor, &value);
        break;
      case 1:
        result = lumo::ScanString(&cursor, token, sizeof token, kDelimiters, (step & 4) != 0);
        break;
      case 2:
        result = lumo::ScanDelimiter(&cursor, kDelimiters);
        break;
    }
    if (cursor.position < before || cursor.position > end) __builtin_trap();
    if (result >= 0 && strnlen(token, sizeof token) == sizeof token && step % 3 == 1)
      __builtin_trap();
    if (result < 0 && cursor.error == nullptr) lumo::SetScanError(&cursor, "stop");
  }

  // Pointer helpers over the whole text.
  const char* p = text.c_str();
  while (*p != '\0') {
    const char* before = p;
    lumo::SkipBlanks(p);
    if (*p == '"' || *p == '\'') {
      (void)lumo::SkipQuoted(p);
    } else if (!lumo::ParseNumber(p, &value)) {
      lumo::SkipCharAndBlanks(p);
    }
    if (p <= before && *before != '\0') __builtin_trap();
    if (p > end) __builtin_trap();
  }

  char copy[kTokenChars + 1];
  lumo::CopyNormalized(copy, sizeof copy, text.c_str(), kDelimiters);
  if (strnlen(copy, sizeof copy) == sizeof copy) __builtin_trap();
  lumo::NormalizeBlanks(text.data());
  return 0;
}

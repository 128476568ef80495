// Fuzz target: the link against a hostile device. Every answer the device gives (prompt,
// identity, firmware word, page lengths and data, acknowledgements, signal bytes, self-test
// version and block, boot loader replies, an unplugged adapter) comes from the input
// (fuzz/link_harness.h). The link must not crash, read or write outside a buffer, or hang, and
// must end cleanly when stopped.
#include "fuzz/fuzz_support.h"
#include "fuzz/link_harness.h"
#include "platform/clock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = [] {
    lumo::UseVirtualClock(true);
    static lumo::fuzz::SilentMessages silent;
    return true;
  }();
  (void)once;
  const lumo::fuzz::TapeRun run = lumo::fuzz::RunTape(data, size);
  if (!run.stoppedCleanly || !run.progressInRange) __builtin_trap();
  // The identity is what the device sent, cut to its field.
  if (run.identity.size() > 50) __builtin_trap();
  return 0;
}

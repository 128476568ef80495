// Fuzz target: the beam range text, checked, applied, deactivated and formatted again.
#include "files/beam_config.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = lumo::fuzz::AsText(data, size);
  lumo::BeamStates states{};
  states.fill(lumo::kBeamUndetermined);
  const bool wellFormed = lumo::ReadRangeText(text.c_str(), states, true, false);
  // Checking never changes a state.
  for (uint8_t s : states)
    if (s != lumo::kBeamUndetermined) __builtin_trap();
  if (lumo::ReadRangeText(text.c_str(), states, false, true) != wellFormed) __builtin_trap();
  if (wellFormed) {
    // The formatted text of the result names the same beams.
    const std::string again = lumo::FormatRangeText(states, lumo::BeamRange{});
    lumo::BeamStates reread{};
    if (!lumo::ReadRangeText(again.c_str(), reread, false, true)) __builtin_trap();
    if (reread != states) __builtin_trap();
  }
  (void)lumo::DeactivateRange(text.c_str(), states);
  (void)lumo::FormatRangeText(states, lumo::BeamRange{1, 32});
  return 0;
}

// Fuzz target: the self-test rules file reader, and the evaluation of a result block against
// what it read.
//
// Input: one flag byte (bit 0: light curtain or joystick), one byte with the length of the
// result block, the block, then the rules file.
#include <algorithm>
#include <sstream>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "selftest/limits.h"
#include "selftest/selftest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lumo::fuzz::SilentMessages silent;
  if (size < 2) return 0;
  const int deviceType = (data[0] & 1) == 0 ? lumo::kLightCurtain : lumo::kJoystick;
  const size_t blockLength = std::min<size_t>(data[1], size - 2);
  const std::vector<uint8_t> block(data + 2, data + 2 + blockLength);
  std::istringstream in(lumo::fuzz::AsText(data + 2 + blockLength, size - 2 - blockLength));

  lumo::LimitTable table;
  table.SetDeviceType(deviceType);
  if (!table.Read(in)) {
    if (!table.Empty()) __builtin_trap();  // a failed read leaves no rules behind
    return 0;
  }
  for (const lumo::LimitRule& rule : table.Rules()) {
    if (rule.description.size() > lumo::kRuleTextChars || rule.hint.size() > lumo::kRuleTextChars)
      __builtin_trap();
  }
  (void)table.Prepare();
  lumo::BeamValues beams;
  (void)lumo::EvaluateSelfTest(table, block, beams, nullptr, 0);
  lumo::SetResetTime(table, (data[0] & 2) != 0 ? -1 : 250);
  if (beams.count < 0 || beams.count > static_cast<int>(lumo::kMaxBeams)) __builtin_trap();
  for (const lumo::LimitRule* rule : lumo::ShownRules(table)) {
    for (int column = 0; column < lumo::kRuleColumns; ++column) {
      (void)lumo::RuleCellText(table, *rule, column);
      (void)lumo::RuleCellTooltip(table, *rule, column);
    }
  }
  (void)lumo::BeamRows(table, beams);
  (void)lumo::SelfTestPassed(table, beams);
  return 0;
}

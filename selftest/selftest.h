// The self-test run on the user interface side: the result block evaluated against the rule
// table, the restart measurement of the light curtain, and the result tables as plain data for
// the results dialog and the command line.
//
// State model. The rule table (selftest/limits.h) holds every value, pass flag and hint; the beam
// values (at most kMaxBeams bytes and their count) are one global copy, TheBeamValues, whose
// count keeps its last value when a later run has no beam block rule. Both are written on the
// user interface thread only, after DN_SELFTESTDATA (EvaluateSelfTest) and on DN_RESETTIME
// (SetResetTime). The link's abort request is the self-test cancel flag: cleared when a
// self-test is requested, set by the user's Cancel while the joystick waits for its stick.
//
//   RequestSelfTest     clear the cancel flag and hand CMD_SELFTEST with "s" or "c" to the link
//   CancelSelfTest      set the cancel flag (the link answers DN_SELFTESTFAILED)
//   ExtractValue        a value of 0 to 4 bytes, little-endian, optionally sign-extended
//   EvaluateSelfTest    values from the block, beam values, reset rule and supply cut, rules
//   SetResetTime        the restart time (or -1 for the timeout) into the reset rule
//   ResetRule           the light curtain's reset rule, if the table has one
//   ShownRules          the rule of each row of the rule list, in row order
//   RuleCellText        the text of a rule list cell
//   RuleCellTooltip     the tooltip of a rule list cell
//   BeamRows            the rows of the beam list (labels, texts, pass flags)
//   SelfTestPassed      every shown rule and every beam passed
//   RuleColumnWidths / BeamColumnWidths   column widths from the list's client width
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/dut_link.h"
#include "selftest/limits.h"

namespace lumo {

constexpr int kMaxBeams = 256;           // beam bytes taken from the block at most
constexpr int kBeamsPerRow = 8;          // beam cells in one row of the beam list
constexpr uint32_t kSupplyCutMs = 1000;  // supply off before the restart measurement
constexpr char kSelfTestCommand = 's';   // self test
constexpr char kCalibrateCommand = 'c';  // self calibration and test

// Colours of the result lists (RGB).
constexpr uint32_t kPassColour = 0xC8FFC8;    // light green
constexpr uint32_t kFailColour = 0xFFC8C8;    // light red
constexpr uint32_t kPromptColour = 0xC80000;  // joystick prompt text

struct BeamValues {
  std::array<uint8_t, kMaxBeams> value{};
  int count = 0;
};
BeamValues& TheBeamValues();

bool RequestSelfTest(DutLink& link, char command);
void CancelSelfTest(DutLink& link);

// The value of size bytes at position: 0 for a size above 4, NoValue when the bytes lie outside
// the block.
int32_t ExtractValue(const std::vector<uint8_t>& block, int32_t position, int32_t size,
                     bool isSigned);

// Evaluates a result block. With a reset rule (light curtain) it sets the link's reset limit,
// cuts the supply for supplyCutMs and switches it on again (link may be nullptr: no supply
// switching); true when a restart measurement was started that way.
bool EvaluateSelfTest(LimitTable& table, const std::vector<uint8_t>& block, BeamValues& beams,
                      DutLink* link, uint32_t supplyCutMs = kSupplyCutMs);
// The same on the program's table, beam values and link.
bool EvaluateSelfTest(const std::vector<uint8_t>& block);

void SetResetTime(LimitTable& table, int32_t ms);
void SetResetTime(int32_t ms);

const LimitRule* ResetRule(const LimitTable& table);

std::vector<const LimitRule*> ShownRules(const LimitTable& table);
// Column 0 description, 1 result, 2 hint.
std::string RuleCellText(const LimitTable& table, const LimitRule& rule, int column);
// Column 1: "Min:%d | Max:%d"; the others the cell text when it was cut when drawn, else "".
std::string RuleCellTooltip(const LimitTable& table, const LimitRule& rule, int column);

struct BeamCell {
  int beam = 0;          // counted from 0
  bool present = false;  // a beam of the last run (cells beyond the count are plain green)
  int32_t value = 0;
  bool hasRelative = false;  // there is a beam base rule with a value
  int32_t relative = 0;      // value minus the beam base rule's value
  bool passed = true;
  std::string text;  // "+relative (value)", or "" without a beam base rule
};
struct BeamRow {
  std::string label;  // ST_ROWRAY with the first and last beam of the row
  std::array<BeamCell, kBeamsPerRow> cells;
};
// Empty for a joystick and for a table without a beam block rule.
std::vector<BeamRow> BeamRows(const LimitTable& table, const BeamValues& beams);

bool SelfTestPassed(const LimitTable& table, const BeamValues& beams);

std::array<int, 3> RuleColumnWidths(int clientWidth, int scrollBarWidth);
// Column 0, then kBeamsPerRow beam columns.
std::array<int, kBeamsPerRow + 1> BeamColumnWidths(int clientWidth, int scrollBarWidth);

}  // namespace lumo

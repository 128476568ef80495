// The self-test rules file "Limits.txt" and the rule table built from it.
//
// State model. One LimitTable is held by the program from start to end (TheLimitTable); it is
// built once by LoadLimitsFile and freed at exit. Its rules are changed in three places only:
//   - the link thread prepares the table (rows and positions) and stores the version it read,
//   - the user interface thread prepares it again, stores the values of the result block and
//     evaluates the rules, after DN_SELFTESTDATA (the link is done with the table by then),
//   - SetResetTime stores the restart time when DN_RESETTIME arrives.
// The two threads never work on the table at the same time: the notification hand-over orders
// them. Tests build tables of their own and give them a device type (SetDeviceType).
//
// Rule line: variant, number, position or "~", size or "s" size, [operator(reference),]
// "description", min, max, ["hint"]
//
//   ReadLimitRules       parse an opened file into the table (first error shown, table empty)
//   LoadLimitsFile       "Limits.txt" (or a name differing only in case) from the start
//                        directory, else the program directory, else
//                        the installed share folder beside the program's bin folder
//   FindLimitRule        first rule with a number (negative numbers only for the device type)
//   RuleApplies          variant 0 or the variant selector (the version read, when in range)
//   NextApplicableRule   step a walk to the next rule that applies
//   CountShownRules      rows of the result table
//   PrepareLimitTable    rows and positions; returns the result block length
//   EvaluateRule         a rule's value combined with its reference, cycles detected
//   CheckRuleLimits      passed := min <= value <= max
//   FreeLimitTable       discard every rule
//   LimitRulesAdapter    the table as the link's SelfTestRules
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <unordered_map>
#include <vector>

#include "definitions/pardef.h"
#include "link/dut_link.h"

namespace lumo {

constexpr size_t kRuleTextChars = 100;     // description and hint keep this many characters
constexpr size_t kRuleLineChars = 1022;    // a longer line goes on as a line of its own
constexpr size_t kRuleMessageChars = 200;  // a formatted reading message is cut to this
constexpr int kRuleColumns = 3;            // description, result, hint

// Rule numbers with a fixed role.
constexpr int32_t kVersionRule = -1;    // version bytes ahead of the block; versions accepted
constexpr int32_t kResetRule = -2;      // light curtain: restart time after a supply reset [ms]
constexpr int32_t kBeamBaseRule = -3;   // light curtain: subtracted from every beam value
constexpr int32_t kBeamBlockRule = -4;  // light curtain: where the per-beam bytes are

constexpr int kLightCurtain = 1;
constexpr int kJoystick = 2;

struct LimitRule {
  int32_t number = 0;
  int32_t row = -1;      // row in the result table, -1 when not shown
  int32_t variant = 0;   // self-test version the rule is for, 0 for every version
  int32_t size = 0;      // bytes of the value in the result block
  int32_t position = 0;  // byte offset in the result block; -1 ("~") until prepared
  int32_t value = 0;
  int32_t max = 0;
  int32_t min = 0;
  bool isSigned = false;
  std::string description;  // at most kRuleTextChars; empty hides the rule
  std::string hint;         // at most kRuleTextChars
  bool passed = false;
  bool last = false;
  bool truncated[kRuleColumns] = {false, false, false};
  int32_t reference = 0;
  char op = 0;  // '+', '-', '_', '*', '/', '\\', or 0 for none
  bool visiting = false;
  bool computed = false;
  // The position was written "~": it follows the preceding applicable rule. Kept so that every
  // preparation lays out the block anew for the version at hand.
  bool follows = false;
};

// The device type of the table: the program's current one unless a test fixes it.
constexpr int kProgramDeviceType = -100;

class LimitTable {
 public:
  // Parses the file; on an error shows the first one (title ST_READLIMITS) and stays empty.
  bool Read(std::istream& in);
  void Free();

  bool Empty() const { return rules_.empty(); }
  size_t Count() const { return rules_.size(); }
  std::vector<LimitRule>& Rules() { return rules_; }
  const std::vector<LimitRule>& Rules() const { return rules_; }

  void SetDeviceType(int type) { deviceType_ = type; }
  int CurrentDeviceType() const;

  LimitRule* Find(int filter, int32_t number);
  const LimitRule* Find(int filter, int32_t number) const;
  // The version read when the version rule passed, else 0.
  int32_t VariantSelector() const;
  bool Applies(const LimitRule& rule) const;
  bool NextApplicable(size_t& cursor) const;
  int CountShown() const;
  int32_t Prepare();
  int32_t Evaluate(LimitRule& rule);

 private:
  void BuildIndex();

  std::vector<LimitRule> rules_;
  std::unordered_map<int32_t, size_t> firstIndex_;  // number -> first rule in file order
  int deviceType_ = kProgramDeviceType;
};

bool CheckRuleLimits(LimitRule& rule);

// The program's table and the operations on it.
LimitTable& TheLimitTable();
bool LoadLimitsFile(const std::string& name);
bool ReadLimitRules(std::istream& in);
LimitRule* FindLimitRule(int filter, int32_t number);
bool RuleApplies(const LimitRule& rule);
bool NextApplicableRule(size_t& cursor);
int CountShownRules();
int32_t PrepareLimitTable();
int32_t EvaluateRule(LimitRule& rule);
void FreeLimitTable();

// The table as the link engine asks for it during the self-test exchange (link thread).
class LimitRulesAdapter : public SelfTestRules {
 public:
  explicit LimitRulesAdapter(LimitTable& table) : table_(table) {}
  bool VersionRuleSize(int& size) const override;
  bool CheckVersion(uint32_t version) override;
  // 0 also when the block would be longer than one read of the serial layer can take.
  int PrepareBlockLength() override;
  std::string VersionText(uint32_t version) const override;

 private:
  LimitTable& table_;
};

}  // namespace lumo

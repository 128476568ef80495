#include "selftest/limits.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <utility>

#include "base/program_paths.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "definitions/scan.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "link/serial_port.h"
#include "platform/file_system.h"
#include "platform/message_box.h"
#include "platform/text.h"

namespace lumo {
namespace {

constexpr const char* kOperators = "+-_*/\\";
constexpr char kQuote = '"';
constexpr char kComma = ',';
constexpr char kFollows = '~';

// Reads one line of at most kRuleLineChars characters; the line end is not kept. A longer line
// ends there and its rest is the next line. False at the end of the file.
bool ReadRuleLine(std::istream& in, std::string& line) {
  line.clear();
  std::streambuf* buffer = in.rdbuf();
  if (buffer == nullptr) return false;
  bool any = false;
  for (;;) {
    int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) return any;
    any = true;
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
    if (line.size() == kRuleLineChars) {
      if (buffer->sgetc() == '\n') buffer->sbumpc();
      return true;
    }
  }
}

std::string Truncated(const char* begin, size_t length) {
  return std::string(begin, std::min(length, kRuleTextChars));
}

// Parses one normalised rule line. Returns the MsgId of the first error, nullptr when valid.
const char* ParseRuleLine(const char* p, LimitRule& rule) {
  auto comma = [&p]() {
    SkipBlanks(p);
    if (*p != kComma) return false;
    SkipCharAndBlanks(p);
    return true;
  };

  if (!ParseNumber(p, &rule.variant)) return "ERRST_VAL";
  if (!comma()) return "ERRST_MISSINGCOMMA";
  if (!ParseNumber(p, &rule.number)) return "ERRST_VAL";
  if (!comma()) return "ERRST_MISSINGCOMMA";
  if (*p == kFollows) {
    ++p;
    rule.position = -1;
    rule.follows = true;
  } else {
    if (!ParseNumber(p, &rule.position)) return "ERRST_VAL";
    if (rule.position < 0) return "ERRST_NEGPOS";
  }
  if (!comma()) return "ERRST_MISSINGCOMMA";
  if (*p == 's' || *p == 'S') {
    rule.isSigned = true;
    SkipCharAndBlanks(p);
  }
  if (!ParseNumber(p, &rule.size)) return "ERRST_VAL";
  if (rule.size < 0) return "ERRST_NEGSIZE";
  if (!comma()) return "ERRST_MISSINGCOMMA";

  if (*p != '\0' && std::strchr(kOperators, *p) != nullptr) {
    rule.op = *p++;
    if (*p != '(') return "ERRST_PARENTHIS";
    const char* close = std::strchr(p, ')');
    if (close == nullptr) return "ERRST_PARENTHIS";
    const char* inner = p + 1;
    if (!ParseNumber(inner, &rule.reference) || inner > close) return "ERRST_VAL";
    p = close + 1;
    if (!comma()) return "ERRST_MISSINGCOMMA";
  }

  if (*p != kQuote) return "ERRST_MISSINGQUOTA";
  const char* close = p;
  if (!SkipQuoted(close)) return "ERRST_MISSINGQUOTA";
  rule.description = Truncated(p + 1, static_cast<size_t>(close - p - 1));
  p = close + 1;
  SkipBlanks(p);
  if (*p != kComma) return "ERRST_MISSINGCOMMA";
  ++p;

  if (!ParseNumber(p, &rule.min)) return "ERRST_VAL";
  if (!comma()) return "ERRST_MISSINGCOMMA";
  if (!ParseNumber(p, &rule.max)) return "ERRST_VAL";
  if (!comma()) return "ERRST_MISSINGCOMMA";

  if (*p == kQuote) {
    close = p;
    if (!SkipQuoted(close)) return "ERRST_MISSINGQUOTA";
    rule.hint = Truncated(p + 1, static_cast<size_t>(close - p - 1));
    p = close + 1;
    SkipBlanks(p);
  }
  if (*p != '\0') return "ERRST_UNEXPECTEDCHAR";
  return nullptr;
}

void ShowReadingError(const std::string& text) {
  std::string cut = text.size() > kRuleMessageChars ? text.substr(0, kRuleMessageChars) : text;
  ShowMessage(MsgKind::Error, cut, MsgText("ST_READLIMITS"));
}

// ERRST_NORULES has a line placeholder although no line belongs to it: the line with the
// placeholder is left out of the message.
std::string WithoutLinePlaceholder(const char* text) {
  std::string message = text;
  size_t mark = message.find("%d");
  if (mark == std::string::npos) return message;
  size_t lineStart = message.rfind('\n', mark);
  message.erase(lineStart != std::string::npos ? lineStart : mark);
  return message;
}

// Signed 32-bit arithmetic with wrap-around, done in unsigned.
int32_t Wrap(uint32_t value) {
  return static_cast<int32_t>(value);
}

// Divides with truncation toward zero; the one quotient beyond 32 bits (-2147483648 / -1) and
// a division by zero give NoValue.
int32_t Quotient(int32_t dividend, int32_t divisor) {
  if (divisor == 0) return NoValue;
  if (dividend == INT32_MIN && divisor == -1) return NoValue;
  return dividend / divisor;
}

// Combines a rule's own value x with the referenced value r.
int32_t Combine(char op, int32_t x, int32_t r) {
  if (r == NoValue) return NoValue;
  const uint32_t ux = static_cast<uint32_t>(x);
  const uint32_t ur = static_cast<uint32_t>(r);
  switch (op) {
    case '+':
      return Wrap(ur + ux);
    case '-':
      return Wrap(ux - ur);
    case '_':
      return Wrap(ur - ux);
    case '*':
      return Wrap(ur * ux);
    case '/':
      return Quotient(x, r);
    case '\\':
      return Quotient(r, x);
    default:
      return x;
  }
}

void Finish(LimitRule& rule, int32_t result) {
  rule.value = result;
  CheckRuleLimits(rule);
  rule.computed = true;
}

}  // namespace

// ---- reading ----------------------------------------------------------------------------------

bool LimitTable::Read(std::istream& in) {
  Free();
  int lineNumber = 0;
  std::string line;
  const char* error = nullptr;
  std::vector<LimitRule> rules;
  while (error == nullptr && ReadRuleLine(in, line)) {
    ++lineNumber;
    std::vector<char> text(line.begin(), line.end());
    text.push_back('\0');  // a NUL byte inside the line ends it here too
    NormalizeBlanks(text.data());
    if (text[0] == '\0' || text[0] == '#') continue;
    LimitRule rule;
    error = ParseRuleLine(text.data(), rule);
    if (error != nullptr) break;
    try {
      rules.push_back(std::move(rule));
    } catch (const std::bad_alloc&) {
      ShowReadingError(MsgText("ERRMEMORY"));
      return false;
    }
  }
  if (error != nullptr) {
    ShowReadingError(FillText(MsgText(error), {std::to_string(lineNumber)}));
    return false;
  }
  if (rules.empty()) {
    ShowReadingError(WithoutLinePlaceholder(MsgText("ERRST_NORULES")));
    return false;
  }
  rules.back().last = true;
  rules_ = std::move(rules);
  BuildIndex();
  if (Find(0, kVersionRule) == nullptr) {
    Free();
    ShowReadingError(MsgText("ERRST_NOVERSION"));
    return false;
  }
  return true;
}

void LimitTable::Free() {
  rules_.clear();
  rules_.shrink_to_fit();
  firstIndex_.clear();
}

void LimitTable::BuildIndex() {
  firstIndex_.clear();
  for (size_t i = 0; i < rules_.size(); ++i) firstIndex_.try_emplace(rules_[i].number, i);
}

int LimitTable::CurrentDeviceType() const {
  return deviceType_ != kProgramDeviceType ? deviceType_ : DeviceType();
}

// ---- lookups and walks ------------------------------------------------------------------------

const LimitRule* LimitTable::Find(int filter, int32_t number) const {
  if (number < 0 && filter != 0 && filter != CurrentDeviceType()) return nullptr;
  auto found = firstIndex_.find(number);
  return found != firstIndex_.end() ? &rules_[found->second] : nullptr;
}

LimitRule* LimitTable::Find(int filter, int32_t number) {
  return const_cast<LimitRule*>(std::as_const(*this).Find(filter, number));
}

int32_t LimitTable::VariantSelector() const {
  const LimitRule* version = Find(0, kVersionRule);
  return version != nullptr && version->passed ? version->value : 0;
}

bool LimitTable::Applies(const LimitRule& rule) const {
  return rule.variant == 0 || rule.variant == VariantSelector();
}

bool LimitTable::NextApplicable(size_t& cursor) const {
  while (cursor < rules_.size() && !rules_[cursor].last) {
    ++cursor;
    if (Applies(rules_[cursor])) return true;
  }
  return false;
}

int LimitTable::CountShown() const {
  if (rules_.empty()) return 0;
  int count = 0;
  size_t cursor = 0;
  do {
    if (rules_[cursor].row >= 0) ++count;
  } while (NextApplicable(cursor));
  return count;
}

// ---- preparation and evaluation ---------------------------------------------------------------

int32_t LimitTable::Prepare() {
  if (rules_.empty()) return 0;
  const int type = CurrentDeviceType();
  // 64 bits: positions and sizes of a hostile file must not overflow the running offset.
  int64_t offset = 0;
  int64_t length = 0;
  int32_t nextRow = 0;
  for (LimitRule& rule : rules_) {
    std::fill(std::begin(rule.truncated), std::end(rule.truncated), false);
    bool hidden = rule.description.empty() || !Applies(rule);
    if (rule.number != kVersionRule) {
      rule.visiting = false;
      rule.computed = false;
      if (rule.op != 0 && Find(type, rule.reference) == nullptr) {
        ShowMessage(MsgKind::Error,
                    FillText(MsgText("ERRST_REFUNDEF"), {rule.description}, kRuleMessageChars),
                    MsgText("ST_READLIMITS"));
        rule.op = 0;
        rule.description.clear();
        hidden = true;
      }
      if (Applies(rule)) {
        if (rule.follows) {
          rule.position = static_cast<int32_t>(std::min<int64_t>(offset, INT32_MAX));
        } else {
          offset = rule.position;
        }
        offset += rule.size;
        length = std::max(length, offset);
      }
    }
    if (hidden) {
      rule.row = -1;
    } else {
      rule.row = nextRow++;
    }
  }
  return static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX));
}

// Evaluated without recursion: a chain of references as long as the table must not exhaust the
// stack. Each pending rule waits on the stack for the value of the rule it references.
int32_t LimitTable::Evaluate(LimitRule& start) {
  struct Pending {
    LimitRule* rule;
    LimitRule* reference;
  };
  std::vector<Pending> pending;
  const int type = CurrentDeviceType();
  LimitRule* rule = &start;
  int32_t result = 0;
  for (;;) {
    if (rule->op == 0 || rule->computed) {
      result = rule->value;
      break;
    }
    LimitRule* reference = Find(type, rule->reference);
    if (reference == nullptr) {
      result = NoValue;
      break;
    }
    if (reference->computed) {
      result = Combine(rule->op, rule->value, reference->value);
      break;
    }
    if (reference->visiting) {
      reference->hint = Truncated(MsgText("ERRST_CYCLIC"), std::strlen(MsgText("ERRST_CYCLIC")));
      result = NoValue;
      break;
    }
    reference->visiting = true;
    pending.push_back({rule, reference});
    rule = reference;
  }
  Finish(*rule, result);
  while (!pending.empty()) {
    Pending waiting = pending.back();
    pending.pop_back();
    waiting.reference->visiting = false;
    result = Combine(waiting.rule->op, waiting.rule->value, result);
    Finish(*waiting.rule, result);
  }
  return result;
}

// A value that cannot be formed never passes, whatever the limits say.
bool CheckRuleLimits(LimitRule& rule) {
  rule.passed = rule.value != NoValue && rule.min <= rule.value && rule.value <= rule.max;
  return rule.passed;
}

// ---- the program's table ----------------------------------------------------------------------

LimitTable& TheLimitTable() {
  static LimitTable table;
  return table;
}

bool ReadLimitRules(std::istream& in) {
  return TheLimitTable().Read(in);
}

bool LoadLimitsFile(const std::string& name) {
  const StartupPaths paths = CurrentStartupPaths();
  // A name differing only in case ("limits.txt", made on Windows) serves when the exact one is
  // missing; the reader's messages then name the file used.
  bool differs = false;
  std::string used = FindFileAnyCase(paths.startDir, name, &differs);
  std::ifstream in(used, std::ios::binary);
  if (!in) {
    used = FindFileAnyCase(paths.programDir, name, &differs);
    in.open(used, std::ios::binary);
  }
  if (!in) {
    differs = false;
    const std::string installed = InstalledDataFile(paths.programDir, kInstalledDataFolder, name);
    if (!installed.empty()) in.open(installed, std::ios::binary);
  }
  if (!in) {
    TheLimitTable().Free();
    return false;
  }
  ScopedMessageNote note(differs ? UsedFileNote(used) : std::string());
  return ReadLimitRules(in);
}

LimitRule* FindLimitRule(int filter, int32_t number) {
  return TheLimitTable().Find(filter, number);
}

bool RuleApplies(const LimitRule& rule) {
  return TheLimitTable().Applies(rule);
}

bool NextApplicableRule(size_t& cursor) {
  return TheLimitTable().NextApplicable(cursor);
}

int CountShownRules() {
  return TheLimitTable().CountShown();
}

int32_t PrepareLimitTable() {
  return TheLimitTable().Prepare();
}

int32_t EvaluateRule(LimitRule& rule) {
  return TheLimitTable().Evaluate(rule);
}

void FreeLimitTable() {
  TheLimitTable().Free();
}

// ---- the link's view --------------------------------------------------------------------------

bool LimitRulesAdapter::VersionRuleSize(int& size) const {
  const LimitRule* version = table_.Find(0, kVersionRule);
  if (version == nullptr) return false;
  size = version->size;
  return true;
}

bool LimitRulesAdapter::CheckVersion(uint32_t version) {
  LimitRule* rule = table_.Find(0, kVersionRule);
  if (rule == nullptr) return false;
  rule->value = static_cast<int32_t>(version & 0xFFFF);
  return CheckRuleLimits(*rule);
}

int LimitRulesAdapter::PrepareBlockLength() {
  int32_t length = table_.Prepare();
  return length <= static_cast<int32_t>(kSerialMaxTransfer) ? length : 0;
}

// ERRST_INVALIDVERSION's "%s": the version the device sent and the versions the file accepts.
std::string LimitRulesAdapter::VersionText(uint32_t version) const {
  const LimitRule* rule = table_.Find(0, kVersionRule);
  char text[64];
  if (rule != nullptr) {
    std::snprintf(text, sizeof text, "%u: %d..%d", version & 0xFFFFu, rule->min, rule->max);
  } else {
    std::snprintf(text, sizeof text, "%u", version & 0xFFFFu);
  }
  return text;
}

}  // namespace lumo

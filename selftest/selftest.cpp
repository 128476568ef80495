#include "selftest/selftest.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "base/translations.h"
#include "files/parameter_file.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace lumo {
namespace {

constexpr int32_t kResetWaiting = 0;    // reset rule value while the restart is awaited
constexpr int32_t kResetTimedOut = -1;  // reset rule value when the waiting limit ran out
constexpr int kMaxValueBytes = 4;

bool IsLightCurtain(const LimitTable& table) {
  return table.CurrentDeviceType() == kLightCurtain;
}

// Calls f for every rule a walk visits: the first rule, then every applicable one.
template <typename Table, typename F>
void Walk(Table& table, F f) {
  if (table.Empty()) return;
  size_t cursor = 0;
  do {
    f(table.Rules()[cursor]);
  } while (table.NextApplicable(cursor));
}

std::string Decimal(int32_t value) {
  return value == NoValue ? std::string("NoValue") : std::to_string(value);
}

void CopyBeams(const LimitRule& rule, const std::vector<uint8_t>& block, BeamValues& beams) {
  int count = std::min<int32_t>(rule.size, kMaxBeams);
  if (rule.position < 0) count = 0;
  const int64_t available = static_cast<int64_t>(block.size()) - rule.position;
  count = static_cast<int>(std::clamp<int64_t>(available, 0, count));
  // count is 0 for a negative position, so the position is a valid index from here.
  for (size_t i = 0; i < static_cast<size_t>(count); ++i)
    beams.value[i] = block[static_cast<size_t>(rule.position) + i];
  beams.count = count;
}

bool BeamPassed(const LimitRule& blockRule, uint8_t value) {
  return blockRule.min <= value && value <= blockRule.max;
}

bool AllBeamsPassed(const LimitRule& blockRule, const BeamValues& beams) {
  for (int i = 0; i < beams.count; ++i) {
    if (!BeamPassed(blockRule, beams.value[static_cast<size_t>(i)])) return false;
  }
  return true;
}

}  // namespace

BeamValues& TheBeamValues() {
  static BeamValues beams;
  return beams;
}

bool RequestSelfTest(DutLink& link, char command) {
  link.SetAbortRequest(false);
  return link.RequestCommand(CMD_SELFTEST, static_cast<uint8_t>(command));
}

void CancelSelfTest(DutLink& link) {
  link.SetAbortRequest(true);
}

int32_t ExtractValue(const std::vector<uint8_t>& block, int32_t position, int32_t size,
                     bool isSigned) {
  if (size > kMaxValueBytes || size <= 0) return 0;
  if (position < 0 || static_cast<int64_t>(position) + size > static_cast<int64_t>(block.size()))
    return NoValue;
  uint32_t value = 0;
  for (int i = 0; i < size; ++i) {
    value |= static_cast<uint32_t>(block[static_cast<size_t>(position + i)]) << (8 * i);
  }
  const uint8_t highest = block[static_cast<size_t>(position + size - 1)];
  if (isSigned && size < kMaxValueBytes && (highest & 0x80) != 0) {
    value |= ~0u << (8 * size);
  }
  return static_cast<int32_t>(value);
}

// The beam block rule of the light curtain takes no value of its own from the block: its row
// shows the number of beams, and it passes when every beam lies within its limits. The reset
// rule's value comes from the restart measurement (SetResetTime). Both count as computed, so a
// rule referencing them takes their value as it stands.
bool EvaluateSelfTest(LimitTable& table, const std::vector<uint8_t>& block, BeamValues& beams,
                      DutLink* link, uint32_t supplyCutMs) {
  if (table.Empty()) return false;
  table.Prepare();
  const bool lightCurtain = IsLightCurtain(table);

  bool restart = false;
  if (lightCurtain) {
    if (LimitRule* reset = table.Find(kLightCurtain, kResetRule); reset != nullptr) {
      reset->value = kResetWaiting;
      reset->passed = false;
      if (link != nullptr) {
        link->SetResetLimit(static_cast<uint32_t>(std::max(reset->max, 0)));
        link->PowerOff();
        SleepMs(supplyCutMs);
        link->PowerOn();
        restart = true;
      }
    }
  }

  const LimitRule* resetRule = lightCurtain ? table.Find(kLightCurtain, kResetRule) : nullptr;
  const LimitRule* beamRule = lightCurtain ? table.Find(kLightCurtain, kBeamBlockRule) : nullptr;
  Walk(table, [&](LimitRule& rule) {
    if (rule.number == kVersionRule || !table.Applies(rule)) return;
    if (&rule == resetRule) {
      rule.computed = true;
      return;
    }
    if (&rule == beamRule) {
      CopyBeams(rule, block, beams);
      rule.value = beams.count;
      rule.passed = beams.count > 0 && AllBeamsPassed(rule, beams);
      rule.computed = true;
      return;
    }
    rule.value = ExtractValue(block, rule.position, rule.size, rule.isSigned);
  });
  Walk(table, [&](LimitRule& rule) {
    if (&rule == resetRule || &rule == beamRule) return;
    table.Evaluate(rule);
  });
  return restart;
}

bool EvaluateSelfTest(const std::vector<uint8_t>& block) {
  return EvaluateSelfTest(TheLimitTable(), block, TheBeamValues(), &TheLink());
}

void SetResetTime(LimitTable& table, int32_t ms) {
  LimitRule* reset = table.Find(kLightCurtain, kResetRule);
  if (reset == nullptr) return;
  reset->value = ms;
  CheckRuleLimits(*reset);
  // The timeout mark is never a pass, whatever the limits.
  if (ms == kResetTimedOut) reset->passed = false;
}

void SetResetTime(int32_t ms) {
  SetResetTime(TheLimitTable(), ms);
}

const LimitRule* ResetRule(const LimitTable& table) {
  return IsLightCurtain(table) ? table.Find(kLightCurtain, kResetRule) : nullptr;
}

std::vector<const LimitRule*> ShownRules(const LimitTable& table) {
  std::vector<const LimitRule*> rows;
  Walk(table, [&](const LimitRule& rule) {
    if (rule.row < 0) return;
    const auto row = static_cast<size_t>(rule.row);
    if (row >= rows.size()) rows.resize(row + 1, nullptr);
    rows[row] = &rule;
  });
  rows.erase(std::remove(rows.begin(), rows.end(), nullptr), rows.end());
  return rows;
}

std::string RuleCellText(const LimitTable& table, const LimitRule& rule, int column) {
  switch (column) {
    case 0:
      return rule.description;
    case 1:
      if (&rule == ResetRule(table)) {
        if (rule.value == kResetWaiting) return MsgText("ST_RESETWAIT");
        if (rule.value == kResetTimedOut) return MsgText("ST_RESETTIMEOUT");
      }
      return Decimal(rule.value);
    case 2:
      return rule.hint;
    default:
      return std::string();
  }
}

std::string RuleCellTooltip(const LimitTable& table, const LimitRule& rule, int column) {
  if (column == 1) {
    char text[48];
    std::snprintf(text, sizeof text, "Min:%d | Max:%d", rule.min, rule.max);
    return text;
  }
  if (column < 0 || column >= kRuleColumns || !rule.truncated[column]) return std::string();
  return RuleCellText(table, rule, column);
}

std::vector<BeamRow> BeamRows(const LimitTable& table, const BeamValues& beams) {
  std::vector<BeamRow> rows;
  if (!IsLightCurtain(table)) return rows;
  const LimitRule* blockRule = table.Find(kLightCurtain, kBeamBlockRule);
  if (blockRule == nullptr) return rows;
  const LimitRule* baseRule = table.Find(kLightCurtain, kBeamBaseRule);
  const int count = std::clamp(beams.count, 0, kMaxBeams);
  for (int r = 0; r < (count + kBeamsPerRow - 1) / kBeamsPerRow; ++r) {
    BeamRow row;
    row.label = FillText(MsgText("ST_ROWRAY"), {std::to_string(r * kBeamsPerRow + 1),
                                                std::to_string(r * kBeamsPerRow + kBeamsPerRow)});
    for (int c = 0; c < kBeamsPerRow; ++c) {
      BeamCell& cell = row.cells[static_cast<size_t>(c)];
      cell.beam = r * kBeamsPerRow + c;
      if (cell.beam >= count) continue;
      cell.present = true;
      const uint8_t value = beams.value[static_cast<size_t>(cell.beam)];
      cell.value = value;
      cell.passed = BeamPassed(*blockRule, value);
      if (baseRule == nullptr) continue;
      if (baseRule->value == NoValue) {
        cell.text = "NoValue (" + std::to_string(cell.value) + ")";
        continue;
      }
      cell.hasRelative = true;
      cell.relative = static_cast<int32_t>(static_cast<uint32_t>(cell.value) -
                                           static_cast<uint32_t>(baseRule->value));
      char text[40];
      std::snprintf(text, sizeof text, "%+d (%d)", cell.relative, cell.value);
      cell.text = text;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool SelfTestPassed(const LimitTable& table, const BeamValues& beams) {
  if (table.Empty()) return false;
  for (const LimitRule* rule : ShownRules(table)) {
    if (!rule->passed) return false;
  }
  for (const BeamRow& row : BeamRows(table, beams)) {
    for (const BeamCell& cell : row.cells) {
      if (cell.present && !cell.passed) return false;
    }
  }
  return true;
}

std::array<int, 3> RuleColumnWidths(int clientWidth, int scrollBarWidth) {
  const int w = clientWidth - scrollBarWidth;
  const int description = w * 9 / 20;
  const int result = w * 2 / 20;
  return {description, result, w - (result + description + 1)};
}

std::array<int, kBeamsPerRow + 1> BeamColumnWidths(int clientWidth, int scrollBarWidth) {
  const int w = clientWidth - scrollBarWidth;
  const int cw = static_cast<int>(w * 0.8 / kBeamsPerRow);
  std::array<int, kBeamsPerRow + 1> widths;
  widths.fill(cw);
  widths[0] = w - kBeamsPerRow * cw;
  return widths;
}

}  // namespace lumo

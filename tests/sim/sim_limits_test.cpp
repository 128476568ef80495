// The sample rules files in examples/ describe exactly the self-test answers of the simulated
// devices: block length, version range, and every value within its limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "sim/sim_profiles.h"

namespace lumo::sim {
namespace {

struct Rule {
  int variant = 0, number = 0, position = -1, size = 0;
  bool isSigned = false;
  char op = 0;
  int reference = 0;
  long min = 0, max = 0;
};

// Reads the subset of the rules grammar the sample files use; fails the test on anything else.
std::vector<Rule> ReadRules(const std::string& path) {
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << path;
  std::vector<Rule> rules;
  std::string line;
  while (std::getline(in, line)) {
    size_t start = line.find_first_not_of(" \t\r");
    if (start == std::string::npos || line[start] == '#') continue;
    const char* p = line.c_str() + start;
    Rule r;
    char* end = nullptr;
    r.variant = static_cast<int>(std::strtol(p, &end, 0));
    r.number = static_cast<int>(std::strtol(end + 1, &end, 0));
    p = end + 1;
    while (*p == ' ') ++p;
    if (*p == '~') {
      p = std::strchr(p, ',');
    } else {
      r.position = static_cast<int>(std::strtol(p, &end, 0));
      p = end;
    }
    ++p;
    while (*p == ' ') ++p;
    if (*p == 's' || *p == 'S') {
      r.isSigned = true;
      ++p;
    }
    r.size = static_cast<int>(std::strtol(p, &end, 0));
    p = end + 1;
    while (*p == ' ') ++p;
    if (std::strchr("+-_*/\\", *p) != nullptr && p[1] == '(') {
      r.op = *p;
      r.reference = static_cast<int>(std::strtol(p + 2, &end, 0));
      p = std::strchr(end, ',') + 1;
    }
    const char* quote = std::strchr(p, '"');
    const char* close = quote ? std::strchr(quote + 1, '"') : nullptr;
    EXPECT_NE(close, nullptr) << line;
    if (close == nullptr) break;
    p = std::strchr(close, ',') + 1;
    r.min = std::strtol(p, &end, 0);
    r.max = std::strtol(end + 1, &end, 0);
    rules.push_back(r);
  }
  return rules;
}

bool Applies(const Rule& r, int version) {
  return r.variant == 0 || r.variant == version;
}

// Block positions as the self-test lays them out: "~" follows the preceding applicable rule, an
// explicit position restarts there; the length is the largest end reached.
int LayOut(std::vector<Rule>& rules, int version) {
  int offset = 0, length = 0;
  for (auto& r : rules) {
    if (r.number == -1 || !Applies(r, version)) continue;
    if (r.position < 0) r.position = offset;
    offset = r.position + r.size;
    length = std::max(length, offset);
  }
  return length;
}

long ValueAt(const std::vector<uint8_t>& block, const Rule& r) {
  unsigned long v = 0;
  for (int i = 0; i < r.size; ++i)
    v |= static_cast<unsigned long>(block.at(r.position + i)) << (8 * i);
  if (r.isSigned && r.size > 0 && (v >> (8 * r.size - 1)) & 1)
    return static_cast<long>(v) - (1L << (8 * r.size));
  return static_cast<long>(v);
}

void CheckFileAgainstDevice(const std::string& file, DeviceKind kind, char command) {
  SCOPED_TRACE(file);
  const SimOptions options = DefaultOptions(kind);
  std::vector<Rule> rules = ReadRules(std::string(LUMO_EXAMPLES_DIR) + "/" + file);
  ASSERT_FALSE(rules.empty());
  ASSERT_EQ(rules[0].number, -1);
  EXPECT_EQ(rules[0].size, options.versionSize);
  EXPECT_GE(options.selfTestVersion, rules[0].min);
  EXPECT_LE(options.selfTestVersion, rules[0].max);
  const std::vector<uint8_t> block = FactorySelfTestBlock(options, command);
  ASSERT_EQ(LayOut(rules, options.selfTestVersion), static_cast<int>(block.size()));
  std::map<int, long> values;
  for (const auto& r : rules) {
    if (r.number == -1 || !Applies(r, options.selfTestVersion)) continue;
    if (kind == DeviceKind::Tg5 && r.number == -2) continue;  // measured, not sent
    if (kind == DeviceKind::Tg5 && r.number == -4) {
      for (int i = 0; i < r.size; ++i) {
        EXPECT_GE(block[r.position + i], r.min) << "beam " << i + 1;
        EXPECT_LE(block[r.position + i], r.max) << "beam " << i + 1;
      }
      continue;
    }
    long v = ValueAt(block, r);
    ASSERT_TRUE(r.op == 0 || values.count(r.reference)) << "rule " << r.number;
    if (r.op == '+') v = values[r.reference] + v;
    if (r.op == '-') v = v - values[r.reference];
    values[r.number] = v;
    EXPECT_GE(v, r.min) << "rule " << r.number;
    EXPECT_LE(v, r.max) << "rule " << r.number;
  }
}

TEST(SimSampleRules, LightCurtainFileMatchesItsSelfTest) {
  CheckFileAgainstDevice("Limits_TG5.txt", DeviceKind::Tg5, 's');
}

TEST(SimSampleRules, JoystickFileMatchesBothSelfTests) {
  CheckFileAgainstDevice("Limits_Jovix.txt", DeviceKind::Jovix, 's');
  CheckFileAgainstDevice("Limits_Jovix.txt", DeviceKind::Jovix, 'c');
}

}  // namespace
}  // namespace lumo::sim

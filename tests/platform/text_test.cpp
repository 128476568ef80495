// The text helpers every layer shares.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace lumo {
namespace {

std::optional<int64_t> Read(const std::string& text) {
  int64_t value = -7;
  if (!ReadInteger(text, value)) {
    EXPECT_EQ(value, -7) << "a refused text left the value alone: " << text;
    return std::nullopt;
  }
  return value;
}

TEST(TextHelpers, CaseIsFoldedForAsciiLettersOnly) {
  EXPECT_TRUE(EqualNoCase("[Beams]", "[BEAMS]"));
  EXPECT_TRUE(EqualNoCase("", ""));
  EXPECT_FALSE(EqualNoCase("csv", "csvx"));
  EXPECT_FALSE(EqualNoCase("\xC4", "\xE4"));  // Windows-1252 letters stay as they are
  EXPECT_FALSE(EqualNoCase("[", "{"));        // 0x5B and 0x7B differ by the case bit only
  EXPECT_TRUE(StartsWithNoCase("PostgreSQL://host/db", "postgresql://"));
  EXPECT_TRUE(StartsWithNoCase("Jovix", ""));
  EXPECT_FALSE(StartsWithNoCase("Jo", "Jovix"));
}

TEST(TextHelpers, ReadIntegerTakesTheWholeTextOrNothing) {
  EXPECT_EQ(Read("0"), 0);
  EXPECT_EQ(Read("4"), 4);
  EXPECT_EQ(Read("-12"), -12);
  EXPECT_EQ(Read("+12"), 12);
  EXPECT_EQ(Read("9223372036854775807"), INT64_MAX);
  EXPECT_EQ(Read("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(Read("9223372036854775808"), std::nullopt);  // beyond the range: refused, not cut
  for (const char* refused : {"", "+", "-", "+-1", "--1", " 1", "1 ", "1x", "0x10", "1.5"})
    EXPECT_EQ(Read(refused), std::nullopt) << refused;
}

TEST(TextHelpers, FillTextFillsMarksInOrderAndLeavesTheRest) {
  EXPECT_EQ(FillText("No %s on %s", {"TG5", "COM1"}), "No TG5 on COM1");
  EXPECT_EQ(FillText("page %d of %s", {"3"}), "page 3 of %s");
  EXPECT_EQ(FillText("100%", {"x"}), "100%");
  EXPECT_EQ(FillText(nullptr, {"x"}), "");
  EXPECT_EQ(FillText("%s!", {"abcdef"}, 4), "abcd");
}

TEST(TextHelpers, HotkeyMarksLeaveTheCaptionAsShown) {
  EXPECT_EQ(WithoutHotkeyMarks("&File"), "File");
  EXPECT_EQ(WithoutHotkeyMarks("Save && &quit"), "Save & quit");
  EXPECT_EQ(WithoutHotkeyMarks("trailing&"), "trailing");
}

}  // namespace
}  // namespace lumo

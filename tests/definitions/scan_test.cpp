#include "definitions/scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace lumo {
namespace {

// ParseNumber on text: the result, the value stored and how far the position moved.
void CheckParse(const char* text, bool ok, int32_t value, size_t consumed) {
  const char* p = text;
  int32_t v = 12345;
  EXPECT_EQ(ParseNumber(p, &v), ok) << text;
  EXPECT_EQ(v, value) << text;
  EXPECT_EQ(static_cast<size_t>(p - text), consumed) << text;
}

TEST(ParseNumber, DecimalHexSignAndWrap) {
  CheckParse("  - 0X1f", true, -31, 8);
  CheckParse("012", true, 12, 3);  // a leading zero is not octal
  CheckParse("+5", false, 0, 0);
  CheckParse("0x", false, 0, 2);
  CheckParse("4294967297", true, 1, 10);
  CheckParse("2147483648", true, INT32_MIN, 10);
  CheckParse("0xFFFFFFFF0", true, -16, 11);
  CheckParse("12ab", true, 12, 2);
  CheckParse("7 8", true, 7, 1);    // blanks after the number stay
  CheckParse("\xE4", false, 0, 0);  // 0xE4 is a letter, not a blank
  int32_t v = 0;
  EXPECT_TRUE(ParseNumberAt(" 42", &v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(ParseNumberAt(nullptr, &v));
}

// CopyNormalized into a buffer of size, with a canary byte after it that must survive.
void CheckCopy(const char* source, const char* set, size_t size, const char* expected) {
  char buffer[64];
  std::memset(buffer, '#', sizeof buffer);
  CopyNormalized(buffer, size, source, set);
  EXPECT_STREQ(buffer, expected) << source;
  EXPECT_EQ(buffer[size], '#') << source;
}

TEST(Normalize, CopyTrimsCollapsesAndTruncates) {
  CheckCopy("  foo \t bar  ,x", ",", 32, "foo bar");
  CheckCopy("abcdef", "", 4, "abc");
  CheckCopy("ab cd", "", 4, "ab");  // a space at the cut is dropped too
  CheckCopy("ab cd", "", 5, "ab c");
  CheckCopy("x", "", 1, "");
  CheckCopy(" a b", " ", 8, "");  // the blank is itself the delimiter
  char text[] = "\t a \r\n b \n";
  NormalizeBlanks(text);
  EXPECT_STREQ(text, "a b");
  char blanks[] = " \t\r\n ";
  NormalizeBlanks(blanks);
  EXPECT_STREQ(blanks, "");
  char keep[] = "zz";
  CopyNormalized(keep, 0, "abc", "");
  EXPECT_STREQ(keep, "zz");
  EXPECT_TRUE(IsDelimiter(nullptr, ",") && IsDelimiter("a", nullptr) && IsDelimiter("", ""));
}

// ScanString on text: the code, the token copied (into size bytes) and the text left over.
void CheckString(const char* text, const char* set, bool normalize, size_t size, int32_t code,
                 const char* token, const char* rest) {
  char out[32] = "unchanged";
  ScanCursor c{text, nullptr};
  EXPECT_EQ(ScanString(&c, out, size, set, normalize), code) << text;
  EXPECT_STREQ(out, token) << text;
  EXPECT_STREQ(c.position, rest) << text;
}

TEST(ScanString, QuotedAndDelimitedTokens) {
  CheckString("\"a  b\" , x", ",", true, 32, 4, "a  b", ", x");
  CheckString("\"open", ",", false, 32, kScanBadForm, "unchanged", "");
  CheckString("\"abcd\"x", nullptr, false, 3, 4, "ab", "x");
  CheckString("foo   bar  ,x", ",", true, 32, 11, "foo bar", ",x");
  CheckString("foo  ,x", ",", false, 32, 5, "foo  ", ",x");
  CheckString("abcdef", ",", false, 4, 6, "abc", "");
  CheckString(",x", ",", true, 32, 0, "", ",x");
  CheckString("ab  cd", " ", false, 32, 2, "ab", "cd");
  CheckString("a, b", nullptr, false, 32, 4, "a, b", "");
  CheckString("", ",", false, 32, kScanEndOfText, "unchanged", "");
  CheckString("x", ",", false, 0, kScanMissingArg, "unchanged", "x");
  char out[4];
  EXPECT_EQ(ScanString(nullptr, out, sizeof out, ",", false), kScanMissingArg);
  ScanCursor none{nullptr, nullptr};
  EXPECT_EQ(ScanString(&none, out, sizeof out, ",", false), kScanMissingArg);
}

// ScanNumber on text: the code (the character after the number), the value and the rest.
void CheckNumber(const char* text, int32_t code, int32_t value, const char* rest) {
  int32_t v = 77;
  ScanCursor c{text, nullptr};
  EXPECT_EQ(ScanNumber(&c, &v), code) << text;
  EXPECT_EQ(v, value) << text;
  EXPECT_STREQ(c.position, rest) << text;
}

// ScanDelimiter on text: the code and the rest.
void CheckDelimiter(const char* text, const char* set, int32_t code, const char* rest) {
  ScanCursor c{text, nullptr};
  EXPECT_EQ(ScanDelimiter(&c, set), code) << text;
  EXPECT_STREQ(c.position, rest) << text;
}

TEST(ScanNumberAndDelimiter, LookaheadAndFailures) {
  CheckNumber(" 12 , 0x10", ',', 12, ", 0x10");
  CheckNumber("-3 \x7F", 0, -3, "");        // 0x7F is a blank
  CheckNumber("1\t\xA0", 0xA0, 1, "\xA0");  // 0xA0 is not
  CheckNumber("  x", kScanBadForm, 0, "x");
  CheckNumber("", kScanEndOfText, 77, "");
  int32_t v = 0;
  ScanCursor c{"1", nullptr};
  EXPECT_EQ(ScanNumber(&c, nullptr), kScanMissingArg);
  EXPECT_EQ(ScanNumber(nullptr, &v), kScanMissingArg);

  CheckDelimiter("=5", ":=", '=', "5");
  CheckDelimiter("(  a", "(", '(', "a");
  CheckDelimiter("x", ":=", kScanBadForm, "x");
  CheckDelimiter("", ":=", kScanEndOfText, "");
  CheckDelimiter("x", nullptr, kScanMissingArg, "x");
}

TEST(ScanError, FirstErrorIsStickyAndStopsEveryScanner) {
  const char* first = "first";
  ScanCursor c{"12,\"a\"", nullptr};
  SetScanError(&c, first);
  SetScanError(&c, "second");
  EXPECT_EQ(c.error, first);
  int32_t v = 99;
  char out[8] = "keep";
  EXPECT_EQ(ScanNumber(&c, &v), kScanHasError);
  EXPECT_EQ(ScanString(&c, out, sizeof out, ",", true), kScanHasError);
  EXPECT_EQ(ScanDelimiter(&c, ","), kScanHasError);
  EXPECT_EQ(v, 99);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(*c.position, '1');  // nothing moved

  ScanCursor unnamed{"1", nullptr};
  SetScanError(&unnamed, nullptr);  // still marks the cursor failed
  EXPECT_EQ(ScanNumber(&unnamed, &v), kScanHasError);
}

}  // namespace
}  // namespace lumo

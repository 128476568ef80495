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
  CheckParse("  - 0x1F", true, -31, 8);
  CheckParse("012", true, 12, 3);  // a leading zero is not octal
  CheckParse("+5", false, 0, 0);
  CheckParse("0x", false, 0, 2);
  CheckParse("0XaBz", true, 0xAB, 4);
  CheckParse("4294967297", true, 1, 10);
  CheckParse("4294967295", true, -1, 10);
  CheckParse("2147483648", true, INT32_MIN, 10);
  CheckParse("-2147483648", true, INT32_MIN, 11);
  CheckParse("0xFFFFFFFF0", true, -16, 11);
  CheckParse("12ab", true, 12, 2);
  CheckParse("7 8", true, 7, 1);  // blanks after the number stay
  CheckParse("-", false, 0, 1);
  CheckParse(
      "\xE4"
      "1",
      false, 0, 0);  // 0xE4 is a letter, not a blank
  CheckParse("", false, 0, 0);
}

TEST(ParseNumber, AtLeavesTheCallersPointerAndToleratesMissingArguments) {
  const char* text = " 42";
  int32_t v = 0;
  EXPECT_TRUE(ParseNumberAt(text, &v));
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(ParseNumberAt(nullptr, &v));
  EXPECT_TRUE(ParseNumberAt("5", nullptr));
  char writable[] = "0x10,";
  char* p = writable;
  EXPECT_TRUE(ParseNumber(p, &v));
  EXPECT_EQ(v, 16);
  EXPECT_EQ(*p, ',');
}

TEST(Blanks, ClassesSkipAndQuoted) {
  EXPECT_TRUE(IsBlank('\x01'));
  EXPECT_TRUE(IsBlank(' '));
  EXPECT_TRUE(IsBlank('\x7F'));
  EXPECT_FALSE(IsBlank('\0'));
  EXPECT_FALSE(IsBlank('\x80'));
  EXPECT_FALSE(IsBlank('\xA0'));  // no-break space is an ordinary character
  EXPECT_FALSE(IsBlank('!'));

  const char* p = "\t\r\n \x7Fx";
  SkipBlanks(p);
  EXPECT_EQ(*p, 'x');
  const char* q = ",  y";
  SkipCharAndBlanks(q);
  EXPECT_EQ(*q, 'y');
  const char* end = "";
  SkipCharAndBlanks(end);
  EXPECT_EQ(*end, '\0');  // never steps over the end of text

  const char* quoted = "'ab'c";
  EXPECT_TRUE(SkipQuoted(quoted));
  EXPECT_EQ(std::string(quoted), "'c");
  const char* open = "|abc";
  EXPECT_FALSE(SkipQuoted(open));
  EXPECT_EQ(*open, '\0');
}

TEST(Delimiter, EndOfTextAndMissingArguments) {
  EXPECT_TRUE(IsDelimiter("", "x"));
  EXPECT_TRUE(IsDelimiter("", ""));
  EXPECT_TRUE(IsDelimiter(",", ":,"));
  EXPECT_FALSE(IsDelimiter("a", ":,"));
  EXPECT_FALSE(IsDelimiter("a", ""));
  EXPECT_TRUE(IsDelimiter(nullptr, ","));
  EXPECT_TRUE(IsDelimiter("a", nullptr));
  EXPECT_TRUE(IsDelimiter("\xFC", "\xFC"));
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
  CheckCopy("foo bar", nullptr, 32, "foo bar");
  CheckCopy("abcdef", "", 4, "abc");
  CheckCopy("ab cd", "", 4, "ab");  // a space at the cut is dropped too
  CheckCopy("ab cd", "", 5, "ab c");
  CheckCopy("   ", "", 8, "");
  CheckCopy("x", "", 1, "");
  CheckCopy(" a b", " ", 8, "");  // the blank is itself the delimiter
  CheckCopy(
      "Gr\xF6\xDF"
      "e  x",
      "", 16,
      "Gr\xF6\xDF"
      "e x");
}

TEST(Normalize, MissingArgumentsWriteNothing) {
  char buffer[4] = "zz";
  CopyNormalized(buffer, 0, "abc", "");
  EXPECT_STREQ(buffer, "zz");
  CopyNormalized(buffer, sizeof buffer, nullptr, "");
  EXPECT_STREQ(buffer, "zz");
  CopyNormalized(nullptr, 4, "abc", "");  // must not crash
  NormalizeBlanks(nullptr);
}

TEST(Normalize, InPlace) {
  char text[] = "\t a \r\n b \n";
  NormalizeBlanks(text);
  EXPECT_STREQ(text, "a b");
  char blanks[] = " \t\r\n ";
  NormalizeBlanks(blanks);
  EXPECT_STREQ(blanks, "");
  char same[] = "  x   y z  ";
  CopyNormalized(same, sizeof same, same, nullptr);
  EXPECT_STREQ(same, "x y z");
}

TEST(ScanString, QuotedTokens) {
  char out[16];
  ScanCursor c{"\"a  b\" , x", nullptr};
  EXPECT_EQ(ScanString(&c, out, sizeof out, ",", true), 4);
  EXPECT_STREQ(out, "a  b");
  EXPECT_EQ(*c.position, ',');

  std::strcpy(out, "keep");
  ScanCursor open{"\"open", nullptr};
  EXPECT_EQ(ScanString(&open, out, sizeof out, ",", false), kScanBadForm);
  EXPECT_STREQ(out, "keep");
  EXPECT_EQ(*open.position, '\0');

  char small[3];
  ScanCursor cut{"\"abcd\"x", nullptr};
  EXPECT_EQ(ScanString(&cut, small, sizeof small, nullptr, false), 4);
  EXPECT_STREQ(small, "ab");
  EXPECT_EQ(*cut.position, 'x');

  ScanCursor empty{"\"\"", nullptr};
  EXPECT_EQ(ScanString(&empty, out, sizeof out, ",", false), 0);
  EXPECT_STREQ(out, "");
}

TEST(ScanString, DelimitedTokens) {
  char out[16];
  ScanCursor c{"foo   bar  ,x", nullptr};
  EXPECT_EQ(ScanString(&c, out, sizeof out, ",", true), 11);
  EXPECT_STREQ(out, "foo bar");
  EXPECT_EQ(*c.position, ',');

  ScanCursor raw{"foo  ,x", nullptr};
  EXPECT_EQ(ScanString(&raw, out, sizeof out, ",", false), 5);
  EXPECT_STREQ(out, "foo  ");

  char small[4];
  ScanCursor cut{"abcdef", nullptr};
  EXPECT_EQ(ScanString(&cut, small, sizeof small, ",", false), 6);
  EXPECT_STREQ(small, "abc");
  EXPECT_EQ(*cut.position, '\0');

  ScanCursor onDelimiter{",x", nullptr};
  EXPECT_EQ(ScanString(&onDelimiter, out, sizeof out, ",", true), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(*onDelimiter.position, ',');

  ScanCursor blankDelimiter{"ab  cd", nullptr};
  EXPECT_EQ(ScanString(&blankDelimiter, out, sizeof out, " ", false), 2);
  EXPECT_EQ(*blankDelimiter.position, 'c');

  ScanCursor noSet{"a, b", nullptr};
  EXPECT_EQ(ScanString(&noSet, out, sizeof out, nullptr, false), 4);
  EXPECT_STREQ(out, "a, b");
}

TEST(ScanString, MissingArgumentsAndEnd) {
  char out[4];
  ScanCursor end{"", nullptr};
  EXPECT_EQ(ScanString(&end, out, sizeof out, ",", false), kScanEndOfText);
  ScanCursor c{"x", nullptr};
  EXPECT_EQ(ScanString(nullptr, out, sizeof out, ",", false), kScanMissingArg);
  EXPECT_EQ(ScanString(&c, nullptr, 4, ",", false), kScanMissingArg);
  EXPECT_EQ(ScanString(&c, out, 0, ",", false), kScanMissingArg);
  ScanCursor none{nullptr, nullptr};
  EXPECT_EQ(ScanString(&none, out, sizeof out, ",", false), kScanMissingArg);
}

TEST(ScanNumber, LookaheadAndFailures) {
  int32_t v = 0;
  ScanCursor c{" 12 , 0x10:", nullptr};
  EXPECT_EQ(ScanNumber(&c, &v), ',');
  EXPECT_EQ(v, 12);
  EXPECT_EQ(ScanDelimiter(&c, ","), ',');
  EXPECT_EQ(ScanNumber(&c, &v), ':');
  EXPECT_EQ(v, 16);
  ScanCursor last{"-3  ", nullptr};
  EXPECT_EQ(ScanNumber(&last, &v), 0);
  EXPECT_EQ(v, -3);
  ScanCursor high{"1 \xE9", nullptr};
  EXPECT_EQ(ScanNumber(&high, &v), 0xE9);  // a high character is a positive code

  ScanCursor bad{"  x", nullptr};
  EXPECT_EQ(ScanNumber(&bad, &v), kScanBadForm);
  EXPECT_EQ(ScanNumber(&bad, nullptr), kScanMissingArg);
  ScanCursor end{"", nullptr};
  EXPECT_EQ(ScanNumber(&end, &v), kScanEndOfText);
  EXPECT_EQ(ScanNumber(nullptr, &v), kScanMissingArg);
}

TEST(ScanDelimiter, Sets) {
  ScanCursor c{"=5", nullptr};
  EXPECT_EQ(ScanDelimiter(&c, ":="), '=');
  EXPECT_EQ(*c.position, '5');
  ScanCursor x{"x", nullptr};
  EXPECT_EQ(ScanDelimiter(&x, ":="), kScanBadForm);
  EXPECT_EQ(*x.position, 'x');
  ScanCursor end{"", nullptr};
  EXPECT_EQ(ScanDelimiter(&end, ":="), kScanEndOfText);
  EXPECT_EQ(ScanDelimiter(&x, nullptr), kScanMissingArg);
  ScanCursor blanksAfter{"(  a", nullptr};
  EXPECT_EQ(ScanDelimiter(&blanksAfter, "("), '(');
  EXPECT_EQ(*blanksAfter.position, 'a');
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
  SetScanError(nullptr, "ignored");
}

}  // namespace
}  // namespace lumo

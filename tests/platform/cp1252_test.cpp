#include "platform/cp1252.h"

#include <gtest/gtest.h>

namespace lumo {
namespace {

TEST(Cp1252, ConvertsEveryRangeToUtf8) {
  EXPECT_EQ(Cp1252ToUtf8("plain ASCII ~"), "plain ASCII ~");
  EXPECT_EQ(Cp1252ToUtf8("F\xFC"
                         "r \xC4"
                         "nderung \xDF"),
            "F\xC3\xBCr \xC3\x84nderung \xC3\x9F");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");  // euro sign
  EXPECT_EQ(Cp1252ToUtf8("\x9F"), "\xC5\xB8");      // Y with diaeresis
  EXPECT_EQ(Cp1252ToUtf8("\x81"), "\xC2\x81");      // unassigned: C1 control
  EXPECT_EQ(Cp1252ToUtf8("\xA0\xFF"), "\xC2\xA0\xC3\xBF");
  EXPECT_EQ(Cp1252ToUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Cp1252ToUtf8(""), "");
  EXPECT_EQ(Cp1252ToUtf8(static_cast<const char*>(nullptr)), "");  // a missing C text
}

}  // namespace
}  // namespace lumo

#include "definitions/embedded.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>

namespace lumo {
namespace {

std::string TrailerBytes(uint32_t length) {
  EmbeddedTrailer t = MakeTrailer(length);
  return std::string(t.begin(), t.end());
}

// Where the text starts according to the 16 bytes `tail` of a file of `size` bytes; -1: none.
int64_t Start(const std::string& tail, uint64_t size) {
  EmbeddedTrailer t{};
  std::copy(tail.begin(), tail.begin() + 16, t.begin());
  auto span = LocateEmbeddedText(t, size);
  return span ? static_cast<int64_t>(span->textStart) : -1;
}

std::string Patched(uint32_t length, std::size_t at, char c) {
  std::string t = TrailerBytes(length);
  t[at] = c;
  return t;
}

TEST(Embedded, TrailerLayout) {
  EXPECT_EQ(TrailerBytes(0x1118), std::string("\n\nENDDEF\n\0\0\0\x18\x11\0\0", 16));
  EXPECT_EQ(TrailerBytes(0xA1B2C3D4).substr(12), "\xD4\xC3\xB2\xA1");
}

TEST(Embedded, LocatesTextOrRefusesHostileTrailers) {
  EXPECT_EQ(Start(TrailerBytes(4376), 4392), 0);
  EXPECT_EQ(Start(TrailerBytes(4376), 100000), 100000 - 16 - 4376);
  EXPECT_EQ(Start(TrailerBytes(0), 16), 0);
  EXPECT_EQ(Start(TrailerBytes(4377), 4392), -1);        // would start before the file
  EXPECT_EQ(Start(TrailerBytes(0xFFFFFFFF), 4392), -1);  // huge length
  EXPECT_EQ(Start(TrailerBytes(0), 15), -1);             // file shorter than a trailer
  EXPECT_EQ(Start(Patched(10, 3, 'e'), 100), -1);        // "EnDDEF"
  EXPECT_EQ(Start(Patched(10, 9, 'X'), 100), -1);        // marker text runs on
  EXPECT_EQ(Start(Patched(10, 10, 'X'), 100), 74);       // bytes after the first zero: free
}

TEST(Embedded, PositionsAStreamAtTheTextOrAtTheEnd) {
  const std::string program(
      "\x7F"
      "ELF\0\0binary",
      12);
  std::istringstream with(program + "[DUT] = TG5\n" + TrailerBytes(12));
  ASSERT_TRUE(FindEmbeddedDefinition(with));
  std::string line;
  std::getline(with, line);
  EXPECT_EQ(line, "[DUT] = TG5");
  std::istringstream hostile(program + TrailerBytes(1000));
  EXPECT_FALSE(FindEmbeddedDefinition(hostile));
  EXPECT_EQ(hostile.tellg(), 28);
  std::istringstream tiny("abc");
  EXPECT_FALSE(FindEmbeddedDefinition(tiny));
  EXPECT_EQ(tiny.tellg(), 3);
}

TEST(Embedded, FindsTheSpanThroughADescriptor) {
  char name[] = "/tmp/lumo_embedded_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string bytes = "programabc\n" + TrailerBytes(4);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  uint64_t size = 0;
  auto span = FindEmbeddedDefinition(fd, size);
  ASSERT_TRUE(span.has_value());
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(span->textStart, 7u);
  ASSERT_EQ(ftruncate(fd, 10), 0);
  EXPECT_FALSE(FindEmbeddedDefinition(fd, size).has_value());
  close(fd);
  unlink(name);
}

}  // namespace
}  // namespace lumo

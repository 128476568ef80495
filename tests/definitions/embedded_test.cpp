#include "definitions/embedded.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>

namespace lumo {
namespace {

std::string TrailerBytes(uint32_t length) {
  EmbeddedTrailer t = MakeTrailer(length);
  return std::string(reinterpret_cast<const char*>(t.data()), t.size());
}

EmbeddedTrailer AsTrailer(const std::string& bytes) {
  EmbeddedTrailer t{};
  for (std::size_t i = 0; i < t.size() && i < bytes.size(); ++i) {
    t[i] = static_cast<unsigned char>(bytes[i]);
  }
  return t;
}

// Where the text starts according to the trailer `tail` in a file of `size` bytes; -1: none.
int64_t Start(const std::string& tail, uint64_t size) {
  auto span = LocateEmbeddedText(AsTrailer(tail), size);
  return span ? static_cast<int64_t>(span->textStart) : -1;
}

TEST(Embedded, TrailerLayout) {
  std::string t = TrailerBytes(0x1118);
  ASSERT_EQ(t.size(), 16u);
  EXPECT_EQ(t.substr(0, 9), "\n\nENDDEF\n");
  EXPECT_EQ(t.substr(9, 3), std::string(3, '\0'));
  EXPECT_EQ(t.substr(12), std::string("\x18\x11\0\0", 4));
  EXPECT_EQ(TrailerBytes(0xA1B2C3D4).substr(12), "\xD4\xC3\xB2\xA1");
}

TEST(Embedded, LocatesTextOrRefusesHostileTrailers) {
  EXPECT_EQ(Start(TrailerBytes(4376), 4392), 0);
  EXPECT_EQ(Start(TrailerBytes(4376), 100000), 100000 - 16 - 4376);
  EXPECT_EQ(Start(TrailerBytes(0), 16), 0);
  EXPECT_EQ(Start(TrailerBytes(4377), 4392), -1);        // would start before the file
  EXPECT_EQ(Start(TrailerBytes(0xFFFFFFFF), 4392), -1);  // huge length
  EXPECT_EQ(Start(TrailerBytes(0), 15), -1);             // file shorter than a trailer
  std::string t = TrailerBytes(10);
  t[3] = 'e';  // "EnDDEF"
  EXPECT_EQ(Start(t, 100), -1);
  t = TrailerBytes(10);
  t[9] = 'X';  // marker text continues past "\n"
  EXPECT_EQ(Start(t, 100), -1);
  t = TrailerBytes(10);
  t[10] = 'X';  // only the bytes up to the first zero are compared
  EXPECT_EQ(Start(t, 100), 74);
}

TEST(Embedded, PositionsAStreamAtTheTextOrAtTheEnd) {
  const std::string program = std::string(
      "\x7F"
      "ELF\0\0binary",
      12);
  const std::string text = "[DUT] = \"TG5\"\n";
  std::istringstream with(program + text + TrailerBytes(static_cast<uint32_t>(text.size())));
  ASSERT_TRUE(FindEmbeddedDefinition(with));
  std::string line;
  std::getline(with, line);
  EXPECT_EQ(line, "[DUT] = \"TG5\"");

  std::istringstream without(program);
  EXPECT_FALSE(FindEmbeddedDefinition(without));
  EXPECT_EQ(static_cast<std::size_t>(without.tellg()), program.size());

  std::istringstream hostile(program + TrailerBytes(1000));
  EXPECT_FALSE(FindEmbeddedDefinition(hostile));
  EXPECT_EQ(static_cast<std::size_t>(hostile.tellg()), program.size() + 16);

  std::istringstream tiny("abc");
  EXPECT_FALSE(FindEmbeddedDefinition(tiny));
  EXPECT_EQ(tiny.tellg(), 3);
}

TEST(Embedded, FindsTheSpanThroughADescriptor) {
  char name[] = "/tmp/lumo_embedded_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  const std::string bytes = "program" + std::string("abc\n") + TrailerBytes(4);
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  uint64_t size = 0;
  auto span = FindEmbeddedDefinition(fd, size);
  ASSERT_TRUE(span.has_value());
  EXPECT_EQ(size, bytes.size());
  EXPECT_EQ(span->textStart, 7u);
  EXPECT_EQ(span->textLength, 4u);
  ASSERT_EQ(ftruncate(fd, 10), 0);
  EXPECT_FALSE(FindEmbeddedDefinition(fd, size).has_value());
  EXPECT_EQ(size, 10u);
  close(fd);
  unlink(name);
  EXPECT_FALSE(FindEmbeddedDefinition(-1, size).has_value());
}

}  // namespace
}  // namespace lumo

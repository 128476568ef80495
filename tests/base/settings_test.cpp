#include "base/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::TempDir;

Settings ReadFrom(const std::string& path) {
  Settings s = DefaultSettings();
  ReadSettingsFile(path, &s);
  return s;
}

// The flags in file order: Echo Beep PropertiesOnStart AutoReadConf AutoCopyConf EditAllRays
// EnableToolTips QueryLeaveMode.
std::string Flags(const Settings& s) {
  std::string flags;
  for (uint8_t f : {s.echo, s.beep, s.propertiesOnStart, s.autoReadConf, s.autoCopyConf,
                    s.editAllRays, s.enableToolTips, s.queryLeaveMode}) {
    flags += static_cast<char>('0' + f);
  }
  return flags;
}

TEST(Settings, NoFileGivesTheDefaults) {
  TempDir dir;
  Settings s = ReadFrom(dir.path() + "absent.ini");
  EXPECT_STREQ(s.defaultPortName, "COM1:");
  EXPECT_STREQ(s.defaultKonfFile, "");
  EXPECT_STREQ(s.language, "NEUTRAL");
  EXPECT_EQ(Flags(s), "10111110");
  EXPECT_EQ(s.batch, 0u);
}

void CheckLanguage(const char* in, const char* expected) {
  char text[64];
  std::snprintf(text, sizeof text, "%s", in);
  NormalizeLanguageName(text);
  EXPECT_STREQ(text, expected) << in;
}

TEST(Settings, LanguageNamesInUpperCase) {
  CheckLanguage("Deutsch", "GERMAN");
  CheckLanguage("english", "ENGLISH");
  CheckLanguage("deutschland", "DEUTSCHLAND");
  CheckLanguage("\xE0\xFE\xF7\xFF\x9A\x9C\x9E\xDF\xB5", "\xC0\xDE\xF7\x9F\x8A\x8C\x8E\xDF\xB5");
}

TEST(Settings, FlagsTextsAndLimits) {
  TempDir dir;
  std::string path = dir.Write(
      "s.ini", "[CommSettings]\nDefaultPortName=" + std::string(300, 'p') +
                   "\nEcho=5\nBeep=abc\n[Misc]\nDefaultKonfFile=" + std::string(300, 'f') +
                   "\nPropertiesOnStart=0\nAutoReadConf=\n"
                   "QueryLeaveMode=-2\nLanguage= deutsch \n");
  Settings s = ReadFrom(path);
  EXPECT_EQ(std::string(s.defaultPortName), std::string(kPortNameChars, 'p'));
  EXPECT_EQ(std::string(s.defaultKonfFile), std::string(kKonfFileChars, 'f'));
  EXPECT_EQ(Flags(s), "10011111");  // 5 on, abc off, empty AutoReadConf: its default
  EXPECT_STREQ(s.language, "GERMAN");
  std::string longLanguage = dir.Write("l.ini", "[Misc]\nLanguage=" + std::string(70, 'x'));
  EXPECT_EQ(std::string(ReadFrom(longLanguage).language), std::string(kLanguageChars, 'X'));
}

TEST(Settings, SaveWritesEveryKeyInOrderAndKeepsTheRest) {
  TempDir dir;
  Settings s = DefaultSettings();
  s.defaultPortName[0] = '\0';         // "offline"
  s.batch = kBatchOn | kBatchOffered;  // never written
  std::string path = dir.Write("s.ini", "; mine\n[Misc]\nLanguage=english\nExtra=keep\n");
  ASSERT_TRUE(WriteSettingsFile(path, s));
  EXPECT_EQ(
      lumo::test::ReadFile(path),
      "; mine\n[Misc]\nLanguage=NEUTRAL\nExtra=keep\nDefaultKonfFile=\nAutoReadConf=1\n"
      "PropertiesOnStart=1\nAutoCopyConf=1\nEditAllRays=1\nEnableToolTips=1\n"
      "QueryLeaveMode=0\nTraceFile=\nVerifyReads=0\n\n[CommSettings]\nDefaultPortName=\nEcho=1\n"
      "Beep=0\n");
  EXPECT_STREQ(ReadFrom(path).defaultPortName, "");  // empty stays empty, not the default
  EXPECT_FALSE(WriteSettingsFile(dir.path() + "no/such/folder.ini", s));
}

TEST(Settings, CurrentRecordKeepsBatchBitsAcrossLoadsAndThreads) {
  TempDir dir;
  std::string path = dir.Write("s.ini", "[CommSettings]\nEcho=5\n");
  SetCurrentSettings(DefaultSettings());
  SetBatchState(kBatchOffered, true);
  LoadSettings(path);
  EXPECT_EQ(CurrentSettings().batch, kBatchOffered);
  ASSERT_TRUE(SaveSettings(path));
  EXPECT_NE(lumo::test::ReadFile(path).find("Echo=1\n"), std::string::npos);  // "5" written as 1

  std::thread writer([] {
    for (int i = 0; i < 2000; ++i) SetBatchState(kBatchOn, (i & 1) != 0);
  });
  for (int i = 0; i < 2000; ++i) EXPECT_STREQ(CurrentSettings().defaultPortName, "COM1:");
  writer.join();
  EXPECT_EQ(CurrentSettings().batch, kBatchOffered | kBatchOn);
}

}  // namespace
}  // namespace lumo

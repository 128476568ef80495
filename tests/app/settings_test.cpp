#include "app/settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "tests/temp_folder.h"

namespace lumo {
namespace {

using test::TempFolder;

Settings ReadFrom(const std::string& path) {
  Settings s = DefaultSettings();
  ReadSettingsFile(path, &s);
  return s;
}

TEST(Settings, NoFileGivesTheDefaults) {
  TempFolder dir;
  Settings s = ReadFrom(dir.Path() + "absent.ini");
  EXPECT_STREQ(s.defaultPortName, "COM1:");
  EXPECT_STREQ(s.defaultKonfFile, "");
  EXPECT_STREQ(s.language, "NEUTRAL");
  EXPECT_EQ(s.echo, 1);
  EXPECT_EQ(s.beep, 0);
  EXPECT_EQ(s.propertiesOnStart, 1);
  EXPECT_EQ(s.autoReadConf, 1);
  EXPECT_EQ(s.autoCopyConf, 1);
  EXPECT_EQ(s.editAllRays, 1);
  EXPECT_EQ(s.enableToolTips, 1);
  EXPECT_EQ(s.queryLeaveMode, 0);
  EXPECT_EQ(s.batch, 0u);
}

void CheckUpper(const char* in, const char* expected) {
  char text[64];
  std::snprintf(text, sizeof text, "%s", in);
  NormalizeLanguageName(text);
  EXPECT_STREQ(text, expected) << in;
}

TEST(Settings, LanguageNamesInUpperCase) {
  CheckUpper("deutsch", "GERMAN");
  CheckUpper("Deutsch", "GERMAN");
  CheckUpper("english", "ENGLISH");
  CheckUpper("deutschland", "DEUTSCHLAND");
  CheckUpper(
      "fran\xE7"
      "ais",
      "FRAN\xC7"
      "AIS");
  CheckUpper("\xE0\xFE\xF7\xFF\x9A\x9C\x9E\xDF\xB5", "\xC0\xDE\xF7\x9F\x8A\x8C\x8E\xDF\xB5");
}

TEST(Settings, FlagsTextsAndLimits) {
  TempFolder dir;
  std::string path = dir.Write(
      "s.ini", "[CommSettings]\nDefaultPortName=" + std::string(60, 'p') +
                   "\nEcho=5\nBeep=abc\n[Misc]\nDefaultKonfFile=" + std::string(300, 'f') +
                   "\nPropertiesOnStart=0\n"
                   "AutoReadConf=\nQueryLeaveMode=-2\nLanguage= deutsch \n");
  Settings s = ReadFrom(path);
  EXPECT_EQ(std::string(s.defaultPortName), std::string(kPortNameChars, 'p'));
  EXPECT_EQ(std::string(s.defaultKonfFile), std::string(kKonfFileChars, 'f'));
  EXPECT_EQ(s.echo, 1);
  EXPECT_EQ(s.beep, 0);
  EXPECT_EQ(s.propertiesOnStart, 0);
  EXPECT_EQ(s.autoReadConf, 1);  // empty: the default
  EXPECT_EQ(s.queryLeaveMode, 1);
  EXPECT_STREQ(s.language, "GERMAN");

  std::string longLanguage = dir.Write("l.ini", "[Misc]\nLanguage=" + std::string(70, 'x'));
  EXPECT_EQ(std::string(ReadFrom(longLanguage).language), std::string(kLanguageChars, 'X'));
}

TEST(Settings, SaveWritesEveryKeyInOrderAndKeepsTheRest) {
  TempFolder dir;
  Settings s = DefaultSettings();
  s.defaultPortName[0] = '\0';  // "offline"
  s.echo = 1;
  s.batch = kBatchOn | kBatchOffered;  // never written
  std::string path = dir.Write("s.ini", "; mine\n[Misc]\nLanguage=english\nExtra=keep\n");
  ASSERT_TRUE(WriteSettingsFile(path, s));
  EXPECT_EQ(TempFolder::Read(path),
            "; mine\n[Misc]\nLanguage=NEUTRAL\nExtra=keep\nDefaultKonfFile=\nAutoReadConf=1\n"
            "PropertiesOnStart=1\nAutoCopyConf=1\nEditAllRays=1\nEnableToolTips=1\n"
            "QueryLeaveMode=0\n\n[CommSettings]\nDefaultPortName=\nEcho=1\nBeep=0\n");
  Settings back = ReadFrom(path);
  EXPECT_STREQ(back.defaultPortName, "");  // empty stays empty, not the default
  EXPECT_FALSE(WriteSettingsFile(dir.Path() + "no/such/folder.ini", s));
}

TEST(Settings, CurrentRecordKeepsBatchBitsAcrossLoads) {
  TempFolder dir;
  std::string path = dir.Write("s.ini", "[CommSettings]\nEcho=5\n");
  SetCurrentSettings(DefaultSettings());
  SetBatchState(kBatchOffered, true);
  LoadSettings(path);
  EXPECT_EQ(CurrentSettings().batch, kBatchOffered);
  EXPECT_EQ(CurrentSettings().echo, 1);
  ASSERT_TRUE(SaveSettings(path));
  EXPECT_NE(TempFolder::Read(path).find("Echo=1\n"), std::string::npos);  // "5" written as 1
  SetBatchState(kBatchOffered, false);
  EXPECT_EQ(CurrentSettings().batch, 0u);
}

TEST(Settings, CurrentRecordIsSafeFromTwoThreads) {
  SetCurrentSettings(DefaultSettings());
  std::thread writer([] {
    for (int i = 0; i < 2000; ++i) SetBatchState(kBatchOn, (i & 1) != 0);
  });
  for (int i = 0; i < 2000; ++i) {
    Settings s = CurrentSettings();
    EXPECT_STREQ(s.defaultPortName, "COM1:");
  }
  writer.join();
}

}  // namespace
}  // namespace lumo

#include "definitions/loader.h"

#include "base/program_paths.h"
#include "base/translations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "../support/temp_dir.h"
#include "definitions/definition.h"
#include "definitions/setup.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

std::string Definition(const std::string& shownAs) {
  return "[DUT_DisplayAs] = \"" + shownAs + "\"\nGain = 2:3\n";
}

std::string Embedded(const std::string& text) {
  EmbeddedTrailer t = MakeTrailer(static_cast<uint32_t>(text.size()));
  return text + std::string(reinterpret_cast<const char*>(t.data()), t.size());
}

class LoaderTest : public ::testing::Test {
 protected:
  LoaderTest() : scoped_(&recorder) {
    SelectLanguage(kLangEnglish);
    places.startDirectory = start.path();
    places.programDirectory = program.path();
    places.programFile = program / "lumokonf";
    WriteFile(start / kDefinitionFileName, Definition("start"));
    WriteFile(places.programFile,
              "\x7F"
              "ELF program bytes " +
                  Embedded(Definition("embedded")));
    WriteFile(program / kDefinitionFileName, Definition("program"));
  }

  // The display name of what was loaded, "none" when nothing was, and where it came from.
  std::string Load(DefinitionSource expected) {
    DefinitionSource source = DefinitionSource::StartDirectory;
    std::unique_ptr<ParDef> def = LoadDefinitionFrom(places, &source);
    if (!def) {
      EXPECT_EQ(source, DefinitionSource::None);
      return "none";
    }
    EXPECT_EQ(source, expected);
    return DisplayName(def.get(), 1);
  }

  MessageRecorder recorder;
  ScopedMessageSink scoped_;
  TempDir start, program;
  DefinitionPlaces places;
};

TEST_F(LoaderTest, ThreePlacesInOrder) {
  EXPECT_EQ(Load(DefinitionSource::StartDirectory), "start");
  ASSERT_EQ(std::remove((start / kDefinitionFileName).c_str()), 0);
  EXPECT_EQ(Load(DefinitionSource::Embedded), "embedded");
  WriteFile(places.programFile, "a program without a definition, long enough for a trailer");
  EXPECT_EQ(Load(DefinitionSource::ProgramDirectory), "program");
  EXPECT_TRUE(recorder.Boxes().empty());
}

// The compiled-in definition serves last: a stripped program (its appended text gone) without a
// definition file still has one, and a file in either directory still comes first.
TEST_F(LoaderTest, TheCompiledInDefinitionServesWhenNoPlaceHasOne) {
  const std::string builtIn = Definition("built in");
  places.builtInText = builtIn;
  EXPECT_EQ(Load(DefinitionSource::StartDirectory), "start");
  ASSERT_EQ(std::remove((start / kDefinitionFileName).c_str()), 0);
  WriteFile(places.programFile,
            "\x7F"
            "ELF program bytes, stripped");
  EXPECT_EQ(Load(DefinitionSource::ProgramDirectory), "program");
  ASSERT_EQ(std::remove((program / kDefinitionFileName).c_str()), 0);
  EXPECT_EQ(Load(DefinitionSource::BuiltIn), "built in");
  EXPECT_TRUE(recorder.Boxes().empty());
  // The program's own is the reference definition, whole.
  std::ifstream in(LUMO_EXAMPLES_DIR "/TG5.txt", std::ios::binary);
  const std::string reference((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  EXPECT_EQ(std::string(CurrentDefinitionPlaces().builtInText), reference);
  EXPECT_NE(ParseDefinitionText(CurrentDefinitionPlaces().builtInText), nullptr);
}

TEST_F(LoaderTest, ANameDifferingInCaseServesAndItsMessagesNameIt) {
  std::remove((start / kDefinitionFileName).c_str());
  WriteFile(start / "pardef.txt", Definition("lower"));
  EXPECT_EQ(Load(DefinitionSource::StartDirectory), "lower");
  EXPECT_TRUE(recorder.Boxes().empty());
  WriteFile(start / kDefinitionFileName, Definition("exact"));  // the exact name first
  EXPECT_EQ(Load(DefinitionSource::StartDirectory), "exact");
  std::remove((start / kDefinitionFileName).c_str());
  WriteFile(start / "pardef.txt", "Gain = 9:3\n");
  EXPECT_EQ(Load(DefinitionSource::None), "none");
  ASSERT_EQ(recorder.Boxes().size(), 1u);
  const std::string text = recorder.Boxes()[0].text;
  EXPECT_EQ(text.substr(text.rfind('\n') + 1), "File: " + start / "pardef.txt");
  // In the program directory too.
  std::remove((start / "pardef.txt").c_str());
  std::remove((program / kDefinitionFileName).c_str());
  WriteFile(places.programFile, "a program without a definition, long enough for a trailer");
  WriteFile(program / "PARDEF.TXT", Definition("upper"));
  EXPECT_EQ(Load(DefinitionSource::ProgramDirectory), "upper");
}

TEST_F(LoaderTest, NothingFoundSaysSo) {
  std::remove((start / kDefinitionFileName).c_str());
  std::remove((program / kDefinitionFileName).c_str());
  WriteFile(places.programFile, "tiny");
  EXPECT_EQ(Load(DefinitionSource::None), "none");
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].kind, MsgKind::Error);
  EXPECT_EQ(boxes[0].text, "Parameter definition file contains no valid definitions!");
  EXPECT_EQ(boxes[0].caption, "Reading parameter definition");
}

TEST_F(LoaderTest, ARejectedDefinitionEndsTheSearch) {
  WriteFile(start / kDefinitionFileName, "Gain = 9:3\n");  // page above 7
  EXPECT_EQ(Load(DefinitionSource::None), "none");
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);  // the parser's message only
  EXPECT_EQ(boxes[0].caption, "Reading parameter definition");
  EXPECT_NE(boxes[0].text, "Parameter definition file contains no valid definitions!");
}

TEST_F(LoaderTest, HostileOrOddPlacesAreSkipped) {
  // A folder named like the definition file is no definition file.
  std::remove((start / kDefinitionFileName).c_str());
  ASSERT_EQ(mkdir((start / kDefinitionFileName).c_str(), 0700), 0);
  // A trailer whose length reaches before the file's start.
  EmbeddedTrailer t = MakeTrailer(0x7FFFFFFF);
  WriteFile(places.programFile, "xx" + std::string(reinterpret_cast<const char*>(t.data()), 16));
  EXPECT_EQ(Load(DefinitionSource::ProgramDirectory), "program");
  // An unreadable program file path.
  places.programFile = program / "missing";
  EXPECT_EQ(Load(DefinitionSource::ProgramDirectory), "program");
  EXPECT_TRUE(recorder.Boxes().empty());
}

TEST_F(LoaderTest, AFailingReadIsReportedNotThrown) {
  std::ifstream folder(start.path(), std::ios::binary);  // opens, but every read fails
  EXPECT_EQ(ParseDefinitionFile(folder), nullptr);
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Unable to open parameter definition file!");
}

// A program file replaced while the program runs (an update): /proc/self/exe then names
// "<path> (deleted)", and the search must still look at <path>, where the new program with its
// embedded definition now is. The test runs a copy of this executable that replaces its own file.
TEST(LoaderPlaces, AProgramReplacedWhileItRunsIsStillLookedAtByItsPath) {
  const std::string self = ProgramFilePath();
  if (std::getenv("LUMO_REPLACE_SELF") != nullptr) {
    ASSERT_EQ(std::remove(self.c_str()), 0);
    WriteFile(self, "the new program");
    DefinitionPlaces places = CurrentDefinitionPlaces();
    EXPECT_EQ(places.programFile, self);
    EXPECT_EQ(places.programDirectory + "copy", self);
    return;
  }
  TempDir dir;
  const std::string copy = dir.path() + "copy";
  std::filesystem::copy_file(self, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  const std::string command = "LUMO_REPLACE_SELF=1 '" + copy +
                              "' --gtest_filter=LoaderPlaces.* >'" + dir.path() + "out' 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(dir.path() + "out");
}

}  // namespace
}  // namespace lumo

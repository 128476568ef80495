#include "files/new_configurator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "../support/temp_dir.h"
#include "base/translations.h"
#include "definitions/definition.h"
#include "definitions/embedded.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

using namespace test;

// ---- Filtered text ----

void CheckFilter(const std::string& in, const std::string& out) {
  EXPECT_EQ(FilterDefinitionLines(in), out) << "input: " << in;
}

TEST(FilterDefinitionLines, CutsCommentsAndDropsEmptyLines) {
  CheckFilter("Gain = 2:3   # the gain\n", "Gain = 2:3   \n");
  CheckFilter("# only a comment\nA = 1:1\n", "A = 1:1\n");
  CheckFilter("T = \"a#b\"\n", "T = \"a#b\"\n");                 // a "#" inside quotes is text
  CheckFilter("T = \"a#b\" # c\n", "T = \"a#b\" \n");            // the first one outside cuts
  CheckFilter("\"x\"\"#\" = 1 # c\n", "\"x\"\"#\" = 1 \n");      // quotes toggle one by one
  CheckFilter("T = \"a#b\nU = 1 # c\n", "T = \"a#b\nU = 1 \n");  // per line, as the reader
  CheckFilter("\n\n\nA = 1\n\n", "A = 1\n");
  CheckFilter("x\n", "x\n");              // two characters are kept
  CheckFilter("A = 1\nB", "A = 1\n");     // a last line of one character is left out
  CheckFilter("A = 1\nBC", "A = 1\nBC");  // a last line without line end is kept
  CheckFilter("A = 1\r\nB = 2\r\n", "A = 1\nB = 2\n");
  CheckFilter("A = 1\r\r\n", "A = 1\r\n");
  CheckFilter(std::string("A = 1\0junk\nB = 2\n", 17), "A = 1\nB = 2\n");
  CheckFilter("", "");
}

TEST(FilterDefinitionLines, LongLinesAreHandledWhole) {
  std::string line(1500, 'a');
  CheckFilter(line + "\n", line + "\n");
  // A comment far into a long line cuts that line there, and only there.
  CheckFilter(std::string(1023, 'b') + "c#d\n", std::string(1023, 'b') + "c\n");
  // Lines of exactly 1023 and 2046 characters keep their line ends: nothing merges.
  CheckFilter(std::string(1023, 'e') + "\nF = 1\n", std::string(1023, 'e') + "\nF = 1\n");
  CheckFilter(std::string(2046, 'g') + "\nH\n", std::string(2046, 'g') + "\nH\n");
}

// A definition without comments or overlong lines passes unchanged.
TEST(FilterDefinitionLines, ReferenceDefinitionPassesUnchanged) {
  const std::string text = ReadFile(LUMO_EXAMPLES_DIR "/TG5.txt");
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(FilterDefinitionLines(text), text);
}

// ---- Writing ----

class NewConfiguratorTest : public ::testing::Test {
 protected:
  NewConfiguratorTest() : scoped_(&recorder) {
    SelectLanguage(kLangEnglish);
    source = dir / "source-program";
    WriteFile(source, std::string("\x7F"
                                  "ELF\0\1\2 code",
                                  12));
    chmod(source.c_str(), 0751);
  }
  ~NewConfiguratorTest() override { SetNewConfiguratorSaveHook(nullptr); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : recorder.Boxes()) texts.push_back(box.text);
    return texts;
  }

  // The display name of the definition the program file carries ("none": none readable).
  static std::string EmbeddedName(const std::string& program) {
    TempDir empty;
    DefinitionPlaces places{empty.path(), program, empty.path(), {}};
    MessageRecorder quiet;
    ScopedMessageSink scoped(&quiet);
    auto def = LoadDefinitionFrom(places);
    return def ? DisplayName(def.get(), 1) : "none";
  }

  // Entries in the test folder.
  long FileCount() const {
    std::filesystem::directory_iterator it(dir.path());
    return std::distance(begin(it), end(it));
  }

  MessageRecorder recorder;
  ScopedMessageSink scoped_;
  TempDir dir;
  std::string source;
};

std::string Def(const std::string& shownAs, const std::string& padding = "") {
  return "# comment line\n[DUT_DisplayAs] = \"" + shownAs + "\"  # shown\n" + padding +
         "Gain = 2:3\n";
}

TEST_F(NewConfiguratorTest, WritesTheProgramWithTheFilteredTextAndTrailer) {
  WriteFile(dir / "def.txt", Def("Alpha"));
  const std::string target = dir / "new-program";
  ASSERT_TRUE(WriteNewConfiguratorFrom(source, target, dir / "def.txt"));
  EXPECT_TRUE(recorder.Boxes().empty());
  std::string bytes = ReadFile(target);
  std::string text = "[DUT_DisplayAs] = \"Alpha\"  \nGain = 2:3\n";
  EmbeddedTrailer t = MakeTrailer(static_cast<uint32_t>(text.size()));
  EXPECT_EQ(bytes, ReadFile(source) + text + std::string(t.begin(), t.end()));
  struct stat st {};
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0751u | S_IWUSR);
  EXPECT_EQ(EmbeddedName(target), "Alpha");
  EXPECT_EQ(FileCount(), 3);  // source, definition, new program: no temporary file left
}

TEST_F(NewConfiguratorTest, ReplacesTheEmbeddedDefinitionOfEitherLength) {
  const std::string padding(200, ' ');
  WriteFile(dir / "long.txt", Def("Long", "Pad = 1:1" + padding + "\n"));
  WriteFile(dir / "short.txt", Def("S"));
  const std::string first = dir / "first", second = dir / "second", third = dir / "third";
  ASSERT_TRUE(WriteNewConfiguratorFrom(source, first, dir / "long.txt"));
  ASSERT_TRUE(WriteNewConfiguratorFrom(first, second, dir / "short.txt"));
  EXPECT_EQ(EmbeddedName(second), "S");
  // Not shortened: the old rest stays behind the new trailer.
  EXPECT_EQ(ReadFile(second).size(), ReadFile(first).size());
  ASSERT_TRUE(WriteNewConfiguratorFrom(second, third, dir / "long.txt"));
  EXPECT_EQ(EmbeddedName(third), "Long");
  EXPECT_EQ(ReadFile(third), ReadFile(first));
}

TEST_F(NewConfiguratorTest, ASlightlyShorterTextStillLeavesAReadableTrailer) {
  // Every shortening by 1 to 20 bytes: fewer than 16 old bytes behind the new trailer would tear
  // the trailer at the end of the file apart.
  WriteFile(dir / "base.txt", Def("Name-12345678901234567890"));
  const std::string base = dir / "base";
  ASSERT_TRUE(WriteNewConfiguratorFrom(source, base, dir / "base.txt"));
  for (int cut = 1; cut <= 20; ++cut) {
    std::string name = "Name-12345678901234567890";
    name.resize(name.size() - static_cast<std::size_t>(cut));
    WriteFile(dir / "cut.txt", Def(name));
    ASSERT_TRUE(WriteNewConfiguratorFrom(base, dir / "cut", dir / "cut.txt"));
    EXPECT_EQ(EmbeddedName(dir / "cut"), name) << "shorter by " << cut;
  }
}

TEST_F(NewConfiguratorTest, FailuresLeaveNoFileBehind) {
  WriteFile(dir / "def.txt", Def("A"));
  // Definition file missing.
  EXPECT_FALSE(WriteNewConfiguratorFrom(source, dir / "out", dir / "missing.txt"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out"));
  // Source program missing, target folder missing, empty name.
  EXPECT_FALSE(WriteNewConfiguratorFrom(dir / "nothing", dir / "out", dir / "def.txt"));
  EXPECT_FALSE(WriteNewConfiguratorFrom(source, dir / "no/such/out", dir / "def.txt"));
  EXPECT_FALSE(WriteNewConfiguratorFrom(source, "", dir / "def.txt"));
  EXPECT_EQ(Texts(), (std::vector<std::string>{"Unable to open parameter definition file!",
                                               "Error writing new configurator!",
                                               "Error writing new configurator!\n" + dir.path() +
                                                   "no/such: No such file or directory",
                                               "Error writing new configurator!"}));
  for (const auto& box : recorder.Boxes()) {
    EXPECT_EQ(box.kind, MsgKind::Error);
    EXPECT_EQ(box.caption, "Create new configurator");
    EXPECT_EQ(box.owner, MsgOwner::Desktop);
  }
  EXPECT_EQ(FileCount(), 2);
  // A file already at the name stays as it was when the write fails.
  WriteFile(dir / "keep", "old contents");
  EXPECT_FALSE(WriteNewConfiguratorFrom(source, dir / "keep", dir / "missing.txt"));
  EXPECT_EQ(ReadFile(dir / "keep"), "old contents");
}

// ---- The whole job ----

TEST_F(NewConfiguratorTest, ChecksTheDefinitionFileBeforeAsking) {
  int asked = 0;
  SetNewConfiguratorSaveHook([&](const SaveFileRequest& request) -> std::optional<std::string> {
    ++asked;
    EXPECT_EQ(request.title, "Create new configurator");
    EXPECT_EQ(request.defaultExtension, "exe");
    EXPECT_STREQ(request.filter, "Executable files (*.exe)");
    EXPECT_EQ(request.initialDirectory.back(), '/');
    return std::nullopt;
  });
  auto run = [&](const std::string& name, const std::string& bytes) {
    if (!bytes.empty()) WriteFile(dir / name, bytes);
    recorder.Clear();
    return CreateNewConfigurator(dir / name);
  };
  const std::string def = Def("A");
  std::string fill;
  while (def.size() + fill.size() + 200 < 30719) fill += "#" + std::string(98, 'x') + "\n";
  fill += "#" + std::string(30719 - def.size() - fill.size() - 2, 'y') + "\n";
  ASSERT_EQ((def + fill).size(), 30719u);
  EXPECT_EQ(run("BIG.TXT", def + fill), 0);  // accepted, then cancelled: no message
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(Texts().empty());

  const std::string noAscii = "Only '.txt' <30kB allowed as parameter definition file!";
  EXPECT_EQ(run("toobig.txt", def + fill + "\n"), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{noAscii});
  EXPECT_EQ(run("def.dat", def), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{noAscii});
  EXPECT_EQ(run("def.txt.bak", def), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{noAscii});
  EXPECT_EQ(run("missing.txt", ""), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{"Unable to open parameter definition file!"});
  std::filesystem::create_directory(dir / "folder.txt");
  EXPECT_EQ(run("folder.txt", ""), 0);
  EXPECT_EQ(Texts(), std::vector<std::string>{"Unable to open parameter definition file!"});
  // A definition with an error: the parser's message, no question.
  EXPECT_EQ(run("bad.txt", "Gain = 9:3\n"), 0);
  ASSERT_EQ(recorder.Boxes().size(), 1u);
  EXPECT_EQ(recorder.Boxes()[0].caption, "Reading parameter definition");
  EXPECT_EQ(asked, 1);
  for (const auto& box : recorder.Boxes()) EXPECT_EQ(box.kind, MsgKind::Error);
}

TEST_F(NewConfiguratorTest, WritesTheChosenFileAndSaysSo) {
  const std::string target = dir / "made";
  SetNewConfiguratorSaveHook(
      [&](const SaveFileRequest&) -> std::optional<std::string> { return target; });
  WriteFile(dir / "def.txt", Def("Made"));
  EXPECT_EQ(CreateNewConfigurator(dir / "def.txt"), 1);
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "New configurator created!");
  EXPECT_EQ(boxes[0].caption, "Create new configurator");
  EXPECT_EQ(boxes[0].kind, MsgKind::Plain);
  EXPECT_EQ(EmbeddedName(target), "Made");
  EXPECT_EQ(access(target.c_str(), X_OK), 0);

  // Without a hook the question counts as cancelled.
  SetNewConfiguratorSaveHook(nullptr);
  recorder.Clear();
  EXPECT_EQ(CreateNewConfigurator(dir / "def.txt"), 0);
  EXPECT_TRUE(recorder.Boxes().empty());
}

// ---- Only a definition that parses as embedded is written ----

TEST_F(NewConfiguratorTest, QuotedHashesSurviveAndTheNewProgramStarts) {
  const std::string target = dir / "made";
  SetNewConfiguratorSaveHook(
      [&](const SaveFileRequest&) -> std::optional<std::string> { return target; });
  WriteFile(dir / "def.txt",
            "$(x) := GERMAN: \"Kanal #1\", ENGLISH: \"Channel #1\"  # the channel\n"
            "[DUT_DisplayAs] = \"Box #7\"\n$(x) = 2:3\n");
  EXPECT_EQ(CreateNewConfigurator(dir / "def.txt"), 1);
  EXPECT_EQ(Texts(), std::vector<std::string>{"New configurator created!"});
  EXPECT_EQ(EmbeddedName(target), "Box #7");
}

TEST_F(NewConfiguratorTest, ATextThatWouldNotParseEmbeddedIsNeverWritten) {
  // The last line ends with "," at the end of the file: the file alone parses (the pending line
  // is dropped), but embedded the marker's empty line completes it and the new program would
  // stop at its start. Nothing is asked, nothing written, the parser's message is shown.
  int asked = 0;
  const std::string target = dir / "made";
  SetNewConfiguratorSaveHook([&](const SaveFileRequest&) -> std::optional<std::string> {
    ++asked;
    return target;
  });
  WriteFile(dir / "def.txt", "[DUT_DisplayAs] = \"A\"\nSwap = 1:2, 0:\"a\",");
  EXPECT_EQ(CreateNewConfigurator(dir / "def.txt"), 0);
  EXPECT_EQ(asked, 0);
  EXPECT_FALSE(std::filesystem::exists(target));
  ASSERT_EQ(recorder.Boxes().size(), 1u);
  EXPECT_EQ(recorder.Boxes()[0].caption, "Reading parameter definition");
  recorder.Clear();
  EXPECT_FALSE(WriteNewConfiguratorFrom(source, target, dir / "def.txt"));
  EXPECT_FALSE(std::filesystem::exists(target));
  EXPECT_EQ(recorder.Boxes().size(), 1u);
}

TEST_F(NewConfiguratorTest, WritesThroughALinkAndKeepsTheTargetsMode) {
  WriteFile(dir / "def.txt", Def("Linked"));
  std::filesystem::create_directory(dir / "bin");
  WriteFile(dir / "bin/tool", "old program");
  chmod((dir / "bin/tool").c_str(), 0700);
  std::filesystem::create_symlink("bin/tool", dir / "tool");
  ASSERT_TRUE(WriteNewConfiguratorFrom(source, dir / "tool", dir / "def.txt"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "tool"));
  EXPECT_EQ(EmbeddedName(dir / "bin/tool"), "Linked");
  struct stat st {};
  ASSERT_EQ(stat((dir / "bin/tool").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

}  // namespace
}  // namespace lumo

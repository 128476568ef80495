#include "app/translations.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/message_box.h"

namespace lumo {
namespace {

// Restores language, device variant and the locale variables after each test.
class Translations : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : kLocaleVariables) {
      const char* value = std::getenv(name);
      saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
    }
  }
  void TearDown() override {
    for (size_t i = 0; i < std::size(kLocaleVariables); ++i) {
      if (saved_[i]) {
        setenv(kLocaleVariables[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kLocaleVariables[i]);
      }
    }
    SelectLanguage(kLangGerman);
    SetTranslationVariant(0);
  }
  static void SetLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    const char* values[] = {lcAll, lcMessages, lang};
    for (size_t i = 0; i < std::size(kLocaleVariables); ++i) {
      if (values[i]) {
        setenv(kLocaleVariables[i], values[i], 1);
      } else {
        unsetenv(kLocaleVariables[i]);
      }
    }
  }
  static constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::optional<std::string>> saved_;
};

std::string Msg(const char* id) {
  return MsgText(id);
}

TEST_F(Translations, BuiltInTablesSortWithoutDuplicates) {
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  InitTranslations();
  EXPECT_TRUE(recorder.Boxes().empty());
}

TEST_F(Translations, DuplicatesAreReportedWithTheirKey) {
  // kind, variant, MsgId, dialog, control, texts
  TranslationRow rows[] = {
      {1, 0, "B", 0, 0, {{kLangEnglish, "b1"}}},
      {0, 0, nullptr, 300, 7, {{kLangEnglish, "x"}}},
      {1, 0, "A", 0, 0, {{kLangEnglish, "a"}}},
      {1, 0, "B", 0, 0, {{kLangEnglish, "b2"}}},
      {0, 1, nullptr, 300, 7, {{kLangEnglish, "y"}}},
      {0, 0, nullptr, 300, 7, {{kLangEnglish, "z"}}},
      {1, 1, "A", 0, 0, {{kLangEnglish, "a1"}}},
  };
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  SortAndCheckTable(rows, std::size(rows));
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "Duplicate identifiers in translation table found:\nB");
  EXPECT_EQ(boxes[1].text,
            "Duplicate identifiers in translation table found:\nDlg: 300 ; Control: 7");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.kind, MsgKind::Warning);
    EXPECT_EQ(box.caption, "Multilanguage support");
    EXPECT_EQ(box.owner, MsgOwner::Desktop);
  }
  // Rows keyed by MsgId first, by key, then by variant.
  EXPECT_STREQ(rows[0].msgId, "A");
  EXPECT_EQ(rows[1].variant, 1);
  EXPECT_STREQ(rows[2].msgId, "B");
  EXPECT_EQ(rows[4].keyKind, 0);
  EXPECT_EQ(rows[6].variant, 1);
}

TEST_F(Translations, DefinitionMessagesAreEnglishInEveryLanguage) {
  SelectLanguage(kLangGerman);
  EXPECT_EQ(Msg("PARDEF_OPEN"), "Reading parameter definition");
  EXPECT_EQ(Msg("PARDEF_LINE"), "Line");
  EXPECT_EQ(Msg("ERRPVAR_17"), "Trailing '\"' missing!");
  EXPECT_EQ(Msg("ERRPVAR_LANGIDTOOLONG"), "<NO_TRANSLATION>");
  EXPECT_EQ(Msg("ERRPVAR_TRANSLTOOLONG"), "<NO_TRANSLATION>");
}

}  // namespace
}  // namespace lumo

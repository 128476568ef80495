#include "base/translations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_box.h"

namespace lumo {
namespace {

constexpr const char* kLocaleVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};

void SetOrUnset(const char* name, const char* value) {
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

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
      SetOrUnset(kLocaleVariables[i], saved_[i] ? saved_[i]->c_str() : nullptr);
    }
    SelectLanguage(kLangGerman);
    SetTranslationVariant(0);
  }
  static void SetLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    SetOrUnset("LC_ALL", lcAll);
    SetOrUnset("LC_MESSAGES", lcMessages);
    SetOrUnset("LANG", lang);
  }
  std::vector<std::optional<std::string>> saved_;
};

std::string Msg(const char* id) {
  return MsgText(id);
}

std::string Ctl(int variant, uint16_t dialog, uint32_t control) {
  const char* text = ControlText(variant, 0, dialog, control);
  return text ? text : "(none)";
}

std::string Tip(uint16_t dialog, std::vector<uint32_t> hovered) {
  const char* text = TooltipText(dialog, [&](uint32_t id) {
    return std::find(hovered.begin(), hovered.end(), id) != hovered.end();
  });
  return text ? text : "(none)";
}

// kind, variant, MsgId, dialog, control, texts
TranslationRow MsgRow(const char* id, int32_t variant, const char* en) {
  return {1, variant, id, 0, 0, {{kLangEnglish, en}}};
}
TranslationRow DlgRow(uint16_t dialog, uint32_t control, int32_t variant) {
  return {0, variant, nullptr, dialog, control, {{kLangEnglish, "x"}}};
}

// --- Built-in tables -----------------------------------------------------------------------

// The check of the tables at start reports a duplicate or unsorted row in a message box.
TEST_F(Translations, BuiltInTablesSortWithoutDuplicates) {
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  InitTranslations();
  EXPECT_TRUE(recorder.Boxes().empty());
  EXPECT_GT(MessageRows().count, 0u);
  EXPECT_GT(ControlRows().count, 0u);
  EXPECT_GT(MenuRows().count, 0u);
  EXPECT_GT(TooltipRows().count, 0u);
}

// Every row is keyed as its table says and carries German or English texts only, written as
// Windows-1252 bytes (a UTF-8 sequence slipped into the source shows as 0xC3 plus a follower).
TEST_F(Translations, BuiltInRowsAreWellFormed) {
  auto check = [](TranslationTableView table, uint8_t kind, const char* name) {
    for (size_t i = 0; i < table.count; ++i) {
      const TranslationRow& row = table.rows[i];
      SCOPED_TRACE(std::string(name) + " row " + std::to_string(i));
      EXPECT_EQ(row.keyKind, kind);
      EXPECT_EQ(row.msgId != nullptr, kind == 1);
      ASSERT_NE(row.tr[0].lang, 0);
      for (const Translation& tr : row.tr) {
        if (tr.lang == 0) break;
        EXPECT_TRUE(tr.lang == kLangGerman || tr.lang == kLangEnglish);
        ASSERT_NE(tr.text, nullptr);
        for (const char* p = tr.text; *p; ++p) {
          auto byte = static_cast<unsigned char>(*p);
          auto next = static_cast<unsigned char>(p[1]);
          EXPECT_FALSE((byte == 0xC3 || byte == 0xC2) && next >= 0x80 && next <= 0xBF) << tr.text;
        }
      }
    }
  };
  check(MessageRows(), 1, "message");
  check(ControlRows(), 0, "control");
  check(MenuRows(), 0, "menu");
  check(TooltipRows(), 0, "tooltip");
}

// --- Row order and duplicate report -----------------------------------------------------------

TEST_F(Translations, DuplicatesAreReportedWithTheirKeyAndTheCheckGoesOn) {
  TranslationRow rows[] = {
      MsgRow("B", 0, "b1"), DlgRow(300, 7, 0), MsgRow("A", 0, "a"),  MsgRow("B", 0, "b2"),
      DlgRow(300, 7, 1),    DlgRow(300, 7, 0), MsgRow("A", 0, "a2"),
  };
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  SortAndCheckTable(rows, std::size(rows));
  auto boxes = recorder.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].text, "Duplicate identifiers in translation table found:\nA");
  EXPECT_EQ(boxes[1].text, "Duplicate identifiers in translation table found:\nB");
  EXPECT_EQ(boxes[2].text,
            "Duplicate identifiers in translation table found:\nDlg: 300 ; Control: 7");
  for (const auto& box : boxes) {
    EXPECT_EQ(box.kind, MsgKind::Warning);
    EXPECT_EQ(box.caption, "Multilanguage support");
    EXPECT_EQ(box.owner, MsgOwner::Desktop);
  }
}

TEST_F(Translations, RowOrder) {
  // Kind 1 first; MsgIds byte-wise unsigned ("\xE4" after "z"); dialog x 65536 + control as a
  // signed number (dialog 0x8000 before dialog 1); equal keys by signed variant.
  TranslationRow rows[] = {
      DlgRow(1, 5, 0),    DlgRow(0x8000, 1, 0), MsgRow("z", 0, ""), MsgRow("\xE4", 0, ""),
      MsgRow("Z", 0, ""), DlgRow(1, 2, 2),      DlgRow(1, 2, -1),   MsgRow("z", -1, ""),
  };
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  SortAndCheckTable(rows, std::size(rows));
  EXPECT_TRUE(recorder.Boxes().empty());
  auto key = [](const TranslationRow& r) {
    return r.keyKind == 1 ? std::string(r.msgId) + "/" + std::to_string(r.variant)
                          : std::to_string(r.dialogId) + ":" + std::to_string(r.controlId) + "/" +
                                std::to_string(r.variant);
  };
  std::vector<std::string> order;
  for (const auto& row : rows) order.push_back(key(row));
  EXPECT_EQ(order, (std::vector<std::string>{"Z/0", "z/-1", "z/0", "\xE4/0", "32768:1/0", "1:2/-1",
                                             "1:2/2", "1:5/0"}));
}

TEST_F(Translations, SortAndCheckAcceptsAnEmptyTable) {
  MessageRecorder recorder;
  ScopedMessageSink sink(&recorder);
  SortAndCheckTable(nullptr, 0);
  TranslationRow one[] = {MsgRow("A", 0, "a")};
  SortAndCheckTable(one, 1);
  EXPECT_TRUE(recorder.Boxes().empty());
  EXPECT_EQ(TableText(nullptr, 0, 1, 0, "A"), nullptr);
}

// --- Lookup -----------------------------------------------------------------------------------

TEST_F(Translations, TableLookupPrefersTheDeviceVariantThenTheFallback) {
  TranslationRow rows[] = {MsgRow("A", 0, "all"), MsgRow("A", 2, "jovix"), MsgRow("B", 1, "tg5")};
  SortAndCheckTable(rows, std::size(rows));
  auto text = [&](int variant, const char* id) {
    const char* t = TableText(rows, std::size(rows), variant, 0, id);
    return std::string(t ? t : "(none)");
  };
  EXPECT_EQ(text(2, "A"), "jovix");
  EXPECT_EQ(text(1, "A"), "all");
  EXPECT_EQ(text(-1, "A"), "all");
  EXPECT_EQ(text(1, "B"), "tg5");
  EXPECT_EQ(text(2, "B"), "(none)");
  EXPECT_EQ(text(1, "a"), "(none)");  // case matters
  EXPECT_EQ(text(1, nullptr), "(none)");
}

TEST_F(Translations, ReadAndWriteButtonsFollowTheDeviceType) {
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(Ctl(1, 100, 122), "read RZ");
  EXPECT_EQ(Ctl(2, 100, 122), "read Jovix");
  EXPECT_EQ(Ctl(1, 100, 125), "<- write RZ");
  EXPECT_EQ(Ctl(2, 100, 125), "<- write Jovix");
  EXPECT_EQ(Ctl(-1, 100, 122), "(none)");  // unknown device: no variant-0 row
  EXPECT_EQ(Ctl(2, 100, 123), "Copy &L ->");
  SelectLanguage(kLangGerman);
  EXPECT_EQ(Ctl(1, 100, 122), "RZ lesen");
  EXPECT_EQ(Ctl(2, 100, 125), "<- Jovix schreibe&n");
  EXPECT_EQ(Ctl(1, 700, 703),
            "R\xFC"
            "ckmeldewerte der Strahlen");
  EXPECT_EQ(Ctl(2, 700, 703), "(none)");
}

TEST_F(Translations, MissingRowsGiveTheMarkerOrNothing) {
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(Msg("ERRPVAR_LANGIDTOOLONG"), "<NO_TRANSLATION>");
  EXPECT_EQ(Msg("ERRPVAR_TRANSLTOOLONG"), "<NO_TRANSLATION>");
  EXPECT_EQ(Msg("NO_SUCH_ID"), "<NO_TRANSLATION>");
  EXPECT_EQ(Msg(""), "<NO_TRANSLATION>");
  EXPECT_STREQ(MsgText(nullptr), "<NO_TRANSLATION>");
  EXPECT_STREQ(MenuText(999), "<NO_TRANSLATION>");
  SetTranslationVariant(1);
  EXPECT_STREQ(MenuText(106), "<NO_TRANSLATION>");  // self calibration: joystick only
  EXPECT_STREQ(MenuText(107), "&Signal test");
  SetTranslationVariant(2);
  EXPECT_STREQ(MenuText(106), "Self calibration (&c)");
  EXPECT_STREQ(MenuText(107), "<NO_TRANSLATION>");
  EXPECT_STREQ(MenuText(200), "File");
  // Controls without a row keep their template text; the main window has no title row.
  EXPECT_EQ(Ctl(1, 100, 0), "(none)");
  EXPECT_EQ(Ctl(1, 100, 131), "(none)");
  EXPECT_EQ(Ctl(1, 400, 0), "");
  TranslationRow empty = {1, 0, "E", 0, 0, {}};
  EXPECT_STREQ(ChooseText(&empty), "<NO_TRANSLATION>");
  EXPECT_STREQ(ChooseText(nullptr), "<NO_TRANSLATION>");
}

// --- Choice of the text within a row ---------------------------------------------------------

TEST_F(Translations, TextChoiceByLanguage) {
  auto shown = [](LangId language, const char* id) {
    SelectLanguage(language);
    return Msg(id);
  };
  const char* deStick =
      "Kn\xFCppel zu den Anschl\xE4gen und\nlangsam zur\xFC"
      "ck bewegen...";
  EXPECT_EQ(shown(kLangEnglish, "ST_QMOVESTICK"),
            "Move the joystick to its\nlimits and release slowly...");
  EXPECT_EQ(shown(kLangGerman, "ST_QMOVESTICK"), deStick);
  EXPECT_EQ(shown(12, "ST_QMOVESTICK"), deStick);  // French: the German text stored first
  EXPECT_EQ(shown(12, "FLASH_DUTOFFONPROMPT"),
            "DUT aus- und einschalten, dann 'Ok' dr\xFC"
            "cken...");
  EXPECT_EQ(shown(12, "QUERYENDSESSION"), "Really exit?");
  EXPECT_EQ(shown(kLangGerman, "QUERYENDSESSION"), "Wollen Sie die Anwendung wirklich beenden?");
  // Rows with one text show it in every language.
  EXPECT_EQ(shown(kLangGerman, "PARCOLNAME"), "Parameter");
  EXPECT_EQ(shown(kLangGerman, "FLASH_DLGTITLE"), "Firmware Update");
  EXPECT_EQ(shown(kLangEnglish, "ERRST_CYCLIC"), "Zirkul\xE4rer Bezug!");
  EXPECT_EQ(shown(kLangEnglish, "ABOUTCONTACT"), shown(kLangGerman, "ABOUTCONTACT"));
  EXPECT_EQ(shown(kLangGerman, "ERRPVAR_17"), "Trailing '\"' missing!");
}

TEST_F(Translations, TextChoiceWalksAtMostFourEntries) {
  // kind, variant, MsgId, dialog, control, texts
  TranslationRow full = {1, 0, "F", 0, 0, {{12, "fr"}, {7, "de"}, {9, "en"}, {16, "it"}}};
  TranslationRow stop = {1, 0, "S", 0, 0, {{7, "de"}, {0, "hidden"}, {9, "en"}}};
  SelectLanguage(16);
  EXPECT_STREQ(ChooseText(&full), "it");
  SelectLanguage(9);
  EXPECT_STREQ(ChooseText(&full), "en");
  EXPECT_STREQ(ChooseText(&stop), "de");  // an entry with language 0 ends the list
  SelectLanguage(25);
  EXPECT_STREQ(ChooseText(&full), "fr");
}

// --- Language names and the system language --------------------------------------------------

TEST_F(Translations, LanguageIdFromName) {
  auto id = [](const char* name) { return LanguageIdFromName(name); };
  EXPECT_EQ(id("GERMAN"), 7);
  EXPECT_EQ(id("german"), 7);
  EXPECT_EQ(id("English"), 9);
  EXPECT_EQ(id("sLoVeNiAn"), 36);
  EXPECT_EQ(id("TURKISH"), 31);
  EXPECT_EQ(id("FRENCH"), 12);
  EXPECT_EQ(id("NEUTRAL"), 0);
  EXPECT_EQ(id("GERMANY"), 0);
  EXPECT_EQ(id("GERMA"), 0);
  EXPECT_EQ(id("klingon"), 0);
  EXPECT_EQ(id(""), 0);
  EXPECT_EQ(id(nullptr), 0);
}

TEST_F(Translations, NeutralFollowsTheSystemLanguage) {
  auto neutral = [](const char* lcAll, const char* lcMessages, const char* lang) {
    SetLocale(lcAll, lcMessages, lang);
    SelectLanguage(kLangGerman);
    SelectLanguageByName("NEUTRAL");
    return CurrentLanguage();
  };
  EXPECT_EQ(neutral(nullptr, nullptr, "en_US.UTF-8"), kLangEnglish);
  EXPECT_EQ(neutral(nullptr, nullptr, "fr_FR"), 12);
  EXPECT_EQ(neutral(nullptr, nullptr, "de_DE"), kLangGerman);
  EXPECT_EQ(neutral(nullptr, nullptr, "de_AT.ISO-8859-1@euro"), kLangGerman);
  EXPECT_EQ(neutral("en_GB", nullptr, "de_DE"), kLangEnglish);  // LC_ALL first
  EXPECT_EQ(neutral(nullptr, "pt_BR", "de_DE"), 22);            // then LC_MESSAGES
  EXPECT_EQ(neutral("", "", "sv_SE.UTF-8"), 29);                // empty ones are skipped
  EXPECT_EQ(neutral(nullptr, nullptr, "C"), kLangEnglish);
  EXPECT_EQ(neutral(nullptr, nullptr, "POSIX"), kLangEnglish);
  EXPECT_EQ(neutral(nullptr, nullptr, nullptr), kLangEnglish);
  EXPECT_EQ(neutral(nullptr, nullptr, "German_Germany.1252"), kLangGerman);
  EXPECT_EQ(neutral(nullptr, nullptr, "xx_YY"), kLangNeutral);  // no texts: first texts
  EXPECT_EQ(neutral(nullptr, nullptr, "en_US.UTF-8"), kLangEnglish);
  // A name outside the table falls back to the system language too.
  SetLocale(nullptr, nullptr, "fr_FR.UTF-8");
  SelectLanguageByName("FRENCHY");
  EXPECT_EQ(CurrentLanguage(), 12);
  EXPECT_EQ(Msg("FLASH_DUTOFFONPROMPT"),
            "DUT aus- und einschalten, dann 'Ok' dr\xFC"
            "cken...");
  EXPECT_EQ(Msg("YES"), "Yes");
  SelectLanguageByName("german");
  EXPECT_EQ(Msg("YES"), "Ja");
}

// --- Tooltips ---------------------------------------------------------------------------------

TEST_F(Translations, TooltipOfTheFirstRowWhoseControlHoldsTheHoveredOne) {
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(Tip(100, {130}), "Deactivate beams");
  EXPECT_EQ(Tip(100, {131}), "Deactivate beams");
  EXPECT_EQ(Tip(100, {107}), "");                             // registered with an empty text
  EXPECT_EQ(Tip(100, {121, 147}), "Edit device parameters");  // the table holds the copy button
  EXPECT_EQ(Tip(300, {2}), "Discard settings, close dialog");
  EXPECT_EQ(Tip(704, {2}), "Cancel test");
  EXPECT_EQ(Tip(100, {999}), "(none)");
  EXPECT_EQ(Tip(100, {}), "(none)");
  EXPECT_EQ(Tip(999, {1, 2}), "(none)");
  EXPECT_EQ(TooltipText(100, nullptr), nullptr);
  SelectLanguage(kLangGerman);
  EXPECT_EQ(Tip(500, {505}), "st\xE4rkste Signalst\xE4rke");
}

// --- File dialog filters ----------------------------------------------------------------------

TEST_F(Translations, FilterTextsSplitIntoTheirParts) {
  using Parts = std::vector<std::string>;
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(FilterParts(MsgText("KFG_OFNFILTER")),
            (Parts{"Parameter files (*.par;*.kfg)", "*.par;*.kfg", "All Files (*.*)", "*.*"}));
  EXPECT_EQ(FilterParts(MsgText("NEWAPP_OFNFILTER")),
            (Parts{"Executable files (*.exe)", "*.exe", "All files (*.*)", "*.*"}));
  Parts flash{"DUT-Hex-Files (*.tg5)", "*.tg5", "DUT-Hex-Files (*.bfl)", "*.bfl", "*.*", "*.*"};
  EXPECT_EQ(FilterParts(MsgText("FLASH_OFNFILTER")), flash);
  SelectLanguage(kLangGerman);
  EXPECT_EQ(FilterParts(MsgText("FLASH_OFNFILTER")), flash);
  EXPECT_EQ(FilterParts(MsgText("NEWAPP_OFNFILTER")),
            (Parts{"Ausf\xFChrbare Dateien (*.exe)", "*.exe", "Alle Dateien (*.*)", "*.*"}));
  EXPECT_EQ(FilterParts(MsgText("NO_FILTER")), (Parts{"<NO_TRANSLATION>"}));
  EXPECT_EQ(FilterParts(nullptr), Parts{});
}

// --- Threads ----------------------------------------------------------------------------------

TEST_F(Translations, LanguageSwitchWhileAnotherThreadFormatsTexts) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread reader([&] {
    while (!stop.load()) {
      std::string text = MsgText("YES");
      if (text != "Yes" && text != "Ja") bad.fetch_add(1);
    }
  });
  for (int i = 0; i < 2000; ++i) SelectLanguage(i % 2 ? kLangEnglish : kLangGerman);
  stop.store(true);
  reader.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
}  // namespace lumo

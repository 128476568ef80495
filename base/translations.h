// Translation tables and language selection.
//
// State: four built-in tables (messages, dialog controls, menu items, tooltips), sorted in place
// once (see below); the current language id (7 German until a language is
// selected); the device variant used for lookups (0 until the device type is known). Tables never
// change after sorting and texts are never freed. The language and variant are atomics: the
// link thread may format texts while the user interface thread switches the language.
//
//   InitTranslations        sort and check the four built-in tables (duplicates reported)
//   SortAndCheckTable       the same for any table (the definition's macro table)
//   LanguageIdFromName      "GERMAN" -> 7, ..., 0 for empty or unknown
//   SelectLanguage          set the current language; 0 = the system's language
//   SelectLanguageByName    the same from a settings name ("NEUTRAL", "German", ...)
//   CurrentLanguage         the current language id
//   SetTranslationVariant   the device type used as the lookup variant
//   MsgText                 text of a message row by MsgId
//   ControlText             text of a dialog control row (nullptr: no row)
//   MenuText                text of a menu row by item id
//   TableText               text of a row of any table by MsgId (nullptr: no row)
//   TooltipRows             the tooltip table, for the user interface's own walk
//   TooltipText             the first tooltip row of a dialog whose control the caller recognises
//   ChooseText              the text a row shows in the current language
//   FilterParts             the description and pattern parts of a file dialog filter text
//
// The built-in tables are sorted once, on first use or by InitTranslations(), whichever comes
// first, so a lookup never sees them half sorted. Only InitTranslations() reports duplicates.
//
// All texts are NUL-terminated Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumo {

using LangId = uint16_t;
constexpr LangId kLangNeutral = 0;
constexpr LangId kLangGerman = 7;
constexpr LangId kLangEnglish = 9;

// The text shown for a key without a row. It ends in two NUL bytes, so that it also reads safely
// as an (empty) file dialog filter list.
inline constexpr const char* kNoTranslation = "<NO_TRANSLATION>\0";

struct Translation {
  LangId lang;       // 0 ends the list
  const char* text;  // NUL-terminated; file dialog filters hold several parts (see below)
};

// One row: a key (MsgId, or dialog id and control id) with its texts in up to four languages.
struct TranslationRow {
  uint8_t keyKind;     // 1: keyed by msgId; 0: keyed by dialogId and controlId
  int32_t variant;     // 0 all device types; 1 TG5 only; 2 Jovix only
  const char* msgId;   // kind 1 only
  uint16_t dialogId;   // kind 0 (0 in the menu table)
  uint32_t controlId;  // kind 0: control id, 0 = the dialog's title; menu: the item id
  Translation tr[4];
};

void InitTranslations();
void SortAndCheckTable(TranslationRow* rows, size_t count);

LangId LanguageIdFromName(const char* name);
void SelectLanguage(LangId id);
void SelectLanguageByName(const char* name);
LangId CurrentLanguage();
// The system's language from LC_ALL, LC_MESSAGES, LANG (the first one set and not empty): the
// primary language id of its language code ("de_DE.UTF-8" -> 7). No locale, "C" or "POSIX" is
// English; a language the name table does not know gives 0 (each row then shows its first text).
LangId SystemLanguage();

void SetTranslationVariant(int deviceType);
int TranslationVariant();

// The text of a row in the current language: the entry of that language, else the first entry;
// kNoTranslation for no row or a row without texts.
const char* ChooseText(const TranslationRow* row);
// kNoTranslation when the message table has no row for msgId.
const char* MsgText(const char* msgId);
const char* ControlText(int variant, int fallbackVariant, uint16_t dialogId, uint32_t controlId);
// kNoTranslation when the menu table has no row for the item.
const char* MenuText(uint32_t itemId);
const char* TableText(const TranslationRow* rows, size_t count, int variant, int fallbackVariant,
                      const char* msgId);

// A file dialog filter text holds NUL-terminated parts (description, pattern, description, ...)
// ended by an empty part. Every filter row ends so, and so does kNoTranslation (one part).
std::vector<std::string> FilterParts(const char* filter);

struct TranslationTableView {
  const TranslationRow* rows;
  size_t count;
};
TranslationTableView MessageRows();
TranslationTableView ControlRows();
TranslationTableView MenuRows();
TranslationTableView TooltipRows();

// The text of the first row of the sorted tooltip table (kind 0, variant 0 or the current device
// type, dialog `dialogId`) whose control id `isHovered` accepts; the caller's predicate says
// whether that control is the hovered window or contains it. nullptr when no row fits.
const char* TooltipText(uint16_t dialogId,
                        const std::function<bool(uint32_t controlId)>& isHovered);

}  // namespace lumo

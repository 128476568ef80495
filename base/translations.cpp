// Translation lookup, row order, duplicate check and language selection.
#include "base/translations.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "base/translation_tables.h"
#include "platform/message_box.h"

namespace lumo {
namespace {

constexpr uint8_t kKeyByMsgId = 1;
constexpr size_t kMaxTranslations = 4;
constexpr const char* kDuplicateCaption = "Multilanguage support";
constexpr const char* kDuplicateText = "Duplicate identifiers in translation table found:\n";

std::atomic<LangId> g_language{kLangGerman};
std::atomic<int> g_variant{0};

// Language name table: the first row whose name matches wins.
struct LanguageName {
  const char* name;
  LangId id;
};
// name          language id
constexpr LanguageName kLanguageNames[] = {
    {"GERMAN", 7},     {"ENGLISH", 9},     {"BULGARIAN", 2}, {"CHINESE", 4},    {"DANISH", 6},
    {"CROATIAN", 26},  {"CZECH", 5},       {"DUTCH", 19},    {"ENGLISH", 9},    {"FINNISH", 11},
    {"FRENCH", 12},    {"GERMAN", 7},      {"GREEK", 8},     {"HUNGARIAN", 14}, {"ICELANDIC", 15},
    {"ITALIAN", 16},   {"JAPANESE", 17},   {"KOREAN", 18},   {"NEUTRAL", 0},    {"NORWEGIAN", 20},
    {"POLISH", 21},    {"PORTUGUESE", 22}, {"ROMANIAN", 24}, {"RUSSIAN", 25},   {"SLOVAK", 27},
    {"SLOVENIAN", 36}, {"SPANISH", 10},    {"SWEDISH", 29},  {"TURKISH", 31},
};

// The system's locale names carry ISO 639 language codes; these are the primary language ids
// of the languages the name table knows.
struct LocaleLanguage {
  const char* code;
  LangId id;
};
// code  language id
constexpr LocaleLanguage kLocaleLanguages[] = {
    {"bg", 2},  {"zh", 4},  {"cs", 5},  {"da", 6},  {"de", 7},  {"el", 8},  {"en", 9},
    {"es", 10}, {"fi", 11}, {"fr", 12}, {"hu", 14}, {"is", 15}, {"it", 16}, {"ja", 17},
    {"ko", 18}, {"nl", 19}, {"no", 20}, {"nb", 20}, {"nn", 20}, {"pl", 21}, {"pt", 22},
    {"ro", 24}, {"ru", 25}, {"hr", 26}, {"sk", 27}, {"sv", 29}, {"tr", 31}, {"sl", 36},
};

bool EqualNoCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char ca = static_cast<unsigned char>(*a);
    unsigned char cb = static_cast<unsigned char>(*b);
    if (ca >= 'a' && ca <= 'z') ca = static_cast<unsigned char>(ca - 'a' + 'A');
    if (cb >= 'a' && cb <= 'z') cb = static_cast<unsigned char>(cb - 'a' + 'A');
    if (ca != cb) return false;
    if (ca == 0) return true;
  }
}

const char* KeyText(const TranslationRow& row) {
  return row.msgId ? row.msgId : "";
}

// Dialog and control as one number, compared as a signed 32-bit value; the arithmetic is done
// unsigned so that large dialog ids wrap instead of overflowing.
int32_t ControlKey(const TranslationRow& row) {
  uint32_t key = static_cast<uint32_t>(row.dialogId) * 65536u + (row.controlId % 65536u);
  return static_cast<int32_t>(key);
}

// <0, 0, >0 as a comes before, equals or comes after b. Rows keyed by MsgId come first.
int CompareRows(const TranslationRow& a, const TranslationRow& b) {
  bool aByMsg = a.keyKind == kKeyByMsgId;
  bool bByMsg = b.keyKind == kKeyByMsgId;
  if (aByMsg != bByMsg) return aByMsg ? -1 : 1;
  if (aByMsg) {
    int c = std::strcmp(KeyText(a), KeyText(b));  // compares as unsigned characters
    if (c != 0) return c < 0 ? -1 : 1;
  } else {
    int32_t ka = ControlKey(a);
    int32_t kb = ControlKey(b);
    if (ka != kb) return ka < kb ? -1 : 1;
    // Control ids above 65535 share a number with a smaller id; they stay distinct keys.
    if (a.controlId != b.controlId) return a.controlId < b.controlId ? -1 : 1;
  }
  if (a.variant != b.variant) return a.variant < b.variant ? -1 : 1;
  return 0;
}

const TranslationRow* FindExact(const TranslationRow* rows, size_t count,
                                const TranslationRow& probe) {
  if (rows == nullptr || count == 0) return nullptr;
  const TranslationRow* end = rows + count;
  const TranslationRow* it =
      std::lower_bound(rows, end, probe, [](const TranslationRow& row, const TranslationRow& key) {
        return CompareRows(row, key) < 0;
      });
  if (it == end || CompareRows(*it, probe) != 0) return nullptr;
  return it;
}

// The row for the device variant, else the one for the fallback variant.
const TranslationRow* FindRow(const TranslationRow* rows, size_t count, TranslationRow probe,
                              int variant, int fallbackVariant) {
  probe.variant = variant;
  if (const TranslationRow* row = FindExact(rows, count, probe)) return row;
  probe.variant = fallbackVariant;
  return FindExact(rows, count, probe);
}

TranslationRow MsgProbe(const char* msgId) {
  TranslationRow probe{};
  probe.keyKind = kKeyByMsgId;
  probe.msgId = msgId ? msgId : "";
  return probe;
}

TranslationRow ControlProbe(uint16_t dialogId, uint32_t controlId) {
  TranslationRow probe{};
  probe.keyKind = 0;
  probe.dialogId = dialogId;
  probe.controlId = controlId;
  return probe;
}

std::string DuplicateText(const TranslationRow& row) {
  std::string text = kDuplicateText;
  if (row.keyKind == kKeyByMsgId) return text + KeyText(row);
  char key[64];
  std::snprintf(key, sizeof key, "Dlg: %d ; Control: %d", static_cast<int>(row.dialogId),
                static_cast<int>(row.controlId));
  return text + key;
}

void SortRows(TranslationRow* rows, size_t count) {
  std::stable_sort(rows, rows + count, [](const TranslationRow& a, const TranslationRow& b) {
    return CompareRows(a, b) < 0;
  });
}

void ReportDuplicates(const TranslationRow* rows, size_t count) {
  for (size_t i = 1; i < count; ++i) {
    if (CompareRows(rows[i - 1], rows[i]) == 0) {
      ShowMessage(MsgKind::Warning, DuplicateText(rows[i]), kDuplicateCaption, MsgOwner::Desktop);
    }
  }
}

MutableTranslationTable (*const kBuiltInTables[])() = {BuiltInMessageTable, BuiltInControlTable,
                                                       BuiltInMenuTable, BuiltInTooltipTable};

std::once_flag g_sortOnce;

// Sorts the built-in tables exactly once, whoever comes first.
void EnsureSorted() {
  std::call_once(g_sortOnce, [] {
    for (auto table : kBuiltInTables) {
      MutableTranslationTable t = table();
      SortRows(t.rows, t.count);
    }
  });
}

TranslationTableView View(MutableTranslationTable (*table)()) {
  EnsureSorted();
  MutableTranslationTable t = table();
  return {t.rows, t.count};
}

// Lower-case ISO code of a locale name such as "de_DE.UTF-8" or "fr_FR@euro".
std::string LocaleCode(const char* locale) {
  std::string code;
  for (const char* p = locale; *p && *p != '_' && *p != '.' && *p != '@' && *p != '-'; ++p) {
    char c = *p;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    code += c;
  }
  return code;
}

}  // namespace

void InitTranslations() {
  EnsureSorted();
  for (auto table : kBuiltInTables) {
    MutableTranslationTable t = table();
    ReportDuplicates(t.rows, t.count);
  }
}

void SortAndCheckTable(TranslationRow* rows, size_t count) {
  if (rows == nullptr || count == 0) return;
  SortRows(rows, count);
  ReportDuplicates(rows, count);
}

LangId LanguageIdFromName(const char* name) {
  if (name == nullptr || *name == '\0') return kLangNeutral;
  for (const LanguageName& row : kLanguageNames) {
    if (EqualNoCase(row.name, name)) return row.id;
  }
  return kLangNeutral;
}

LangId SystemLanguage() {
  const char* locale = nullptr;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  // No locale, or the portable "C" / "POSIX" one: the system speaks English.
  if (locale == nullptr) return kLangEnglish;
  std::string code = LocaleCode(locale);
  if (code.empty() || code == "c" || code == "posix") return kLangEnglish;
  for (const LocaleLanguage& row : kLocaleLanguages) {
    if (code == row.code) return row.id;
  }
  // A locale named by its language ("German_Germany.1252"), else a language without texts.
  return LanguageIdFromName(code.c_str());
}

void SelectLanguage(LangId id) {
  g_language.store(id == kLangNeutral ? SystemLanguage() : id);
}

void SelectLanguageByName(const char* name) {
  SelectLanguage(LanguageIdFromName(name));
}

LangId CurrentLanguage() {
  return g_language.load();
}

void SetTranslationVariant(int deviceType) {
  g_variant.store(deviceType);
}

int TranslationVariant() {
  return g_variant.load();
}

const char* ChooseText(const TranslationRow* row) {
  if (row == nullptr || row->tr[0].lang == 0 || row->tr[0].text == nullptr) return kNoTranslation;
  LangId language = CurrentLanguage();
  if (language != kLangNeutral) {
    for (size_t i = 0; i < kMaxTranslations && row->tr[i].lang != 0; ++i) {
      if (row->tr[i].lang == language && row->tr[i].text != nullptr) return row->tr[i].text;
    }
  }
  return row->tr[0].text;
}

const char* TableText(const TranslationRow* rows, size_t count, int variant, int fallbackVariant,
                      const char* msgId) {
  const TranslationRow* row = FindRow(rows, count, MsgProbe(msgId), variant, fallbackVariant);
  return row ? ChooseText(row) : nullptr;
}

const char* MsgText(const char* msgId) {
  TranslationTableView table = MessageRows();
  const char* text = TableText(table.rows, table.count, TranslationVariant(), 0, msgId);
  return text ? text : kNoTranslation;
}

const char* ControlText(int variant, int fallbackVariant, uint16_t dialogId, uint32_t controlId) {
  TranslationTableView table = ControlRows();
  const TranslationRow* row =
      FindRow(table.rows, table.count, ControlProbe(dialogId, controlId), variant, fallbackVariant);
  return row ? ChooseText(row) : nullptr;
}

const char* MenuText(uint32_t itemId) {
  TranslationTableView table = MenuRows();
  const TranslationRow* row =
      FindRow(table.rows, table.count, ControlProbe(0, itemId), TranslationVariant(), 0);
  return ChooseText(row);
}

const char* TooltipText(uint16_t dialogId,
                        const std::function<bool(uint32_t controlId)>& isHovered) {
  TranslationTableView table = TooltipRows();
  int variant = TranslationVariant();
  for (size_t i = 0; i < table.count; ++i) {
    const TranslationRow& row = table.rows[i];
    if (row.keyKind == kKeyByMsgId || row.dialogId != dialogId) continue;
    if (row.variant != 0 && row.variant != variant) continue;
    if (isHovered && isHovered(row.controlId)) return ChooseText(&row);
  }
  return nullptr;
}

std::vector<std::string> FilterParts(const char* filter) {
  std::vector<std::string> parts;
  if (filter == nullptr) return parts;
  for (const char* part = filter; *part != '\0'; part += std::strlen(part) + 1) {
    parts.emplace_back(part);
  }
  return parts;
}

TranslationTableView MessageRows() {
  return View(BuiltInMessageTable);
}
TranslationTableView ControlRows() {
  return View(BuiltInControlTable);
}
TranslationTableView MenuRows() {
  return View(BuiltInMenuTable);
}
TranslationTableView TooltipRows() {
  return View(BuiltInTooltipTable);
}

}  // namespace lumo

// The built-in translation tables: messages, dialog controls, menu items, tooltips.
//
// Texts are Windows-1252 bytes. Each row lists its texts in stored order; the first stored text
// is the one shown in a language the row does not carry. Rows given in one language only carry
// only that one. File dialog filters are several NUL-terminated parts in one literal, ended by
// a second NUL.
#include "app/translation_tables.h"

#include <iterator>

namespace lumo {
namespace {

constexpr uint8_t kById = 1;   // keyed by MsgId
constexpr uint8_t kByDlg = 0;  // keyed by dialog id and control id
constexpr LangId kDe = kLangGerman;
constexpr LangId kEn = kLangEnglish;

// Message table, in stored order.
// kind, variant, MsgId, dialog, control, {language, text}...
TranslationRow g_messages[] = {
    // Device definition loader.
    {kById, 0, "PARDEF_OPEN", 0, 0, {{kEn, "Reading parameter definition"}}},
    {kById, 0, "PARDEF_LINE", 0, 0, {{kEn, "Line"}}},
    {kById, 0, "ERRPVAR_OPEN", 0, 0, {{kEn, "Unable to open parameter definition file!"}}},
    {kById,
     0,
     "ERRPVAR_NODEFS",
     0,
     0,
     {{kEn, "Parameter definition file contains no valid definitions!"}}},
    {kById, 0, "ERRPVAR_TRUNCLINE", 0, 0, {{kEn, "Unexpected EOL!"}}},
    {kById, 0, "ERRPVAR_INTERN", 0, 0, {{kEn, "An internal assertion failed (program failure)!"}}},
    {kById, 0, "ERRPVAR_LANGIDEXPECTED", 0, 0, {{kEn, "Language descriptor expected"}}},
    {kById, 0, "ERRPVAR_LANGIDNOTFOUND", 0, 0, {{kEn, "Unknown language descriptor"}}},
    {kById, 0, "ERRPVAR_NOTBLENTRY", 0, 0, {{kEn, "Missing translation for '%s'!"}}},
    {kById,
     0,
     "ERRPVAR_MISSINGATTENDEF",
     0,
     0,
     {{kEn, "[SW-Amp] definition missing in parameter definition"}}},
    {kById,
     0,
     "ERRPVAR_MISSINGHGAINDEF",
     0,
     0,
     {{kEn, "[HW-Amp] missing in parameter definition"}}},
    {kById, 0, "ERRPVAR_MISSINGTODEF", 0, 0, {{kEn, "Missing timeout definition for \"%s\"!"}}},
    {kById, 0, "ERRPVAR_1", 0, 0, {{kEn, "Invalid parameter name length!"}}},
    {kById, 0, "ERRPVAR_2", 0, 0, {{kEn, "parameter description is too long!"}}},
    {kById, 0, "ERRPVAR_3", 0, 0, {{kEn, "Page out of range!"}}},
    {kById, 0, "ERRPVAR_4", 0, 0, {{kEn, "State name too long!"}}},
    {kById, 0, "ERRPVAR_5", 0, 0, {{kEn, "Offset too large!"}}},
    {kById, 0, "ERRPVAR_6", 0, 0, {{kEn, "rShift >15 useless!"}}},
    {kById, 0, "ERRPVAR_7", 0, 0, {{kEn, "Constants may not be editable (visibly)!"}}},
    {kById, 0, "ERRPVAR_8", 0, 0, {{kEn, "Unexpected character at EOL!"}}},
    {kById, 0, "ERRPVAR_9", 0, 0, {{kEn, "Language macro names must be defined as $(NAME)!"}}},
    {kById, 0, "ERRPVAR_10", 0, 0, {{kEn, "Missing closing ']'!"}}},
    {kById, 0, "ERRPVAR_11", 0, 0, {{kEn, "Missing '=' after ':'!"}}},
    {kById, 0, "ERRPVAR_12", 0, 0, {{kEn, "'Page' and 'offset' missing!"}}},
    {kById, 0, "ERRPVAR_13", 0, 0, {{kEn, "Too many languages!"}}},
    {kById, 0, "ERRPVAR_14", 0, 0, {{kEn, "Parameter name expected!"}}},
    {kById, 0, "ERRPVAR_15", 0, 0, {{kEn, "State name expected!"}}},
    {kById, 0, "ERRPVAR_16", 0, 0, {{kEn, "Missing '=' or ':='!"}}},
    {kById, 0, "ERRPVAR_17", 0, 0, {{kEn, "Trailing '\"' missing!"}}},
    {kById, 0, "ERRPVAR_18", 0, 0, {{kEn, "Separate elements with ','!"}}},
    {kById, 0, "ERRPVAR_19", 0, 0, {{kEn, "Invalid 'Page' value!"}}},
    {kById, 0, "ERRPVAR_20", 0, 0, {{kEn, "Invalid 'Offset'!"}}},
    {kById, 0, "ERRPVAR_21", 0, 0, {{kEn, "Invalid 'Mask'!"}}},
    {kById, 0, "ERRPVAR_22", 0, 0, {{kEn, "Invalid 'rShift'!"}}},
    {kById, 0, "ERRPVAR_23", 0, 0, {{kEn, "Invalid state number format!"}}},
    {kById,
     0,
     "ERRPVAR_24",
     0,
     0,
     {{kEn, "States: state and description must be separated by ':'!"}}},
    {kById, 0, "ERRPVAR_25", 0, 0, {{kEn, "Trailing ')' is missing!"}}},
    {kById, 0, "ERRPVAR_26", 0, 0, {{kEn, "Put parameter names for references in parentheses!"}}},
    {kById,
     0,
     "ERRPVAR_27",
     0,
     0,
     {{kEn, "Closing parenthesis missing after reference definition!"}}},
    {kById, 0, "ERRPVAR_28", 0, 0, {{kEn, "Invalid/undefined reference %s!"}}},
    {kById, 0, "ERRPVAR_29", 0, 0, {{kEn, "Language descriptors must be followed by ':'!"}}},
    {kById, 0, "ERRPVAR_30", 0, 0, {{kEn, "Error in default value interpretation!"}}},
    {kById, 0, "ERRPVAR_31", 0, 0, {{kEn, "Default value expected!"}}},
    {kById,
     0,
     "ERRPVAR_32",
     0,
     0,
     {{kEn, "Limits expected (in form of ',{minValue..maxValue}')!"}}},
    {kById,
     0,
     "ERRMEMORY",
     0,
     0,
     {{kEn, "Insufficient memory"}, {kDe, "Nicht gen\xFCgend Arbeitsspeicher!"}}},
};

// Dialog control table.
// kind, variant, MsgId, dialog, control, {language, text}...
TranslationRow g_controls[] = {
    {kByDlg, 0, nullptr, 100, 103, {{kEn, "Normal operation"}, {kDe, "Normalbetrieb"}}},
};

// Menu table: dialog 0, the menu item id as control id.
// kind, variant, MsgId, dialog, item id, {language, text}...
TranslationRow g_menu[] = {
    {kByDlg, 0, nullptr, 0, 200, {{kEn, "File"}, {kDe, "&Datei"}}},
    {kByDlg, 0, nullptr, 0, 201, {{kEn, "&Self test"}, {kDe, "&Selbsttest"}}},
    {kByDlg, 0, nullptr, 0, 202, {{kEn, "&Help"}, {kDe, "&Hilfe"}}},
    {kByDlg, 0, nullptr, 0, 104, {{kEn, "&Program settings"}, {kDe, "&Programmeinstellungen"}}},
    {kByDlg, 0, nullptr, 0, 112, {{kEn, "&Load configuration"}, {kDe, "Parameterdatei &laden"}}},
    {kByDlg, 0, nullptr, 0, 111, {{kEn, "&Exit"}, {kDe, "&Beenden"}}},
    {kByDlg, 0, nullptr, 0, 105, {{kEn, "&Self test"}, {kDe, "&Selbsttest"}}},
    {kByDlg, 2, nullptr, 0, 106, {{kEn, "Self calibration (&c)"}, {kDe, "Selbstabgleich (&c)"}}},
    {kByDlg, 1, nullptr, 0, 107, {{kEn, "&Signal test"}, {kDe, "&Signaltest"}}},
    {kByDlg, 0, nullptr, 0, 108, {{kEn, "&Help Contents"}, {kDe, "&Inhalt"}}},
    {kByDlg, 0, nullptr, 0, 113, {{kEn, "Show tooltips"}, {kDe, "Tooltips (Hilfetexte) anzeigen"}}},
    {kByDlg,
     0,
     nullptr,
     0,
     109,
     {{kEn, "&About..."},
      {kDe,
       "&\xDC"
       "ber..."}}},
};

// Tooltip table.
// kind, variant, MsgId, dialog, control, {language, text}...
TranslationRow g_tooltips[] = {
    {kByDlg, 0, nullptr, 100, 107, {{kEn, ""}}},
};

}  // namespace

MutableTranslationTable BuiltInMessageTable() {
  return {g_messages, std::size(g_messages)};
}
MutableTranslationTable BuiltInControlTable() {
  return {g_controls, std::size(g_controls)};
}
MutableTranslationTable BuiltInMenuTable() {
  return {g_menu, std::size(g_menu)};
}
MutableTranslationTable BuiltInTooltipTable() {
  return {g_tooltips, std::size(g_tooltips)};
}

}  // namespace lumo

// The four built-in translation tables, writable so that they can be sorted in place.
//
// Internal to the translation module: everyone else reads them through MessageRows(),
// ControlRows(), MenuRows() and TooltipRows() of translations.h, after they are sorted.
//
//   BuiltInMessageTable   message rows, keyed by MsgId
//   BuiltInControlTable   dialog control rows, keyed by dialog id and control id
//   BuiltInMenuTable      menu rows, dialog 0 and menu item id
//   BuiltInTooltipTable   tooltip rows, keyed by dialog id and control id
#pragma once

#include <cstddef>

#include "base/translations.h"

namespace lumo {

struct MutableTranslationTable {
  TranslationRow* rows;
  size_t count;
};

MutableTranslationTable BuiltInMessageTable();
MutableTranslationTable BuiltInControlTable();
MutableTranslationTable BuiltInMenuTable();
MutableTranslationTable BuiltInTooltipTable();

}  // namespace lumo

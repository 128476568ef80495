// Qt's own texts (standard buttons, file dialogs, context menus of edit fields) in the language
// the program shows.
//
// State: one translator for Qt's texts, installed in the application while the current language
// is German and removed otherwise (Qt's built-in texts are English). Installing or removing it
// sends every widget a language change; dialogs opened afterwards take the new texts.
//
//   ApplyQtLanguage   follow the current language (base/translations.h); true when Qt's texts
//                     are now translated (German and Qt's translations found)
//   QtTranslationsFolder  where Qt's translation files are looked for
#pragma once

#include <QString>

namespace lumo::gui {

bool ApplyQtLanguage();
QString QtTranslationsFolder();

}  // namespace lumo::gui

#include "gui/qt_language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "base/translations.h"

namespace lumo::gui {
namespace {

// Owned here for the whole run; the application only refers to it while installed.
QTranslator* QtTranslator() {
  static QTranslator* translator = new QTranslator(QCoreApplication::instance());
  return translator;
}

}  // namespace

QString QtTranslationsFolder() {
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

bool ApplyQtLanguage() {
  if (QCoreApplication::instance() == nullptr) return false;
  QTranslator* translator = QtTranslator();
  QCoreApplication::removeTranslator(translator);
  if (CurrentLanguage() != kLangGerman) return false;
  // "qtbase_de" carries the texts of the widgets and dialogs this program uses.
  if (!translator->load(QStringLiteral("qtbase_de"), QtTranslationsFolder())) return false;
  return QCoreApplication::installTranslator(translator);
}

}  // namespace lumo::gui

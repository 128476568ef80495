// Which visible texts of a window are in the other language: every text a translation row
// gives in both languages (and differently) is known as English or German; a window shown in
// one language must not show a text known only in the other. Texts the tables give in one
// language only are shown in both and are allowed explicitly.
//
//   TextsInLanguage   the texts the tables give for a language (rows with both languages)
//   ShownTexts        every visible text of a window: title, buttons, labels (whole and line by
//                     line), group boxes, list headers, menus
//   WrongLanguage     the shown texts that belong to the other language only
#pragma once

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStringList>
#include <QWidget>
#include <set>

#include "base/translations.h"
#include "gui/gui_text.h"
#include "gui/widgets/list_control.h"

namespace lumo::test {

// Texts shown in both languages because a table row gives them in one language only, yet
// another row uses the same words in the other language.
inline const std::set<QString>& OneLanguageTexts() {
  static const std::set<QString> texts = {
      QStringLiteral("Parameter"),
      QStringLiteral("Power X"),
      QStringLiteral("global [in m]:"),
      QStringLiteral("Port"),
      QStringLiteral("System"),
      QStringLiteral("Ok"),
      QStringLiteral("Min"),
      QStringLiteral("Max"),
      QStringLiteral("Gain:"),
      QStringLiteral("low"),
      QStringLiteral("high"),
      QStringLiteral("Firmware Update"),
      QStringLiteral("timeout"),
      QStringLiteral("Kopieren"),
      QStringLiteral("high gain"),
      QStringLiteral("low gain"),
      QStringLiteral("About Lumo-Konf"),
  };
  return texts;
}

// A shown text as compared: without hotkey marks and without the command buttons' "1 " digit.
inline QString Plain(const QString& shown) {
  static const QRegularExpression digit(QStringLiteral("^[0-9] "));
  QString plain = QString(shown).remove(QLatin1Char('&')).trimmed();
  plain.remove(digit);
  return plain;
}

inline std::set<QString> TextsInLanguage(LangId language) {
  std::set<QString> texts;
  for (TranslationTableView table : {ControlRows(), MenuRows(), MessageRows()}) {
    for (size_t i = 0; i < table.count; ++i) {
      QString en, de;
      for (const Translation& tr : table.rows[i].tr) {
        if (tr.lang == 0) break;
        (tr.lang == kLangEnglish ? en : de) = gui::FromCp1252(tr.text);
      }
      if (en.isEmpty() || de.isEmpty() || en == de) continue;
      texts.insert(Plain(language == kLangEnglish ? en : de));
    }
  }
  return texts;
}

inline QStringList ShownTexts(QWidget& window) {
  QStringList texts{window.windowTitle()};
  auto addLabel = [&texts](const QString& text) {
    texts << text;
    if (text.contains(QLatin1Char('\n'))) texts << text.split(QLatin1Char('\n'));
  };
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window)) continue;
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) texts << button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) addLabel(label->text());
    if (auto* box = qobject_cast<QGroupBox*>(widget)) texts << box->title();
    if (auto* list = dynamic_cast<ui::ListControl*>(widget)) {
      for (int c = 0; c < list->ColumnCount(); ++c) texts << list->HeaderText(c);
    }
    if (auto* bar = qobject_cast<QMenuBar*>(widget)) {
      for (QAction* pullDown : bar->actions()) {
        texts << pullDown->text();
        if (pullDown->menu() == nullptr) continue;
        for (QAction* item : pullDown->menu()->actions()) texts << item->text();
      }
    }
  }
  return texts;
}

// The shown texts of window, shown in language, that only the other language has.
inline QStringList WrongLanguage(QWidget& window, LangId language) {
  static const std::set<QString> english = TextsInLanguage(kLangEnglish);
  static const std::set<QString> german = TextsInLanguage(kLangGerman);
  const std::set<QString>& own = language == kLangEnglish ? english : german;
  const std::set<QString>& other = language == kLangEnglish ? german : english;
  QStringList found;
  for (const QString& text : ShownTexts(window)) {
    const QString plain = Plain(text);
    if (plain.isEmpty() || own.count(plain) != 0 || OneLanguageTexts().count(plain) != 0) continue;
    if (other.count(plain) != 0) found << text;
  }
  return found;
}

}  // namespace lumo::test

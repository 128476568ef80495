// The desktop program's edge between the core's Windows-1252 texts and Qt, and the geometry of
// dialog templates.
//
// State: none.
//
//   FromCp1252         a Windows-1252 text as a QString
//   ToCp1252           a QString as Windows-1252 bytes ("?" for what the code page lacks)
//   Msg, Control, Menu the translated texts of base/translations.h as QStrings
//   DialogFont         "Tahoma" 8 pt, or the sans-serif face the system gives for it
//   DialogUnits        converts template places (dialog units) to pixels for a font
//   QtFilterFromParts  a file dialog filter text (description/pattern pairs) for QFileDialog
#pragma once

#include <QFont>
#include <QRect>
#include <QString>
#include <string>

namespace lumo::gui {

QString FromCp1252(const char* text);
QString FromCp1252(const std::string& text);
std::string ToCp1252(const QString& text);

QString Msg(const char* msgId);
// The text of a dialog control for the current device type (fallback: all types); empty when
// the control has no row.
QString Control(uint16_t dialogId, uint32_t controlId);
QString Menu(uint32_t itemId);

QFont DialogFont();

// Horizontal units are a quarter of the font's average character width, vertical units an
// eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int width, int height) const;

 private:
  int charWidth_;
  int charHeight_;
};

// "Parameter files (*.par;*.kfg)" with "*.par;*.kfg", ... as QFileDialog filters (patterns
// separated by blanks, as Qt reads them).
QString QtFilterFromParts(const char* filterText);

}  // namespace lumo::gui

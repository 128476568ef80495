// Texts at the edge between the core (Windows-1252 bytes) and Qt (Unicode).
//
//   FromCp1252   a Windows-1252 text as a QString
//   ToCp1252     a QString as Windows-1252 bytes; characters without a byte become "?"
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace lumo::ui {

QString FromCp1252(std::string_view text);
std::string ToCp1252(const QString& text);

}  // namespace lumo::ui

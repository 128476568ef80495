#include "gui/widgets/qt_text.h"

#include "platform/cp1252.h"

namespace lumo::ui {

QString FromCp1252(std::string_view text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToCp1252(const QString& text) {
  return Utf8ToCp1252(text.toStdString());
}

}  // namespace lumo::ui

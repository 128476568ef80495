#include "gui/gui_text.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QStringList>

#include "base/translations.h"
#include "platform/cp1252.h"

namespace lumo::gui {

namespace {

constexpr int kDialogFontPoints = 8;
inline constexpr const char* kDialogFontFamily = "Tahoma";

// Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

}  // namespace

QString FromCp1252(const char* text) {
  if (text == nullptr) return QString();
  return QString::fromStdString(Cp1252ToUtf8(text));
}

QString FromCp1252(const std::string& text) {
  return QString::fromStdString(Cp1252ToUtf8(text));
}

std::string ToCp1252(const QString& text) {
  std::string out;
  out.reserve(static_cast<size_t>(text.size()));
  for (QChar qc : text) {
    char16_t c = qc.unicode();
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    char byte = '?';
    for (int i = 0; i < 32; ++i) {
      if (kHighControls[i] != 0 && kHighControls[i] == c) byte = static_cast<char>(0x80 + i);
    }
    out.push_back(byte);
  }
  return out;
}

QString Msg(const char* msgId) {
  return FromCp1252(MsgText(msgId));
}

QString Control(uint16_t dialogId, uint32_t controlId) {
  const char* text = ControlText(TranslationVariant(), 0, dialogId, controlId);
  return text == nullptr ? QString() : FromCp1252(text);
}

QString Menu(uint32_t itemId) {
  return FromCp1252(MenuText(itemId));
}

QFont DialogFont() {
  QFont font(QString::fromLatin1(kDialogFontFamily), kDialogFontPoints);
  if (QFontInfo(font).family() != font.family()) {
    font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(kDialogFontPoints);
  }
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics metrics(font);
  charWidth_ = std::max(1, metrics.averageCharWidth());
  charHeight_ = std::max(1, metrics.height());
}

int DialogUnits::X(int units) const {
  return (units * charWidth_ + 2) / 4;
}
int DialogUnits::Y(int units) const {
  return (units * charHeight_ + 4) / 8;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QString QtFilterFromParts(const char* filterText) {
  std::vector<std::string> parts = FilterParts(filterText);
  QStringList filters;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    QString description = FromCp1252(parts[i]);
    QString patterns = FromCp1252(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << QStringLiteral("%1 (%2)").arg(description, patterns);
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace lumo::gui

#include "gui/widgets/text_room.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <algorithm>

#include "platform/text.h"

namespace lumo::ui {

namespace {

// The text as drawn: a single "&" marks the hotkey and takes no room ("&&" draws one "&").
QString WithoutHotkeyMark(const QString& text) {
  return QString::fromStdString(WithoutHotkeyMarks(text.toStdString()));
}

int WidestLine(const QFontMetrics& metrics, const QString& text) {
  int width = 0;
  for (const QString& line : text.split(QLatin1Char('\n')))
    width = std::max(width, metrics.horizontalAdvance(line));
  return width;
}

}  // namespace

int WidthForText(const QWidget& control) {
  const QFontMetrics metrics = control.fontMetrics();
  if (const auto* label = qobject_cast<const QLabel*>(&control)) {
    if (label->text().isEmpty() || label->wordWrap()) return 0;
    const QString text =
        label->buddy() != nullptr ? WithoutHotkeyMark(label->text()) : label->text();
    int indent = label->indent();
    if (indent < 0)
      indent = label->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const QMargins margins = label->contentsMargins();
    return WidestLine(metrics, text) + 2 * label->margin() + indent + margins.left() +
           margins.right();
  }
  if (const auto* button = qobject_cast<const QPushButton*>(&control)) {
    if (button->text().isEmpty()) return 0;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault() || button->isDefault())
      option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isFlat()) option.features |= QStyleOptionButton::Flat;
    // What the style keeps around the text: frame, default indicator.
    const QRect contents =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    int width =
        WidestLine(metrics, WithoutHotkeyMark(button->text())) + button->width() - contents.width();
    if (!button->icon().isNull()) width += button->iconSize().width() + metrics.averageCharWidth();
    return width;
  }
  if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
    if (button->text().isEmpty()) return 0;
    if (qobject_cast<const QCheckBox*>(button) == nullptr &&
        qobject_cast<const QRadioButton*>(button) == nullptr)
      return 0;
    return button->sizeHint().width();  // indicator, spacing and text
  }
  return 0;
}

bool GrowForText(QWidget& control, int margin, int gap) {
  const int needed = WidthForText(control);
  QRect place = control.geometry();
  if (needed <= place.width()) return true;
  QWidget* parent = control.parentWidget();
  if (parent == nullptr) return false;
  int leftLimit = margin;
  int rightLimit = parent->width() - 1 - margin;
  for (QObject* object : parent->children()) {
    auto* other = qobject_cast<QWidget*>(object);
    if (other == nullptr || other == &control || other->isWindow() || other->isHidden()) continue;
    const QRect them = other->geometry();
    if (qobject_cast<QGroupBox*>(other) != nullptr && them.contains(place.center())) {
      // The group box the control lies in: its inside is the limit.
      leftLimit = std::max(leftLimit, them.left() + margin);
      rightLimit = std::min(rightLimit, them.right() - margin);
      continue;
    }
    if (qobject_cast<QGroupBox*>(other) != nullptr) continue;
    if (them.bottom() < place.top() || them.top() > place.bottom()) continue;  // another row
    if (them.center().x() > place.center().x()) {
      rightLimit = std::min(rightLimit, std::max(place.right(), them.left() - gap - 1));
    } else {
      leftLimit = std::max(leftLimit, std::min(place.left(), them.right() + gap + 1));
    }
  }
  const int right = std::max(place.right(), std::min(rightLimit, place.left() + needed - 1));
  const int left = std::min(place.left(), std::max(leftLimit, right + 1 - needed));
  place.setLeft(left);
  place.setRight(right);
  control.setGeometry(place);
  return place.width() >= needed;
}

}  // namespace lumo::ui

// Whether every text of a window can be read whole: a text wider (or taller) than the room its
// control gives it is cut off. The room is what the style leaves inside the control: a label's
// contents rectangle less its margin and indent, a push button's contents rectangle (frame and
// default indicator off), a check box's text rectangle beside its indicator, a pull-down's edit
// field, a group box's title within the box. A control must also lie inside its parent (a
// control grown past its group box is cut off there), and a label's or button's text must not
// lie under another visible control beside it.
//
// A list's column headers need their text and the style's header margins within the column.
//
//   TextRoom     the room a control gives its text, and the text's own size
//   CutTexts     every visible text of a window that does not fit, one line each
#pragma once

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>
#include <algorithm>

#include "gui/widgets/list_control.h"

namespace lumo::test {

struct TextRoom {
  QString text;    // as shown (hotkey marks removed)
  QSize needed;    // the text's size in the control's font
  QRect room;      // where the control draws it, in the control's coordinates
  QRect textRect;  // where the text lies inside the room (its alignment)
  QRect ink;       // what its letters cover inside textRect (no empty line space around them)
  bool valid = false;
};

// The text without hotkey marks ("&&" stays one "&").
inline QString WithoutHotkeyMark(const QString& text) {
  QString shown;
  for (int i = 0; i < text.size(); ++i) {
    if (text[i] == QLatin1Char('&') && i + 1 < text.size()) ++i;
    shown += text[i];
  }
  return shown;
}

inline QSize LinesSize(const QFontMetrics& metrics, const QString& text) {
  const QStringList lines = text.split(QLatin1Char('\n'));
  int width = 0;
  for (const QString& line : lines) width = std::max(width, metrics.horizontalAdvance(line));
  return QSize(width,
               metrics.height() + (static_cast<int>(lines.size()) - 1) * metrics.lineSpacing());
}

// The letters' own rectangle of text laid out from the top left of textRect.
inline QRect InkRect(const QFontMetrics& metrics, const QString& text, const QRect& textRect) {
  QRect ink;
  int baseline = textRect.top() + metrics.ascent();
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (!line.trimmed().isEmpty())
      ink |= metrics.tightBoundingRect(line).translated(textRect.left(), baseline);
    baseline += metrics.lineSpacing();
  }
  return ink;
}

inline TextRoom RoomOf(QWidget& widget) {
  TextRoom r;
  const QFontMetrics metrics = widget.fontMetrics();
  if (auto* label = qobject_cast<QLabel*>(&widget)) {
    if (label->text().isEmpty() || label->wordWrap()) return r;
    if (label->textFormat() == Qt::RichText ||
        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()))) {
      return r;  // rich texts are checked by their size hint (CutTexts)
    }
    r.text = label->buddy() != nullptr ? WithoutHotkeyMark(label->text()) : label->text();
    r.needed = LinesSize(metrics, r.text);
    int indent = label->indent();
    if (indent < 0)
      indent = label->frameWidth() > 0 ? metrics.horizontalAdvance(QLatin1Char('x')) / 2 : 0;
    const int m = label->margin();
    r.room = label->contentsRect().adjusted(m, m, -m, -m);
    const Qt::Alignment align = label->alignment();
    if (align & Qt::AlignLeft) r.room.setLeft(r.room.left() + indent);
    if (align & Qt::AlignRight) r.room.setRight(r.room.right() - indent);
    r.textRect = QStyle::alignedRect(label->layoutDirection(), align, r.needed, r.room);
  } else if (auto* button = qobject_cast<QPushButton*>(&widget)) {
    if (button->text().isEmpty()) return r;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    if (button->autoDefault() || button->isDefault())
      option.features |= QStyleOptionButton::AutoDefaultButton;
    if (button->isFlat()) option.features |= QStyleOptionButton::Flat;
    r.text = WithoutHotkeyMark(button->text());
    r.needed = LinesSize(metrics, r.text);
    r.room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    r.textRect = QStyle::alignedRect(button->layoutDirection(), Qt::AlignCenter, r.needed, r.room);
  } else if (qobject_cast<QCheckBox*>(&widget) != nullptr ||
             qobject_cast<QRadioButton*>(&widget) != nullptr) {
    auto* button = static_cast<QAbstractButton*>(&widget);
    if (button->text().isEmpty()) return r;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool check = qobject_cast<QCheckBox*>(button) != nullptr;
    r.text = WithoutHotkeyMark(button->text());
    r.needed = LinesSize(metrics, r.text);
    r.room = button->style()->subElementRect(
        check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, button);
    // The text's rectangle ends at the control's edge, whatever the style says of its contents.
    r.room = r.room.intersected(button->rect());
    r.textRect = QStyle::alignedRect(button->layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter,
                                     r.needed, r.room);
  } else if (auto* combo = qobject_cast<QComboBox*>(&widget)) {
    if (combo->isEditable() || combo->currentText().isEmpty()) return r;
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = false;
    option.frame = combo->hasFrame();
    option.currentText = combo->currentText();
    r.text = combo->currentText();
    r.needed = LinesSize(metrics, r.text);
    r.room = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                            QStyle::SC_ComboBoxEditField, combo);
    r.textRect = QStyle::alignedRect(combo->layoutDirection(), Qt::AlignLeft | Qt::AlignVCenter,
                                     r.needed, r.room);
  } else if (auto* box = qobject_cast<QGroupBox*>(&widget)) {
    if (box->title().isEmpty()) return r;
    QStyleOptionGroupBox option;
    option.initFrom(box);
    option.text = box->title();
    option.lineWidth = 1;
    option.textAlignment = box->alignment();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (box->isFlat()) option.features |= QStyleOptionFrame::Flat;
    r.text = WithoutHotkeyMark(box->title());
    r.needed = LinesSize(metrics, r.text);
    r.textRect =
        box->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, box);
    r.room = box->rect();
  } else {
    return r;
  }
  r.ink = InkRect(metrics, r.text, r.textRect);
  r.valid = true;
  return r;
}

inline QString Describe(const QWidget& widget, const QString& text) {
  return QStringLiteral("%1 '%2'").arg(QString::fromLatin1(widget.metaObject()->className()), text);
}

// Every visible text of window that is cut off, with what it needs and what it has.
inline QStringList CutTexts(QWidget& window) {
  QStringList found;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    if (!widget->isVisibleTo(&window) || widget->isWindow()) continue;
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      const bool rich = label->textFormat() == Qt::RichText ||
                        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()));
      if (rich && !label->wordWrap() && label->sizeHint().width() > label->width()) {
        found << Describe(*label, label->text()) + QStringLiteral(": needs %1 px, has %2")
                                                       .arg(label->sizeHint().width())
                                                       .arg(label->width());
      }
      if (label->wordWrap() && !label->text().isEmpty() &&
          label->heightForWidth(label->width()) > label->height()) {
        found << Describe(*label, label->text()) +
                     QStringLiteral(": wrapped, needs %1 px high, has %2")
                         .arg(label->heightForWidth(label->width()))
                         .arg(label->height());
      }
    }
    if (auto* list = dynamic_cast<ui::ListControl*>(widget)) {
      QHeaderView* header = list->Header();
      if (header == nullptr || !header->isVisibleTo(&window)) continue;
      const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
      for (int c = 0; c < list->ColumnCount(); ++c) {
        const int needed =
            header->fontMetrics().horizontalAdvance(list->HeaderText(c)) + 2 * margin;
        if (needed > list->ColumnWidth(c)) {
          found << Describe(*list, list->HeaderText(c)) +
                       QStringLiteral(": column header needs %1 px, has %2")
                           .arg(needed)
                           .arg(list->ColumnWidth(c));
        }
      }
      continue;
    }
    const TextRoom r = RoomOf(*widget);
    if (!r.valid) continue;
    const QString what = Describe(*widget, r.text);
    if (r.needed.width() > r.room.width() || r.needed.height() > r.room.height() ||
        !r.room.contains(r.textRect)) {
      found << what + QStringLiteral(": needs %1 x %2 px, has %3 x %4 at its place")
                          .arg(r.needed.width())
                          .arg(r.needed.height())
                          .arg(r.room.width())
                          .arg(r.room.height());
      continue;
    }
    QWidget* parent = widget->parentWidget();
    if (parent == nullptr) continue;
    const QRect inParent = r.textRect.translated(widget->pos());
    if (!parent->rect().contains(inParent)) {
      found << what + QStringLiteral(": runs out of its parent %1 (%2 px wide)")
                          .arg(QString::fromLatin1(parent->metaObject()->className()))
                          .arg(parent->width());
      continue;
    }
    if (qobject_cast<QGroupBox*>(widget) != nullptr) continue;
    // A neighbour over the letters (group boxes lie behind their controls and are no neighbours).
    const QRect inkInParent = r.ink.translated(widget->pos());
    for (QObject* object : parent->children()) {
      auto* other = qobject_cast<QWidget*>(object);
      if (other == nullptr || other == widget || !other->isVisibleTo(&window) ||
          qobject_cast<QGroupBox*>(other) != nullptr || other->isWindow())
        continue;
      if (other->geometry().intersects(inkInParent)) {
        found << what + QStringLiteral(": its text lies under %1")
                            .arg(Describe(*other,
                                          RoomOf(*other).valid ? RoomOf(*other).text : QString()));
      }
    }
  }
  return found;
}

}  // namespace lumo::test

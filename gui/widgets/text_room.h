// Room for a control's whole text. Controls are placed by their templates in dialog units; a
// translation or a font (a larger system font, a scaled desktop) can give a text more width than
// its template place. Such a control grows into the free room beside it in its own row rather
// than cutting the text: to the right first, then to the left, never over a neighbour in its
// row and never past the inside of the group box it lies in or its parent's margin.
//
// State: none; the functions change only the geometry of the control they are given.
//
//   WidthForText   the width a label, button, check box or radio button needs for its whole
//                  text in its font, the style's frame, indicator and margins included
//   GrowForText    widens a control to that width within the free room of its row
#pragma once

#include <QWidget>

namespace lumo::ui {

// 0 for a control without a text (or of another kind).
int WidthForText(const QWidget& control);

// margin: the distance kept from the parent's and the group box's inner edges; gap: from a
// neighbour. Returns whether the whole text fits now.
bool GrowForText(QWidget& control, int margin, int gap);

}  // namespace lumo::ui

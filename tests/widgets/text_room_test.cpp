// Room for a control's whole text: how much a label, button or check box needs, and where it
// grows when its place is too narrow.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/widgets/text_room.h"
#include "widget_test_main.h"

using lumo::ui::GrowForText;
using lumo::ui::WidthForText;

class TextRoomTest : public QObject {
  Q_OBJECT

 private slots:
  void WidthCoversTextAndStyle() {
    QWidget parent;
    QLabel label(QStringLiteral("global [in m]:"), &parent);
    const int text = label.fontMetrics().horizontalAdvance(label.text());
    QCOMPARE(WidthForText(label), text);
    label.setMargin(3);
    QCOMPARE(WidthForText(label), text + 6);
    QLabel twoLines(QStringLiteral("short\nthe longer line"), &parent);
    QCOMPARE(WidthForText(twoLines),
             twoLines.fontMetrics().horizontalAdvance(QStringLiteral("the longer line")));
    // A button needs its frame besides the text; the hotkey mark takes no room.
    QPushButton button(QStringLiteral("Deakti&vieren"), &parent);
    button.resize(200, 30);
    const int caption = button.fontMetrics().horizontalAdvance(QStringLiteral("Deaktivieren"));
    QVERIFY(WidthForText(button) > caption);
    QVERIFY(WidthForText(button) < caption + 30);
    QCheckBox check(QStringLiteral("automatisch Schreiben"), &parent);
    QVERIFY(WidthForText(check) > check.fontMetrics().horizontalAdvance(check.text()));
    QLineEdit field(&parent);
    QCOMPARE(WidthForText(field), 0);
  }

  // In a group box of 300 px: a label at 100 with a field to its right at 200 and a button to
  // its left ending at 59.
  void GrowsRightThenLeftWithinItsRow() {
    QWidget parent;
    parent.resize(400, 200);
    QGroupBox box(&parent);
    box.setGeometry(0, 0, 300, 200);
    QLabel label(&parent);
    QLineEdit field(&parent);
    QPushButton left(QStringLiteral("x"), &parent);
    QLineEdit below(&parent);
    field.setGeometry(200, 20, 50, 20);
    left.setGeometry(20, 20, 40, 20);
    below.setGeometry(60, 50, 200, 20);  // another row: no limit
    auto check = [&](int width, int neededWidth, QRect expected, bool fits) {
      label.setText(QString(1, QLatin1Char('M')));
      const int m = label.fontMetrics().horizontalAdvance(QLatin1Char('M'));
      label.setText(QString(neededWidth / m, QLatin1Char('M')));
      label.setGeometry(100, 22, width, 16);
      QCOMPARE(GrowForText(label, 4, 2), fits);
      expected.setWidth(expected.width() == 0 ? WidthForText(label) : expected.width());
      QCOMPARE(label.geometry(), expected);
    };
    check(200, 60, QRect(100, 22, 200, 16), true);  // fits: unchanged
    // Too narrow: to the right first, as far as needed (the field's gap is not reached).
    check(40, 60, QRect(100, 22, 0, 16), true);
    // Beyond the field's gap (197): the rest to the left.
    {
      const int m = label.fontMetrics().horizontalAdvance(QLatin1Char('M'));
      label.setText(QString(118 / m, QLatin1Char('M')));
      const int needed = WidthForText(label);
      QVERIFY(needed > 98 && needed < 137);
      label.setGeometry(100, 22, 40, 16);
      QVERIFY(GrowForText(label, 4, 2));
      QCOMPARE(label.geometry().right(), 197);
      QCOMPARE(label.geometry().width(), needed);
    }
    // More than the row holds: from the button's gap (62) to the field's (197), cut.
    label.setText(QString(60, QLatin1Char('M')));
    label.setGeometry(100, 22, 40, 16);
    QVERIFY(!GrowForText(label, 4, 2));
    QCOMPARE(label.geometry(), QRect(62, 22, 136, 16));
    // Without the field: up to the group box's inside (300 - 1 - 4).
    field.hide();
    label.setGeometry(100, 22, 40, 16);
    QVERIFY(!GrowForText(label, 4, 2));
    QCOMPARE(label.geometry().right(), 295);
  }
};

LUMO_UI_TEST_MAIN(TextRoomTest)
#include "text_room_test.moc"

// The parameter table: cell texts and colours, enabling, editing by clicks, keys and typed
// numbers, hotkeys, the arrow buttons and the File header.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <functional>
#include <memory>

#include "definitions/definition.h"
#include "gui/widgets/parameter_table.h"
#include "platform/message_box.h"
#include "widget_test_main.h"

using lumo::GetRecord;
using lumo::ParDef;
using lumo::PVar;
using lumo::ui::ListControl;
using lumo::ui::ParameterTable;

namespace {

// Rows: 0 Mode (two states), 1 Swap (three), 2 Count (limits 0..255), 3 Level (no limits),
// 4 Fixed (one state), 5 Hold (hotkey h), 6 Other hold (hotkey h, later: wins), 7 Twin and
// 8 Triple (states whose names read alike), 9 Offset (signed byte).
constexpr const char* kDefinition =
    "$(TTmode) := ENGLISH: \"Switching mode\"\n"
    "$(TTcount) := ENGLISH: \"How many\"\n"
    "&Mode = $(TTmode), 0:0:1, 0:\"off\", 1:\"on\"\n"
    "&Swap = 0:1, 0:\"normal\", 1:\"swapped\", 2:\"nowarn\"\n"
    "Count = $(TTcount), 0:2, {0..255}\n"
    "Level = 0:3:255\n"
    "Fixed = 0:4:1, 1:\"only\"\n"
    "&Hold = 0:5\n"
    "Other &hold = 0:6\n"
    "Twin = 0:7:1, 0:\"same\", 1:\"same\"\n"
    "Triple = 0:8, 0:\"a\", 1:\"b\", 2:\"b\"\n"
    "Offset = $(TTcount), s 0:9:0xFF\n"
    "[DUT] = \"TG5\"\n";

enum Row {
  kMode,
  kSwap,
  kCount,
  kLevel,
  kFixed,
  kHold,
  kOtherHold,
  kTwin,
  kTriple,
  kOffset,
  kRowCount
};

struct FakeAccess : lumo::ui::DeviceAccess {
  bool valid = false;
  bool config = false;
  bool ConfigValid() const override { return valid; }
  bool InConfigMode() const override { return config; }
  uint8_t FirmwareByte0() const override { return 0; }
};

}  // namespace

class ParameterTableTest : public QObject {
  Q_OBJECT

 private:
  QWidget window_;
  std::unique_ptr<ParDef> def_;
  lumo::PageImages images_{};
  FakeAccess access_;
  ParameterTable* table_ = nullptr;
  QPushButton buttons_[6];
  lumo::MessageRecorder recorder_;

  PVar* R(int row) { return GetRecord(def_.get(), row); }
  ListControl* L() { return table_->List(); }
  QString Text(int column, int row) { return L()->CellText(column, row); }
  void SetDevice(int row, uint8_t byte) { images_.device.bytes[0][R(row)->offset] = byte; }
  QPoint Center(int column, int row) { return L()->CellRect(column, row).center(); }
  void Click(int column, int row) {
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, Center(column, row));
    SendMouse(L()->viewport(), QEvent::MouseButtonRelease, Center(column, row));
  }
  // Starts an edit with `start` and acts on the open editor with `drive`.
  void Edit(const std::function<void()>& start, const std::function<void(QWidget*)>& drive) {
    QTimer::singleShot(0, this, [this, drive] {
      QWidget* editor = L()->Editor();
      if (editor != nullptr) drive(editor);
    });
    // A safety net: a loop the test fails to end fails the test instead of hanging it.
    QTimer::singleShot(3000, this, [this] {
      if (L()->Editor() != nullptr) delete L()->Editor();
    });
    start();
    QVERIFY(L()->Editor() == nullptr || !L()->Editor()->isVisible());
  }
  // F2 on the row's Edit cell, the text typed over the field, then the key that ends the edit.
  void TypeInto(int row, const QString& text, Qt::Key end = Qt::Key_Return) {
    L()->SelectCell(ParameterTable::kColEdit, row);
    Edit([&] { QTest::keyClick(L(), Qt::Key_F2); },
         [text, end](QWidget* e) {
           auto* field = qobject_cast<QLineEdit*>(e);
           if (field == nullptr) return;
           field->setText(text);
           QTest::keyClick(field, end);
         });
  }

 private slots:
  void initTestCase() {
    lumo::BindImages(&images_);
    lumo::ScopedMessageSink sink(&recorder_);
    def_ = lumo::ParseDefinitionText(kDefinition);
    QVERIFY(def_ != nullptr);
    window_.resize(640, 420);
    table_ = new ParameterTable(&window_);
    table_->setGeometry(5, 5, 560, 380);
    for (int i = 0; i < 6; ++i) {
      buttons_[i].setParent(&window_);
      buttons_[i].setText(QStringLiteral("B%1").arg(122 + i));
    }
    table_->Attach(def_.get(), &access_);
    table_->SetCommandButtons(&buttons_[0], &buttons_[1], &buttons_[2], &buttons_[3], &buttons_[4],
                              &buttons_[5]);
    table_->PlaceCommandButtons();
    QVERIFY(ShowActive(window_));
  }

  void cleanupTestCase() { lumo::BindImages(nullptr); }

  void init() {
    access_.valid = false;
    access_.config = false;
    images_ = {};
    for (int r = 0; r < kRowCount; ++r) {
      R(r)->editValid = 0;
      R(r)->fileValid = 0;
    }
    table_->SetLoadedFile("");
    table_->RefreshTable();
    L()->setFocus();
  }

  void RowsColumnsAndGeometry() {
    QCOMPARE(L()->RowCount(), int(kRowCount));  // the bracketed record is no row
    QCOMPARE(L()->ColumnCount(), 4);
    const int w = L()->viewport()->width();
    const int value = L()->ColumnWidth(ParameterTable::kColDevice);
    QCOMPARE(value, (L()->width() - 2 * L()->frameWidth() -
                     L()->style()->pixelMetric(QStyle::PM_ScrollBarExtent)) *
                        10 / 48);
    QCOMPARE(L()->ColumnWidth(ParameterTable::kColFile), value);
    QVERIFY(L()->ColumnWidth(0) + 3 * value <= w + 1);
    // The buttons stand under the value columns, two under each.
    QCOMPARE(buttons_[0].geometry().top() + 21, buttons_[1].geometry().top());
    QVERIFY(buttons_[0].geometry().top() > L()->mapTo(&window_, QPoint(0, L()->height())).y());
    QVERIFY(buttons_[2].geometry().left() > buttons_[0].geometry().left());
    QCOMPARE(L()->CurrentColumn(), int(ParameterTable::kColEdit));
  }

  void TextsBeforeAndAfterRead() {
    SetDevice(kSwap, 5);
    SetDevice(kCount, 42);
    QCOMPARE(Text(ParameterTable::kColDevice, kSwap), QStringLiteral("???"));
    QCOMPARE(Text(ParameterTable::kColDevice, kCount), QStringLiteral("???"));
    QVERIFY(!buttons_[0].isEnabled());
    QVERIFY(!buttons_[1].isEnabled());
    QVERIFY(!buttons_[3].isEnabled());
    access_.config = true;
    table_->RefreshTable();
    QVERIFY(buttons_[0].isEnabled());
    QVERIFY(!buttons_[1].isEnabled());
    access_.valid = true;
    table_->RefreshTable();
    QVERIFY(buttons_[1].isEnabled() && buttons_[3].isEnabled());
    QCOMPARE(Text(ParameterTable::kColDevice, kSwap), QStringLiteral("{5} (?)"));
    QCOMPARE(Text(ParameterTable::kColDevice, kCount), QStringLiteral("42"));
    QCOMPARE(Text(ParameterTable::kColDevice, kMode), QStringLiteral("off"));
    QCOMPARE(table_->title(), QStringLiteral("&Parameters"));
    table_->CopyDeviceToEditColumn();
    QCOMPARE(Text(ParameterTable::kColEdit, kSwap), QStringLiteral("???"));  // no such state
    QCOMPARE(Text(ParameterTable::kColEdit, kCount), QStringLiteral("42"));
    QVERIFY(!table_->CaptionIsChanged());
    TypeInto(kCount, QStringLiteral("43"));
    QVERIFY(table_->CaptionIsChanged());
    QCOMPARE(table_->title(), QStringLiteral("&Parameters (changed)"));
  }

  void ColoursOfTheCells() {
    access_.valid = true;
    SetDevice(kCount, 1);
    lumo::SetEdit(R(kCount), 2);  // differs from the device
    lumo::SetEdit(R(kLevel), 0);  // equals it
    L()->SelectCell(ParameterTable::kColEdit, kHold);
    table_->RefreshTable();
    const QImage image = L()->viewport()->grab().toImage();
    const QPalette pal = table_->palette();
    auto at = [&](int column, int row) {
      return image.pixelColor(L()->CellRect(column, row).topLeft() + QPoint(3, 3));
    };
    QCOMPARE(at(ParameterTable::kColName, kCount), QColor(200, 255, 200));
    QCOMPARE(at(ParameterTable::kColDevice, kCount), pal.color(QPalette::Window));
    QCOMPARE(at(ParameterTable::kColFile, kCount), pal.color(QPalette::Window));
    QCOMPARE(at(ParameterTable::kColEdit, kCount), pal.color(QPalette::ToolTipBase));
    QCOMPARE(at(ParameterTable::kColEdit, kLevel), QColor(Qt::white));
    QCOMPARE(at(ParameterTable::kColEdit, kHold), pal.color(QPalette::Highlight));
    // Without a valid read nothing counts as changed.
    access_.valid = false;
    const QImage unread = L()->viewport()->grab().toImage();
    QCOMPARE(
        unread.pixelColor(L()->CellRect(ParameterTable::kColEdit, kCount).topLeft() + QPoint(3, 3)),
        QColor(Qt::white));
  }

  void TwoStatesToggle() {
    QCOMPARE(Text(ParameterTable::kColEdit, kMode), QStringLiteral("???"));
    Click(ParameterTable::kColEdit, kMode);  // invalid: the first state
    QCOMPARE(R(kMode)->editValue, 0);
    QVERIFY(R(kMode)->editValid);
    Click(ParameterTable::kColEdit, kMode);
    QCOMPARE(R(kMode)->editValue, 1);
    QTest::keyClick(L(), Qt::Key_Space);
    QCOMPARE(R(kMode)->editValue, 0);
    // Clicks on other columns and right clicks edit nothing.
    Click(ParameterTable::kColDevice, kMode);
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, Center(ParameterTable::kColEdit, kMode),
              Qt::RightButton);
    QCOMPARE(R(kMode)->editValue, 0);
    // States shown alike still toggle, by their values.
    Click(ParameterTable::kColEdit, kTwin);
    Click(ParameterTable::kColEdit, kTwin);
    QCOMPARE(R(kTwin)->editValue, 1);
    Click(ParameterTable::kColEdit, kTwin);
    QCOMPARE(R(kTwin)->editValue, 0);
    // One state: nothing happens.
    Click(ParameterTable::kColEdit, kFixed);
    QVERIFY(!R(kFixed)->editValid);
    QVERIFY(L()->Editor() == nullptr);
  }

  void TypedDigitStartsAnEdit() {
    L()->SelectCell(ParameterTable::kColEdit, kCount);
    QString shown;
    Edit([&] { QTest::keyClick(L(), Qt::Key_7); },
         [&](QWidget* e) {
           shown = static_cast<QLineEdit*>(e)->text();
           QTest::keyClick(e, Qt::Key_Return);
         });
    QCOMPARE(shown, QStringLiteral("7"));
    QCOMPARE(R(kCount)->editValue, 7);
    QVERIFY(R(kCount)->editValid);
    QCOMPARE(L()->CurrentRow(), int(kLevel));  // Enter moved on
  }

  // A minus typed on a cell opens the edit field with it; a signed byte takes what it shows.
  void TypedMinusStartsANegativeNumber() {
    L()->SelectCell(ParameterTable::kColEdit, kOffset);
    QString shown;
    Edit([&] { QTest::keyClick(L(), Qt::Key_Minus); },
         [&](QWidget* e) {
           shown = static_cast<QLineEdit*>(e)->text();
           QTest::keyClicks(e, QStringLiteral("15"));
           QTest::keyClick(e, Qt::Key_Return);
         });
    QCOMPARE(shown, QStringLiteral("-"));
    QVERIFY(R(kOffset)->editValid);
    QCOMPARE(R(kOffset)->editValue, -15);
    QCOMPARE(Text(ParameterTable::kColEdit, kOffset), QStringLiteral("-15"));
    TypeInto(kOffset, QStringLiteral("-128"));
    QCOMPARE(Text(ParameterTable::kColEdit, kOffset), QStringLiteral("-128"));
    TypeInto(kOffset, QStringLiteral("128"));  // would read back as -128: refused
    QCOMPARE(Text(ParameterTable::kColEdit, kOffset), QStringLiteral("???"));
    TypeInto(kLevel, QStringLiteral("999"));  // too big for its byte: refused
    QCOMPARE(Text(ParameterTable::kColEdit, kLevel), QStringLiteral("???"));
    SetDevice(kOffset, 0xEC);
    access_.valid = true;
    table_->RefreshTable();
    QCOMPARE(Text(ParameterTable::kColDevice, kOffset), QStringLiteral("-20"));
    table_->CopyOneValue(ParameterTable::kCmdCopyDevice, kOffset);
    QCOMPARE(Text(ParameterTable::kColEdit, kOffset), QStringLiteral("-20"));
    access_.valid = false;
    table_->RefreshTable();
  }

  void TypedNumbersAndLimits() {
    auto check = [&](int row, const char* text, bool valid, int32_t value) {
      TypeInto(row, QString::fromLatin1(text));
      QCOMPARE(bool(R(row)->editValid), valid);
      if (valid) QCOMPARE(R(row)->editValue, value);
    };
    check(kCount, "200", true, 200);
    check(kCount, "300", true, 200);  // above the maximum: unchanged
    check(kCount, "-1", true, 200);   // below the minimum: unchanged
    check(kCount, "0x10", true, 16);  // hexadecimal
    check(kCount, "abc", false, 0);   // no number: invalid
    check(kLevel, "300", false, 0);   // no limits, but outside the 8-bit field: invalid
    check(kLevel, "255", true, 255);
    QCOMPARE(Text(ParameterTable::kColEdit, kCount), QStringLiteral("???"));
    // Up ends the edit as accepted and moves up.
    TypeInto(kLevel, QStringLiteral("9"), Qt::Key_Up);
    QCOMPARE(R(kLevel)->editValue, 9);
    QCOMPARE(L()->CurrentRow(), int(kCount));
    // Escape cancels: the value stays.
    TypeInto(kLevel, QStringLiteral("1"), Qt::Key_Escape);
    QCOMPARE(R(kLevel)->editValue, 9);
  }

  void DropDownForMoreStates() {
    lumo::SetEdit(R(kSwap), 1);
    L()->SelectCell(ParameterTable::kColEdit, kSwap);
    QStringList items;
    int selected = -1;
    Edit([&] { QTest::keyClick(L(), Qt::Key_Space); },
         [&](QWidget* e) {
           auto* box = qobject_cast<QComboBox*>(e);
           if (box == nullptr) return;
           for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
           selected = box->currentIndex();
           box->setCurrentIndex(2);
           emit box->activated(2);
         });
    QCOMPARE(items, QStringList({"normal", "swapped", "nowarn"}));
    QCOMPARE(selected, 1);
    QCOMPARE(R(kSwap)->editValue, 2);
    QCOMPARE(L()->CurrentRow(), int(kSwap));  // a selection does not move on
    // The chosen position counts, not its name.
    L()->SelectCell(ParameterTable::kColEdit, kTriple);
    Edit([&] { QTest::keyClick(L(), Qt::Key_F2); },
         [](QWidget* e) {
           auto* box = qobject_cast<QComboBox*>(e);
           if (box == nullptr) return;
           box->setCurrentIndex(2);
           emit box->activated(2);
         });
    QCOMPARE(R(kTriple)->editValue, 2);
  }

  void HotkeysSearchFromTheLast() {
    L()->SelectCell(ParameterTable::kColEdit, kMode);
    QTest::keyClick(L(), Qt::Key_H);
    QCOMPARE(L()->CurrentRow(), int(kOtherHold));
    QTest::keyClick(L(), Qt::Key_S);
    QCOMPARE(L()->CurrentRow(), int(kSwap));
    QTest::keyClick(L(), Qt::Key_Q);  // no hotkey, no digit: nothing
    QCOMPARE(L()->CurrentRow(), int(kSwap));
    QVERIFY(L()->Editor() == nullptr);
    QSignalSpy cancel(table_, &ParameterTable::cancelRequested);
    QTest::keyClick(L(), Qt::Key_Escape);
    QCOMPARE(cancel.count(), 1);
  }

  void HintAndArrowButtons() {
    QSignalSpy hints(table_, &ParameterTable::hintChanged);
    SendMove(L()->viewport(), Center(ParameterTable::kColDevice, kCount));
    QCOMPARE(table_->Hint(), QStringLiteral("How many"));
    QVERIFY(table_->ArrowButton() == nullptr);  // no device read yet
    access_.valid = true;
    SetDevice(kCount, 12);
    SendMove(L()->viewport(), Center(ParameterTable::kColDevice, kMode));
    QToolButton* arrow = table_->ArrowButton();
    QVERIFY(arrow != nullptr);
    QCOMPARE(arrow->arrowType(), Qt::RightArrow);
    QCOMPARE(arrow->geometry().right(),
             L()->CellRect(ParameterTable::kColDevice, kMode).right() - 1);
    SendMove(L()->viewport(), Center(ParameterTable::kColDevice, kCount));
    arrow = table_->ArrowButton();
    QVERIFY(arrow != nullptr);
    QSignalSpy copy(table_, &ParameterTable::copyValueRequested);
    arrow->click();
    QCOMPARE(copy.count(), 1);
    QCOMPARE(copy.at(0).at(0).toInt(), ParameterTable::kCmdCopyDevice);
    QCOMPARE(copy.at(0).at(1).toInt(), int(kCount));
    table_->CopyOneValue(ParameterTable::kCmdCopyDevice, kCount);
    QCOMPARE(R(kCount)->editValue, 12);
    // The File cell shows its arrow only with a loaded file and a valid File value.
    R(kCount)->fileValue = 3;
    R(kCount)->fileValid = 1;
    SendMove(L()->viewport(), Center(ParameterTable::kColFile, kCount));
    QTRY_VERIFY(table_->ArrowButton() == nullptr);
    table_->SetLoadedFile("/tmp/a.par");
    SendMove(L()->viewport(), Center(ParameterTable::kColEdit, kCount));
    SendMove(L()->viewport(), Center(ParameterTable::kColFile, kCount));
    QVERIFY(table_->ArrowButton() != nullptr);
    QCOMPARE(table_->ArrowButton()->arrowType(), Qt::LeftArrow);
    table_->CopyOneValue(ParameterTable::kCmdCopyFile, kCount);
    QCOMPARE(R(kCount)->editValue, 3);
    // Over the Edit cell the arrow goes; leaving the list clears the hint.
    SendMove(L()->viewport(), Center(ParameterTable::kColEdit, kCount));
    QTRY_VERIFY(table_->ArrowButton() == nullptr);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(L()->viewport(), &leave);
    QVERIFY(table_->Hint().isEmpty());
    QVERIFY(hints.count() >= 2);
  }

  void FileHeaderShowsTheShortenedPath() {
    QCOMPARE(L()->HeaderText(ParameterTable::kColFile), QStringLiteral("File"));
    table_->SetLoadedFile("/home/technician/configurations/line four/tg5 front.par");
    const QString header = L()->HeaderText(ParameterTable::kColFile);
    QVERIFY2(
        header.endsWith(QStringLiteral("/tg5 front.par")) || !header.contains(QLatin1Char('/')),
        qPrintable(header));
    QVERIFY(header.contains(QStringLiteral("...")));
    table_->RefreshTable();
    QCOMPARE(L()->HeaderText(ParameterTable::kColFile), header);
    QCOMPARE(L()->HeaderText(ParameterTable::kColDevice), QStringLiteral("Device"));
    // A file whose beam line could not be read says so in its header; the next file does not.
    table_->SetFileBeamLineUnreadable(true);
    QCOMPARE(L()->HeaderText(ParameterTable::kColFile),
             QStringLiteral("tg5 front.par (beam line unreadable)"));
    table_->SetLoadedFile("/tmp/b.par");
    QVERIFY(!L()->HeaderText(ParameterTable::kColFile).contains(QStringLiteral("unreadable")));
  }

  void Screenshot() {
    access_.valid = true;
    SetDevice(kMode, 1);
    SetDevice(kSwap, 5);
    SetDevice(kCount, 30);
    table_->CopyDeviceToEditColumn();
    lumo::SetEdit(R(kCount), 31);
    table_->SetLoadedFile("/home/technician/configurations/line four/tg5 front.par");
    table_->RefreshTable();
    QVERIFY(SaveScreenshot(window_, QStringLiteral("parameter_table")));
  }
};

LUMO_UI_TEST_MAIN(ParameterTableTest)

#include "parameter_table_test.moc"

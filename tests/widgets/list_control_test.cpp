// The editable list control: current cell and keys, hover reports, default painting, the edit
// loop's results.
#include <QComboBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>

#include "gui/widgets/list_control.h"
#include "gui/widgets/qt_text.h"
#include "widget_test_main.h"

using lumo::ui::ListControl;

namespace {

constexpr int kRows = 40;
constexpr int kColumns = 3;

struct Log {
  std::vector<QString> events;
  void Add(const QString& e) { events.push_back(e); }
};

// A list of kRows x kColumns with every callback logged; OnDrawCell only when asked.
ListControl::Callbacks LoggingCallbacks(Log& log, bool withDraw) {
  ListControl::Callbacks c;
  c.onInit = [](ListControl& list) {
    for (int i = 0; i < kColumns; ++i) list.AddColumn(i, QStringLiteral("C%1").arg(i), 60);
    for (int r = 0; r < kRows; ++r) list.AppendRow();
  };
  c.onCellText = [](ListControl&, int col, int row, QString& text) {
    text = QStringLiteral("%1/%2").arg(col).arg(row);
  };
  if (withDraw) {
    c.onDrawCell = [](ListControl&, int, int, QPainter& p, const QRect& r, const QString&, bool) {
      p.fillRect(r, Qt::red);
    };
  }
  c.onHoverCell = [&log](ListControl&, int col, int row) {
    log.Add(QStringLiteral("hover %1,%2").arg(col).arg(row));
  };
  c.onLeaveCell = [&log](ListControl&, int col, int row) {
    log.Add(QStringLiteral("leave %1,%2").arg(col).arg(row));
  };
  c.onClick = [&log](ListControl&, ListControl::Press press, int key, int col, int row) {
    log.Add(QStringLiteral("click %1 %2 %3,%4").arg(int(press)).arg(key).arg(col).arg(row));
  };
  return c;
}

}  // namespace

class ListControlTest : public QObject {
  Q_OBJECT

 private:
  QWidget window_;
  ListControl* list_ = nullptr;
  QPushButton* other_ = nullptr;
  Log log_;

  void Build(bool cellMode, bool withDraw = false) {
    delete list_;
    list_ = new ListControl(&window_);
    list_->setGeometry(0, 0, 240, 200);
    list_->Attach(LoggingCallbacks(log_, withDraw), cellMode, 20);
    list_->show();
    list_->setFocus();
    log_.events.clear();
  }

  void Key(int key) { QTest::keyClick(list_, Qt::Key(key)); }

  void CheckMove(int fromCol, int fromRow, int key, int toCol, int toRow) {
    list_->SelectCell(fromCol, fromRow);
    Key(key);
    QCOMPARE(QPoint(list_->CurrentColumn(), list_->CurrentRow()), QPoint(toCol, toRow));
  }

  // Runs an edit loop on cell (1, 2) while `drive` acts on the open editor.
  ListControl::EditResult Edit(bool dropDown, const std::function<void(QWidget*)>& drive) {
    QWidget* editor = nullptr;
    if (dropDown) {
      QComboBox* box = list_->OpenDropDown(1, 2);
      box->addItems({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
      editor = box;
    } else {
      editor = list_->OpenEditField(1, 2);
    }
    if (editor == nullptr) return ListControl::EditResult::Cancel;
    QTimer::singleShot(0, this, [&] { drive(editor); });
    // A safety net: a loop that does not end fails the test instead of hanging it.
    QTimer::singleShot(5000, this, [this] {
      if (list_->Editor() != nullptr) list_->Editor()->deleteLater();
    });
    auto result = list_->RunEditLoop(1, 2);
    list_->CloseEditor();
    return result;
  }

 private slots:
  void initTestCase() {
    window_.resize(320, 260);
    other_ = new QPushButton(QStringLiteral("other"), &window_);
    other_->setGeometry(250, 0, 60, 30);
    QVERIFY(ShowActive(window_));
  }

  void AttachSelectsFirstCell() {
    Build(true);
    QCOMPARE(list_->CurrentColumn(), 0);
    QCOMPARE(list_->CurrentRow(), 0);
    QCOMPARE(list_->RowCount(), kRows);
    QCOMPARE(list_->ColumnCount(), kColumns);
    list_->Attach(LoggingCallbacks(log_, false), true, 20);  // again: the same grid
    QCOMPARE(list_->RowCount(), kRows);
    QCOMPARE(list_->ColumnCount(), kColumns);
  }

  void KeysMoveTheCurrentCell() {
    Build(true);
    const int p = list_->RowsPerPage();
    CheckMove(2, 5, Qt::Key_Right, 2, 5);  // last column: unchanged
    CheckMove(1, kRows - 1, Qt::Key_Down, 1, kRows - 1);
    CheckMove(1, kRows - 1, Qt::Key_Return, 1, kRows - 1);
    CheckMove(1, 0, Qt::Key_Up, 1, 0);
    CheckMove(0, 3, Qt::Key_Left, 0, 3);
    CheckMove(0, 3, Qt::Key_Right, 1, 3);
    CheckMove(1, 3, Qt::Key_Down, 1, 4);
    CheckMove(1, 3, Qt::Key_Enter, 1, 4);
    CheckMove(1, 3, Qt::Key_PageDown, 1, 3 + p);
    CheckMove(1, kRows - 2, Qt::Key_PageDown, 1, kRows - 1);
    CheckMove(1, 2, Qt::Key_PageUp, 1, 0);
    CheckMove(1, 7, Qt::Key_Home, 1, 0);
    CheckMove(1, 7, Qt::Key_End, 1, kRows - 1);
    // The last row was brought into view.
    QVERIFY(list_->FirstVisibleRow() + list_->RowsPerPage() > kRows - 1);
  }

  void SelectCellCallbackRedirects() {
    Build(true);
    ListControl::Callbacks c = LoggingCallbacks(log_, false);
    c.onSelectCell = [](ListControl&, int& col, int&) { col = 2; };
    list_->Attach(c, true, 20);
    QCOMPARE(list_->CurrentColumn(), 2);
    Key(Qt::Key_Down);
    QCOMPARE(QPoint(list_->CurrentColumn(), list_->CurrentRow()), QPoint(2, 1));
  }

  void CellModeOffScrolls() {
    Build(false);
    QCOMPARE(list_->CurrentRow(), -1);  // no selection without cell mode
    Key(Qt::Key_Down);
    QCOMPARE(list_->FirstVisibleRow(), 1);
    Key(Qt::Key_End);
    QCOMPARE(list_->FirstVisibleRow(), kRows - list_->RowsPerPage());
    Key(Qt::Key_Home);
    QCOMPARE(list_->FirstVisibleRow(), 0);
    Key(Qt::Key_Space);
    QCOMPARE(log_.events.back(), QStringLiteral("click 4 32 -1,-1"));
  }

  void SpaceF2AndButtonsReportClicks() {
    Build(true);
    list_->SelectCell(1, 3);
    Key(Qt::Key_Space);
    Key(Qt::Key_F2);
    const QPoint cell = list_->CellRect(2, 1).center();
    QTest::mouseClick(list_->viewport(), Qt::RightButton, {}, cell);
    SendDoubleClick(list_->viewport(), cell);
    std::vector<QString> clicks;
    for (const QString& e : log_.events) {
      if (e.startsWith(QStringLiteral("click"))) clicks.push_back(e);
    }
    const std::vector<QString> expected = {
        QStringLiteral("click 4 %1 1,3").arg(int(Qt::Key_Space)),
        QStringLiteral("click 4 %1 1,3").arg(int(Qt::Key_F2)),
        QStringLiteral("click 2 0 2,1"),  // right button
        QStringLiteral("click 0 0 2,1"),  // the first press of the double click
        QStringLiteral("click 1 0 2,1"),  // the second one
    };
    QCOMPARE(clicks, expected);
  }

  void HoverAndLeavePerCell() {
    Build(true);
    SendMove(list_->viewport(), list_->CellRect(0, 1).center());
    SendMove(list_->viewport(), list_->CellRect(0, 1).center() + QPoint(2, 0));
    SendMove(list_->viewport(), list_->CellRect(1, 1).center());
    // Right of the last column: no cell.
    SendMove(list_->viewport(), QPoint(list_->viewport()->width() - 2, 10));
    const std::vector<QString> expected = {QStringLiteral("hover 0,1"), QStringLiteral("leave 0,1"),
                                           QStringLiteral("hover 1,1"),
                                           QStringLiteral("leave 1,1")};
    QCOMPARE(log_.events, expected);
  }

  void PaintingWithAndWithoutDrawCallback() {
    Build(true);
    QImage plain = list_->viewport()->grab().toImage();
    const QRect cell = list_->CellRect(1, 1);
    QCOMPARE(plain.pixelColor(cell.center()), QColor(Qt::white));
    QCOMPARE(plain.pixelColor(cell.right(), cell.center().y()), QColor(192, 192, 192));
    QCOMPARE(plain.pixelColor(cell.center().x(), cell.bottom()), QColor(192, 192, 192));
    // Right of the last column: the dialog face colour.
    const QPoint outside(list_->viewport()->width() - 2, 10);
    QCOMPARE(plain.pixelColor(outside), list_->palette().color(QPalette::Window));
    Build(true, true);
    QImage drawn = list_->viewport()->grab().toImage();
    QCOMPARE(drawn.pixelColor(cell.center()), QColor(Qt::red));
    QCOMPARE(drawn.pixelColor(cell.right(), cell.center().y()), QColor(192, 192, 192));
    QVERIFY(SaveScreenshot(*list_, QStringLiteral("list_control")));
  }

  // The viewport paints itself whole (it is opaque: what it leaves is garbage or an old
  // picture on the screen), grid lines included, at the scale factors of HiDPI desktops too.
  void PaintingCoversEveryPixelAtAnyScale() {
    Build(true);
    QWidget* viewport = list_->viewport();
    for (qreal scale : {1.0, 1.5, 2.0}) {
      QImage image(viewport->size() * scale, QImage::Format_ARGB32);
      image.setDevicePixelRatio(scale);
      image.fill(Qt::magenta);
      viewport->render(&image);
      int left = 0;
      // The last device row and column of a fractional scale belong half to the next widget.
      for (int y = 0; y + 1 < image.height(); ++y) {
        for (int x = 0; x + 1 < image.width(); ++x) {
          if (image.pixelColor(x, y) == QColor(Qt::magenta)) ++left;
        }
      }
      QVERIFY2(left == 0,
               qPrintable(QStringLiteral("scale %1: %2 pixels not painted").arg(scale).arg(left)));
    }
  }

  void EditFieldResults() {
    Build(true);
    using R = ListControl::EditResult;
    auto typed = [](int key) { return [key](QWidget* e) { QTest::keyClick(e, Qt::Key(key)); }; };
    QCOMPARE(Edit(false, typed(Qt::Key_Return)), R::AcceptedByEnter);
    QCOMPARE(Edit(false, typed(Qt::Key_Escape)), R::Cancel);
    QCOMPARE(Edit(false, typed(Qt::Key_Up)), R::AcceptedMoveUp);
    QCOMPARE(Edit(false, typed(Qt::Key_Down)), R::AcceptedMoveDown);
    // Typing goes into the field; only the end keys finish the loop.
    QString text;
    QCOMPARE(Edit(false,
                  [&](QWidget* e) {
                    QTest::keyClicks(e, QStringLiteral("12"));
                    text = static_cast<QLineEdit*>(e)->text();
                    QTest::keyClick(e, Qt::Key_Return);
                  }),
             R::AcceptedByEnter);
    QCOMPARE(text, QStringLiteral("12"));
    // An open editor keeps a second one from opening.
    QVERIFY(list_->OpenEditField(0, 0) != nullptr);
    QVERIFY(list_->OpenEditField(0, 1) == nullptr);
    QVERIFY(list_->OpenDropDown(0, 1) == nullptr);
    list_->CloseEditor();
    QVERIFY(list_->OpenEditField(5, 1) == nullptr);  // no such cell
  }

  void ScrollingAndClicksElsewhereCancel() {
    Build(true);
    using R = ListControl::EditResult;
    QCOMPARE(Edit(false, [this](QWidget*) { list_->verticalScrollBar()->setValue(3); }), R::Cancel);
    list_->verticalScrollBar()->setValue(0);
    // The wheel over the list scrolls it, which moves the cell.
    QCOMPARE(Edit(false,
                  [this](QWidget*) {
                    const QPoint at = list_->CellRect(0, 5).center();
                    QWheelEvent wheel(at, list_->viewport()->mapToGlobal(at), QPoint(),
                                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                                      Qt::NoScrollPhase, false);
                    QApplication::sendEvent(list_->viewport(), &wheel);
                  }),
             R::Cancel);
    list_->verticalScrollBar()->setValue(0);
    QSignalSpy clicked(other_, &QPushButton::clicked);
    QCOMPARE(Edit(false, [this](QWidget*) { QTest::mouseClick(other_, Qt::LeftButton); }),
             R::Cancel);
    QCOMPARE(clicked.count(), 1);  // the click still reached its target
    // A click into the list elsewhere cancels too, and is reported to the owner.
    log_.events.clear();
    QCOMPARE(Edit(false,
                  [this](QWidget*) {
                    QTest::mouseClick(list_->viewport(), Qt::LeftButton, {},
                                      list_->CellRect(0, 4).center());
                  }),
             R::Cancel);
    QVERIFY(!log_.events.empty());
    QCOMPARE(log_.events.back(), QStringLiteral("click 0 0 0,4"));
  }

  void DropDownResults() {
    Build(true);
    using R = ListControl::EditResult;
    int chosen = -1;
    QCOMPARE(Edit(true,
                  [&](QWidget* e) {
                    auto* box = static_cast<QComboBox*>(e);
                    box->setCurrentIndex(2);
                    chosen = box->currentIndex();
                    emit box->activated(2);
                  }),
             R::AcceptedBySelection);
    QCOMPARE(chosen, 2);
    QCOMPARE(Edit(true, [](QWidget* e) { static_cast<QComboBox*>(e)->hidePopup(); }), R::Cancel);
    QCOMPARE(Edit(true, [this](QWidget*) { QTest::keyClick(other_, Qt::Key_A); }), R::Cancel);
  }

  void TextsBetweenCodePageAndQt() {
    using lumo::ui::FromCp1252;
    using lumo::ui::ToCp1252;
    QCOMPARE(FromCp1252("Ger\xE4t \x80\x85\x9F"), QStringLiteral(u"Ger\u00E4t \u20AC\u2026\u0178"));
    QCOMPARE(ToCp1252(QStringLiteral(u"Ger\u00E4t \u20AC\u2026\u0178")),
             std::string("Ger\xE4t \x80\x85\x9F"));
    QCOMPARE(ToCp1252(QStringLiteral(u"\u2713\u0100")), std::string("??"));  // no byte for them
    // One character, one mark: a character beyond the first 64K is two UTF-16 units.
    QCOMPARE(ToCp1252(QStringLiteral(u"a\U0001F600b")), std::string("a?b"));
  }

  void ShortenedPaths() {
    const QFontMetrics m(list_->font());
    bool fits = true;
    auto check = [&](const QString& path, int width) {
      const QString s = ListControl::ShortenPath(path, m, width);
      fits = fits && m.horizontalAdvance(s) <= width;
      return s;
    };
    const QString shortPath = QStringLiteral("/a/b.par");
    QCOMPARE(check(shortPath, 500), shortPath);
    const QString longPath = QStringLiteral("/home/user/configurations/site/line-4/tg5.par");
    const QString s = check(longPath, m.horizontalAdvance(longPath) / 2);
    QVERIFY(s.endsWith(QStringLiteral(".../tg5.par")));
    QVERIFY(s.startsWith(QStringLiteral("/h")));
    // Not even the file name fits: it is cut at its end.
    QVERIFY(check(longPath, m.horizontalAdvance(QStringLiteral("tg5"))).size() < 7);
    QVERIFY(fits);
  }

  // Last: a quit request ends the edit loop (cancel) and stays pending for the main loop.
  void QuitEndsTheEditLoop() {
    Build(true);
    QVERIFY(list_->OpenEditField(1, 2) != nullptr);
    QTimer::singleShot(0, this, [] { QCoreApplication::exit(3); });
    QTimer::singleShot(5000, this, [this] { delete list_->Editor(); });  // a hung loop
    QCOMPARE(list_->RunEditLoop(1, 2), ListControl::EditResult::Cancel);
    QVERIFY(list_->Editor() != nullptr);  // ended by the quit, not by the safety net
    list_->CloseEditor();
    QEventLoop main;
    QCOMPARE(main.exec(), -1);  // returns at once: the quit is still pending
  }
};

LUMO_UI_TEST_MAIN(ListControlTest)

#include "list_control_test.moc"

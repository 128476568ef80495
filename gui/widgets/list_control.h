// The editable list control: a grid that holds no data of its own.
//
// State model. The owner keeps every value; the control keeps only the columns (header text and
// width), the row count, the current cell (column, row; (-1, -1) before the first selection),
// the cell last reported to OnHoverCell, the fixed row height, the cell mode flag and, while an
// edit runs, the one in-place editor. Every cell's text is asked from the owner (OnCellText) when
// the cell is painted, every cell is painted by the owner (OnDrawCell), and the owner decides what
// a click, a key or a typed character does (OnClick, OnCharacter). A missing callback is skipped:
// no text, default painting (white, focus frame on the focused current cell), no reaction.
//
// Keys with cell mode on: Up, Down/Enter, Page Up, Page Down, Home, End, Left, Right move the
// current cell (through OnSelectCell); Space and F2 report OnClick; Tab moves the focus on. With
// cell mode off the same keys scroll the list, Space and F2 still report OnClick.
//
// In-place editors (list_control_editor.cpp): OpenEditField / OpenDropDown create the editor over
// a cell; RunEditLoop runs a nested event loop until Enter, Escape, Up/Down (edit field), a
// finished or cancelled drop-down selection, a click or key press aimed elsewhere (the click then
// reaches its target), or a change of the cell's place (scrolling, resizing) ends it. The owner
// then reads the editor's text and calls CloseEditor. A quit request during the loop ends the loop
// (cancel) and still ends the program.
//
//   Attach                 install the callbacks, cell mode and row height; OnInit; select (0, 0)
//   AddColumn, SetHeaderText, SetHeaderTextShortened, ColumnCount, ColumnWidth, SetColumnWidth
//   LockHeader             the user cannot drag the column dividers
//   AppendRow, DeleteAllRows, RowCount, FirstVisibleRow, RowsPerPage
//   CellRect               a cell's rectangle in viewport coordinates
//   CellText               a cell's text, asked from the owner
//   RedrawCell, RedrawAll, EnsureCellVisible
//   SelectCell, CurrentColumn, CurrentRow, SetCellMode, CellMode
//   SetRowHeight, RowHeight
//   OpenEditField, OpenDropDown, RunEditLoop, Editor, CloseEditor
//   HoverColumn, HoverRow, ResetHover
//   ShortenPath            a path shortened in the middle to fit a width (header texts)
//   PaintCell              an owner's cell as the owners paint theirs: colours, italic, sunken
//                          frame, the text centred and cut with "...", the focus frame
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QPointer>
#include <QString>
#include <functional>
#include <vector>

class QComboBox;
class QHeaderView;
class QLineEdit;
class QStandardItemModel;

namespace lumo::ui {

class ListControl : public QAbstractScrollArea {
  Q_OBJECT

 public:
  // What reached OnClick: a mouse button press on a cell, or the key Space or F2.
  enum class Press { LeftDown, LeftDouble, RightDown, MiddleDown, KeyDown };

  // How an edit loop ended. Every result but Cancel accepts the edit.
  enum class EditResult {
    AcceptedBySelection,  // the drop-down list reported a finished selection
    AcceptedByEnter,
    Cancel,
    AcceptedMoveUp,    // Up in an edit field
    AcceptedMoveDown,  // Down in an edit field
  };

  // The owner's callbacks; each may stay empty.
  struct Callbacks {
    // Once, from Attach: create the columns and the rows.
    std::function<void(ListControl& list)> onInit;
    // The text of a cell (text arrives empty; at most kMaxCellText characters are used).
    std::function<void(ListControl& list, int column, int row, QString& text)> onCellText;
    // Paints one cell into rect (the cell less its grid line); focused: the list has the focus
    // and the cell is the current cell.
    std::function<void(ListControl& list, int column, int row, QPainter& painter, const QRect& rect,
                       const QString& text, bool focused)>
        onDrawCell;
    // Asked while the user drags a column divider: may change the width or veto the change.
    std::function<void(ListControl& list, int column, int& width, bool& veto)> onColumnResize;
    std::function<void(ListControl& list, int column, int row)> onHoverCell;
    std::function<void(ListControl& list, int column, int row)> onLeaveCell;
    // key is the Qt key for Press::KeyDown (Qt::Key_Space or Qt::Key_F2), else 0.
    std::function<void(ListControl& list, Press press, int key, int column, int row)> onClick;
    // A typed character; isSystem when typed with Alt. Set handled to stop further handling.
    std::function<void(ListControl& list, int column, int row, QChar ch, bool isSystem,
                       bool& handled)>
        onCharacter;
    // A new current cell is about to be chosen; may change it.
    std::function<void(ListControl& list, int& column, int& row)> onSelectCell;
  };

  static constexpr int kMaxCellText = 200;    // characters of a cell text used
  static constexpr int kMaxHeaderText = 200;  // characters of a header text used
  static constexpr int kMaxEditText = 200;    // characters an edit field takes

  explicit ListControl(QWidget* parent = nullptr);
  ~ListControl() override;

  // rowHeight 0: the font's own row height.
  void Attach(Callbacks callbacks, bool cellMode, int rowHeight = 0);

  void AddColumn(int index, const QString& header, int width);
  void SetHeaderText(int index, const QString& text);
  // The text shortened in the middle (a path keeps its file name) to fit the column less 4 px.
  void SetHeaderTextShortened(int index, const QString& text);
  QString HeaderText(int index) const;
  int ColumnCount() const;
  int ColumnWidth(int index) const;
  void SetColumnWidth(int index, int width);
  void LockHeader(bool locked);
  QHeaderView* Header() const { return header_; }

  void AppendRow();
  void DeleteAllRows();
  int RowCount() const { return rowCount_; }
  int FirstVisibleRow() const;
  // Rows wholly visible in the viewport (at least 1).
  int RowsPerPage() const;

  // The cell's rectangle in viewport coordinates, grid line included; empty for a cell that
  // does not exist.
  QRect CellRect(int column, int row) const;
  // The cell's text as the owner gives it (OnCellText), cut to kMaxCellText.
  QString CellText(int column, int row);
  void RedrawCell(int column, int row, bool now = false);
  void RedrawAll();
  void EnsureCellVisible(int column, int row);

  // Cell mode only, and only when the target differs from the current cell.
  void SelectCell(int column, int row);
  int CurrentColumn() const { return currentColumn_; }
  int CurrentRow() const { return currentRow_; }
  void SetCellMode(bool on) { cellMode_ = on; }
  bool CellMode() const { return cellMode_; }

  void SetRowHeight(int height);
  int RowHeight() const;

  // In-place editors; nullptr when the cell does not exist or an editor is already open.
  QLineEdit* OpenEditField(int column, int row);
  QComboBox* OpenDropDown(int column, int row);
  EditResult RunEditLoop(int column, int row);
  QWidget* Editor() const { return editor_; }
  void CloseEditor();

  int HoverColumn() const { return hoverColumn_; }
  int HoverRow() const { return hoverRow_; }
  // Forgets the hovered cell without a leave report; the next mouse move reports anew.
  void ResetHover();

  // Column and row under a viewport point; false when no cell is there.
  bool HitTest(const QPoint& point, int* column, int* row) const;

  static QString ShortenPath(const QString& text, const QFontMetrics& metrics, int width);

 protected:
  bool event(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  class EditLoopFilter;

  void UpdateGeometries();
  void UpdateScrollBars();
  int ColumnLeft(int index) const;
  int TotalWidth() const;
  void ReportPress(Press press, QMouseEvent* event);
  // A mouse button press or double click as the press of the callbacks (or none).
  void ReportButton(QMouseEvent* event, bool doubleClick);
  bool HandleKey(QKeyEvent* event);
  void MoveTo(int column, int row);
  void ReportLeave();
  void HeaderResized(int index, int oldWidth, int newWidth);
  void PaintCells(QPainter& painter);

  Callbacks callbacks_;
  QHeaderView* header_ = nullptr;
  QStandardItemModel* headerModel_ = nullptr;
  std::vector<int> widths_;
  int rowCount_ = 0;
  int currentColumn_ = -1;
  int currentRow_ = -1;
  int hoverColumn_ = -1;
  int hoverRow_ = -1;
  int rowHeight_ = 0;
  bool cellMode_ = true;
  bool headerLocked_ = false;
  bool painting_ = false;
  bool restoringWidth_ = false;
  QPointer<QWidget> editor_;
  std::function<void()> placeCheck_;  // while an edit loop runs: cancel when the cell moved
};

// How an owner's OnDrawCell paints a cell: filled with the background, an editable cell sunken,
// the text in the foreground colour (italic for a value that differs from the device's),
// centred, cut with "..." to the room left by the margin; the focus frame on the focused cell.
struct CellLook {
  QColor background;
  QColor foreground;
  bool italic = false;
  bool sunken = false;
  bool focused = false;
  int textFlags = 0;  // added to the drawing's flags, e.g. Qt::TextShowMnemonic
  int margin = 0;     // room left free at the left and right edge
};
void PaintCell(const ListControl& list, QPainter& painter, const QRect& rect, const QString& text,
               const CellLook& look);

}  // namespace lumo::ui

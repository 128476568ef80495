// The parameter table: one row per parameter of the device definition, columns Name, Device,
// Edit and File, inside its group box (frame 120; the list itself is control 121).
//
// State model. All values live in the parameter model (definitions/pardef.h): the Device column
// is decoded from the device image, the Edit and File columns are the records' Edit and File
// values. The user changes only Edit values (SetEdit): by a click, Space, F2, a digit or "-" on an
// Edit cell (two states toggle, more states a drop-down list, no states an edit field checked
// against the limits), by the arrow buttons shown over a hovered Device or File cell, or by the
// main window's column copies. The table itself keeps only the loaded file's path (File header),
// the hint of the hovered row and the arrow button while the mouse is over a cell.
//
// How the main window uses it:
//   - the list fills the frame as the window template places it (insets in dialog units of the
//     table's font); the main window sizes the group box only.
//   - window adaptation: Attach(definition, access) once; then SetCommandButtons and
//     PlaceCommandButtons with the six buttons 122..127 (the list is shortened by 44 px and the
//     buttons placed under the value columns, again after every resize); RefreshTable after
//     Attach and give the list the focus.
//   - after every command and link event: RefreshTable (headers, repaint, enabling of 122, 123,
//     125, group box caption); after a parameter file was loaded: SetLoadedFile(path), refresh.
//   - command 123: CopyDeviceToEditColumn; command 127: CopyFileToEditColumn.
//   - commands 147/148: the signal copyValueRequested(147 or 148, row) comes from the arrow
//     buttons; the main window runs its command and calls CopyOneValue(command, row).
//   - Escape typed in the table: cancelRequested() (the main window's Cancel command, exit query).
//   - hintChanged(text): the hovered row's description for status bar part 0, or an arrow
//     button's text while the pointer is on the button; Hint() gives the row's description at
//     any time (empty when the mouse is not over a row). The table answers the tooltips over
//     its rows itself while EnableToolTips is on: the row's description, and the list's own
//     text (control 121) where no row is; the arrow buttons carry their own text.
//   - editFinished(): an Edit value may have changed (the main window updates its enabling).
//
//   Attach, RefreshTable, SetLoadedFile, SetFileBeamLineUnreadable, LoadedFile
//   CopyDeviceToEditColumn, CopyFileToEditColumn, CopyOneValue
//   PlaceCommandButtons, List, Hint, ArrowButton
//   RetranslateHint        the hint's row description again, in the language now selected
//   RowHeightFor           the row height the definition needs in a font
//   CaptionIsChanged       whether the caption says "changed"
#pragma once

#include <QGroupBox>
#include <QHelpEvent>
#include <QPointer>
#include <QString>
#include <string>

#include "definitions/pardef.h"
#include "gui/widgets/device_access.h"
#include "gui/widgets/list_control.h"

#include <QAbstractButton>
#include <QToolButton>

namespace lumo::ui {

class ParameterTable : public QGroupBox {
  Q_OBJECT

 public:
  enum Column { kColName = 0, kColDevice = 1, kColEdit = 2, kColFile = 3 };
  static constexpr int kCmdCopyFile = 147;    // arrow in a File cell: File value to Edit
  static constexpr int kCmdCopyDevice = 148;  // arrow in a Device cell: Device value to Edit

  explicit ParameterTable(QWidget* parent = nullptr);
  ~ParameterTable() override;

  // Creates the columns and one row per parameter (records that are not bracketed). The
  // definition and access must outlive the table.
  void Attach(ParDef* definition, DeviceAccess* access);
  void RefreshTable();

  // The loaded parameter file's path (Windows-1252); empty: none loaded.
  void SetLoadedFile(const std::string& path);
  // The loaded file's beam line could not be read (its beams were not taken): the File header
  // says so, with the file's name.
  void SetFileBeamLineUnreadable(bool unreadable);
  const std::string& LoadedFile() const { return loadedFile_; }

  void CopyDeviceToEditColumn();
  void CopyFileToEditColumn();
  // 147: File value, 148: Device value into the row's Edit value; then focus and repaint.
  void CopyOneValue(int command, int row);

  // Buttons 122..127 (any may be nullptr). The table enables 122, 123 and 125 at every refresh
  // and places all six under its value columns.
  void SetCommandButtons(QAbstractButton* read, QAbstractButton* copyLeft, QAbstractButton* save,
                         QAbstractButton* write, QAbstractButton* load, QAbstractButton* copyRight);
  void PlaceCommandButtons();

  ListControl* List() { return &list_; }
  const ListControl* List() const { return &list_; }
  const QString& Hint() const { return hint_; }
  // After a language change: the row the hint describes, described in the new language
  // (hintChanged); nothing when no row's hint is shown.
  void RetranslateHint();
  // The arrow button now shown, or nullptr.
  QToolButton* ArrowButton() const { return arrow_; }
  bool CaptionIsChanged() const { return captionChanged_; }

  // Rows as high as a closed drop-down list less 1 when some row edits with one, else the
  // font's height plus 4.
  static int RowHeightFor(const ParDef& definition, const QFont& font);

 signals:
  void copyValueRequested(int command, int row);
  void cancelRequested();
  void hintChanged(const QString& hint);
  void editFinished();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayOutList();
  void PlaceButtons();
  PVar* Record(int row) const;
  bool DeviceValid() const;
  void SetColumnWidths();
  void SetHeaders();
  void SetCaption();
  void EnableButtons();
  QString CellText(int column, int row) const;
  void DrawCell(int column, int row, QPainter& painter, const QRect& rect, const QString& text,
                bool focused);
  void HoverCell(int column, int row);
  void LeaveCell();
  void RemoveArrow();
  void ShowRowTooltip(const QHelpEvent& help);
  void Click(int column, int row);
  void Character(int column, int row, QChar ch, bool isSystem, bool& handled);
  void StartEdit(int row, QChar digit);
  void AcceptEditText(PVar* record, const std::string& text);

  ListControl list_;
  ParDef* definition_ = nullptr;
  DeviceAccess* access_ = nullptr;
  std::string loadedFile_;
  bool beamLineUnreadable_ = false;
  QString hint_;
  int hintRow_ = -1;  // the row hint_ describes; -1: none
  QPointer<QToolButton> arrow_;
  int arrowColumn_ = -1;
  int arrowRow_ = -1;
  bool editing_ = false;
  bool captionChanged_ = false;
  bool buttonsPlaced_ = false;
  QPointer<QAbstractButton> buttons_[6];
};

}  // namespace lumo::ui

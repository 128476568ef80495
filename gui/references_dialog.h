// The beam references dialog (dialog 200): one row per beam with its stored byte and the value
// it stands for, editable per beam and for all beams ("All" row), the gains, a range preset for
// all beams, the statistics lines (expert mode), the write to the device and a copy of the table
// to the clipboard.
//
// State (user interface thread): the editing model (signal/references.h: the global edited
// references, the dialog's HW and SW, what the device holds), loaded when the dialog opens and
// again after every DN_WRITEEND. Nothing reaches the device before "write to device" (202).
// While the dialog exists it receives the link's events through the main window; a device that
// leaves configuration mode closes it.
//
//   ReferencesDialog  construct; Open (false: the gain parameters are missing, do not show)
//   OnLinkEvent       close without the device, reload after a write
//   accept            Enter: range preset in 209, SW in 204, else close
//   done              asks before unsaved changes are dropped; the result is always 1
//   EditCell          the in-place edit of a raw or reconstructed value
//   Write, CopyToClipboard, ApplyDialogRange, ApplySwField, Refresh
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <map>

#include "gui/link_events.h"
#include "gui/tooltip_filter.h"
#include "gui/widgets/list_control.h"
#include "link/dut_link.h"
#include "signal/references.h"

namespace lumo::gui {

class MainWindow;

// Control ids of template 200.
enum ReferencesControlId : int {
  kIdRefReady = 1,
  kIdRefStatLimits = 139,
  kIdRefStatMean = 140,
  kIdRefList = 201,
  kIdRefWrite = 202,
  kIdRefGainLabel = 203,
  kIdRefSw = 204,
  kIdRefLow = 205,
  kIdRefSwLabel = 206,
  kIdRefHigh = 207,
  kIdRefFormula = 208,
  kIdRefDistance = 209,
  kIdRefDistanceLabel = 210,
  kIdRefCopy = 211,
};

class ReferencesDialog : public QDialog, public LinkEventReceiver {
 public:
  // Column of the list.
  enum Column { kColName = 0, kColRaw = 1, kColValue = 2 };

  ReferencesDialog(MainWindow* owner, DutLink& link);
  ~ReferencesDialog() override;

  // Loads the references and gains; false when the gain parameters are missing.
  bool Open();
  void OnLinkEvent(const LinkEvent& event) override;
  void accept() override;
  void done(int result) override;

  QWidget* ControlById(int id) const;
  ui::ListControl& List() { return list_; }
  const ReferenceEditor& Editor() const { return editor_; }
  // The in-place edit of one cell; digit: the first character typed, or none.
  void EditCell(int column, int row, QChar digit = QChar());
  void CopyToClipboard();
  bool Write();

 private:
  void Build();
  void PlaceListButtons();
  void InitList(ui::ListControl& list);
  void CellText(int column, int row, QString& text) const;
  void DrawCell(int column, int row, QPainter& painter, const QRect& rect, const QString& text,
                bool focused);
  void ApplyDialogRange();
  void ApplySwField();
  void Refresh();
  void SetStatistics();
  bool eventFilter(QObject* watched, QEvent* event) override;

  MainWindow* owner_;
  DutLink& link_;
  ReferenceEditor editor_;
  ReferenceSettings settings_;
  ControlTooltips tooltips_;
  QLabel swLabel_;
  QLineEdit swField_;
  QLabel gainLabel_;
  QRadioButton low_;
  QRadioButton high_;
  QLabel distanceLabel_;
  QLabel formula_;
  QLineEdit distanceField_;
  ui::ListControl list_;
  QPushButton write_;
  QPushButton copy_;
  QLabel statLimits_;
  QLabel statMean_;
  QPushButton ready_;
  std::map<int, QWidget*> controls_;
  bool closingWithoutQuestion_ = false;
};

}  // namespace lumo::gui

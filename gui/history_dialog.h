// The unit history of the connected unit: one row per record (time, station, operator, job,
// outcome, changed parameters as the parameter table names them), newest first, and a button
// that takes the chosen record's values into the Edit column.
//
// State model: the dialog shows a copy of the records it was given; it never opens a database
// nor touches the parameter model. After exec() returns Accepted, Chosen() is the record whose
// values are to be copied (the main window does that through the core).
//
//   HistoryDialog   build the table from the records; the copy button is enabled for a row
//                   whose record holds the device's values after the job
//   Chosen          the record chosen, nullptr when none
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <functional>
#include <string>
#include <vector>

#include "history/history_record.h"

namespace lumo::gui {

class HistoryDialog : public QDialog {
 public:
  // changed: the names of the parameters a record changed, already as shown (UTF-8 to Qt).
  using ChangedNames = std::function<QString(const HistoryRecord&)>;
  HistoryDialog(const QString& unit, std::vector<HistoryRecord> records,
                const ChangedNames& changed, QWidget* parent);

  const HistoryRecord* Chosen() const;
  QTableWidget& Table() { return table_; }
  QPushButton& CopyButton() { return copy_; }

 private:
  void UpdateButtons();

  std::vector<HistoryRecord> records_;
  QLabel unit_;
  QTableWidget table_;
  QPushButton copy_;
  QPushButton close_;
  int chosen_ = -1;
};

}  // namespace lumo::gui

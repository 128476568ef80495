// The unit history in the desktop program: its jobs go on record, File -> Unit history shows the
// connected unit's records with the parameters each changed, one record's values go into the
// Edit column, and the status bar says how many records wait.
#include <QApplication>
#include <QMenu>
#include <QTimer>
#include <QtTest>
#include <fstream>
#include <memory>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/cell_text.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "gui/dialog_fixture.h"
#include "gui/history_dialog.h"
#include "gui/main_window.h"
#include "history/history_store.h"
#include "link/dut_link.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"

using namespace lumo;
using namespace lumo::gui;

namespace {

int64_t Records(const std::string& file) {
  std::unique_ptr<HistoryStore> store;
  return OpenSqliteHistory(file, &store).Ok() ? store->Count() : -1;
}

}  // namespace

class HistoryWindowTest : public QObject, private test::DialogFixture {
  Q_OBJECT
 private slots:
  void init() { Init(); }
  void cleanup() { Cleanup(); }
  void jobsAreRecordedShownAndCopied();
  void statusBarSaysHowManyWait();

 private:
  void Open(const std::string& database);
  QString Cell(int row, int column) { return window_->Table().List()->CellText(column, row); }
};

void HistoryWindowTest::Open(const std::string& database) {
  UseSettings(
      "[CommSettings]\nDefaultPortName=SIM:TG5\nEcho=0\n[Misc]\nPropertiesOnStart=0\n"
      "Language=English\n[History]\nDatabase=" +
      database + "\n");
  QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5)) !=
          nullptr);
  ShowWindow("TG5.txt");
  WaitForDevice();
}

void HistoryWindowTest::jobsAreRecordedShownAndCopied() {
  const std::string database = folder_->path() + "history.sqlite";
  Open(database);
  // The read at detection is on record.
  QTRY_COMPARE_WITH_TIMEOUT(Records(database), int64_t{1}, test::kDeviceWaitMs);

  // A write that changes one parameter.
  int row = -1;
  PVar* record = FirstChoice(&row);
  QVERIFY(record != nullptr);
  const QString original = Cell(row, 1);
  EditAnotherState(record);
  window_->UpdateEnabling();
  const QString written = Cell(row, 2);
  QTest::mouseClick(window_->ControlById(kIdWrite), Qt::LeftButton);
  QTRY_COMPARE_WITH_TIMEOUT(Cell(row, 1), written, test::kDeviceWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(Records(database), int64_t{2}, test::kDeviceWaitMs);

  // File -> Unit history: newest first, the write names the parameter it changed; copying the
  // read's record takes the old value into the Edit column.
  QAction* item = window_->MenuAction(kIdHistory);
  QVERIFY(item != nullptr);
  QCOMPARE(item->text(), QStringLiteral("&Unit history"));
  int rows = -1;
  QString changed, firstJob;
  window_->SetDialogHook([&](QDialog& dialog) {
    auto* history = dynamic_cast<HistoryDialog*>(&dialog);
    QVERIFY(history != nullptr);
    QTimer::singleShot(0, history, [&, history] {
      rows = history->Table().rowCount();
      firstJob = history->Table().item(0, 3)->text();
      changed = history->Table().item(0, 5)->text();
      history->Table().selectRow(1);
      history->CopyButton().click();
    });
  });
  item->trigger();
  QCOMPARE(rows, 2);
  QCOMPARE(firstJob, QStringLiteral("write"));
  QVERIFY2(
      changed.contains(FromCp1252(WithoutHotkeyMarks(NameCellText(CurrentDefinition(), record)))),
      qPrintable(changed));
  QCOMPARE(Cell(row, 2), original);
  QCOMPARE(Cell(row, 1), written);
  QVERIFY(recorder_->Boxes().empty());
}

void HistoryWindowTest::statusBarSaysHowManyWait() {
  // A history file that is no database: the read's record waits in the queue beside it.
  const std::string junk = folder_->Write("junk.sqlite", std::string(4096, 'j'));
  Open(junk);
  QTRY_VERIFY_WITH_TIMEOUT(
      window_->Status().Status().contains(QStringLiteral("1 records wait for the history")),
      test::kDeviceWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(Records(folder_->path() + "junk-queue.sqlite"), int64_t{1},
                            test::kDeviceWaitMs);
  QVERIFY(window_->Status().Status().contains(QStringLiteral("1 records wait for the history")));
  QCOMPARE(test::ReadFile(junk), std::string(4096, 'j'));
}

LUMO_GUI_TEST_MAIN(HistoryWindowTest)
#include "history_window_test.moc"

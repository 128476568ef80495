// The signal test and the beam references against the simulated light curtain: live values and
// the history bar, the range preset of the main window, the references dialog's edits, write,
// clipboard text and closing question, and screenshots of both dialogs.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QtTest>
#include <fstream>
#include <memory>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "gui/dialog_fixture.h"
#include "gui/main_window.h"
#include "gui/references_dialog.h"
#include "gui/signal_dialog.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "signal/references.h"
#include "signal/signal_values.h"
#include "sim/sim_port.h"

using namespace lumo;
using namespace lumo::gui;

namespace {

constexpr int kFactorySw = 3;        // the simulated device's gains: SW 3, HW high
constexpr uint8_t kGainBits = 0x1F;  // page 1 byte 0: SW in bits 0-3, HW in bit 4

QString LabelText(QWidget* widget) {
  auto* label = qobject_cast<QLabel*>(widget);
  return label == nullptr ? QString() : label->text();
}

std::vector<uint8_t> DevicePage(int page) {
  return sim::SimulatedDevice("SIM:TG5")->Page(page);
}

bool AllBytesAre(const std::vector<uint8_t>& page, uint8_t value) {
  if (page.empty()) return false;
  for (uint8_t b : page) {
    if (b != value) return false;
  }
  return true;
}

void SaveScreenshot(QWidget& widget, const char* name) {
  QDir().mkpath(QStringLiteral(LUMO_SCREENSHOT_DIR));
  QVERIFY(widget.grab().save(QStringLiteral(LUMO_SCREENSHOT_DIR "/%1.png").arg(name)));
}

}  // namespace

class SignalReferencesTest : public QObject, private test::DialogFixture {
  Q_OBJECT
 private slots:
  void init() { Init(); }
  void cleanup() { Cleanup(); }
  void signalTestShowsTheDeviceLive();
  void failedPollLeavesTheHistory();
  void rangePresetsWriteTheReferences();
  void rangePresetTooFarChangesNothing();
  void referencesEditAllRowAndWrite();
  void referencesReconstructedEditAndClipboard();
  void commandsOpenTheDialogs();
  void referencesWithFp8Values();
  void referencesCloseWhenTheDeviceLeaves();

 private:
  // The main window on the simulated light curtain, in expert mode, with its parameters read.
  void Open(bool fp8 = false);
  void SetRange(const QString& text) {
    static_cast<QLineEdit*>(window_->ControlById(kIdRangeField))->setText(text);
  }
  QString RangeText() {
    return static_cast<QLineEdit*>(window_->ControlById(kIdRangeField))->text();
  }
  // Runs an in-place edit of the cell with the typed text, ended by Enter.
  void TypeIntoCell(ReferencesDialog& dialog, int column, int row, const QString& text);
};

void SignalReferencesTest::Open(bool fp8) {
  UseSettings(
      "[CommSettings]\nDefaultPortName=SIM:TG5\nEcho=0\n[Misc]\nPropertiesOnStart=0\n"
      "Language=English\n",
      kStartExpert);
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.fp8 = fp8;
  QVERIFY(sim::PrepareSimulatedDevice("SIM:TG5", options));
  ShowWindow("TG5.txt");
  WaitForDeviceInExpertMode();
}

void SignalReferencesTest::signalTestShowsTheDeviceLive() {
  Open();
  TheSignalHistory().Clear();
  // The link is busy reading when the dialog opens: the poll is asked again until accepted.
  TheLink().ResetPages(-1);
  QVERIFY(TheLink().RequestCommand(CMD_READ, 0));
  {
    SignalDialog dialog(window_.get(), TheLink());
    dialog.show();
    QTRY_COMPARE_WITH_TIMEOUT(LabelText(dialog.ControlById(kIdSignalWeakest)), QStringLiteral("80"),
                              test::kDeviceWaitMs);
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalStrongest)), QStringLiteral("1600"));
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalGain)), QStringLiteral("high gain"));
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalSync)), QStringLiteral("Synchronised"));
    QCOMPARE(TheSignalHistory().Entry(kSignalHistorySize - 1), uint16_t(10 | 200 << 8));

    // The device's signal changes: the dialog follows.
    sim::SimulatedDevice("SIM:TG5")->SetSignal({0x02, 0x02, 50, 100});
    QTRY_COMPARE_WITH_TIMEOUT(LabelText(dialog.ControlById(kIdSignalWeakest)),
                              QStringLiteral("200"), test::kDeviceWaitMs);
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalStrongest)), QStringLiteral("400"));
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalGain)), QStringLiteral("low gain"));
    QCOMPARE(LabelText(dialog.ControlById(kIdSignalSync)), QStringLiteral("Not synchronised"));

    // The newest bar (darkest) spans 50/255 to 100/255 of the bar area.
    auto* bar = static_cast<SignalBar*>(dialog.ControlById(kIdSignalBar));
    const QRect area = bar->BarArea();
    const QImage image = bar->grab().toImage();
    const int y = area.center().y();
    const Rgb newest = BarColour(kSignalHistorySize - 1);
    QCOMPARE(image.pixelColor(area.left() + MulDiv(area.width(), 75, 255), y),
             QColor(newest.red, newest.green, newest.blue));
    QVERIFY(image.pixelColor(area.left() + MulDiv(area.width(), 5, 255), y) !=
            QColor(newest.red, newest.green, newest.blue));
    SaveScreenshot(dialog, "signal_test");

    // A wandering signal keeps the display moving, never farther than the wander range.
    sim::SimulatedDevice("SIM:TG5")->SetSignalWander(12);
    QTRY_VERIFY_WITH_TIMEOUT(LabelText(dialog.ControlById(kIdSignalWeakest)) != "200" ||
                                 LabelText(dialog.ControlById(kIdSignalStrongest)) != "400",
                             test::kDeviceWaitMs);
    const uint16_t moved = TheSignalHistory().Entry(kSignalHistorySize - 1);
    QVERIFY(std::abs((moved & 0xFF) - 50) <= 12 && std::abs((moved >> 8) - 100) <= 12);
    dialog.close();
  }
  // The history outlives the dialog: a new one draws the same bars before its first sample.
  const uint16_t newestBefore = TheSignalHistory().Entry(kSignalHistorySize - 1);
  SignalDialog again(window_.get(), TheLink());
  QCOMPARE(TheSignalHistory().Entry(kSignalHistorySize - 1), newestBefore);
  auto* bar = static_cast<SignalBar*>(again.ControlById(kIdSignalBar));
  const QRect area = bar->BarArea();
  const Rgb newest = BarColour(kSignalHistorySize - 1);
  QCOMPARE(bar->grab().toImage().pixelColor(area.left() + MulDiv(area.width(), 75, 255),
                                            area.center().y()),
           QColor(newest.red, newest.green, newest.blue));
}

void SignalReferencesTest::failedPollLeavesTheHistory() {
  Open();
  SignalDialog dialog(window_.get(), TheLink());
  TheSignalHistory().Clear();
  TheSignalHistory().Store(1, 2);
  TheSignalHistory().Advance();
  const QString shown = LabelText(dialog.ControlById(kIdSignalWeakest));
  LinkEvent failed;
  failed.code = DN_SIGNAL;
  failed.value = 0;
  dialog.OnLinkEvent(failed);
  QCOMPARE(TheSignalHistory().Index(), 1);
  QCOMPARE(TheSignalHistory().Entry(0), uint16_t(0));
  QCOMPARE(TheSignalHistory().Entry(kSignalHistorySize - 1), uint16_t(1 | 2 << 8));
  QCOMPARE(LabelText(dialog.ControlById(kIdSignalWeakest)), shown);
  // The test goes on with the next tick.
  QVERIFY(dialog.PollTimerActive());
}

void SignalReferencesTest::rangePresetsWriteTheReferences() {
  Open();
  SetRange(QStringLiteral("10"));
  recorder_->QueueAnswer(MsgAnswer::Yes);
  window_->Command(kIdRangeSet);
  QCOMPARE(RangeText(), QStringLiteral("10.0"));
  QVERIFY(test::HasBox(*recorder_, "SIG_QWRITE"));
  // 2000 / 10^2 = 20: byte 20, SW 0; [GainThreshold] 3000 >= 20: HW high.
  QTRY_VERIFY_WITH_TIMEOUT(AllBytesAre(DevicePage(0), 20), test::kDeviceWaitMs);
  QTRY_COMPARE_WITH_TIMEOUT(DevicePage(1)[0] & kGainBits, 0x10, test::kDeviceWaitMs);
  for (uint8_t b : EditedReferences()) QCOMPARE(b, uint8_t(20));

  // A decimal comma; Enter in the field applies the preset (and does not start the exit query).
  SetRange(QStringLiteral("2,5"));
  recorder_->QueueAnswer(MsgAnswer::Yes);
  QTRY_COMPARE_WITH_TIMEOUT(TheLink().Mode(), int32_t(MODE_IDLE), test::kDeviceWaitMs);
  window_->ControlById(kIdRangeField)->setFocus();
  QTest::keyClick(window_->ControlById(kIdRangeField), Qt::Key_Return);
  QCOMPARE(RangeText(), QStringLiteral("2.5"));
  // 2000 / 6.25 = 320 = 20 << 4: byte 20, SW 4, HW high.
  QTRY_COMPARE_WITH_TIMEOUT(DevicePage(1)[0] & kGainBits, 0x14, test::kDeviceWaitMs);
  QVERIFY(AllBytesAre(DevicePage(0), 20));
  QVERIFY(!test::HasBox(*recorder_, "ERRSIG_MAXDISTANCE"));
}

void SignalReferencesTest::rangePresetTooFarChangesNothing() {
  Open();
  const std::vector<uint8_t> before = DevicePage(0);
  EditedReferences().fill(7);
  SetRange(QStringLiteral("12"));
  window_->Command(kIdRangeSet);
  QVERIFY(test::HasBox(*recorder_, "ERRSIG_MAXDISTANCE"));
  QVERIFY(!test::HasBox(*recorder_, "SIG_QWRITE"));
  QCOMPARE(EditedReferences()[0], uint8_t(7));
  // A No to the question changes nothing either.
  recorder_->Clear();
  recorder_->QueueAnswer(MsgAnswer::No);
  SetRange(QStringLiteral("5"));
  window_->Command(kIdRangeSet);
  QVERIFY(test::HasBox(*recorder_, "SIG_QWRITE"));
  QCOMPARE(EditedReferences()[0], uint8_t(7));
  QCOMPARE(TheLink().Mode(), int32_t(MODE_IDLE));
  QCOMPARE(DevicePage(0), before);
}

void SignalReferencesTest::TypeIntoCell(ReferencesDialog& dialog, int column, int row,
                                        const QString& text) {
  bool typed = false;
  QTimer::singleShot(0, &dialog, [&dialog, &text, &typed] {
    QWidget* editor = dialog.List().Editor();
    if (editor == nullptr) return;
    // The cell's text is selected: typing replaces it.
    QTest::keyClicks(editor, text);
    QTest::keyClick(editor, Qt::Key_Return);
    typed = true;
  });
  dialog.EditCell(column, row);
  QVERIFY(typed);
}

void SignalReferencesTest::referencesEditAllRowAndWrite() {
  Open();
  ReferencesDialog dialog(window_.get(), TheLink());
  QVERIFY(dialog.Open());
  dialog.show();
  ui::ListControl& list = dialog.List();
  QCOMPARE(list.RowCount(), 33);  // "All" and 32 beams
  QCOMPARE(list.CellText(0, 0), QStringLiteral("All"));
  QCOMPARE(list.CellText(0, 5), QStringLiteral("Nr. 5"));
  const int raw = DevicePage(0)[4];
  QCOMPARE(list.CellText(1, 5), QString::number(raw));
  QCOMPARE(list.CellText(2, 5), QString::number(raw << kFactorySw));
  QVERIFY(static_cast<QRadioButton*>(dialog.ControlById(kIdRefHigh))->isChecked());
  QCOMPARE(static_cast<QLineEdit*>(dialog.ControlById(kIdRefSw))->text(), QStringLiteral("3"));
  // Expert mode with a valid read: the statistics lines.
  QVERIFY(LabelText(dialog.ControlById(kIdRefStatLimits)).startsWith(QStringLiteral("Weakest: ")));
  QVERIFY(LabelText(dialog.ControlById(kIdRefStatMean)).startsWith(QStringLiteral("Mean value: ")));

  // Closing right after opening asks nothing.
  dialog.done(1);
  QVERIFY(recorder_->Boxes().empty());
  dialog.show();

  // "All" row, raw column: 300 stores 44 in every one of the 256 bytes.
  TypeIntoCell(dialog, 1, 0, QStringLiteral("300"));
  for (uint8_t b : EditedReferences()) QCOMPARE(b, uint8_t(44));
  QCOMPARE(list.CellText(1, 32), QStringLiteral("44"));
  QVERIFY(dialog.Editor().BeamChanged(1));
  QCOMPARE(list.CurrentRow(), 1);  // Enter moved one row down
  SaveScreenshot(dialog, "references_edited");

  // Unsaved changes: closing asks, and No keeps the dialog open.
  recorder_->QueueAnswer(MsgAnswer::No);
  dialog.done(1);
  QVERIFY(test::HasBox(*recorder_, "QUERYDISCARDCHANGES"));
  QVERIFY(dialog.isVisible());

  // Write: the device gets the bytes, DN_WRITEEND reloads, nothing is unsaved any more.
  QVERIFY(dialog.Write());
  QTRY_VERIFY_WITH_TIMEOUT(AllBytesAre(DevicePage(0), 44), test::kDeviceWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.Editor().Unsaved(), test::kDeviceWaitMs);
  recorder_->Clear();
  dialog.done(1);
  QVERIFY(recorder_->Boxes().empty());
  QVERIFY(!dialog.isVisible());
}

void SignalReferencesTest::referencesReconstructedEditAndClipboard() {
  Open();
  ReferencesDialog dialog(window_.get(), TheLink());
  QVERIFY(dialog.Open());
  dialog.show();
  ui::ListControl& list = dialog.List();
  // Beam 3 stands for 2000: SW 7 and byte 15 (1920), HW high ([GainThreshold] 3000).
  TypeIntoCell(dialog, 2, 3, QStringLiteral("2000"));
  QCOMPARE(list.CellText(1, 3), QStringLiteral("15"));
  QCOMPARE(list.CellText(2, 3), QStringLiteral("1920"));
  QCOMPARE(static_cast<QLineEdit*>(dialog.ControlById(kIdRefSw))->text(), QStringLiteral("7"));
  // The new SW applies to every beam.
  const int raw1 = DevicePage(0)[0];
  QCOMPARE(list.CellText(2, 1), QString::number(raw1 << 7));
  // A text without a number is ignored.
  TypeIntoCell(dialog, 1, 3, QStringLiteral("x"));
  QCOMPARE(list.CellText(1, 3), QStringLiteral("15"));

  dialog.CopyToClipboard();
  const QString text = QApplication::clipboard()->text();
  QVERIFY(text.startsWith(QStringLiteral("HW gain: 1, SW gain: 7\r\n 1:\t%1\r\n").arg(raw1 << 7)));
  QVERIFY(text.contains(QStringLiteral("\r\n 3:\t1920\r\n")));
  QVERIFY(text.endsWith(QStringLiteral("\r\n32:\t%1\r\n").arg(DevicePage(0)[31] << 7)));
  QCOMPARE(text.count(QStringLiteral("\r\n")), 33);

  // The dialog's own range preset: every byte, nothing written yet.
  auto* distance = static_cast<QLineEdit*>(dialog.ControlById(kIdRefDistance));
  distance->setFocus();
  distance->setText(QStringLiteral("1"));
  dialog.accept();
  QVERIFY(dialog.isVisible());
  QCOMPARE(distance->text(), QString());
  QCOMPARE(list.CellText(2, 20), QStringLiteral("1920"));  // 2000 -> 15 << 7
  SaveScreenshot(dialog, "references_range");
  QVERIFY(!AllBytesAre(DevicePage(0), 15));
  recorder_->QueueAnswer(MsgAnswer::Yes);
  dialog.reject();
  QVERIFY(!dialog.isVisible());
}

void SignalReferencesTest::commandsOpenTheDialogs() {
  Open();
  QString opened;
  auto closeModal = [&opened] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    if (dynamic_cast<SignalDialog*>(modal) != nullptr) opened = QStringLiteral("signal");
    if (dynamic_cast<ReferencesDialog*>(modal) != nullptr) opened = QStringLiteral("references");
    static_cast<QDialog*>(modal)->done(0);
  };
  QTimer::singleShot(100, window_.get(), closeModal);
  window_->Command(kIdSignalTest);
  QCOMPARE(opened, QStringLiteral("signal"));
  QTimer::singleShot(100, window_.get(), closeModal);
  window_->Command(kIdReferences);
  QCOMPARE(opened, QStringLiteral("references"));
}

void SignalReferencesTest::referencesWithFp8Values() {
  Open(true);
  ReferencesDialog dialog(window_.get(), TheLink());
  QVERIFY(dialog.Open());
  dialog.show();
  QVERIFY(dialog.Editor().Fp8());
  for (int id : {kIdRefSwLabel, kIdRefSw, kIdRefLow, kIdRefHigh, kIdRefGainLabel}) {
    QVERIFY(!dialog.ControlById(id)->isVisible());
  }
  ui::ListControl& list = dialog.List();
  const int raw = DevicePage(0)[0];
  QCOMPARE(list.CellText(2, 1), QString::number(DecodeFP8(uint8_t(raw))));
  // A reconstructed value is stored as its FP8 code; 70000 is beyond 16 bits: the largest code.
  TypeIntoCell(dialog, 2, 2, QStringLiteral("2000"));
  QCOMPARE(list.CellText(1, 2), QStringLiteral("175"));  // 0xAF
  QCOMPARE(list.CellText(2, 2), QStringLiteral("1984"));
  TypeIntoCell(dialog, 2, 0, QStringLiteral("70000"));
  QCOMPARE(list.CellText(1, 7), QStringLiteral("255"));
  QCOMPARE(list.CellText(2, 7), QStringLiteral("63488"));
  dialog.CopyToClipboard();
  QVERIFY(QApplication::clipboard()->text().startsWith(
      QStringLiteral("Empf\u00E4nger mit FP8-Bezugswerten\r\n 1:\t63488\r\n")));
  SaveScreenshot(dialog, "references_fp8");
  // Written without gains: page 0 changes, page 1 keeps its gain byte.
  const uint8_t gains = DevicePage(1)[0];
  QVERIFY(dialog.Write());
  QTRY_VERIFY_WITH_TIMEOUT(AllBytesAre(DevicePage(0), 0xFF), test::kDeviceWaitMs);
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.Editor().Unsaved(), test::kDeviceWaitMs);
  QCOMPARE(DevicePage(1)[0], gains);
}

void SignalReferencesTest::referencesCloseWhenTheDeviceLeaves() {
  Open();
  ReferencesDialog dialog(window_.get(), TheLink());
  QVERIFY(dialog.Open());
  dialog.show();
  TypeIntoCell(dialog, 1, 1, QStringLiteral("99"));
  QVERIFY(dialog.Editor().Unsaved());
  // Back to normal operation: the dialog closes without asking about its edits.
  QVERIFY(TheLink().RequestCommand(CMD_LEAVE, 0));
  QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), test::kDeviceWaitMs);
  QVERIFY(!test::HasBox(*recorder_, "QUERYDISCARDCHANGES"));
}

LUMO_GUI_TEST_MAIN(SignalReferencesTest)

#include "signal_references_test.moc"

// The self-test results dialogs against the simulated devices: the light curtain's rule and beam
// lists with pass and fail colours and the restart measurement, a version the rules refuse, and
// the joystick's stick prompt cancelled before and answered by the stick.
#include <QApplication>
#include <QHelpEvent>
#include <QImage>
#include <QToolTip>
#include <QtTest>

#include "dialog_fixture.h"
#include "gui/selftest_dialog.h"

using namespace lumo;
using namespace lumo::gui;
using namespace lumo::test;

namespace {

constexpr const char* kLongHint =
    "Netzteil, Spannungsregler, Sicherung, Verpolschutzdiode, Eingangsfilter, Steckverbinder";

const QColor kPass = QColor::fromRgb(200, 255, 200);
const QColor kFail = QColor::fromRgb(255, 200, 200);

// The colour of a cell near its top-left corner, away from the centred text.
QColor CellColour(ui::ListControl& list, int column, int row) {
  const QImage image = list.viewport()->grab().toImage();
  const QRect cell = list.CellRect(column, row);
  return image.pixelColor(cell.left() + 2, cell.top() + 2);
}

// The rule list row whose description starts with prefix, or -1.
int RowOf(ui::ListControl& list, const QString& prefix) {
  for (int row = 0; row < list.RowCount(); ++row) {
    if (list.CellText(0, row).startsWith(prefix)) return row;
  }
  return -1;
}

// The tooltip a widget shows at a point, with the user's tooltips switched on or off.
QString Tooltip(QWidget* widget, const QPoint& at, bool enabled) {
  SetTooltips(enabled);
  return TooltipAt(widget, at);
}

sim::SimOptions Options(sim::DeviceKind kind) {
  return sim::DefaultOptions(kind);
}

}  // namespace

class SelfTestDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void init() { fixture_.Init(); }
  void cleanup() { fixture_.Cleanup(); }
  void curtainResultsAndRestart();
  void curtainRestartTimeout();
  void refusedVersionFails();
  void joystickCancelledBeforeStick();
  void joystickFinishedAfterStick();
  void joystickWindowClosedWhileWaiting();

 private:
  DialogFixture fixture_;
};

void SelfTestDialogTest::curtainResultsAndRestart() {
  // The supply rule made tighter than the device's 24.0 V; the device restarts after 800 ms.
  const std::string limits = Replaced(ReadExample("Limits_TG5.txt"), "220, 260", "250, 260");
  sim::SimOptions options = Options(sim::DeviceKind::Tg5);
  options.bootDelayMs = 800;
  fixture_.Open("TG5.txt", "SIM:TG5", options, limits);
  QVERIFY(fixture_.window_->CommandButton(kIdSelfTest) != nullptr);
  fixture_.WaitForDevice();
  QVERIFY(fixture_.window_->CommandButton(kIdSelfTest)->isEnabled());

  fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Selftest results"));
    QVERIFY(!dialog.Joystick());
    QVERIFY(dialog.OkButton().isVisible());
    QVERIFY(!dialog.CancelButton().isVisible());
    // The device needs seconds for its test: the dialog says that it runs, with a moving bar.
    QVERIFY(dialog.Running());
    QVERIFY(dialog.BusyBar().isVisible());
    QCOMPARE(dialog.BusyBar().maximum(), 0);
    QCOMPARE(dialog.StatusLine().text(), QStringLiteral("Selftest in process"));
    QVERIFY(dialog.grab().save(ScreenshotPath("selftest_tg5_running.png")));
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Running(), kDeviceWaitMs);
    // One line tells the outcome: the supply rule fails.
    QVERIFY(!dialog.BusyBar().isVisible());
    QCOMPARE(dialog.StatusLine().text(), QStringLiteral("Self test FAILED"));
    QCOMPARE(dialog.StatusLine().palette().color(QPalette::Window), kFail);
    ui::ListControl& rules = dialog.RuleList();
    QCOMPARE(rules.ColumnCount(), 3);
    QCOMPARE(rules.HeaderText(1), QStringLiteral("Result"));
    QCOMPARE(rules.RowCount(), CountShownRules());

    const int supply = RowOf(rules, QStringLiteral("Versorgungsspannung"));
    const int temperature = RowOf(rules, QStringLiteral("Temperatur"));
    const int reset = RowOf(rules, QStringLiteral("Anlaufzeit"));
    QVERIFY(supply >= 0 && temperature >= 0 && reset >= 0);
    QCOMPARE(rules.CellText(1, supply), QStringLiteral("240"));
    QCOMPARE(CellColour(rules, 1, supply), kFail);
    QCOMPARE(rules.CellText(1, temperature), QStringLiteral("23"));
    QCOMPARE(CellColour(rules, 0, temperature), kPass);
    QCOMPARE(dialog.CellTooltip(1, supply), QStringLiteral("Min:250 | Max:260"));
    // Tooltips over a cell and over the beam list, only while the user has them on.
    QCOMPARE(Tooltip(rules.viewport(), rules.CellRect(1, supply).center(), true),
             QStringLiteral("Min:250 | Max:260"));
    QCOMPARE(Tooltip(dialog.BeamList().viewport(), QPoint(5, 5), true),
             QStringLiteral("relative and absolute value"));
    QCOMPARE(Tooltip(rules.viewport(), rules.CellRect(1, supply).center(), false), QString());
    // The restart is still awaited: "please wait...", not yet passed.
    QCOMPARE(rules.CellText(1, reset), QStringLiteral("please wait..."));
    QCOMPARE(CellColour(rules, 1, reset), kFail);
    QVERIFY(dialog.grab().save(ScreenshotPath("selftest_tg5_waiting.png")));

    // The beam list: 32 beams in four rows, relative to the beam base 12.
    ui::ListControl& beams = dialog.BeamList();
    QCOMPARE(beams.ColumnCount(), 9);
    QCOMPARE(beams.RowCount(), 4);
    QCOMPARE(beams.CellText(0, 3), QStringLiteral("Beams 25 to 32:"));
    QCOMPARE(beams.CellText(1, 0), QStringLiteral("+108 (120)"));
    QCOMPARE(CellColour(beams, 8, 3), kPass);

    // The measured restart time replaces the wait and passes.
    QTRY_VERIFY_WITH_TIMEOUT(rules.CellText(1, reset) != QStringLiteral("please wait..."),
                             kDeviceWaitMs);
    bool number = false;
    const int ms = rules.CellText(1, reset).toInt(&number);
    QVERIFY2(number && ms >= 600 && ms <= 1500, qPrintable(rules.CellText(1, reset)));
    QCOMPARE(CellColour(rules, 1, reset), kPass);
    QVERIFY(dialog.grab().save(ScreenshotPath("selftest_tg5.png")));
    QTest::mouseClick(&dialog.OkButton(), Qt::LeftButton);
  });
  QCOMPARE(fixture_.Result(), 1);
  QVERIFY(!HasBox(*fixture_.recorder_, "ERRST_FAILED"));
  QVERIFY(!SelfTestPassed(TheLimitTable(), TheBeamValues()));
}

void SelfTestDialogTest::curtainRestartTimeout() {
  // Waiting limit 300 ms (+200 ms), the device needs 800 ms: "timeout", failed.
  const std::string limits = Replaced(ReadExample("Limits_TG5.txt"), "10, 1500", "10, 300");
  sim::SimOptions options = Options(sim::DeviceKind::Tg5);
  options.bootDelayMs = 800;
  fixture_.Open("TG5.txt", "SIM:TG5", options, limits);
  fixture_.WaitForDevice();
  fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Running(), kDeviceWaitMs);
    ui::ListControl& rules = dialog.RuleList();
    const int reset = RowOf(rules, QStringLiteral("Anlaufzeit"));
    QVERIFY(reset >= 0);
    QTRY_COMPARE_WITH_TIMEOUT(rules.CellText(1, reset), QStringLiteral("timeout"), kDeviceWaitMs);
    QCOMPARE(CellColour(rules, 1, reset), kFail);
    // Escape after the results closes the dialog.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(!dialog.isVisible());
  });
  QCOMPARE(fixture_.Result(), 0);
}

void SelfTestDialogTest::refusedVersionFails() {
  // The device sends version 2; these rules are for versions 5 and 6 only.
  const std::string limits =
      Replaced(ReadExample("Limits_TG5.txt"), "\"Selbsttest-Version\", 2, 3", "\"V\", 5, 6");
  fixture_.Open("TG5.txt", "SIM:TG5", Options(sim::DeviceKind::Tg5), limits);
  fixture_.WaitForDevice();
  fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kDeviceWaitMs);
  });
  QCOMPARE(fixture_.Result(), 0);
  QVERIFY(HasBox(*fixture_.recorder_, "ERRST_FAILED"));
  bool titled = false;
  for (const MessageBoxRequest& box : fixture_.recorder_->Boxes()) {
    if (box.text == MsgText("ERRST_FAILED")) titled = box.caption == MsgText("ST_DLGTITLE");
  }
  QVERIFY(titled);
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, kDeviceWaitMs);
}

void SelfTestDialogTest::joystickCancelledBeforeStick() {
  sim::SimOptions options = Options(sim::DeviceKind::Jovix);
  options.stickWaitMs = -1;  // the stick is never moved
  fixture_.Open("Jovix.txt", "SIM:JOVIX", options, ReadExample("Limits_Jovix.txt"));
  fixture_.WaitForDevice();
  fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
    QVERIFY(dialog.Joystick());
    QVERIFY(!dialog.OkButton().isVisible());
    QVERIFY(dialog.CancelButton().isVisible());
    JoystickPrompt& prompt = dialog.Prompt();
    QCOMPARE(prompt.text(),
             QStringLiteral("Move the joystick to its\nlimits and release slowly..."));
    // Two lines of the prompt's font fill at most the prompt area.
    QVERIFY(2 * QFontMetrics(prompt.font()).height() <= prompt.height());
    QVERIFY(2 * QFontMetrics(prompt.font()).height() > prompt.height() / 2);
    // It blinks: hidden for a moment, then shown again.
    QTRY_VERIFY_WITH_TIMEOUT(!prompt.isVisible(), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(prompt.isVisible(), 5000);
    QVERIFY(dialog.grab().save(ScreenshotPath("selftest_jovix_prompt.png")));
    // Cancel while the device waits: the dialog stays until the link gave up, without a message.
    QTest::mouseClick(&dialog.CancelButton(), Qt::LeftButton);
    QVERIFY(TheLink().AbortRequested());
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kDeviceWaitMs);
  });
  QCOMPARE(fixture_.Result(), 0);
  QVERIFY(!HasBox(*fixture_.recorder_, "ERRST_FAILED"));
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, kDeviceWaitMs);
}

void SelfTestDialogTest::joystickFinishedAfterStick() {
  sim::SimOptions options = Options(sim::DeviceKind::Jovix);
  options.stickWaitMs = -1;
  const std::string limits = Replaced(ReadExample("Limits_Jovix.txt"), "\"Netzteil\"",
                                      std::string("\"") + kLongHint + "\"");
  fixture_.Open("Jovix.txt", "SIM:JOVIX", options, limits);
  fixture_.WaitForDevice();
  fixture_.RunDialog<SelfTestDialog>(kIdSelfCalibration, [&](SelfTestDialog& dialog) {
    const QRect promptArea = dialog.Prompt().geometry();
    QVERIFY(dialog.Running());
    QVERIFY(dialog.Prompt().Blinking());
    sim::SimulatedDevice("SIM:JOVIX")->MoveStick();
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.Running(), kDeviceWaitMs);
    QVERIFY(dialog.OkButton().isVisible());
    QVERIFY(!dialog.CancelButton().isVisible());
    QVERIFY(!dialog.Prompt().isVisible());
    QVERIFY(!dialog.Prompt().Blinking());
    // The rule list reaches down to the bottom of the prompt area.
    QCOMPARE(dialog.RuleList().geometry().bottom(), promptArea.bottom());
    ui::ListControl& rules = dialog.RuleList();
    QCOMPARE(rules.RowCount(), CountShownRules());
    // Self calibration centres the stick: every rule passes.
    const int centre = RowOf(rules, QStringLiteral("Mittelstellung X"));
    QVERIFY(centre >= 0);
    QCOMPARE(rules.CellText(1, centre), QStringLiteral("0"));
    for (int row = 0; row < rules.RowCount(); ++row) QCOMPARE(CellColour(rules, 2, row), kPass);
    QCOMPARE(dialog.StatusLine().text(), QStringLiteral("Self test passed"));
    QCOMPARE(dialog.StatusLine().palette().color(QPalette::Window), kPass);
    QVERIFY(!dialog.BusyBar().isVisible());
    // A hint too long for its cell (drawn by now) shows whole as the tooltip; a text that fits
    // has none, and the result column always tells its limits.
    const int supply = RowOf(rules, QStringLiteral("Versorgungsspannung"));
    QVERIFY(supply >= 0);
    QCOMPARE(dialog.CellTooltip(2, supply), QString::fromLatin1(kLongHint));
    QCOMPARE(dialog.CellTooltip(0, supply), QString());
    QCOMPARE(dialog.CellTooltip(1, supply), QStringLiteral("Min:110 | Max:130"));
    QVERIFY(dialog.grab().save(ScreenshotPath("selftest_jovix.png")));
    // The device going away now closes the joystick dialog.
    dialog.OnLinkEvent(LinkEvent{DN_NODEVICE, 0, nullptr});
    QVERIFY(!dialog.isVisible());
  });
  QCOMPARE(fixture_.Result(), 0);
  QVERIFY(SelfTestPassed(TheLimitTable(), TheBeamValues()));
  QVERIFY(fixture_.recorder_->Boxes().empty());
}

void SelfTestDialogTest::joystickWindowClosedWhileWaiting() {
  // Closing the window while the device waits for its stick ends the test as well, so that the
  // link is not left waiting without a time limit.
  sim::SimOptions options = Options(sim::DeviceKind::Jovix);
  options.stickWaitMs = -1;
  fixture_.Open("Jovix.txt", "SIM:JOVIX", options, ReadExample("Limits_Jovix.txt"));
  fixture_.WaitForDevice();
  fixture_.RunDialog<SelfTestDialog>(kIdSelfTest, [&](SelfTestDialog& dialog) {
    QVERIFY(dialog.Running());
    QVERIFY(dialog.close());
    QVERIFY(!dialog.isVisible());
  });
  QCOMPARE(fixture_.Result(), 0);
  QVERIFY(TheLink().AbortRequested());
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, kDeviceWaitMs);
  QVERIFY(fixture_.recorder_->Boxes().empty());
}

LUMO_GUI_TEST_MAIN(SelfTestDialogTest)

#include "selftest_dialog_test.moc"

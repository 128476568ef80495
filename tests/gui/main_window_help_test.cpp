// The assembled main window where the user points, types and chooses: tooltips and status bar
// hints over the parameter rows, the copy arrows and the beam panel's buttons (tooltips on and
// off), Enter on a focused command button, a port the system's list does not name kept by the
// settings dialog's Ok, the status bar's parts and font, and the manual's tooltip picture.
#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QtTest>
#include <fstream>
#include <memory>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/cell_text.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "files/parameter_file.h"
#include "gui/dialog_fixture.h"
#include "gui/main_window.h"
#include "gui/settings_dialog.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/pty_server.h"
#include "sim/sim_port.h"
#include "tests/support/temp_dir.h"

using namespace lumo;
using namespace lumo::gui;

namespace {

using test::SetTooltips;
using test::TooltipAt;

void SendEnter(QWidget* widget) {
  const QPoint at = widget->rect().center();
  QEnterEvent event(at, widget->mapTo(widget->window(), at), widget->mapToGlobal(at));
  QApplication::sendEvent(widget, &event);
}

void SendLeave(QWidget* widget) {
  QEvent event(QEvent::Leave);
  QApplication::sendEvent(widget, &event);
}

void SendMove(QWidget* widget, const QPoint& at) {
  QMouseEvent event(QEvent::MouseMove, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::NoButton,
                    Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &event);
}

QString DialogText(int id) {
  const char* text = TooltipText(100, [id](uint32_t control) { return control == uint32_t(id); });
  return text == nullptr ? QString() : FromCp1252(text);
}

}  // namespace

class MainWindowHelpTest : public QObject, private test::DialogFixture {
  Q_OBJECT
 private slots:
  void init() { Init(); }
  void cleanup();
  void tooltipsAndHintsWhereThePointerIs();
  void enterRunsTheFocusedButton();
  void unlistedPortSurvivesOk();
  void statusBarReachesTheRightEdge();
  void tooltipPicture();

 private:
  void Open(const char* definition, const std::string& port, bool expert);
};

void MainWindowHelpTest::cleanup() {
  Cleanup();
  QToolTip::hideText();
}

void MainWindowHelpTest::Open(const char* definition, const std::string& port, bool expert) {
  UseSettings("[CommSettings]\nDefaultPortName=" + port +
                  "\nEcho=0\n[Misc]\nPropertiesOnStart=0\nLanguage=English\n"
                  "EnableToolTips=1\nQueryLeaveMode=0\n",
              expert ? kStartExpert : 0);
  if (IsSimulatedPortName(port)) {
    const auto kind = port == "SIM:JOVIX" ? sim::DeviceKind::Jovix : sim::DeviceKind::Tg5;
    QVERIFY(sim::PrepareSimulatedDevice(port, sim::DefaultOptions(kind)) != nullptr);
  }
  ShowWindow(definition);
  window_->activateWindow();
  QVERIFY(QTest::qWaitForWindowActive(window_.get()));
}

// Each widget answers its own tooltip and hint: a parameter row its description, a copy arrow
// and the beam panel's buttons their texts; with tooltips off no tooltip shows, the hints stay.
void MainWindowHelpTest::tooltipsAndHintsWhereThePointerIs() {
  Open("TG5.txt", "SIM:TG5", true);
  WaitForDeviceInExpertMode();
  ui::ListControl* list = window_->Table().List();
  QWidget* rows = list->viewport();
  const QString rowText =
      FromCp1252(DisplayText(CurrentDefinition(), GetRecord(CurrentDefinition(), 0)->description));
  QVERIFY(!rowText.isEmpty());
  const QString copyText = QStringLiteral("Copy this value to column 'Edit'");
  for (bool on : {true, false}) {
    SetTooltips(on);
    const QString expectRow = on ? rowText : QString();
    // A parameter row: its description in the hint and, while tooltips are on, as the tooltip.
    window_->Status().SetHint(QString());
    SendEnter(rows);
    const QPoint nameCell = list->CellRect(ui::ParameterTable::kColName, 0).center();
    SendMove(rows, nameCell);
    QCOMPARE(window_->Status().Hint(), rowText);
    QCOMPARE(TooltipAt(rows, nameCell), expectRow);
    // The Device cell's copy arrow: its own text, in the hint too; back on the row, the row's.
    SendMove(rows, list->CellRect(ui::ParameterTable::kColDevice, 0).center());
    QToolButton* arrow = window_->Table().ArrowButton();
    QVERIFY(arrow != nullptr);
    SendEnter(arrow);
    QCOMPARE(window_->Status().Hint(), copyText);
    QCOMPARE(TooltipAt(arrow, arrow->rect().center()), on ? copyText : QString());
    SendLeave(arrow);
    QCOMPARE(window_->Status().Hint(), rowText);
    // The beam panel's buttons.
    for (int id : {kIdAllBeams, kIdDeactivate, kIdBeamWrite, kIdBeamRead}) {
      auto* button = window_->findChild<QPushButton*>(QStringLiteral("control%1").arg(id));
      QVERIFY(button != nullptr);
      const QString text = DialogText(id);
      QVERIFY(!text.isEmpty());
      window_->Status().SetHint(QString());
      SendEnter(button);
      QCOMPARE(window_->Status().Hint(), text);
      QCOMPARE(TooltipAt(button, button->rect().center()), on ? text : QString());
    }
    // A control without a text of its own still gets the window's: the read button.
    QWidget* read = window_->ControlById(kIdRead);
    SendEnter(read);
    QCOMPARE(window_->Status().Hint(), DialogText(kIdRead));
    QCOMPARE(TooltipAt(read, read->rect().center()), on ? DialogText(kIdRead) : QString());
  }
}

// Tab to a command button and press Enter: the button's command runs, never the exit question;
// Enter on Quit still asks.
void MainWindowHelpTest::enterRunsTheFocusedButton() {
  Open("TG5.txt", "SIM:TG5", true);
  WaitForDeviceInExpertMode();
  auto tabTo = [](QWidget* target) {
    for (int i = 0; i < 80 && QApplication::focusWidget() != target; ++i) {
      QWidget* focus = QApplication::focusWidget();
      if (focus == nullptr) return false;
      QTest::keyClick(focus, Qt::Key_Tab);
    }
    return QApplication::focusWidget() == target;
  };
  auto enter = [this] {
    recorder_->Clear();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCoreApplication::processEvents();
    return !test::HasBox(*recorder_, "QUERYENDSESSION") &&
           !test::HasBox(*recorder_, "QUERYDISCARDCHANGES");
  };
  DutLink& link = TheLink();
  // "read": a fresh read of the parameters.
  QVERIFY(tabTo(window_->ControlById(kIdRead)));
  QVERIFY(enter());
  QVERIFY(link.Mode() != MODE_IDLE || !link.ConfigValid());
  QTRY_VERIFY_WITH_TIMEOUT(link.ConfigValid() && link.Mode() == MODE_IDLE, test::kDeviceWaitMs);
  // "write": an Edit value reaches the device.
  PVar* record = FirstChoice();
  QVERIFY(record != nullptr);
  const int32_t other = EditAnotherState(record);
  window_->UpdateEnabling();
  QVERIFY(tabTo(window_->ControlById(kIdWrite)));
  QVERIFY(enter());
  QTRY_VERIFY_WITH_TIMEOUT(link.Mode() == MODE_IDLE && DeviceValue(record) == other,
                           test::kDeviceWaitMs);
  // "set": the range preset asks before it writes.
  static_cast<QLineEdit*>(window_->ControlById(kIdRangeField))->setText(QStringLiteral("2"));
  QVERIFY(tabTo(window_->ControlById(kIdRangeSet)));
  recorder_->QueueAnswer(MsgAnswer::No);
  QVERIFY(enter());
  QVERIFY(test::HasBox(*recorder_, "SIG_QWRITE") || test::HasBox(*recorder_, "ERRSIG_MAXDISTANCE"));
  // Enter on Quit is the exit question; the focused button's default is given back.
  QVERIFY(tabTo(window_->ControlById(kIdQuit)));
  recorder_->QueueAnswer(MsgAnswer::No);
  QVERIFY(!enter());
  // "1 Normal operation": the device goes back to normal operation.
  QVERIFY(tabTo(window_->CommandButton(kIdNormalMode)));
  QVERIFY(enter());
  QTRY_VERIFY_WITH_TIMEOUT(!link.InConfigMode(), test::kDeviceWaitMs);
}

// Expert mode opens the settings dialog first; a stored pseudo-terminal, which the system's list
// cannot name, stays in the port field, and Ok starts the link on it.
void MainWindowHelpTest::unlistedPortSurvivesOk() {
  sim::PtyServer server;
  int err = 0;
  QVERIFY(server.Open(false, true, err));
  server.Start(std::make_shared<sim::SimDevice>(sim::DefaultOptions(sim::DeviceKind::Tg5)));
  const std::string pty = server.SlavePath();
  Open("TG5.txt", pty, true);
  QString shown;
  bool pressed = false;
  QTimer poll;
  connect(&poll, &QTimer::timeout, this, [&] {
    auto* dialog = dynamic_cast<SettingsDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || pressed) return;
    pressed = true;
    shown = dialog->PortBox().currentText();
    static_cast<QAbstractButton*>(dialog->ControlById(kSetOk))->click();
  });
  poll.start(20);
  window_->FirstAction();
  QTRY_VERIFY_WITH_TIMEOUT(pressed, test::kDeviceWaitMs);
  poll.stop();
  QCOMPARE(shown, QString::fromStdString(pty));
  QCOMPARE(std::string(CurrentSettings().defaultPortName), pty);
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().InConfigMode(), test::kDeviceWaitMs);
  QCOMPARE(TheLink().PortName(), pty);
  QTRY_VERIFY_WITH_TIMEOUT(window_->Status().Status().contains(QString::fromStdString(pty)),
                           test::kDeviceWaitMs);
  QVERIFY(!test::HasBox(*recorder_, "ERRCOMOPENFAILED"));
  window_.reset();  // the link ends before the pseudo-terminal goes
  server.Stop();
}

// The status bar spans the window; its last part ends at the right edge at every width and in
// both languages; the joystick's status bar is written in a small font of 11 pixels' height.
void MainWindowHelpTest::statusBarReachesTheRightEdge() {
  for (const char* port : {"SIM:TG5", "SIM:JOVIX"}) {
    const bool jovix = std::string(port) == "SIM:JOVIX";
    Open(jovix ? "Jovix.txt" : "TG5.txt", port, true);
    StatusStrip& status = window_->Status();
    QCOMPARE(status.geometry().left(), 0);
    QCOMPARE(status.geometry().right(), window_->rect().right());
    const int cell = QFontMetrics(status.font()).height();
    if (jovix) {
      QVERIFY2(cell <= 11 && cell >= 8, qPrintable(QString::number(cell)));
      QVERIFY(QFontMetrics(status.StatusPart().font()).height() <= 11);
    } else {
      QCOMPARE(status.font(), window_->font());
    }
    for (LangId language : {kLangEnglish, kLangGerman}) {
      SelectLanguage(language);
      status.SetStatus(FromCp1252(FillText(MsgText("NODEVICE"), {"Jovix, Joystick-Steuerung"})));
      for (int width : {window_->width(), 300, 451, 640, 1001, 1600}) {
        status.resize(width, status.height());
        const QRect progress = status.ProgressPart().geometry();
        QCOMPARE(progress.right(), width - 1);
        QVERIFY(progress.width() > 0);
        QVERIFY(status.StatusPart().geometry().right() < progress.left());
        QVERIFY(status.ProgressPart().frameShape() == QFrame::Panel);
      }
      status.resize(window_->width(), status.height());
      QCOMPARE(status.ProgressPart().geometry().right(), window_->rect().right());
    }
    window_.reset();
    sim::ForgetSimulatedDevices();
  }
}

// The manual's picture of the tooltip over a parameter row, with the pointer really there: only
// on a real X server (QT_QPA_PLATFORM=xcb). Whether the windows' texts fit, in both languages
// and for both devices, is gui/languages_test's.
void MainWindowHelpTest::tooltipPicture() {
  if (QGuiApplication::platformName() != QStringLiteral("xcb"))
    QSKIP("the picture needs a real X server and pointer");
  Open("TG5.txt", "SIM:TG5", true);
  WaitForDeviceInExpertMode();
  SetTooltips(true);
  ui::ListControl* list = window_->Table().List();
  const QPoint at = list->CellRect(ui::ParameterTable::kColName, 2).center();
  const QString expected =
      FromCp1252(DisplayText(CurrentDefinition(), GetRecord(CurrentDefinition(), 2)->description));
  // Two positions in the row: the server reports the first as a move (the hint shows it) before
  // the second one rests there.
  QCursor::setPos(list->viewport()->mapToGlobal(at + QPoint(3, 0)));
  QTRY_COMPARE_WITH_TIMEOUT(window_->Status().Hint(), expected, 5000);
  QCursor::setPos(list->viewport()->mapToGlobal(at));
  QTRY_VERIFY_WITH_TIMEOUT(QToolTip::isVisible(), 5000);
  QCOMPARE(QToolTip::text(), expected);
  // The picture is taken from the screen: the tooltip's window has to be drawn there.
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (top->inherits("QTipLabel")) QVERIFY(QTest::qWaitForWindowExposed(top));
  }
  const QRect area = window_->frameGeometry().adjusted(-2, -2, 60, 40);
  QVERIFY(window_->screen()
              ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
              .save(test::ScreenshotPath("tooltip_parameter_row.png")));
}

LUMO_GUI_TEST_MAIN(MainWindowHelpTest)

#include "main_window_help_test.moc"

// The beam panel: the panel range, toggling by clicks and keys, Activate all, deactivation by a
// range text (button and Enter), device and edit image, captions, colours and enabling.
#include <QDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <cstring>
#include <fstream>
#include <memory>

#include "base/settings.h"
#include "definitions/definition.h"
#include "definitions/setup.h"
#include "gui/widgets/beam_panel.h"
#include "platform/message_box.h"
#include "widget_test_main.h"

using lumo::kBeamActive;
using lumo::kBeamInactive;
using lumo::ui::BeamPanel;
using lumo::ui::ListControl;

namespace {

constexpr uint8_t kBitmapFirmware = 0xA0;  // bits 0x80 and 0x20: beams as a bitmap
constexpr uint8_t kByteFirmware = 0x80;

struct FakeAccess : lumo::ui::DeviceAccess {
  bool valid = false;
  uint8_t firmware = kByteFirmware;
  bool ConfigValid() const override { return valid; }
  bool InConfigMode() const override { return valid; }
  uint8_t FirmwareByte0() const override { return firmware; }
};

void SetEditAllRays(bool on) {
  lumo::Settings s = lumo::CurrentSettings();
  s.editAllRays = on ? 1 : 0;
  lumo::SetCurrentSettings(s);
}

}  // namespace

class BeamPanelTest : public QObject {
  Q_OBJECT

 private:
  QDialog window_;
  QPushButton quit_;
  QPushButton reference_;
  BeamPanel* panel_ = nullptr;
  lumo::PageImages images_{};
  FakeAccess access_;
  lumo::MessageRecorder recorder_;

  ListControl* L() { return panel_->List(); }
  uint8_t State(int beam) { return panel_->States()[static_cast<size_t>(beam - 1)]; }
  QString ActiveText() { return panel_->ActiveBeamsText()->text(); }
  QPoint RowCenter(int row) { return L()->CellRect(1, row).center(); }
  // First and last processed beam, as the device reports them (page 3, offsets 1 and 0).
  void SetProcessed(int first, int last) {
    images_.device.bytes[3][1] = static_cast<uint8_t>(first);
    images_.device.bytes[3][0] = static_cast<uint8_t>(last);
  }
  void Deactivate(const char* text) {
    panel_->RangeField()->setText(QString::fromLatin1(text));
    QTest::keyClick(panel_->RangeField(), Qt::Key_Return);
  }

 private slots:
  void initTestCase() {
    lumo::ScopedMessageSink sink(&recorder_);
    std::ifstream tg5(LUMO_EXAMPLES_DIR "/TG5.txt", std::ios::binary);
    QVERIFY(lumo::SetupWithDefinition(lumo::ParseDefinition(tg5)));
    lumo::BindImages(&images_);
    window_.resize(260, 480);
    panel_ = new BeamPanel(&window_);
    panel_->setGeometry(4, 4, 135 * 6 / 4 + 30, 258 * 13 / 8 + 20);
    quit_.setParent(&window_);
    quit_.setText(QStringLiteral("Quit"));
    quit_.setDefault(true);
    quit_.setGeometry(4, 450, 80, 24);
    reference_.setParent(&window_);
    reference_.setGeometry(100, 450, 80, 24);
    panel_->Attach(lumo::CurrentDefinition(), &access_);
    panel_->SetDeviceControls({&reference_});
    QVERIFY(ShowActive(window_));
  }

  void cleanupTestCase() {
    lumo::BindImages(nullptr);
    lumo::DiscardCurrentDefinition();
  }

  void init() {
    images_ = {};
    access_.valid = false;
    access_.firmware = kByteFirmware;
    SetEditAllRays(true);
    panel_->ActivateAll();
  }

  void PanelRange() {
    auto check = [&](bool all, uint8_t firmware, int first, int last, int rows, int firstBeam) {
      SetEditAllRays(all);
      access_.firmware = firmware;
      SetProcessed(first, last);
      panel_->RefreshPanel();
      QCOMPARE(L()->RowCount(), rows);
      QCOMPARE(L()->CellText(0, 0), QString::number(firstBeam));
      QCOMPARE(L()->CellText(0, rows - 1), QString::number(firstBeam + rows - 1));
    };
    check(false, kBitmapFirmware, 4, 20, 17, 4);    // the processed beams 4 to 20
    check(true, kBitmapFirmware, 4, 20, 256, 1);    // every beam the definition allows
    check(true, kByteFirmware, 4, 20, 32, 1);       // the byte layout holds 32 beams
    check(false, kByteFirmware, 4, 40, 29, 4);      // capped at 32
    check(false, kBitmapFirmware, 0, 20, 256, 1);   // first 0: the limits
    check(false, kBitmapFirmware, 30, 20, 256, 1);  // inverted: the limits
  }

  void TextsOfTheRows() {
    panel_->States()[0] = kBeamInactive;
    panel_->States()[1] = lumo::kBeamUndetermined;
    panel_->States()[2] = 17;
    panel_->RefreshPanel();
    QCOMPARE(L()->CellText(1, 0), QStringLiteral("No"));
    QCOMPARE(L()->CellText(1, 1), QStringLiteral("???"));
    QCOMPARE(L()->CellText(1, 2), QStringLiteral("???"));
    QCOMPARE(L()->CellText(1, 3), QStringLiteral("Yes"));
    QCOMPARE(ActiveText(), QStringLiteral("???"));  // an undetermined beam in the range
    QCOMPARE(L()->HeaderText(1), QStringLiteral("active"));
    QCOMPARE(L()->HeaderText(0), QStringLiteral("#"));
  }

  void DeactivateByText() {
    QSignalSpy quit(&quit_, &QPushButton::clicked);
    QCOMPARE(ActiveText(), QStringLiteral("-32"));
    Deactivate("1-5 ; 6 ; 10-");
    QCOMPARE(ActiveText(), QStringLiteral("7-9"));
    QCOMPARE(quit.count(), 0);  // Enter stayed in the field
    QCOMPARE(panel_->RangeField()->selectedText(), QStringLiteral("1-5 ; 6 ; 10-"));
    panel_->ActivateAll();
    Deactivate("5-3");
    QCOMPARE(ActiveText(), QStringLiteral("-32"));
    panel_->RangeField()->setText(QStringLiteral("abc"));
    QVERIFY(!panel_->DeactivateRangeText());
    QCOMPARE(ActiveText(), QStringLiteral("-32"));
    QCOMPARE(panel_->RangeField()->text(), QStringLiteral("abc"));
    // The button does the same as Enter. Named beams end inactive, undetermined ones too;
    // beams not named keep their state, undetermined ones as well.
    panel_->States()[30] = lumo::kBeamUndetermined;
    panel_->States()[31] = lumo::kBeamUndetermined;
    panel_->RangeField()->setText(QStringLiteral("3;32"));
    panel_->findChild<QPushButton*>(QStringLiteral("control130"))->click();
    QCOMPARE(State(3), kBeamInactive);
    QCOMPARE(State(32), kBeamInactive);
    QCOMPARE(State(31), lumo::kBeamUndetermined);
    QCOMPARE(State(4), kBeamActive);
    panel_->findChild<QPushButton*>(QStringLiteral("control129"))->click();
    QCOMPARE(ActiveText(), QStringLiteral("-32"));
    QCOMPARE(State(32), kBeamActive);
  }

  void ClicksAndKeysToggle() {
    QSignalSpy changed(panel_, &BeamPanel::beamsChanged);
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, RowCenter(2));
    SendMouse(L()->viewport(), QEvent::MouseButtonRelease, RowCenter(2));
    QCOMPARE(State(3), kBeamInactive);
    QCOMPARE(L()->CurrentRow(), 2);
    QCOMPARE(L()->CurrentColumn(), 1);
    SendDoubleClick(L()->viewport(), RowCenter(2));  // two presses: two toggles
    QCOMPARE(State(3), kBeamInactive);
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, RowCenter(4), Qt::RightButton);
    QCOMPARE(State(5), kBeamInactive);
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, L()->CellRect(0, 6).center());
    QCOMPARE(State(7), kBeamInactive);  // the number column toggles too
    QTest::keyClick(L(), Qt::Key_Space);
    QCOMPARE(State(7), kBeamActive);
    QTest::keyClick(L(), Qt::Key_Down);
    QTest::keyClick(L(), Qt::Key_F2);
    QCOMPARE(State(8), kBeamInactive);
    // The last run goes on beyond the panel up to beam 256: no end number.
    QCOMPARE(ActiveText(), QStringLiteral("-2;4;6-7;9-"));
    QCOMPARE(changed.count(), 7);
    panel_->States()[9] = lumo::kBeamUndetermined;
    SendMouse(L()->viewport(), QEvent::MouseButtonPress, RowCenter(9));
    QCOMPARE(State(10), kBeamActive);  // undetermined becomes active
    QSignalSpy cancel(panel_, &BeamPanel::cancelRequested);
    QTest::keyClick(L(), Qt::Key_Escape);
    QCOMPARE(cancel.count(), 1);
  }

  void DeviceAndEditImage() {
    access_.firmware = kBitmapFirmware;
    access_.valid = true;
    // The device: beams 1..40 active except 2 and 35 (bit 1 of byte 2 is beam 35).
    for (int b = 1; b <= 40; ++b) {
      if (b == 2 || b == 35) continue;
      images_.device.bytes[2][(b - 1) % 32] |= static_cast<uint8_t>(1u << ((b - 1) / 32));
    }
    SetProcessed(1, 40);
    SetEditAllRays(false);
    panel_->TakeFromDevice();
    QCOMPARE(L()->RowCount(), 40);
    QCOMPARE(State(2), kBeamInactive);
    QCOMPARE(State(35), kBeamInactive);
    QCOMPARE(State(36), kBeamActive);
    QCOMPARE(ActiveText(), QStringLiteral("1;3-34;36-"));
    QVERIFY(!panel_->Changed());
    QCOMPARE(panel_->title(), QStringLiteral("Beam configuration"));
    images_.edit = images_.device;
    panel_->PutIntoEditImage();  // unchanged: nothing written
    QCOMPARE(std::memcmp(&images_.edit, &images_.device, sizeof images_.edit), 0);
    panel_->ToggleBeam(34);  // beam 35
    panel_->ToggleBeam(0);   // beam 1
    QVERIFY(panel_->Changed());
    QCOMPARE(panel_->title(), QStringLiteral("Beam configuration (changed)"));
    QCOMPARE(panel_->ActiveBeamsText()->palette().color(QPalette::Window),
             panel_->palette().color(QPalette::ToolTipBase));
    panel_->PutIntoEditImage();
    QCOMPARE(images_.edit.bytes[2][2], uint8_t(0x03));  // beams 3 and 35
    QCOMPARE(images_.edit.bytes[2][0], uint8_t(0x02));  // beam 1 off, beam 33 kept
    QCOMPARE(images_.edit.bytes[2][1], uint8_t(0x02));  // beam 2 stays off, beam 34 kept
    // The italic, tooltip-coloured cell of a beam that differs from the device.
    L()->EnsureCellVisible(1, 34);
    const QImage image = L()->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(L()->CellRect(1, 34).topLeft() + QPoint(3, 3)),
             panel_->palette().color(QPalette::ToolTipBase));
    QCOMPARE(image.pixelColor(L()->CellRect(1, 33).topLeft() + QPoint(3, 3)), QColor(Qt::white));
    QCOMPARE(image.pixelColor(L()->CellRect(0, 33).topLeft() + QPoint(3, 3)),
             QColor(200, 255, 200));
  }

  void Enabling() {
    auto* write = panel_->findChild<QPushButton*>(QStringLiteral("control136"));
    auto* read = panel_->findChild<QPushButton*>(QStringLiteral("control137"));
    QVERIFY(write != nullptr && read != nullptr);
    panel_->RefreshPanel();
    QVERIFY(!write->isEnabled() && !read->isEnabled() && !reference_.isEnabled());
    access_.valid = true;
    panel_->RefreshPanel();
    QVERIFY(write->isEnabled() && read->isEnabled() && reference_.isEnabled());
    QSignalSpy command(panel_, &BeamPanel::commandRequested);
    write->click();
    read->click();
    QCOMPARE(command.count(), 2);
    QCOMPARE(command.at(0).at(0).toInt(), BeamPanel::kCmdWriteBeams);
    QCOMPARE(command.at(1).at(0).toInt(), BeamPanel::kCmdReadBeams);
  }

  void Screenshot() {
    access_.valid = true;
    access_.firmware = kBitmapFirmware;
    for (int b = 1; b <= 20; ++b) images_.device.bytes[2][(b - 1) % 32] |= 1;
    SetProcessed(1, 20);
    SetEditAllRays(false);
    panel_->TakeFromDevice();
    panel_->ToggleBeam(3);
    panel_->RangeField()->setText(QStringLiteral("1-5 ; 6 ; 10-"));
    QVERIFY(SaveScreenshot(*panel_, QStringLiteral("beam_panel")));
  }
};

LUMO_UI_TEST_MAIN(BeamPanelTest)

#include "beam_panel_test.moc"

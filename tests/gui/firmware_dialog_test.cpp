// The firmware update from the main window against the simulated devices: the file choice, the
// question, the progress dialog with its percentages for a block and a stream image, a device
// whose dialogue does not fit the image, the "no firmware" offer, a refused request and the
// prompt of the stream dialogue cancelled by the user.
#include <QApplication>
#include <QtTest>
#include <cstdio>

#include "dialog_fixture.h"
#include "gui/firmware_dialog.h"
#include "gui/flash_prompt_window.h"

using namespace lumo;
using namespace lumo::gui;
using namespace lumo::test;

namespace {

// A block file: the lead byte, then blocks of 67 bytes, 16 digit pairs per line.
std::string BlockFile(uint8_t lead, int blocks) {
  char pair[4];
  std::snprintf(pair, sizeof pair, "%02X", lead);
  std::string text = std::string(pair) + "\r\n";
  const int bytes = blocks * static_cast<int>(kFlashBlockSize);
  for (int i = 0; i < bytes; ++i) {
    std::snprintf(pair, sizeof pair, "%02X", (i * 13 + 5) & 0xFF);
    text += pair;
    text += (i % 16 == 15) ? "\r\n" : " ";
  }
  return text + "\r\n";
}

}  // namespace

class FirmwareDialogTest : public QObject {
  Q_OBJECT
 private slots:
  void init();
  void cleanup() { fixture_.Cleanup(); }
  void blockUpdateThenMismatchedImage();
  void streamUpdate();
  void noFirmwareOffer();
  void refusedRequestClosesAtOnce();
  void promptCancelledEndsQuietly();

 private:
  // Every file request goes here; the answer is the next file (nothing: cancelled).
  void AnswerFiles(std::vector<std::string> files);
  // Runs the firmware command; the progress dialog's percentages and outcome are kept.
  void RunUpdate(std::function<void(FirmwareProgressDialog&)> script = nullptr);

  DialogFixture fixture_;
  std::vector<FileDialogRequest> requests_;
  std::vector<int> shown_;
  int outcome_ = -1;
};

void FirmwareDialogTest::init() {
  fixture_.Init();
  requests_.clear();
  shown_.clear();
  outcome_ = -1;
}

void FirmwareDialogTest::AnswerFiles(std::vector<std::string> files) {
  auto queue = std::make_shared<std::vector<std::string>>(std::move(files));
  fixture_.window_->SetFileDialogHook(
      [this, queue](const FileDialogRequest& request) -> std::optional<QString> {
        requests_.push_back(request);
        if (queue->empty()) return std::nullopt;
        QString file = QString::fromStdString(queue->front());
        queue->erase(queue->begin());
        return file;
      });
}

void FirmwareDialogTest::RunUpdate(std::function<void(FirmwareProgressDialog&)> script) {
  shown_.clear();
  outcome_ = -1;
  fixture_.RunDialog<FirmwareProgressDialog>(kIdFirmware, [&](FirmwareProgressDialog& dialog) {
    QObject::connect(&dialog, &QDialog::finished, [&] {
      shown_ = dialog.Shown();
      outcome_ = dialog.Outcome();
    });
    if (script) script(dialog);
    QTRY_VERIFY_WITH_TIMEOUT(!dialog.isVisible(), kDeviceWaitMs);
  });
}

void FirmwareDialogTest::blockUpdateThenMismatchedImage() {
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  fixture_.Open("TG5.txt", "SIM:TG5", options, "");
  const std::string block = fixture_.folder_->Write("three.tg5", BlockFile(0x1F, 3));
  const std::string stream = std::string(LUMO_EXAMPLES_DIR) + "/Jovix_firmware.bfl";
  AnswerFiles({block, stream});
  fixture_.WaitForDevice();
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);
  RunUpdate([](FirmwareProgressDialog& dialog) {
    QCOMPARE(dialog.Bar().minimum(), 0);
    QCOMPARE(dialog.Bar().maximum(), 100);
  });
  // The file choice: its title, the "*.*" filter preselected, the start folder.
  QCOMPARE(requests_.size(), size_t{1});
  QCOMPARE(requests_[0].title, QStringLiteral("Select firmware file"));
  QVERIFY(requests_[0].selectedFilter.contains(QStringLiteral("*.*")));
  QCOMPARE(requests_[0].directory, QString::fromStdString(fixture_.folder_->path()));
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_QOVERWRITE"));
  // Three blocks: 0 at the start, then 0, 33 and 66 after the blocks; never 100.
  QCOMPARE(shown_, (std::vector<int>{0, 0, 33, 66}));
  QCOMPARE(outcome_, static_cast<int>(DN_FLASHOK));
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_WRITESUCCESS"));
  // The boot loader takes the image as complete after a quiet second.
  QTRY_VERIFY_WITH_TIMEOUT(sim::SimulatedDevice("SIM:TG5")->LastFlash().has_value(), kDeviceWaitMs);
  std::optional<sim::FlashRecord> record = sim::SimulatedDevice("SIM:TG5")->LastFlash();
  QCOMPARE(static_cast<int>(record->lead), 0x1F);
  QCOMPARE(record->data.size(), size_t{3 * kFlashBlockSize});

  // The device restarts with its new firmware. A stream image does not fit its block dialogue:
  // the update fails before anything is sent.
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().InConfigMode() && TheLink().Mode() == MODE_IDLE,
                           kDeviceWaitMs);
  fixture_.recorder_->Clear();
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);
  RunUpdate();
  QCOMPARE(requests_.size(), size_t{2});
  QCOMPARE(requests_[1].fileName, QString::fromStdString(block));  // the previous choice
  QVERIFY(shown_.empty());
  QCOMPARE(outcome_, static_cast<int>(DN_FLASHFAILED));
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_WRITEFAILED"));
  QCOMPARE(sim::SimulatedDevice("SIM:TG5")->FlashCount(), 1);
}

void FirmwareDialogTest::streamUpdate() {
  fixture_.Open("Jovix.txt", "SIM:JOVIX", sim::DefaultOptions(sim::DeviceKind::Jovix), "");
  const std::string file = std::string(LUMO_EXAMPLES_DIR) + "/Jovix_firmware.bfl";
  AnswerFiles({file});
  fixture_.WaitForDevice();
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);
  QString shot = ScreenshotPath("firmware_progress.png");
  RunUpdate([&](FirmwareProgressDialog& dialog) {
    QObject::connect(&dialog, &QDialog::finished,
                     [&dialog, shot] { QVERIFY(dialog.grab().save(shot)); });
  });
  QCOMPARE(outcome_, static_cast<int>(DN_FLASHOK));
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_WRITESUCCESS"));
  // 0 at the start, then after every piece of 16 bytes, rising to 100.
  QVERIFY(shown_.size() > 3);
  QCOMPARE(shown_.front(), 0);
  QCOMPARE(shown_.back(), 100);
  for (size_t i = 1; i < shown_.size(); ++i) QVERIFY(shown_[i] >= shown_[i - 1]);
  std::optional<sim::FlashRecord> record = sim::SimulatedDevice("SIM:JOVIX")->LastFlash();
  QVERIFY(record.has_value());
  QCOMPARE(record->kind, sim::BootLoaderKind::Stream);
  std::string bytes = lumo::test::ReadFile(file);
  std::string expected;
  for (char c : bytes) {
    if (c != '\0' && c != '\r') expected += c;
  }
  QCOMPARE(record->data.size(), expected.size());
  QVERIFY(std::equal(expected.begin(), expected.end(), record->data.begin(),
                     [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
}

void FirmwareDialogTest::noFirmwareOffer() {
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.firmwarePresent = false;
  fixture_.Open("TG5.txt", "SIM:TG5", options, "");
  AnswerFiles({fixture_.folder_->Write("one.tg5", BlockFile(0x2A, 1))});
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);  // perform the update?
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);  // overwrite the firmware?
  bool ran = false;
  fixture_.window_->SetDialogHook(
      [&](QDialog& dialog) { ran = dynamic_cast<FirmwareProgressDialog*>(&dialog) != nullptr; });
  fixture_.StartLink();
  QTRY_VERIFY_WITH_TIMEOUT(HasBox(*fixture_.recorder_, "FLASH_WRITESUCCESS"), kDeviceWaitMs);
  QVERIFY(ran);
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_QUPDATE"));
  QTRY_VERIFY_WITH_TIMEOUT(sim::SimulatedDevice("SIM:TG5")->FirmwarePresent(), kDeviceWaitMs);
  std::optional<sim::FlashRecord> record = sim::SimulatedDevice("SIM:TG5")->LastFlash();
  QVERIFY(record.has_value());
  QCOMPARE(static_cast<int>(record->lead), 0x2A);
  // Once flashed, the device comes up with its firmware.
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().InConfigMode(), kDeviceWaitMs);
}

void FirmwareDialogTest::refusedRequestClosesAtOnce() {
  // No link runs, so the link refuses the command: the dialog does not wait for an outcome.
  fixture_.Open("TG5.txt", "SIM:TG5", sim::DefaultOptions(sim::DeviceKind::Tg5), "");
  AnswerFiles({fixture_.folder_->Write("one.tg5", BlockFile(0x2A, 1))});
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);
  bool opened = false;
  fixture_.window_->SetDialogHook([&](QDialog&) { opened = true; });
  fixture_.window_->Command(kIdFirmware);
  QVERIFY(!opened);
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_QOVERWRITE"));
  QVERIFY(HasBox(*fixture_.recorder_, "FLASH_WRITEFAILED"));
  // Declining the question sends nothing and says nothing more.
  fixture_.recorder_->Clear();
  AnswerFiles({fixture_.folder_->Write("two.tg5", BlockFile(0x2A, 1))});
  opened = false;
  fixture_.window_->Command(kIdFirmware);
  QVERIFY(!opened);
  QCOMPARE(fixture_.recorder_->Boxes().size(), size_t{1});
}

void FirmwareDialogTest::promptCancelledEndsQuietly() {
  // The device never starts, so the stream dialogue must ask the user to switch it off and on.
  sim::SimOptions options = sim::DefaultOptions(sim::DeviceKind::Tg5);
  options.bootDelayMs = 600000;
  fixture_.Open("TG5.txt", "SIM:TG5", options, "");
  AnswerFiles({std::string(LUMO_EXAMPLES_DIR) + "/Jovix_firmware.bfl"});
  fixture_.StartLink();
  QTRY_VERIFY_WITH_TIMEOUT(TheLink().Mode() == MODE_IDLE, kDeviceWaitMs);
  fixture_.recorder_->QueueAnswer(MsgAnswer::Yes);
  RunUpdate([](FirmwareProgressDialog&) {
    QTRY_VERIFY_WITH_TIMEOUT(OpenFlashPromptWindow() != nullptr, kDeviceWaitMs);
    FlashPromptWindow* prompt = OpenFlashPromptWindow();
    QCOMPARE(prompt->windowTitle(), QStringLiteral("Firmware Update"));
    QCOMPARE(prompt->Text().text(), QStringLiteral("Switch DUT off and on, then press 'Ok'..."));
    QVERIFY(prompt->grab().save(ScreenshotPath("flash_prompt.png")));
    QTest::mouseClick(&prompt->CancelButton(), Qt::LeftButton);
    QVERIFY(!prompt->isVisible());
  });
  QCOMPARE(outcome_, static_cast<int>(DN_FLASHEND));
  QVERIFY(shown_.empty());
  QCOMPARE(fixture_.recorder_->Boxes().size(), size_t{1});  // only the question
  QTRY_VERIFY_WITH_TIMEOUT(OpenFlashPromptWindow() == nullptr, kDeviceWaitMs);
}

LUMO_GUI_TEST_MAIN(FirmwareDialogTest)

#include "firmware_dialog_test.moc"

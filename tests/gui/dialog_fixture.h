// The main window on a simulated device, for the tests of its modal dialogs: a temporary start
// folder (settings file, rules file), a message recorder, and a way to run a script inside the
// nested event loop of the next dialog the window opens.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QHelpEvent>
#include <QTimer>
#include <QToolTip>
#include <QtTest>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "definitions/pardef.h"
#include "definitions/setup.h"
#include "gui/main_window.h"
#include "link/dut_link.h"
#include "platform/message_box.h"
#include "sim/sim_port.h"
#include "tests/support/examples.h"
#include "tests/support/temp_dir.h"

namespace lumo::test {

constexpr int kDeviceWaitMs = 20000;  // detection and exchanges on a loaded machine

inline bool HasBox(const MessageRecorder& recorder, const char* msgId) {
  for (const MessageBoxRequest& box : recorder.Boxes()) {
    if (box.text == MsgText(msgId)) return true;
  }
  return false;
}

// The user's setting "show tooltips".
inline void SetTooltips(bool on) {
  Settings settings = CurrentSettings();
  settings.enableToolTips = on ? 1 : 0;
  SetCurrentSettings(settings);
}

// The tooltip a widget shows when the pointer rests at a point of it (empty: none; "?" when an
// earlier one never went).
inline QString TooltipAt(QWidget* widget, const QPoint& at) {
  QToolTip::hideText();
  if (!QTest::qWaitFor([] { return !QToolTip::isVisible(); }, 5000)) return QStringLiteral("?");
  QHelpEvent event(QEvent::ToolTip, at, widget->mapToGlobal(at));
  QApplication::sendEvent(widget, &event);
  return QToolTip::isVisible() ? QToolTip::text() : QString();
}

inline QString ScreenshotPath(const char* name) {
  // Pictures taken on a real X server go into a folder of their own beside the offscreen ones.
  QString folder = QStringLiteral(LUMO_SCREENSHOT_DIR);
  if (QGuiApplication::platformName() != QStringLiteral("offscreen"))
    folder += QLatin1Char('/') + QGuiApplication::platformName();
  QDir().mkpath(folder);
  return folder + QLatin1Char('/') + QString::fromLatin1(name);
}

// A runtime folder of this test process alone: the lock files of the simulated ports live there,
// so test programs running side by side do not wait for each other's port locks.
class PrivateRuntimeFolder {
 public:
  PrivateRuntimeFolder() {
    if (!folder_.path().empty())
      qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(folder_.path()));
  }

 private:
  TempDir folder_;
};

class DialogFixture {
 public:
  void Init() {
    folder_ = std::make_unique<TempDir>();
    recorder_ = std::make_unique<MessageRecorder>();
    sink_ = std::make_unique<ScopedMessageSink>(recorder_.get());
  }

  void Cleanup() {
    window_.reset();
    sink_.reset();
    recorder_.reset();
    folder_.reset();
    sim::ForgetSimulatedDevices();
  }

  // The start folder with a settings file of the text ini, read as the program reads it at its
  // start (settings, language, translations); flags: the start flags (kStartExpert).
  void UseSettings(const std::string& ini, int flags = 0) {
    StartupPaths paths;
    paths.startDir = folder_->path();
    paths.programDir = folder_->path();
    paths.programFileName = "lumokonf";
    paths.settingsFile = folder_->Write("lumokonf.ini", ini);
    paths.startFlags = flags;
    SetCurrentStartupPaths(paths);
    LoadSettings(paths.settingsFile);
    SelectLanguageByName(CurrentSettings().language);
    InitTranslations();
  }

  // The main window with the example definition, shown; the link is not started.
  void ShowWindow(const char* definition) {
    window_ = std::make_unique<gui::MainWindow>();
    window_->SetQuitHook([](int) {});
    QVERIFY(window_->Initialise(test::ExampleDefinition(definition)));
    window_->show();
  }

  // The window for port (SIM:TG5 or SIM:JOVIX) with the definition; limits: the rules file's
  // text ("" for none); flags: the start flags (kStartExpert).
  void Open(const char* definition, const char* port, const sim::SimOptions& options,
            const std::string& limits, int flags = 0) {
    UseSettings("[CommSettings]\nDefaultPortName=" + std::string(port) +
                    "\nEcho=0\n[Misc]\nPropertiesOnStart=0\nLanguage=English\n",
                flags);
    if (!limits.empty()) folder_->Write("Limits.txt", limits);
    QVERIFY(sim::PrepareSimulatedDevice(port, options) != nullptr);
    ShowWindow(definition);
  }

  void StartLink() { window_->FirstAction(); }

  // Until the device is in configuration mode with its pages read (the automatic read after
  // detection takes its time on the line) and the window has seen the notifications.
  void WaitForDevice() {
    StartLink();
    QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid() && TheLink().Mode() == MODE_IDLE,
                             kDeviceWaitMs);
    QCoreApplication::processEvents();
  }

  // The same in expert mode, where the first action would open the settings dialog: the link is
  // started on the settings' port directly, as the dialog's Ok starts it.
  void WaitForDeviceInExpertMode() {
    QVERIFY(window_->StartLinkOnPort(CurrentSettings().defaultPortName));
    QTRY_VERIFY_WITH_TIMEOUT(TheLink().ConfigValid() && TheLink().Mode() == MODE_IDLE,
                             kDeviceWaitMs);
    QCoreApplication::processEvents();
  }

  // Runs command; the next dialog of type D the window opens runs script inside its event loop
  // and is closed afterwards if the script left it open. Returns once that dialog closed.
  template <typename D>
  void RunDialog(int command, std::function<void(D&)> script) {
    bool closed = false;
    window_->SetDialogHook([&](QDialog& dialog) {
      auto* typed = dynamic_cast<D*>(&dialog);
      QVERIFY(typed != nullptr);
      QObject::connect(&dialog, &QDialog::finished, [&](int result) {
        closed = true;
        result_ = result;
      });
      QTimer::singleShot(0, &dialog, [typed, &script] {
        script(*typed);
        if (typed->isVisible()) typed->done(0);
      });
    });
    result_ = -100;
    window_->Command(command);
    QTRY_VERIFY_WITH_TIMEOUT(closed, kDeviceWaitMs);
    window_->SetDialogHook(nullptr);
  }

  int Result() const { return result_; }

  // The settings' language changed to name and the window told, as the settings dialog does.
  void SwitchLanguage(const char* name) {
    Settings settings = CurrentSettings();
    CopyField(settings.language, sizeof settings.language, name);
    SetCurrentSettings(settings);
    window_->LanguageChanged();
  }

  // The Edit value of a parameter with states set to a state the device does not hold; returns
  // that value.
  static int32_t EditAnotherState(PVar* record) {
    const int32_t other = record->states[0].value == DeviceValue(record) ? record->states[1].value
                                                                         : record->states[0].value;
    SetEdit(record, other);
    return other;
  }

  // The first parameter of the current definition with at least two states, and its row in the
  // table; null when there is none.
  static PVar* FirstChoice(int* row = nullptr) {
    ParDef* list = CurrentDefinition();
    for (size_t i = 0; list != nullptr && i < list->Count(); ++i) {
      PVar& record = list->records[i];
      if (IsBracketed(&record) || record.states.size() < 2) continue;
      if (row != nullptr) *row = static_cast<int>(i);
      return &record;
    }
    return nullptr;
  }

  std::unique_ptr<TempDir> folder_;
  std::unique_ptr<MessageRecorder> recorder_;
  std::unique_ptr<ScopedMessageSink> sink_;
  std::unique_ptr<gui::MainWindow> window_;

 private:
  int result_ = -100;
};

}  // namespace lumo::test

// The entry of a window test: the offscreen platform unless one is named (QT_QPA_PLATFORM=xcb
// under an X server shows real fonts, focus and tooltips), a runtime folder of its own.
#define LUMO_GUI_TEST_MAIN(TestClass)                                                           \
  int main(int argc, char** argv) {                                                             \
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    lumo::test::PrivateRuntimeFolder runtime;                                                   \
    QApplication app(argc, argv);                                                               \
    TestClass test;                                                                             \
    return QTest::qExec(&test, argc, argv);                                                     \
  }

// lumokonf: the desktop program. The start sequence: paths, settings, language, translation
// tables, the command line ("-exp" expert mode, or "-appdef FILE": write a new configurator
// and end), the main window with its initialisation, the screen-size check, the first action,
// and the message loop.
//
// "--quit-after-start" (tests only, never part of the command line the program reads): open
// the window, let it paint once, then end with exit code 0.
#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <cstring>
#include <string>
#include <vector>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "gui/about_box.h"
#include "gui/appdef_dialog.h"
#include "gui/desktop_start.h"
#include "gui/main_window.h"
#include "gui/qt_language.h"
#include "gui/qt_message_sink.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace {

inline constexpr const char* kQuitAfterStart = "--quit-after-start";
// The in-process simulated light curtain's signal wanders this far, so that a signal test on
// "SIM:TG5" moves as on a real receiver.
inline constexpr uint8_t kSimulatedSignalWander = 12;

}  // namespace

int main(int argc, char** argv) {
  // The test switch is taken out before the command line is read.
  bool quitAfterStart = false;
  std::vector<const char*> args;
  for (int i = 0; i < argc; ++i) {
    if (i > 0 && std::strcmp(argv[i], kQuitAfterStart) == 0) {
      quitAfterStart = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  QApplication application(argc, argv);
  // The ports this program knows: the device files and the simulated devices, which echo when
  // the Echo setting says the line does.
  lumo::RegisterSerialDevicePorts();
  lumo::RegisterSimulatedPorts([] { return lumo::CurrentSettings().echo != 0; });
  lumo::gui::QtMessageSink messages;
  lumo::ScopedMessageSink installed(&messages);

  lumo::StartupPaths paths = lumo::SettleStartupPaths();
  lumo::LoadSettings(paths.settingsFile);
  lumo::SelectLanguageByName(lumo::CurrentSettings().language);
  lumo::gui::ApplyQtLanguage();
  lumo::InitTranslations();

  lumo::CommandLineRequest request =
      lumo::ReadCommandLineArgs(static_cast<int>(args.size()), args.data());
  paths.startFlags = request.startFlags;
  lumo::SetCurrentStartupPaths(paths);
  if (request.newConfigurator) {
    // No main window: the job's boxes have no owner.
    return lumo::gui::RunNewConfigurator(request.definitionFile);
  }

  lumo::gui::PassSplash();
  lumo::sim::SimOptions simulated = lumo::sim::DefaultOptions(lumo::sim::DeviceKind::Tg5);
  simulated.signalWander = kSimulatedSignalWander;
  lumo::sim::PrepareSimulatedDevice("SIM:TG5", simulated);

  lumo::gui::MainWindow window;
  messages.SetOwner(&window);
  if (!window.Initialise()) return 0;
  window.show();
  if (QScreen* screen = window.screen()) {
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
  }
  if (!quitAfterStart) {
    if (!window.ScreenSizeCheck()) return 0;
    window.FirstAction();
  } else {
    QTimer::singleShot(0, &window, [] { QCoreApplication::exit(0); });
  }
  return application.exec();
}

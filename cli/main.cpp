// lumokonf-cli: the headless front end. Parses the shared options (before or after the
// command), installs a message sink that prints to standard error, and hands over to the
// command chosen. Standard output that cannot be written completely (a full disk, a closed
// pipe) makes a successful command fail with exit status 1.
#include <cstdio>
#include <iostream>

#include "base/settings.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "cli/history_session.h"
#include "cli/stop_signal.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "platform/serial_driver.h"
#include "sim/sim_port.h"

namespace lumo::cli {

std::vector<CommandSetup>& CommandRegistry() {
  static std::vector<CommandSetup> registry;
  return registry;
}

namespace {

// Prints every box to standard error; questions get their default answer, which is said.
class StderrSink : public MessageSink {
 public:
  MsgAnswer Show(const MessageBoxRequest& request) override {
    MsgAnswer answer = DefaultAnswer(request.kind);
    std::string text = lumo::Cp1252ToUtf8(request.text);
    if (IsQuestion(request.kind)) text += answer == MsgAnswer::Yes ? " [yes]" : " [no]";
    std::fprintf(stderr, "%s\n", text.c_str());
    return answer;
  }
};

}  // namespace
}  // namespace lumo::cli

namespace lumo::cli {
namespace {

constexpr const char* kFooter =
    "Exit status: 0 success; 1 the job failed (device, file, validation, fewer units than "
    "--count, output not written completely); 2 wrong usage; 130 after SIGINT and 143 after "
    "SIGTERM (a command that changes a device first finishes the page pairs, read-back or "
    "update in progress, verifies and reports; a second signal is only acknowledged). SIGPIPE is "
    "ignored: a closed output pipe is an output error (exit 1) and never abandons a device. "
    "Events of write --repeat --json-progress: see lumokonf-cli write --help and the manual "
    "page.";

// The names of the commands, for the message about an unknown one.
std::string CommandNames(CLI::App& app) {
  std::string names;
  for (const CLI::App* sub : app.get_subcommands({})) {
    if (!names.empty()) names += ", ";
    names += sub->get_name();
  }
  return names;
}

}  // namespace
}  // namespace lumo::cli

int main(int argc, char** argv) {
  using namespace lumo::cli;
  IgnoreBrokenPipe();
  // The ports this program knows: the device files and the simulated devices, which echo when
  // the Echo setting says the line does.
  lumo::RegisterSerialDevicePorts();
  lumo::RegisterSimulatedPorts([] { return lumo::CurrentSettings().echo != 0; });
  CLI::App app{"Lumo-Konf command line: configure light curtains and joystick controllers"};
  app.require_subcommand(1);
  // Options of the program are accepted after the command too ("read --port X --lang de").
  app.fallthrough();
  app.footer(kFooter);
  app.set_version_flag("--version", std::string("lumokonf-cli ") + LUMO_VERSION,
                       "print the version and end");
  GlobalOptions options;
  app.add_option("--definition", options.definitionFile, "device definition file to use");
  app.add_option("--lang", options.language, "language of messages")
      ->check(CLI::IsMember({"en", "de"}));
  app.add_option("--echo", options.echo, "the line echoes what is sent")
      ->check(CLI::IsMember({"on", "off"}));
  AddHistoryOption(app, options);

  int exitCode = kExitOk;
  for (auto& setup : CommandRegistry()) {
    CommandContext context{app, options, exitCode};
    setup(context);
  }

  // Every command speaks the chosen language from its first message on.
  app.parse_complete_callback([&options] { SelectCommandLanguage(options); });

  StderrSink sink;
  lumo::ScopedMessageSink scoped(&sink);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (app.get_subcommands().empty() && !app.remaining().empty() &&
        app.remaining().front().rfind("-", 0) != 0) {
      std::fprintf(stderr, "unknown command '%s' (commands: %s); see lumokonf-cli --help\n",
                   app.remaining().front().c_str(), CommandNames(app).c_str());
      return kExitUsage;
    }
    int code = app.exit(e);
    if (code == 0 && !CheckedFlush()) return kExitFailed;
    return code == 0 ? kExitOk : kExitUsage;
  }
  // The command's records are stored (or queued) before the program ends; a record that could
  // not be stored is reported and never changes the command's exit status.
  FinishHistory();
  if (!CheckedFlush() || OutputFailed()) {
    std::fprintf(stderr, "lumokonf-cli: %s\n", OutputFailureText().c_str());
    if (exitCode == kExitOk) exitCode = kExitFailed;
  }
  return exitCode;
}

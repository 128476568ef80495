// lumokonf-cli: the headless front end. Parses the shared options, installs a message sink that
// prints to standard error, and hands over to the command chosen.
#include <cstdio>
#include <iostream>

#include "cli/command.h"
#include "cli/device_session.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"

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

int main(int argc, char** argv) {
  using namespace lumo::cli;
  CLI::App app{"Lumo-Konf command line: configure light curtains and joystick controllers"};
  app.require_subcommand(1);
  GlobalOptions options;
  app.add_option("--definition", options.definitionFile, "device definition file to use");
  app.add_option("--lang", options.language, "language of messages")
      ->check(CLI::IsMember({"en", "de"}));
  app.add_option("--echo", options.echo, "the line echoes what is sent")
      ->check(CLI::IsMember({"on", "off"}));

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
    int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  return exitCode;
}

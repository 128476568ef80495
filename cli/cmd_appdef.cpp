// lumokonf-cli appdef DEFFILE --out PROGRAM: writes a new configurator, a copy of this program
// with DEFFILE embedded, to PROGRAM without asking. Exit 0 when it was written, 1 otherwise.
#include <memory>
#include <optional>
#include <string>

#include "cli/command.h"
#include "files/new_configurator.h"

namespace lumo::cli {
namespace {

struct AppdefArgs {
  std::string definitionFile;
  std::string output;
};

int RunAppdef(const AppdefArgs& args) {
  const std::string output = args.output;
  SetNewConfiguratorSaveHook(
      [output](const SaveFileRequest&) -> std::optional<std::string> { return output; });
  int written = CreateNewConfigurator(args.definitionFile);
  SetNewConfiguratorSaveHook(nullptr);
  return written == 1 ? kExitOk : kExitFailed;
}

void SetupAppdefCommand(CommandContext& context) {
  auto args = std::make_shared<AppdefArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "appdef", "write a copy of this program that carries another device definition");
  sub->add_option("deffile", args->definitionFile, "device definition file (.txt, < 30 KiB)")
      ->required();
  sub->add_option("--out", args->output, "the new program file")->required();
  int* exitCode = &context.exitCode;
  sub->callback([args, exitCode] { *exitCode = RunAppdef(*args); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupAppdefCommand);

}  // namespace lumo::cli

// lumokonf-cli ports: the machine's serial ports, one per line: path, tab, description.
#include <cstdio>

#include "cli/command.h"
#include "link/serial_port.h"

namespace lumo::cli {
namespace {

void SetupPorts(CommandContext& context) {
  CLI::App* command = context.app.add_subcommand("ports", "list the serial ports");
  int* exitCode = &context.exitCode;
  command->callback([exitCode] {
    for (const auto& port : ListSerialPorts()) {
      std::printf("%s\t%s\n", port.path.c_str(), port.description.c_str());
    }
    *exitCode = std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
  });
}

}  // namespace

LUMO_CLI_COMMAND(SetupPorts);

}  // namespace lumo::cli

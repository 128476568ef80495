// lumokonf-cli ports [--json]: the machine's serial ports, then the simulated ones. One per line:
// path, tab, description, and for a USB adapter a tab and its stable name under
// /dev/serial/by-id/ (the name to keep in a script or the settings: it stays with the adapter
// whatever ttyUSBn it gets). --json: one array of objects with path, stableName, description,
// vendorId, productId, serial and driver ("" where the port has none).
#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "link/port_names.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

int PrintPorts(bool json) {
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  if (json) {
    Json list = Json::array();
    for (const auto& port : ports) {
      list.push_back({{"path", port.path},
                      {"stableName", port.stableName},
                      {"description", port.description},
                      {"vendorId", port.vendorId},
                      {"productId", port.productId},
                      {"serial", port.serial},
                      {"driver", port.driver}});
    }
    // sysfs texts are the adapter's bytes: anything that is not UTF-8 is replaced, never fatal.
    std::string text = list.dump(2, ' ', false, Json::error_handler_t::replace);
    std::printf("%s\n", text.c_str());
  } else {
    for (const auto& port : ports) {
      if (port.stableName.empty()) {
        std::printf("%s\t%s\n", port.path.c_str(), port.description.c_str());
      } else {
        std::printf("%s\t%s\t%s\n", port.path.c_str(), port.description.c_str(),
                    port.stableName.c_str());
      }
    }
  }
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? kExitOk : kExitFailed;
}

void SetupPorts(CommandContext& context) {
  CLI::App* command = context.app.add_subcommand("ports", "list the serial ports");
  auto json = std::make_shared<bool>(false);
  command->add_flag("--json", *json, "print one JSON array");
  int* exitCode = &context.exitCode;
  command->callback([exitCode, json] { *exitCode = PrintPorts(*json); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupPorts);

}  // namespace lumo::cli

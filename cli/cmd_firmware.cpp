// lumokonf-cli firmware FILE [--json]: reads a firmware file as the firmware update does (block
// form first, then stream form) and prints the kind of image, its lead byte and its counts.
// Exit 1 with the reader's message on standard error when the file cannot be used.
#include <cstdio>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/translations.h"
#include "cli/command.h"
#include "firmware/firmware_file.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

struct FirmwareArgs {
  std::string file;
  bool json = false;
};

int RunFirmware(const FirmwareArgs& args) {
  FirmwareImage image;
  if (ReadFirmwareFile(args.file, image) != 1) return kExitFailed;
  const char* kind = ImageKindName(KindOf(image));
  if (args.json) {
    Json out = {{"kind", kind},
                {"leadByte", image.leadByte},
                {"blocks", image.blockCount},
                {"bytes", image.byteCount}};
    std::cout << out.dump(2) << "\n";
  } else {
    char lead[8];
    std::snprintf(lead, sizeof lead, "0x%02X", image.leadByte);
    std::cout << "kind: " << kind << "\nlead byte: " << lead << "\nblocks: " << image.blockCount
              << "\nbytes: " << image.byteCount << "\n";
  }
  return kExitOk;
}

void SetupFirmwareCommand(CommandContext& context) {
  auto args = std::make_shared<FirmwareArgs>();
  CLI::App* sub = context.app.add_subcommand("firmware", "read a firmware file");
  sub->add_option("file", args->file, "firmware file (.tg5 block file or .bfl stream file)")
      ->required();
  sub->add_flag("--json", args->json, "print one JSON object");
  int* exitCode = &context.exitCode;
  sub->callback([args, exitCode] { *exitCode = RunFirmware(*args); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupFirmwareCommand);

}  // namespace lumo::cli

// The commands of lumokonf-cli.
//
// Each command lives in its own file (cmd_<name>.cpp) and registers itself with
// LUMO_CLI_COMMAND: a function that adds its sub-command to the CLI11 application and sets the
// callback that runs it. A command's callback returns the exit status:
//   0 success, 1 the job failed (device, file or validation), 2 wrong usage.
// Errors go to standard error as the text the desktop program shows in its message box (the
// message sink installed by main prints them); JSON goes to standard output in UTF-8.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>
#include <vector>

namespace lumo::cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// Options shared by every command.
struct GlobalOptions {
  std::string definitionFile;  // --definition
  std::string language;        // --lang en|de, empty: from the settings
  std::string echo;            // --echo on|off, empty: from the settings
  std::string traceFile;       // --trace FILE of a command that opens a port, empty: none
  std::string history;         // --history FILE|postgresql://...|off, empty: from the settings
};

// What a command's setup function gets: its sub-command and the shared options. The command
// stores its result in *exitCode from its callback.
struct CommandContext {
  CLI::App& app;
  GlobalOptions& options;
  int& exitCode;
};

using CommandSetup = std::function<void(CommandContext&)>;

std::vector<CommandSetup>& CommandRegistry();

struct CommandRegistrar {
  explicit CommandRegistrar(CommandSetup setup) { CommandRegistry().push_back(std::move(setup)); }
};

#define LUMO_CLI_CONCAT_INNER(a, b) a##b
#define LUMO_CLI_CONCAT(a, b) LUMO_CLI_CONCAT_INNER(a, b)
#define LUMO_CLI_COMMAND(setupFunction) \
  static ::lumo::cli::CommandRegistrar LUMO_CLI_CONCAT(lumoCliRegistrar, __LINE__)(setupFunction)

}  // namespace lumo::cli

#include "gui/desktop_start.h"

namespace lumo {

namespace {

constexpr const char* kExpertOption = "-exp";
constexpr const char* kAppDefOption = "-appdef";

// The white space of formatted input: space, tab, LF, VT, FF, CR.
bool IsInputSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

std::string JoinCommandLine(int argc, const char* const* argv) {
  std::string line;
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] == nullptr) break;
    if (i > 1) line += ' ';
    line += argv[i];
  }
  return line;
}

bool IsExpertCommandLine(const std::string& commandLine) {
  return commandLine == kExpertOption;
}

bool MatchAppDefCommandLine(const std::string& commandLine, std::string* definitionFile) {
  const std::string option = kAppDefOption;
  if (commandLine.compare(0, option.size(), option) != 0) return false;
  size_t begin = option.size();
  while (begin < commandLine.size() && IsInputSpace(commandLine[begin])) ++begin;
  size_t end = begin;
  while (end < commandLine.size() && !IsInputSpace(commandLine[end]) && commandLine[end] != '\0') {
    ++end;
  }
  if (end == begin) return false;
  // The whole word is the file name: a path here may be longer than 260 characters, and a cut
  // one would name another file.
  if (definitionFile != nullptr) *definitionFile = commandLine.substr(begin, end - begin);
  return true;
}

CommandLineRequest ReadCommandLine(const std::string& commandLine) {
  CommandLineRequest request;
  if (IsExpertCommandLine(commandLine)) {
    request.startFlags |= kStartExpert;
  } else {
    request.newConfigurator = MatchAppDefCommandLine(commandLine, &request.definitionFile);
  }
  return request;
}

CommandLineRequest ReadCommandLineArgs(int argc, const char* const* argv) {
  // "-appdef" and one more argument: the shell has already split the words, so that argument is
  // the file name whole, blanks included.
  if (argc == 3 && argv != nullptr && argv[1] != nullptr && argv[2] != nullptr &&
      std::string(argv[1]) == kAppDefOption && argv[2][0] != '\0') {
    CommandLineRequest request;
    request.newConfigurator = true;
    request.definitionFile = argv[2];
    return request;
  }
  return ReadCommandLine(JoinCommandLine(argc, argv));
}

StartAction FirstStartAction(const Settings& settings, uint32_t startFlags) {
  if (settings.propertiesOnStart != 0 || (startFlags & kStartExpert) != 0) {
    return StartAction::OpenSettingsDialog;
  }
  return StartAction::LoadFileAndStartLink;
}

}  // namespace lumo

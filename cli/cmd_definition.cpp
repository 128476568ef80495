// lumokonf-cli definition [FILE] [--json]: loads a device definition (FILE, the global
// --definition, or the one the program finds in its three places), applies the checks of the
// definition-driven setup, and prints the records in list order and the macro table. Any message
// of the parser or the setup checks (warnings aside) is an error: exit 1 with the message on
// standard error.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/translations.h"
#include "cli/command.h"
#include "definitions/definition.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"

namespace lumo::cli {
namespace {

// Keys in the order they are listed.
using Json = nlohmann::ordered_json;

struct DefinitionArgs {
  std::string file;
  bool json = false;
};

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

Json RecordJson(const PVar& r) {
  Json states = Json::array();
  for (const PState& s : r.states) {
    states.push_back(
        {{"value", s.value}, {"name", Cp1252ToUtf8(s.name)}, {"default", s.isDefault != 0}});
  }
  Json limits = nullptr;
  if (r.hasLimits) limits = {{"min", r.minimum}, {"max", r.maximum}};
  Json reference = nullptr;
  if (r.hasReference)
    reference = {{"name", Cp1252ToUtf8(r.refName)}, {"operator", std::string(1, r.op)}};
  return {{"name", Cp1252ToUtf8(r.name)},
          {"description", Cp1252ToUtf8(r.description)},
          {"page", r.page},
          {"offset", r.offset},
          {"mask", r.mask},
          {"rShift", r.rShift},
          {"signed", r.isSigned != 0},
          {"bracketed", r.bracketed != 0},
          {"constant", r.constant != 0},
          {"constantValue", r.constantValue},
          {"editValid", r.editValid != 0},
          {"editValue", r.editValue},
          {"states", states},
          {"limits", limits},
          {"reference", reference}};
}

Json MacroJson(const TranslationRow& row) {
  Json texts = Json::array();
  for (const Translation& t : row.tr) {
    if (t.lang == kLangNeutral) break;
    texts.push_back({{"languageId", t.lang}, {"text", Cp1252ToUtf8(t.text)}});
  }
  return {{"name", Cp1252ToUtf8(row.msgId)}, {"texts", texts}};
}

void PrintJson(const ParDef& def, int type) {
  Json records = Json::array();
  for (const PVar& r : def.records) records.push_back(RecordJson(r));
  Json macros = Json::array();
  for (const TranslationRow& row : def.macros) macros.push_back(MacroJson(row));
  Json out = {{"deviceType", type},
              {"displayName", Cp1252ToUtf8(DisplayName(&def, type))},
              {"records", records},
              {"macros", macros}};
  std::cout << out.dump(2) << "\n";
}

// One record on one line: index, name, address, flags, then its value rules.
void PrintRecordLine(int index, const PVar& r) {
  std::cout << index << "\t" << Cp1252ToUtf8(r.name);
  const bool textSetting = IsTextSettingName(r.name);
  if (r.constant) {
    std::cout << " = (" << r.constantValue << ")";
  } else if (textSetting) {
    std::cout << " = \"" << Cp1252ToUtf8(r.description) << "\"";
  } else {
    std::cout << " = " << (r.isSigned ? "s " : "") << int{r.page} << ":" << int{r.offset} << ":"
              << Hex32(r.mask) << ":" << int{r.rShift};
  }
  if (!textSetting && r.description[0] != '\0')
    std::cout << "  \"" << Cp1252ToUtf8(r.description) << "\"";
  if (r.hasReference) std::cout << "  " << r.op << "(" << Cp1252ToUtf8(r.refName) << ")";
  if (r.editValid) std::cout << "  default " << r.editValue;
  if (r.hasLimits) std::cout << "  {" << r.minimum << ".." << r.maximum << "}";
  for (const PState& s : r.states) {
    std::cout << "  " << (s.isDefault ? "*" : "") << s.value << ":" << Cp1252ToUtf8(s.name);
  }
  std::cout << "\n";
}

void PrintText(const ParDef& def, int type) {
  std::cout << "Device type: "
            << (type == kDeviceUnknown ? std::string("unknown")
                                       : std::to_string(type) + " (" + DeviceTypeName(type) + ")")
            << "\n"
            << "Display name: " << Cp1252ToUtf8(DisplayName(&def, type)) << "\n"
            << "Records: " << def.records.size() << "\n";
  int index = 0;
  for (const PVar& r : def.records) PrintRecordLine(index++, r);
  std::cout << "Macros: " << def.macros.size() << "\n";
  for (const TranslationRow& row : def.macros) {
    std::cout << Cp1252ToUtf8(row.msgId);
    for (const Translation& t : row.tr) {
      if (t.lang == kLangNeutral) break;
      std::cout << "\t" << t.lang << ":\"" << Cp1252ToUtf8(t.text) << "\"";
    }
    std::cout << "\n";
  }
}

// Counts the boxes that are not warnings and passes every box on.
class ErrorCounter : public MessageSink {
 public:
  explicit ErrorCounter(MessageSink* next) : next_(next) {}
  MsgAnswer Show(const MessageBoxRequest& request) override {
    if (request.kind != MsgKind::Warning) ++errors_;
    return next_ != nullptr ? next_->Show(request) : DefaultAnswer(request.kind);
  }
  int errors() const { return errors_; }

 private:
  MessageSink* next_;
  int errors_ = 0;
};

int RunDefinition(const DefinitionArgs& args, const GlobalOptions& options) {
  MessageSink* outer = SetMessageSink(nullptr);
  ErrorCounter counter(outer);
  SetMessageSink(&counter);
  const std::string file = !args.file.empty() ? args.file : options.definitionFile;
  std::unique_ptr<ParDef> def;
  if (!file.empty()) {
    std::ifstream in(file, std::ios::binary);
    if (in) {
      def = ParseDefinitionFile(in);
    } else {
      ShowMessage(MsgKind::Error, MsgText("ERRPVAR_OPEN"), MsgText("PARDEF_OPEN"));
    }
  } else {
    def = LoadDefinition();
  }
  const bool usable = def != nullptr && SetupWithDefinition(std::move(def));
  SetMessageSink(outer);
  if (!usable || counter.errors() > 0) return kExitFailed;
  const ParDef& current = *CurrentDefinition();
  if (args.json) {
    PrintJson(current, DeviceType());
  } else {
    PrintText(current, DeviceType());
  }
  return kExitOk;
}

void SetupDefinitionCommand(CommandContext& context) {
  auto args = std::make_shared<DefinitionArgs>();
  CLI::App* sub = context.app.add_subcommand(
      "definition", "check a device definition and print its records and macros");
  sub->add_option("file", args->file, "definition file (default: the one the program would use)");
  sub->add_flag("--json", args->json, "print one JSON object");
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunDefinition(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupDefinitionCommand);

}  // namespace lumo::cli

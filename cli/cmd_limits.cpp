// lumokonf-cli limits FILE [--json]: reads a self-test rules file as the program reads
// "Limits.txt" at start, lays out the result block for a device of self-test version 0 and prints
// the rules and the block length. Any error message (the first reading error, an undefined
// reference) goes to standard error and the exit status is 1.
#include <fstream>
#include <iostream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "base/translations.h"
#include "cli/command.h"
#include "cli/device_session.h"
#include "definitions/setup.h"
#include "platform/cp1252.h"
#include "platform/message_box.h"
#include "selftest/limits.h"

namespace lumo::cli {
namespace {

using Json = nlohmann::ordered_json;

struct LimitsArgs {
  std::string file;
  bool json = false;
};

// Counts the error boxes and passes every box on.
class ErrorCounter : public MessageSink {
 public:
  explicit ErrorCounter(MessageSink* next) : next_(next) {}
  MsgAnswer Show(const MessageBoxRequest& request) override {
    if (request.kind == MsgKind::Error) ++errors_;
    return next_ != nullptr ? next_->Show(request) : DefaultAnswer(request.kind);
  }
  int errors() const { return errors_; }

 private:
  MessageSink* next_;
  int errors_ = 0;
};

// Swallows every box (the definition is only wanted for its device type here).
class QuietSink : public MessageSink {
 public:
  MsgAnswer Show(const MessageBoxRequest& request) override { return DefaultAnswer(request.kind); }
};

// The device type decides which negative rule numbers have their fixed role. It comes from the
// definition the program would use; without a usable one, the light curtain's.
int RulesDeviceType(const GlobalOptions& options) {
  QuietSink quiet;
  ScopedMessageSink scoped(&quiet);
  if (PrepareProgram(options) && (DeviceType() == kLightCurtain || DeviceType() == kJoystick))
    return DeviceType();
  if (options.language == "en") SelectLanguage(kLangEnglish);
  if (options.language == "de") SelectLanguage(kLangGerman);
  InitTranslations();
  return kLightCurtain;
}

Json OperatorJson(const LimitRule& rule) {
  return rule.op != 0 ? Json(std::string(1, rule.op)) : Json(nullptr);
}

Json RuleJson(const LimitRule& rule) {
  return {{"number", rule.number},
          {"variant", rule.variant},
          {"position", rule.position},
          {"follows", rule.follows},
          {"size", rule.size},
          {"signed", rule.isSigned},
          {"operator", OperatorJson(rule)},
          {"reference", rule.op != 0 ? Json(rule.reference) : Json(nullptr)},
          {"description", Cp1252ToUtf8(rule.description)},
          {"min", rule.min},
          {"max", rule.max},
          {"hint", Cp1252ToUtf8(rule.hint)},
          {"row", rule.row}};
}

void PrintText(const LimitTable& table, int32_t blockLength) {
  std::cout << "Rules: " << table.Count() << "\n";
  for (const LimitRule& r : table.Rules()) {
    std::string position = std::to_string(r.position);
    if (r.follows) position = r.position >= 0 ? "~=" + position : "~";
    std::cout << r.variant << ", " << r.number << ", " << position << ", "
              << (r.isSigned ? "s" : "") << r.size << ", ";
    if (r.op != 0) std::cout << r.op << "(" << r.reference << "), ";
    std::cout << "\"" << Cp1252ToUtf8(r.description) << "\", " << r.min << ", " << r.max << ", ";
    if (!r.hint.empty()) std::cout << "\"" << Cp1252ToUtf8(r.hint) << "\"";
    std::cout << (r.row < 0 ? "  (hidden)" : "") << "\n";
  }
  std::cout << "Block length: " << blockLength << "\n";
}

int RunLimits(const LimitsArgs& args, const GlobalOptions& options) {
  const int deviceType = RulesDeviceType(options);
  MessageSink* outer = SetMessageSink(nullptr);
  ErrorCounter counter(outer);
  SetMessageSink(&counter);
  LimitTable table;
  table.SetDeviceType(deviceType);
  std::ifstream in(args.file, std::ios::binary);
  bool ok = false;
  int32_t blockLength = 0;
  if (!in) {
    ShowMessage(MsgKind::Error, "cannot open '" + args.file + "'", MsgText("ST_READLIMITS"));
  } else {
    ok = table.Read(in);
    if (ok) blockLength = table.Prepare();
  }
  SetMessageSink(outer);
  if (!ok || counter.errors() > 0) return kExitFailed;
  if (args.json) {
    Json rules = Json::array();
    for (const LimitRule& rule : table.Rules()) rules.push_back(RuleJson(rule));
    Json out = {{"deviceType", deviceType}, {"rules", rules}, {"blockLength", blockLength}};
    std::cout << out.dump(2) << "\n";
  } else {
    PrintText(table, blockLength);
  }
  return kExitOk;
}

void SetupLimitsCommand(CommandContext& context) {
  auto args = std::make_shared<LimitsArgs>();
  CLI::App* sub = context.app.add_subcommand("limits", "read a self-test rules file");
  sub->add_option("file", args->file, "rules file (Limits.txt)")->required();
  sub->add_flag("--json", args->json, "print one JSON object");
  GlobalOptions* options = &context.options;
  int* exitCode = &context.exitCode;
  sub->callback([args, options, exitCode] { *exitCode = RunLimits(*args, *options); });
}

}  // namespace

LUMO_CLI_COMMAND(SetupLimitsCommand);

}  // namespace lumo::cli

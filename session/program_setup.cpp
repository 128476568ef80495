#include "session/program_setup.h"

#include <fstream>
#include <memory>
#include <utility>

#include "base/program_paths.h"
#include "base/settings.h"
#include "base/translations.h"
#include "definitions/loader.h"
#include "definitions/setup.h"
#include "platform/message_box.h"

namespace lumo {

namespace {

void SelectLanguageOver(const std::string& choice, const std::string& settingsLanguage) {
  if (choice == "en") {
    SelectLanguage(kLangEnglish);
  } else if (choice == "de") {
    SelectLanguage(kLangGerman);
  } else {
    SelectLanguageByName(settingsLanguage.c_str());  // "NEUTRAL": the system's language
  }
  InitTranslations();
}

Settings DesktopSettingsFile() {
  Settings settings = DefaultSettings();
  ReadSettingsFile(SettleStartupPaths(kDesktopProgramName).settingsFile, &settings);
  return settings;
}

}  // namespace

void SelectProgramLanguage(const ProgramChoices& choices) {
  bool chosen = choices.language == "en" || choices.language == "de";
  SelectLanguageOver(choices.language, chosen ? std::string() : DesktopSettingsFile().language);
}

bool SettingsEcho(const ProgramChoices& choices) {
  if (choices.echo == "on") return true;
  if (choices.echo == "off") return false;
  return DesktopSettingsFile().echo != 0;
}

bool PrepareProgram(const ProgramChoices& choices) {
  StartupPaths paths = SettleStartupPaths(kDesktopProgramName);
  SetCurrentStartupPaths(paths);
  LoadSettings(paths.settingsFile);
  Settings settings = CurrentSettings();
  if (choices.echo == "on") settings.echo = 1;
  if (choices.echo == "off") settings.echo = 0;
  SetCurrentSettings(settings);
  SelectLanguageOver(choices.language, settings.language);

  std::unique_ptr<ParDef> definition;
  if (!choices.definitionFile.empty()) {
    std::ifstream in(choices.definitionFile, std::ios::binary);
    if (!in) {
      ShowMessage(MsgKind::Error, MsgText("ERRPVAR_OPEN"), MsgText("PARDEF_OPEN"));
      return false;
    }
    definition = ParseDefinitionFile(in);
  } else {
    definition = LoadDefinition();
  }
  if (definition == nullptr || !SetupWithDefinition(std::move(definition))) return false;
  TitleParts title = TitleForDisplayName(DisplayName(CurrentDefinition(), DeviceType()));
  SetApplicationTitle(title.applicationTitle);
  return true;
}

}  // namespace lumo

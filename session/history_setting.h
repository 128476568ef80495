// The unit history's place as the settings file names it: [History] Database=.
//
// State model: none; the key is read from the file each time (the programs never write it).
//   HistorySettingText   the key's text ("" when missing: the default file)
#pragma once

#include <string>

namespace lumo {

constexpr const char* kHistorySection = "History";
constexpr const char* kHistoryDatabaseKey = "Database";

std::string HistorySettingText(const std::string& settingsFile);

}  // namespace lumo

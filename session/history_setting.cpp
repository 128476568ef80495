#include "session/history_setting.h"

#include "platform/file_system.h"
#include "platform/profile_file.h"

namespace lumo {

std::string HistorySettingText(const std::string& settingsFile) {
  ProfileFile file;
  if (!file.Load(settingsFile)) return "";
  // A path the Windows tool wrote in Windows-1252 still names the same file.
  return StoredPathToFileSystem(file.GetString(kHistorySection, kHistoryDatabaseKey, ""));
}

}  // namespace lumo

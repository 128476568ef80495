#include "session/line_trace_setting.h"

#include <string>

#include "link/line_trace.h"
#include "platform/file_system.h"

namespace lumo {

bool ApplyTraceSetting(DutLink& link, const Settings& settings, bool expertMode, int& err) {
  err = 0;
  // A path written by the Windows program is Windows-1252; one chosen here is file system bytes.
  const std::string file = expertMode ? StoredPathToFileSystem(settings.traceFile) : std::string();
  if (file.empty()) {
    StopLinkTrace(link);
    return true;
  }
  if (LinkTraceFile() == file) return true;
  return StartLinkTrace(link, file, err);
}

}  // namespace lumo

#include "app/line_trace_setting.h"

#include <string>

#include "link/line_trace.h"

namespace lumo {

bool ApplyTraceSetting(DutLink& link, const Settings& settings, bool expertMode, int& err) {
  err = 0;
  const std::string file = expertMode ? std::string(settings.traceFile) : std::string();
  if (file.empty()) {
    StopLinkTrace(link);
    return true;
  }
  if (LinkTraceFile() == file) return true;
  return StartLinkTrace(link, file, err);
}

}  // namespace lumo

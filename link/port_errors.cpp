#include "link/port_errors.h"

#include <cerrno>
#include <cstring>

#include "app/translations.h"
#include "link/serial_port.h"
#include "platform/device_lock.h"
#include "platform/port_provider.h"

namespace lumo {
namespace {

enum class OpenFailure { InUse, NoPermission, NoSuchPort, AlreadyOpen, Other };

OpenFailure Classify(uint32_t error) {
  switch (error) {
    case EBUSY:
    case EWOULDBLOCK:
      return OpenFailure::InUse;
    case EACCES:
    case EPERM:
      return OpenFailure::NoPermission;
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case kSapiErrBadArguments:
      return OpenFailure::NoSuchPort;
    case kSapiErrAlreadyOpen:
      return OpenFailure::AlreadyOpen;
    default:
      return OpenFailure::Other;
  }
}

bool German() {
  LangId lang = CurrentLanguage();
  if (lang == kLangNeutral) lang = SystemLanguage();
  return lang == kLangGerman;
}

const char* FailureText(OpenFailure failure, bool german) {
  switch (failure) {
    case OpenFailure::InUse:
      return german ? "Der Port wird von einem anderen Programm benutzt."
                    : "The port is in use by another program.";
    case OpenFailure::NoPermission:
      return german ? "Keine Berechtigung f\xFCr den Port. Den Benutzer in die Gruppe \"dialout\" "
                      "aufnehmen (sudo usermod -aG dialout $USER) und neu anmelden."
                    : "No permission to open the port. Add the user to the group \"dialout\" "
                      "(sudo usermod -aG dialout $USER), then log in again.";
    case OpenFailure::NoSuchPort:
      return german ? "Diesen Port gibt es nicht (Adapter eingesteckt?)."
                    : "There is no such port (is the adapter plugged in?).";
    case OpenFailure::AlreadyOpen:
      return german ? "Der Port ist in diesem Programm schon ge\xF6"
                      "ffnet."
                    : "The port is already open in this program.";
    case OpenFailure::Other:
      return nullptr;
  }
  return nullptr;
}

// "The port is in use by picocom (process 4242)." for a device whose holder can be seen.
std::string HolderText(const std::string& portName, bool german) {
  if (portName.empty() || IsPrefixedPortName(portName)) return std::string();
  char normalized[kSapiNameCapacity];
  bool ok = Serial_NormalizeName(portName.c_str(), normalized, sizeof normalized, true);
  std::string path = ok ? Serial_DevicePath(normalized) : std::string();
  if (path.empty()) return std::string();
  PortHolder holder = FindPortHolder(path);
  if (holder.pid <= 0) return std::string();
  std::string program = holder.program.empty() ? "?" : holder.program;
  std::string pid = std::to_string(holder.pid);
  return german ? "Der Port wird von " + program + " (Prozess " + pid + ") benutzt."
                : "The port is in use by " + program + " (process " + pid + ").";
}

}  // namespace

std::string PortOpenFailureText(uint32_t error, const std::string& portName) {
  const OpenFailure failure = Classify(error);
  if (failure == OpenFailure::InUse) {
    std::string named = HolderText(portName, German());
    if (!named.empty()) return named;
  }
  const char* text = FailureText(failure, German());
  if (text != nullptr) return text;
  return std::strerror(static_cast<int>(error));
}

}  // namespace lumo

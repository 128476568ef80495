#include "link/port_errors.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "base/translations.h"
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

// The message row of a failure; nullptr for one without its own text.
const char* FailureMsgId(OpenFailure failure) {
  switch (failure) {
    case OpenFailure::InUse:
      return "ERRPORT_INUSE";
    case OpenFailure::NoPermission:
      return "ERRPORT_NOPERMISSION";
    case OpenFailure::NoSuchPort:
      return "ERRPORT_NOSUCHPORT";
    case OpenFailure::AlreadyOpen:
      return "ERRPORT_ALREADYOPEN";
    case OpenFailure::Other:
      return nullptr;
  }
  return nullptr;
}

// format with each "%s" replaced by the next of args (by nothing when they have run out).
std::string Fill(const char* format, std::initializer_list<std::string> args) {
  std::string out;
  auto next = args.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      if (next != args.end()) out += *next++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// "The port is in use by picocom (process 4242)." for a device whose holder can be seen.
std::string HolderText(const std::string& portName) {
  if (portName.empty() || IsPrefixedPortName(portName)) return std::string();
  char normalized[kSapiNameCapacity];
  bool ok = Serial_NormalizeName(portName.c_str(), normalized, sizeof normalized, true);
  std::string path = ok ? Serial_DevicePath(normalized) : std::string();
  if (path.empty()) return std::string();
  PortHolder holder = FindPortHolder(path);
  if (holder.pid <= 0) return std::string();
  std::string program = holder.program.empty() ? "?" : holder.program;
  return Fill(MsgText("ERRPORT_INUSEBY"), {program, std::to_string(holder.pid)});
}

}  // namespace

std::string PortOpenFailureText(uint32_t error, const std::string& portName) {
  const OpenFailure failure = Classify(error);
  if (failure == OpenFailure::InUse) {
    std::string named = HolderText(portName);
    if (!named.empty()) return named;
  }
  if (const char* msgId = FailureMsgId(failure)) return MsgText(msgId);
  return std::strerror(static_cast<int>(error));
}

}  // namespace lumo

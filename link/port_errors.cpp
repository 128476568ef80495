#include "link/port_errors.h"

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "base/translations.h"
#include "link/port_names.h"
#include "platform/device_lock.h"

namespace lumo {
namespace {

// The message row of a system error; nullptr for one without its own text.
const char* ErrnoMsgId(int sysErrno) {
  switch (sysErrno) {
    case EBUSY:
    case EWOULDBLOCK:
      return "ERRPORT_INUSE";
    case EACCES:
    case EPERM:
      return "ERRPORT_NOPERMISSION";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "ERRPORT_NOSUCHPORT";
    default:
      return nullptr;
  }
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
  const std::string path = DevicePathOf(portName);
  if (path.empty()) return std::string();
  PortHolder holder = FindPortHolder(path);
  if (holder.pid <= 0) return std::string();
  std::string program = holder.program.empty() ? "?" : holder.program;
  return Fill(MsgText("ERRPORT_INUSEBY"), {program, std::to_string(holder.pid)});
}

}  // namespace

const char* PortFailureMsgId(SerialResult result, int sysErrno) {
  switch (result) {
    case SerialResult::Ok:
      return nullptr;
    case SerialResult::NotOpen:
      return "ERRPORT_NOTOPEN";
    case SerialResult::AlreadyOpen:
      return "ERRPORT_ALREADYOPEN";
    case SerialResult::BadArgument:
      // A bad or unknown name: the port named does not exist.
      return "ERRPORT_NOSUCHPORT";
    case SerialResult::WriteShort:
      return "ERRPORT_WRITESHORT";
    case SerialResult::ReadShort:
      return "ERRPORT_READSHORT";
    case SerialResult::EchoMismatch:
      return "ERRPORT_ECHOMISMATCH";
    case SerialResult::EchoInputWaiting:
      return "ERRPORT_ECHOWAITING";
    case SerialResult::System:
      return ErrnoMsgId(sysErrno);
  }
  return nullptr;
}

std::string PortFailureText(SerialResult result, int sysErrno, const std::string& portName) {
  if (result == SerialResult::Ok) return std::string();
  if (result == SerialResult::System && (sysErrno == EBUSY || sysErrno == EWOULDBLOCK)) {
    std::string named = HolderText(portName);
    if (!named.empty()) return named;
  }
  if (const char* msgId = PortFailureMsgId(result, sysErrno)) return MsgText(msgId);
  return std::strerror(sysErrno);
}

}  // namespace lumo

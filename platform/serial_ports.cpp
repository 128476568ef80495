#include "platform/serial_ports.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/text.h"

namespace lumo {
namespace {

// Longest sysfs attribute text taken over; USB strings are far shorter.
constexpr size_t kMaxAttributeChars = 126;
// How far up from a tty's device the USB device with idVendor may lie (interface, device).
constexpr int kMaxUsbLevels = 4;

// Unix98 pty slaves use these majors; they have no entry in sysfs.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;
constexpr const char* kSysDevChar = "/sys/dev/char";
// The bus of the serial core's port and controller devices (kernel 6.5 on).
constexpr const char* kSerialCoreBus = "/bus/serial-base/";

// UART types of the serial core, for the description of on-board ports.
// type number, name
struct UartTypeRow {
  int type;
  const char* name;
};
constexpr UartTypeRow kUartTypes[] = {
    {1, "8250"},   {2, "16450"},   {3, "16550"}, {4, "16550A"},    {5, "Cirrus"},
    {6, "16650"},  {7, "16650V2"}, {8, "16750"}, {9, "Startech"},  {10, "16C950"},
    {11, "16654"}, {12, "16850"},  {13, "RSA"},  {14, "NS16550A"}, {15, "XScale"}};

// A sysfs attribute as printable text: control bytes dropped, blanks trimmed, length capped.
// Empty when the file is missing or unreadable.
std::string ReadAttribute(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::string();
  char buffer[kMaxAttributeChars + 1];
  ssize_t n;
  do {
    n = ::read(fd, buffer, kMaxAttributeChars);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return std::string();
  std::string text;
  for (ssize_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(buffer[i]);
    if (c == '\n' || c == '\t') c = ' ';
    if (c >= 0x20 && c != 0x7F) text += static_cast<char>(c);
  }
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

// The UART type of a port; -1 when it cannot be learnt. Prefers the sysfs attribute and asks
// the driver only when the kernel does not offer it.
int UartType(const std::string& sysTty, const std::string& devPath) {
  std::string text = ReadAttribute(sysTty + "/type");
  if (!text.empty()) {
    int64_t type = 0;
    if (ReadInteger(text, type) && type >= 0 && type < INT_MAX) return static_cast<int>(type);
    return -1;
  }
  int fd = ::open(devPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  serial_struct info{};
  int rc = ::ioctl(fd, TIOCGSERIAL, &info);
  ::close(fd);
  return rc < 0 ? -1 : info.type;
}

bool IsEightTwoFiftyName(const std::string& name) {
  return name.rfind("ttyS", 0) == 0;
}

// A port of the 8250 family exists only when a UART of a known type sits behind it.
bool PortPresent(const std::string& sysClassTty, const std::string& devDir,
                 const std::string& name) {
  std::string sysTty = sysClassTty + "/" + name;
  if (!Exists(sysTty + "/device")) return false;
  if (!IsEightTwoFiftyName(name)) return true;
  return UartType(sysTty, devDir + "/" + name) > PORT_UNKNOWN;
}

std::string UartTypeName(int type) {
  for (const auto& row : kUartTypes) {
    if (row.type == type) return row.name;
  }
  return std::string();
}

// Fills the description and, for a USB adapter, its ids, serial number and driver.
void Describe(const std::string& sysClassTty, const std::string& devDir, const std::string& name,
              SerialPortInfo& info) {
  std::string sysTty = sysClassTty + "/" + name;
  char resolved[PATH_MAX];
  if (::realpath((sysTty + "/device").c_str(), resolved)) {
    // The serial core's own port and controller devices (bus "serial-base") stand between a
    // UART and its driver: the driver that counts is the first one above them.
    std::string dir = resolved;
    for (int level = 0; level <= kMaxUsbLevels && dir.size() > 1; ++level) {
      char driver[PATH_MAX];
      if (::realpath((dir + "/driver").c_str(), driver)) {
        std::string path = driver;
        if (path.find(kSerialCoreBus) == std::string::npos) {
          info.driver = path.substr(path.find_last_of('/') + 1);
          break;
        }
      }
      dir.erase(dir.find_last_of('/'));
    }
  }
  if (::realpath((sysTty + "/device").c_str(), resolved)) {
    std::string dir = resolved;
    for (int level = 0; level <= kMaxUsbLevels && dir.size() > 1; ++level) {
      std::string vendor = ReadAttribute(dir + "/idVendor");
      if (!vendor.empty()) {
        info.vendorId = vendor;
        info.productId = ReadAttribute(dir + "/idProduct");
        info.serial = ReadAttribute(dir + "/serial");
        std::string maker = ReadAttribute(dir + "/manufacturer");
        std::string model = ReadAttribute(dir + "/product");
        std::string text = maker;
        if (!model.empty()) text += (text.empty() ? "" : " ") + model;
        if (text.empty()) text = "USB serial " + vendor + ":" + info.productId;
        if (!info.serial.empty()) text += " (" + info.serial + ")";
        info.description = text;
        return;
      }
      dir.erase(dir.find_last_of('/'));
    }
  }
  std::string type = IsEightTwoFiftyName(name) ? UartTypeName(UartType(sysTty, devDir + "/" + name))
                                               : std::string();
  info.description = type.empty() ? "Serial port" : "Serial port (" + type + ")";
}

// Natural order: runs of digits compare by value, so ttyS2 comes before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      size_t ei = a.find_first_not_of("0123456789", i);
      size_t ej = b.find_first_not_of("0123456789", j);
      if (ei == std::string::npos) ei = a.size();
      if (ej == std::string::npos) ej = b.size();
      std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
      na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
      nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
      if (na.size() != nb.size()) return na.size() < nb.size();
      if (na != nb) return na < nb;
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

bool AcceptableName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos;
}

}  // namespace

std::vector<SerialPortInfo> ListSerialHardware(const std::string& sysClassTty,
                                               const std::string& devDir) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(sysClassTty.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (AcceptableName(name) && PortPresent(sysClassTty, devDir, name)) names.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), NaturalLess);
  std::vector<SerialPortInfo> ports;
  for (const auto& name : names) {
    SerialPortInfo info;
    info.path = devDir + "/" + name;
    Describe(sysClassTty, devDir, name, info);
    info.stableName = StableNameOf(info.path, devDir);
    ports.push_back(std::move(info));
  }
  return ports;
}

bool SerialHardwareExists(const std::string& devicePath, const std::string& sysClassTty) {
  size_t slash = devicePath.find_last_of('/');
  if (slash == std::string::npos) return false;
  std::string name = devicePath.substr(slash + 1);
  std::string devDir = devicePath.substr(0, slash);
  if (!AcceptableName(name)) return false;
  struct stat st {};
  if (::stat(devicePath.c_str(), &st) < 0 || !S_ISCHR(st.st_mode)) return false;
  return PortPresent(sysClassTty, devDir, name);
}

std::string StableNameOf(const std::string& devicePath, const std::string& devDir) {
  const std::string target = KernelDevicePath(devicePath);
  const std::string byId = devDir + kByIdSubfolder;
  std::vector<std::string> links;
  if (DIR* dir = ::opendir(byId.c_str())) {
    while (dirent* entry = ::readdir(dir)) {
      std::string name = entry->d_name;
      if (AcceptableName(name)) links.push_back(name);
    }
    ::closedir(dir);
  }
  std::sort(links.begin(), links.end(), NaturalLess);
  for (const auto& link : links) {
    std::string path = byId + "/" + link;
    if (KernelDevicePath(path) == target) return path;
  }
  return std::string();
}

std::string KernelDevicePath(const std::string& devicePath) {
  char resolved[PATH_MAX];
  if (!::realpath(devicePath.c_str(), resolved)) return devicePath;
  return resolved;
}

bool IsTerminalDevice(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) < 0 || !S_ISCHR(st.st_mode)) return false;
  unsigned major = ::major(st.st_rdev);
  if (major >= kPtySlaveMajorFirst && major <= kPtySlaveMajorLast) return true;
  struct stat sysfs {};
  if (::stat(kSysDevChar, &sysfs) < 0) return true;  // no sysfs to ask: the open will tell
  std::string entry = std::string(kSysDevChar) + "/" + std::to_string(major) + ":" +
                      std::to_string(::minor(st.st_rdev)) + "/subsystem";
  char resolved[PATH_MAX];
  if (!::realpath(entry.c_str(), resolved)) return false;
  std::string subsystem = resolved;
  return subsystem.substr(subsystem.find_last_of('/') + 1) == "tty";
}

}  // namespace lumo

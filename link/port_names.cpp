#include "link/port_names.h"

#include <optional>

#include "link/serial_port.h"
#include "platform/port_provider.h"

namespace lumo {
namespace {

constexpr const char* kComName = "COM";
constexpr const char* kTtySPrefix = "/dev/ttyS";
// Highest COM number mapped onto a ttyS device.
constexpr unsigned long kMaxComNumber = 4096;

bool IsBlank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

void ToUpper(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

// "COM1" -> "/dev/ttyS0"; "" for anything else (no number, a leading zero, out of range).
std::string TtySOfComName(const std::string& name) {
  if (name.rfind(kComName, 0) != 0) return std::string();
  const std::string digits = name.substr(std::char_traits<char>::length(kComName));
  if (digits.empty() || digits.size() > 4 || digits[0] == '0') return std::string();
  unsigned long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::string();
    number = number * 10 + static_cast<unsigned long>(c - '0');
  }
  if (number < 1 || number > kMaxComNumber) return std::string();
  return kTtySPrefix + std::to_string(number - 1);
}

bool IsTtySPath(const std::string& path) {
  if (path.rfind(kTtySPrefix, 0) != 0) return false;
  const std::string digits = path.substr(std::char_traits<char>::length(kTtySPrefix));
  if (digits.empty()) return false;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace

std::string PortPathOf(const std::string& text) {
  size_t start = 0;
  // Blanks, and the "\\.\" the other system puts before a device name.
  while (start < text.size() && (IsBlank(text[start]) || text[start] == '\\' || text[start] == '.'))
    ++start;
  std::string path;
  if (start < text.size() && text[start] == '/') {
    // A device path, used as written: only the blanks after it go.
    size_t end = text.size();
    while (end > start && IsBlank(text[end - 1])) --end;
    path = text.substr(start, end - start);
  } else {
    size_t end = start;
    while (end < text.size() && !IsBlank(text[end])) ++end;
    std::string word = text.substr(start, end - start);
    ToUpper(word);
    if (IsPrefixedPortName(word)) {
      path = word;
    } else {
      // "COM3:" and "com3 (USB)" name COM3.
      const size_t colon = word.find(':');
      if (colon != std::string::npos) word.erase(colon);
      path = TtySOfComName(word);
    }
  }
  return path.size() <= kSerialNameMax ? path : std::string();
}

std::string DevicePathOf(const std::string& text) {
  std::string path = PortPathOf(text);
  return !path.empty() && path[0] == '/' ? path : std::string();
}

bool PortExists(const std::string& path) {
  if (path.empty() || path.size() > kSerialNameMax) return false;
  const std::optional<PortProvider> provider = PortProviderFor(path);
  if (!provider || !provider->exists) return false;
  if (!provider->prefix.empty()) return provider->exists(path);
  if (path[0] != '/') return false;
  // The kernel makes ttyS device files whether or not a UART answers behind them.
  if (IsTtySPath(path)) return SerialHardwareExists(path);
  return provider->exists(path);
}

std::vector<SerialPortInfo> ListSerialPorts() {
  return ListProvidedPorts();
}

}  // namespace lumo

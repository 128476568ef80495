#include "platform/text.h"

#include <charconv>

namespace lumo {

namespace {

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view start) {
  return start.size() <= text.size() && EqualNoCase(text.substr(0, start.size()), start);
}

bool ReadInteger(std::string_view text, int64_t& value) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  int64_t read = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), read);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  value = read;
  return true;
}

std::string FillText(const char* format, std::initializer_list<std::string> args,
                     size_t maxLength) {
  std::string out;
  auto next = args.begin();
  for (const char* p = format != nullptr ? format : ""; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd') && next != args.end()) {
      out += *next++;
      ++p;
    } else {
      out += *p;
    }
  }
  if (maxLength > 0 && out.size() > maxLength) out.resize(maxLength);
  return out;
}

std::string WithoutHotkeyMarks(std::string_view caption) {
  std::string out;
  for (size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&' && i + 1 < caption.size() && caption[i + 1] == '&') {
      out += '&';
      ++i;
    } else if (caption[i] != '&') {
      out += caption[i];
    }
  }
  return out;
}

}  // namespace lumo

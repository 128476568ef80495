#include "platform/profile_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace lumo {

namespace {

constexpr size_t kReadChunkBytes = 64 * 1024;      // one read() call while loading
constexpr const char kUtf8Bom[] = "\xEF\xBB\xBF";  // some editors put it before the first line
constexpr size_t kUtf8BomBytes = sizeof kUtf8Bom - 1;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsSpace(text[begin])) ++begin;
  while (end > begin && IsSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// What one line of the file is.
enum class LineKind { Other, Section, Key };

struct ParsedLine {
  LineKind kind = LineKind::Other;
  std::string name;   // section or key name, trimmed
  std::string value;  // key lines: the raw text after "=", untrimmed
};

ParsedLine ParseLine(const std::string& line) {
  ParsedLine parsed;
  std::string text = Trim(line);
  if (text.empty() || text[0] == ';') return parsed;
  if (text[0] == '[') {
    size_t close = text.find(']');
    parsed.kind = LineKind::Section;
    parsed.name = Trim(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return parsed;
  }
  size_t equals = text.find('=');
  parsed.kind = LineKind::Key;
  parsed.name = Trim(text.substr(0, equals));
  if (equals != std::string::npos) parsed.value = text.substr(equals + 1);
  return parsed;
}

// A value as the profile functions hand it out: trimmed, one pair of enclosing quotes removed.
std::string CleanValue(const std::string& raw) {
  std::string value = Trim(raw);
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// Splits the number syntax of GetInt: sign, base and the digits' span. False when no digit.
struct NumberParts {
  bool negative = false;
  unsigned base = 10;
  size_t begin = 0;
  size_t end = 0;
};

int DigitOf(char c, unsigned base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool SplitNumber(const std::string& text, NumberParts* parts) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    parts->negative = text[i] == '-';
    ++i;
  }
  if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    parts->base = 16;
    i += 2;
  }
  parts->begin = i;
  while (i < text.size() && DigitOf(text[i], parts->base) >= 0) ++i;
  parts->end = i;
  return parts->end > parts->begin;
}

}  // namespace

bool ProfileFile::Load(const std::string& path) {
  LoadText({});
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
  if (fd < 0) {
    loadErrno_ = errno;
    loadable_ = (errno == ENOENT || errno == ENOTDIR);  // absent: a save may create it
    return false;
  }
  std::string data;
  struct stat st {};
  bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  while (ok) {
    char chunk[kReadChunkBytes];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || data.size() + static_cast<size_t>(n) > kMaxFileBytes) ok = false;
    if (n <= 0) break;
    data.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  if (!ok) {
    loadErrno_ = S_ISREG(st.st_mode) ? EFBIG : EINVAL;
    loadable_ = false;
    return false;
  }

  LoadText(data);
  return true;
}

void ProfileFile::LoadText(std::string_view text) {
  lines_.clear();
  lineEnd_ = "\r\n";
  byteOrderMark_ = false;
  loadable_ = true;
  loadErrno_ = 0;
  const std::string_view data = text;
  bool lineEndSeen = false;
  size_t start = 0;
  if (data.substr(0, kUtf8BomBytes) == kUtf8Bom) {
    byteOrderMark_ = true;
    start = kUtf8BomBytes;
  }
  for (size_t i = start; i < data.size(); ++i) {
    if (data[i] != '\n' && data[i] != '\r') continue;
    lines_.emplace_back(data.substr(start, i - start));
    bool crlf = data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n';
    if (!lineEndSeen) {
      lineEnd_ = (data[i] == '\n') ? "\n" : "\r\n";
      lineEndSeen = true;
    }
    if (crlf) ++i;
    start = i + 1;
  }
  if (start < data.size()) lines_.emplace_back(data.substr(start));
}

size_t ProfileFile::FindKeyLine(const std::string& section, const std::string& key) const {
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine parsed = ParseLine(lines_[i]);
    if (parsed.kind == LineKind::Section) {
      inSection = SameName(parsed.name, Trim(section));
    } else if (inSection && parsed.kind == LineKind::Key && SameName(parsed.name, Trim(key))) {
      return i;
    }
  }
  return std::string::npos;
}

bool ProfileFile::Get(const std::string& section, const std::string& key,
                      std::string* value) const {
  size_t line = FindKeyLine(section, key);
  if (line == std::string::npos) return false;
  if (value != nullptr) *value = CleanValue(ParseLine(lines_[line]).value);
  return true;
}

std::string ProfileFile::GetString(const std::string& section, const std::string& key,
                                   const std::string& defaultValue) const {
  std::string value;
  return Get(section, key, &value) ? value : defaultValue;
}

int32_t ProfileFile::GetInt(const std::string& section, const std::string& key,
                            int32_t defaultValue) const {
  std::string value;
  if (!Get(section, key, &value) || value.empty()) return defaultValue;
  NumberParts parts;
  if (!SplitNumber(value, &parts)) return 0;
  uint32_t magnitude = 0;  // wraps modulo 2^32 by design
  for (size_t i = parts.begin; i < parts.end; ++i) {
    magnitude = magnitude * parts.base + static_cast<uint32_t>(DigitOf(value[i], parts.base));
  }
  if (parts.negative) magnitude = 0u - magnitude;
  return static_cast<int32_t>(magnitude);
}

void ProfileFile::Set(const std::string& section, const std::string& key,
                      const std::string& value) {
  std::string oneLine = value.substr(0, value.find_first_of(std::string("\r\n\0", 3)));
  size_t line = FindKeyLine(section, key);
  if (line != std::string::npos) {
    lines_[line] = ParseLine(lines_[line]).name + "=" + oneLine;
    return;
  }
  std::string newLine = Trim(key) + "=" + oneLine;
  for (size_t i = 0; i < lines_.size(); ++i) {
    ParsedLine parsed = ParseLine(lines_[i]);
    if (parsed.kind != LineKind::Section || !SameName(parsed.name, Trim(section))) continue;
    // After the last non-blank line of the section.
    size_t insertAt = i + 1;
    for (size_t j = i + 1; j < lines_.size(); ++j) {
      if (ParseLine(lines_[j]).kind == LineKind::Section) break;
      if (!Trim(lines_[j]).empty()) insertAt = j + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine);
    return;
  }
  if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.push_back("");
  std::string header = "[";
  header += Trim(section);
  header += ']';
  lines_.push_back(std::move(header));
  lines_.push_back(newLine);
}

bool ProfileFile::Save(const std::string& path, ReplaceResult* why) const {
  ReplaceResult result;
  if (!loadable_ || path.empty()) {
    result.error = ReplaceError::CannotCreate;
    result.savedErrno = path.empty() ? ENOENT : loadErrno_;
    result.target = path;
  } else {
    result = ReplaceFileWith(path, Text());
  }
  if (why != nullptr) *why = result;
  return result.ok();
}

std::string ProfileFile::Text() const {
  std::string content = byteOrderMark_ ? kUtf8Bom : "";
  for (const std::string& line : lines_) content += line + lineEnd_;
  return content;
}

bool ProfileNumberIsNonZero(const std::string& value) {
  NumberParts parts;
  if (!SplitNumber(value, &parts)) return false;
  for (size_t i = parts.begin; i < parts.end; ++i) {
    if (value[i] != '0') return true;
  }
  return false;
}

}  // namespace lumo

// Where the unit history goes: off, a SQLite file, a PostgreSQL server.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "history/history_store.h"
#include "platform/text.h"

namespace lumo {

namespace {

std::string Trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  size_t end = text.find_last_not_of(" \t\r\n");
  return text.substr(begin, end - begin + 1);
}

// $XDG_DATA_HOME/lumokonf, or ~/.local/share/lumokonf (an XDG_DATA_HOME that is not an
// absolute path is ignored, as the base directory rules say).
std::string DataFolder() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return std::string(xdg) + "/lumokonf/";
  const char* home = std::getenv("HOME");
  std::string base = home != nullptr && home[0] == '/' ? home : "/tmp";
  return base + "/.local/share/lumokonf/";
}

}  // namespace

HistoryLocation ParseHistoryLocation(const std::string& text) {
  const std::string trimmed = Trimmed(text);
  if (EqualNoCase(trimmed, "off")) return {HistoryLocation::Kind::Off, ""};
  if (trimmed.empty()) return {HistoryLocation::Kind::SqliteFile, DefaultHistoryFile()};
  if (StartsWithNoCase(trimmed, "postgresql://") || StartsWithNoCase(trimmed, "postgres://"))
    return {HistoryLocation::Kind::Postgres, trimmed};
  return {HistoryLocation::Kind::SqliteFile, trimmed};
}

std::string DefaultHistoryFile() {
  return DataFolder() + "history.sqlite";
}

std::string DefaultQueueFile(const std::string& uri) {
  // One queue per server: the name carries a hash of the URI without its password.
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (char c : MaskedLocation(uri)) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return DataFolder() + "history-queue-" + text + ".sqlite";
}

HistoryStatus OpenHistoryStore(const HistoryLocation& location,
                               std::unique_ptr<HistoryStore>* store) {
  switch (location.kind) {
    case HistoryLocation::Kind::Off:
      return {HistoryResult::Failed, "the unit history is switched off"};
    case HistoryLocation::Kind::SqliteFile:
      return OpenSqliteHistory(location.target, store);
    case HistoryLocation::Kind::Postgres:
      return OpenPostgresHistory(location.target, store);
  }
  return {HistoryResult::Failed, "unknown history location"};
}

}  // namespace lumo

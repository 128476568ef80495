// The unit history's schema, shared by the SQLite and PostgreSQL stores (internal to history/).
//
// State model: none; constant tables. A database starts at version 0 (no tables) and is taken
// through every step from its version to kHistorySchemaVersion in one transaction, so a new
// database and an upgraded one end up alike.
//
//   kHistoryColumns     the record's columns in the order statements bind them
//   kHistorySteps       the statements that take version N to N + 1, per database
//   InsertSql/QuerySql  the parameterised statements, with "?N" or "$N" placeholders
#pragma once

#include <cstdint>
#include <iterator>
#include <string>
#include <vector>

#include "history/history_store.h"

namespace lumo::history_schema {

enum class Dialect { Sqlite, Postgres };

enum class ColumnKind { Text, Integer, Blob };

struct Column {
  const char* name;
  ColumnKind kind;
};

// The order in which Append binds and Query reads.
// name               kind
inline constexpr Column kHistoryColumns[] = {
    {"id", ColumnKind::Text},
    {"time_utc", ColumnKind::Text},
    {"station", ColumnKind::Text},
    {"operator", ColumnKind::Text},
    {"program_version", ColumnKind::Text},
    {"port", ColumnKind::Text},
    {"device_type", ColumnKind::Integer},
    {"identity", ColumnKind::Text},
    {"serial", ColumnKind::Text},
    {"firmware_main", ColumnKind::Integer},
    {"firmware_minor", ColumnKind::Integer},
    {"job", ColumnKind::Text},
    {"pages_before", ColumnKind::Blob},
    {"pages_after", ColumnKind::Blob},
    {"report_crc", ColumnKind::Integer},
    {"file_name", ColumnKind::Text},
    {"file_crc", ColumnKind::Integer},
    {"outcome", ColumnKind::Text},
    {"failed_page", ColumnKind::Integer},
    {"reason", ColumnKind::Text},
    {"selftest_verdict", ColumnKind::Text},
    {"selftest_values", ColumnKind::Text},
};
inline constexpr int kColumnCount = static_cast<int>(std::size(kHistoryColumns));

struct Step {
  int from;  // the version this step starts at
  const char* sqlite;
  const char* postgres;
};

// Version 1: the records. Version 2: the reason of a failure, the self-test's values, and the
// indexes that find a unit, a station's records and a time range without reading them all.
inline constexpr Step kHistorySteps[] = {
    {0,
     "CREATE TABLE lumo_history_version(version INTEGER NOT NULL);"
     "INSERT INTO lumo_history_version(version) VALUES(0);"
     "CREATE TABLE unit_record(id TEXT PRIMARY KEY NOT NULL, time_utc TEXT NOT NULL,"
     " station TEXT NOT NULL, operator TEXT NOT NULL, program_version TEXT NOT NULL,"
     " port TEXT NOT NULL, device_type INTEGER NOT NULL, identity TEXT NOT NULL,"
     " serial TEXT NOT NULL, firmware_main INTEGER NOT NULL, firmware_minor INTEGER NOT NULL,"
     " job TEXT NOT NULL, pages_before BLOB, pages_after BLOB, report_crc INTEGER NOT NULL,"
     " file_name TEXT NOT NULL, file_crc INTEGER NOT NULL, outcome TEXT NOT NULL,"
     " failed_page INTEGER NOT NULL, selftest_verdict TEXT NOT NULL);",
     "CREATE TABLE lumo_history_version(version INTEGER NOT NULL);"
     "INSERT INTO lumo_history_version(version) VALUES(0);"
     "CREATE TABLE unit_record(id TEXT PRIMARY KEY NOT NULL, time_utc TEXT NOT NULL,"
     " station TEXT NOT NULL, operator TEXT NOT NULL, program_version TEXT NOT NULL,"
     " port TEXT NOT NULL, device_type BIGINT NOT NULL, identity TEXT NOT NULL,"
     " serial TEXT NOT NULL, firmware_main BIGINT NOT NULL, firmware_minor BIGINT NOT NULL,"
     " job TEXT NOT NULL, pages_before BYTEA, pages_after BYTEA, report_crc BIGINT NOT NULL,"
     " file_name TEXT NOT NULL, file_crc BIGINT NOT NULL, outcome TEXT NOT NULL,"
     " failed_page BIGINT NOT NULL, selftest_verdict TEXT NOT NULL);"},
    {1,
     "ALTER TABLE unit_record ADD COLUMN reason TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE unit_record ADD COLUMN selftest_values TEXT NOT NULL DEFAULT '';"
     "CREATE INDEX unit_record_serial ON unit_record(serial, time_utc);"
     "CREATE INDEX unit_record_identity ON unit_record(identity, time_utc);"
     "CREATE INDEX unit_record_station ON unit_record(station, time_utc);"
     "CREATE INDEX unit_record_time ON unit_record(time_utc);",
     "ALTER TABLE unit_record ADD COLUMN reason TEXT NOT NULL DEFAULT '';"
     "ALTER TABLE unit_record ADD COLUMN selftest_values TEXT NOT NULL DEFAULT '';"
     "CREATE INDEX unit_record_serial ON unit_record(serial, time_utc);"
     "CREATE INDEX unit_record_identity ON unit_record(identity, time_utc);"
     "CREATE INDEX unit_record_station ON unit_record(station, time_utc);"
     "CREATE INDEX unit_record_time ON unit_record(time_utc);"},
};
static_assert(std::size(kHistorySteps) == kHistorySchemaVersion);

inline std::string Placeholder(Dialect dialect, int n) {
  return (dialect == Dialect::Sqlite ? "?" : "$") + std::to_string(n);
}

inline std::string ColumnList() {
  std::string list;
  for (const Column& column : kHistoryColumns) {
    if (!list.empty()) list += ", ";
    list += column.name;
  }
  return list;
}

inline std::string InsertSql(Dialect dialect) {
  std::string sql = "INSERT INTO unit_record(" + ColumnList() + ") VALUES(";
  for (int i = 1; i <= kColumnCount; ++i) sql += (i > 1 ? ", " : "") + Placeholder(dialect, i);
  return sql + ") ON CONFLICT(id) DO NOTHING";
}

// The statement and the texts to bind, in order; the limit is the last parameter.
struct QueryStatement {
  std::string sql;
  std::vector<std::string> parameters;
};

inline QueryStatement QuerySql(Dialect dialect, const HistoryFilter& filter) {
  QueryStatement q;
  std::string where;
  auto add = [&](const std::string& condition) {
    where += where.empty() ? " WHERE " : " AND ";
    where += condition;
  };
  auto next = [&](const std::string& value) {
    q.parameters.push_back(value);
    return Placeholder(dialect, static_cast<int>(q.parameters.size()));
  };
  if (!filter.unit.empty()) {
    std::string a = next(filter.unit);
    std::string b = next(filter.unit);
    add("(serial = " + a + " OR identity = " + b + ")");
  }
  if (!filter.station.empty()) add("station = " + next(filter.station));
  if (!filter.since.empty()) add("time_utc >= " + next(filter.since));
  if (!filter.until.empty()) add("time_utc <= " + next(filter.until));
  if (!filter.fileName.empty()) add("file_name = " + next(filter.fileName));
  std::string order = filter.oldestFirst ? " ASC" : " DESC";
  std::string limit = next(std::to_string(filter.limit));
  if (dialect == Dialect::Postgres) limit = "CAST(" + limit + " AS BIGINT)";
  q.sql = "SELECT " + ColumnList() + " FROM unit_record" + where + " ORDER BY time_utc" + order +
          ", id" + order + " LIMIT " + limit;
  return q;
}

// One value of a row, as bound or read.
struct Cell {
  bool null = false;
  std::string text;  // Text columns, and Blob columns' bytes
  int64_t number = 0;
};

// The record's values in kHistoryColumns order.
std::vector<Cell> RecordCells(const HistoryRecord& record);
// The record from a row read back; false (why says which column) for a row no record makes:
// an unknown job or outcome, page images of the wrong size, numbers out of range, texts longer
// than kHistoryTextLimit.
bool RecordFromCells(const std::vector<Cell>& cells, HistoryRecord* record, std::string* why);

}  // namespace lumo::history_schema

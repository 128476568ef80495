// Where unit history records are kept: a SQLite file on this machine or a PostgreSQL server for
// a hall of stations, behind one small interface.
//
// State model. A HistoryStore is one open connection to one database; it is used by one thread
// at a time (the recorder's writer thread, or a front end asking for records). The database
// carries its schema version in the table lumo_history_version; opening creates the schema when
// the database is empty, upgrades an older one in one transaction, and refuses a newer one or
// one that holds other data. Every statement is parameterised; a record's id is its key, so
// appending the same record twice stores it once.
//
//   HistoryLocation        what --history / [History] Database= names: off, a file, a server
//   ParseHistoryLocation   the text into a location ("" means the default file)
//   DefaultHistoryFile     $XDG_DATA_HOME/lumokonf/history.sqlite (~/.local/share without it)
//   DefaultQueueFile       the local queue of records that wait for a server
//   HistoryStatus          a closed result with the message a person reads
//   HistoryFilter          unit, station, time range, file; newest first
//   HistoryStore           Append, Query, Remove (the queue), Count
//   OpenSqliteHistory      open or create a SQLite database file
//   OpenPostgresHistory    connect to a server (libpq; password from ~/.pgpass or PGPASSWORD)
//   OpenHistoryStore       either, by location
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "history/history_record.h"

namespace lumo {

// The schema version this program writes; it upgrades every older one.
constexpr int kHistorySchemaVersion = 2;

struct HistoryLocation {
  enum class Kind { Off, SqliteFile, Postgres };
  Kind kind = Kind::SqliteFile;
  std::string target;  // the file, or the connection URI
};

// "off" (any case): nothing recorded; "postgresql://" or "postgres://": a server; "": the
// default file; anything else: a file path.
HistoryLocation ParseHistoryLocation(const std::string& text);
std::string DefaultHistoryFile();
// The local queue of records that wait for the server of the URI.
std::string DefaultQueueFile(const std::string& uri);

enum class HistoryResult {
  Ok,
  Unreachable,  // the server cannot be reached (the record may wait and be sent later)
  Busy,         // the database is locked by another program
  Full,         // no room on the disk
  TooNew,       // the database was made by a newer program
  NotHistory,   // the file or database is not a unit history (other data, damaged)
  Failed,       // any other failure; the message says what
};

struct HistoryStatus {
  HistoryResult result = HistoryResult::Ok;
  std::string message;  // for a person; never holds a password
  bool Ok() const { return result == HistoryResult::Ok; }
};

struct HistoryFilter {
  std::string unit;          // serial number or whole identity text; "" for any
  std::string station;       // "" for any
  std::string since;         // stored time format (ParseHistoryDate), "" for no limit
  std::string until;         // inclusive
  std::string fileName;      // parameter file name, "" for any
  size_t limit = 100000;     // at most this many records, newest first
  bool oldestFirst = false;  // the queue sends in the order records were made
};

class HistoryStore {
 public:
  virtual ~HistoryStore() = default;
  // Stores the record; one already stored under its id is left as it is (Ok).
  virtual HistoryStatus Append(const HistoryRecord& record) = 0;
  virtual HistoryStatus Query(const HistoryFilter& filter, std::vector<HistoryRecord>* out) = 0;
  virtual HistoryStatus Remove(const std::string& id) = 0;
  // Number of records, -1 when it cannot be counted.
  virtual int64_t Count() = 0;
  // For messages: the file, or the URI with its password masked.
  virtual std::string Describe() const = 0;
};

HistoryStatus OpenSqliteHistory(const std::string& path, std::unique_ptr<HistoryStore>* store);
HistoryStatus OpenPostgresHistory(const std::string& uri, std::unique_ptr<HistoryStore>* store);
HistoryStatus OpenHistoryStore(const HistoryLocation& location,
                               std::unique_ptr<HistoryStore>* store);

}  // namespace lumo

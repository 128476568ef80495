// The unit history in a SQLite file, through the SQLite C library.
//
// The file may come from anywhere: it is opened with the library's defensive setting and
// without trusting its schema (no functions of ours run from its views or triggers), a file of
// a newer schema or with other tables is refused, and every row read is checked before it
// becomes a record.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "history/history_schema.h"
#include "history/history_store.h"

namespace lumo {

namespace {

using history_schema::Cell;
using history_schema::ColumnKind;
using history_schema::Dialect;

// How long a statement waits for another program's lock before the record waits instead.
constexpr int kBusyTimeoutMs = 5000;

HistoryResult ResultOf(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return HistoryResult::Busy;
    case SQLITE_FULL:
      return HistoryResult::Full;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return HistoryResult::NotHistory;
    default:
      return HistoryResult::Failed;
  }
}

// Makes the folders above a file (0700: the history is the user's own).
void MakeParentFolders(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1))
    mkdir(path.substr(0, slash).c_str(), 0700);
}

class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int Prepare(sqlite3* db, const std::string& sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.c_str(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteStore : public HistoryStore {
 public:
  explicit SqliteStore(std::string path) : path_(std::move(path)) {}
  ~SqliteStore() override { sqlite3_close_v2(db_); }

  HistoryStatus Open() {
    if (path_.empty()) return Fail(HistoryResult::Failed, "no file named");
    MakeParentFolders(path_);
    int rc = sqlite3_open_v2(path_.c_str(), &db_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) return Fail(ResultOf(rc), ErrorText(rc));
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    // A record is on the disk when Append returns; the write-ahead log keeps that to one sync.
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=FULL");
    HistoryStatus schema = Schema();
    if (!schema.Ok()) return schema;
    rc = insert_.Prepare(db_, history_schema::InsertSql(Dialect::Sqlite));
    if (rc != SQLITE_OK) return Fail(HistoryResult::NotHistory, NotHistoryText(rc));
    return {};
  }

  HistoryStatus Append(const HistoryRecord& record) override {
    sqlite3_stmt* s = insert_.get();
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
    auto cells = history_schema::RecordCells(record);
    for (int i = 0; i < history_schema::kColumnCount; ++i) {
      const Cell& cell = cells[static_cast<size_t>(i)];
      int rc = SQLITE_OK;
      if (cell.null) {
        rc = sqlite3_bind_null(s, i + 1);
      } else {
        switch (history_schema::kHistoryColumns[i].kind) {
          case ColumnKind::Text:
            rc = sqlite3_bind_text(s, i + 1, cell.text.data(), static_cast<int>(cell.text.size()),
                                   SQLITE_TRANSIENT);
            break;
          case ColumnKind::Integer:
            rc = sqlite3_bind_int64(s, i + 1, cell.number);
            break;
          case ColumnKind::Blob:
            rc = sqlite3_bind_blob(s, i + 1, cell.text.data(), static_cast<int>(cell.text.size()),
                                   SQLITE_TRANSIENT);
            break;
        }
      }
      if (rc != SQLITE_OK) return Fail(ResultOf(rc), ErrorText(rc));
    }
    int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc != SQLITE_DONE) return Fail(ResultOf(rc), ErrorText(rc));
    return {};
  }

  HistoryStatus Query(const HistoryFilter& filter, std::vector<HistoryRecord>* out) override {
    out->clear();
    auto q = history_schema::QuerySql(Dialect::Sqlite, filter);
    Statement statement;
    int rc = statement.Prepare(db_, q.sql);
    if (rc != SQLITE_OK) return Fail(HistoryResult::NotHistory, NotHistoryText(rc));
    sqlite3_stmt* s = statement.get();
    for (size_t i = 0; i < q.parameters.size(); ++i) {
      const int n = static_cast<int>(i + 1);
      if (i + 1 == q.parameters.size()) {
        sqlite3_bind_int64(s, n, static_cast<sqlite3_int64>(filter.limit));
      } else {
        sqlite3_bind_text(s, n, q.parameters[i].data(), static_cast<int>(q.parameters[i].size()),
                          SQLITE_TRANSIENT);
      }
    }
    std::vector<Cell> cells(history_schema::kColumnCount);
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
      for (int i = 0; i < history_schema::kColumnCount; ++i)
        ReadCell(s, i, &cells[static_cast<size_t>(i)]);
      HistoryRecord record;
      std::string why;
      if (!history_schema::RecordFromCells(cells, &record, &why))
        return Fail(HistoryResult::NotHistory,
                    "a record in " + path_ + " cannot be read (" + why + ")");
      out->push_back(std::move(record));
    }
    if (rc != SQLITE_DONE) return Fail(ResultOf(rc), ErrorText(rc));
    return {};
  }

  HistoryStatus Remove(const std::string& id) override {
    Statement statement;
    int rc = statement.Prepare(db_, "DELETE FROM unit_record WHERE id = ?1");
    if (rc == SQLITE_OK)
      rc = sqlite3_bind_text(statement.get(), 1, id.data(), static_cast<int>(id.size()),
                             SQLITE_TRANSIENT);
    if (rc == SQLITE_OK) rc = sqlite3_step(statement.get());
    if (rc != SQLITE_DONE) return Fail(ResultOf(rc), ErrorText(rc));
    return {};
  }

  int64_t Count() override {
    Statement statement;
    if (statement.Prepare(db_, "SELECT count(*) FROM unit_record") != SQLITE_OK) return -1;
    if (sqlite3_step(statement.get()) != SQLITE_ROW) return -1;
    return sqlite3_column_int64(statement.get(), 0);
  }

  std::string Describe() const override { return path_; }

 private:
  HistoryStatus Fail(HistoryResult result, const std::string& why) const {
    std::string text;
    switch (result) {
      case HistoryResult::Ok:
        break;
      case HistoryResult::Busy:
        text = "The unit history " + path_ + " is locked by another program";
        break;
      case HistoryResult::Full:
        text = "No room for the unit history " + path_;
        break;
      case HistoryResult::TooNew:
        text = "The unit history " + path_ + " was made by a newer version of the program";
        break;
      case HistoryResult::NotHistory:
        text = path_ + " is not a unit history";
        break;
      case HistoryResult::Unreachable:
      case HistoryResult::Failed:
        text = "The unit history " + path_ + " cannot be used";
        break;
    }
    return {result, why.empty() ? text : text + ": " + why};
  }

  std::string ErrorText(int rc) const {
    const char* message = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    return message != nullptr ? message : sqlite3_errstr(rc);
  }
  std::string NotHistoryText(int rc) const { return ErrorText(rc); }

  int Exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

  // The number in lumo_history_version, -1 when there is no such table, -2 when the table
  // is not one row holding a number (someone else's table of that name, or damage).
  int StoredVersion(int* rcOut) {
    Statement statement;
    *rcOut = statement.Prepare(
        db_, "SELECT count(*) FROM sqlite_master WHERE name = 'lumo_history_version'");
    if (*rcOut != SQLITE_OK || (*rcOut = sqlite3_step(statement.get())) != SQLITE_ROW) return -3;
    *rcOut = SQLITE_OK;
    if (sqlite3_column_int64(statement.get(), 0) == 0) return -1;
    Statement version;
    if (version.Prepare(db_, "SELECT version FROM lumo_history_version") != SQLITE_OK) return -2;
    if (sqlite3_step(version.get()) != SQLITE_ROW ||
        sqlite3_column_type(version.get(), 0) != SQLITE_INTEGER)
      return -2;
    sqlite3_int64 number = sqlite3_column_int64(version.get(), 0);
    if (sqlite3_step(version.get()) != SQLITE_DONE || number < 0 || number > 1000000) return -2;
    return static_cast<int>(number);
  }

  HistoryStatus Schema() {
    // IMMEDIATE: two programs creating the same new file one after the other, never together.
    int rc = Exec("BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return Fail(ResultOf(rc), ErrorText(rc));
    HistoryStatus status = SchemaInTransaction();
    if (status.Ok()) {
      rc = Exec("COMMIT");
      if (rc != SQLITE_OK) status = Fail(ResultOf(rc), ErrorText(rc));
    }
    if (!status.Ok()) Exec("ROLLBACK");
    return status;
  }

  HistoryStatus SchemaInTransaction() {
    int rc = SQLITE_OK;
    int version = StoredVersion(&rc);
    if (version == -3) return Fail(ResultOf(rc), ErrorText(rc));
    if (version == -2) return Fail(HistoryResult::NotHistory, "its version table is damaged");
    if (version == -1) {
      Statement tables;
      rc = tables.Prepare(db_, "SELECT count(*) FROM sqlite_master");
      if (rc != SQLITE_OK || sqlite3_step(tables.get()) != SQLITE_ROW)
        return Fail(ResultOf(rc), ErrorText(rc));
      if (sqlite3_column_int64(tables.get(), 0) != 0)
        return Fail(HistoryResult::NotHistory, "it holds other data");
      version = 0;
    }
    if (version > kHistorySchemaVersion)
      return Fail(HistoryResult::TooNew,
                  "its version is " + std::to_string(version) + ", this program knows up to " +
                      std::to_string(kHistorySchemaVersion) + "; update the program");
    for (const auto& step : history_schema::kHistorySteps) {
      if (step.from < version) continue;
      char* error = nullptr;
      rc = sqlite3_exec(db_, step.sqlite, nullptr, nullptr, &error);
      std::string why = error != nullptr ? error : "";
      sqlite3_free(error);
      if (rc != SQLITE_OK)
        return Fail(
            ResultOf(rc) == HistoryResult::Failed ? HistoryResult::NotHistory : ResultOf(rc),
            "upgrading from version " + std::to_string(step.from) + ": " + why);
    }
    if (version < kHistorySchemaVersion) {
      Statement update;
      rc = update.Prepare(db_, "UPDATE lumo_history_version SET version = ?1");
      if (rc == SQLITE_OK) rc = sqlite3_bind_int(update.get(), 1, kHistorySchemaVersion);
      if (rc == SQLITE_OK) rc = sqlite3_step(update.get());
      if (rc != SQLITE_DONE) return Fail(ResultOf(rc), ErrorText(rc));
    }
    return {};
  }

  static void ReadCell(sqlite3_stmt* s, int i, Cell* cell) {
    const int type = sqlite3_column_type(s, i);
    cell->null = type == SQLITE_NULL;
    cell->number = 0;
    cell->text.clear();
    if (type == SQLITE_INTEGER) {
      cell->number = sqlite3_column_int64(s, i);
      if (history_schema::kHistoryColumns[i].kind != ColumnKind::Integer)
        cell->text = std::to_string(cell->number);
    } else if (type == SQLITE_TEXT || type == SQLITE_BLOB) {
      const void* bytes = type == SQLITE_BLOB ? sqlite3_column_blob(s, i)
                                              : static_cast<const void*>(sqlite3_column_text(s, i));
      const int n = sqlite3_column_bytes(s, i);
      if (bytes != nullptr && n > 0) {
        // Longer than any field may be: kept one byte over the limit, so the row is refused.
        size_t keep = std::min<size_t>(static_cast<size_t>(n), kHistoryTextLimit + 1);
        cell->text.assign(static_cast<const char*>(bytes), keep);
      }
      // A number stored as text in an integer column does not count as one.
      if (history_schema::kHistoryColumns[i].kind == ColumnKind::Integer) cell->null = true;
    } else if (type == SQLITE_FLOAT) {
      cell->null = true;  // no column of ours holds a fraction
    }
  }

  std::string path_;
  sqlite3* db_ = nullptr;
  Statement insert_;
};

}  // namespace

HistoryStatus OpenSqliteHistory(const std::string& path, std::unique_ptr<HistoryStore>* store) {
  auto sqlite = std::make_unique<SqliteStore>(path);
  HistoryStatus status = sqlite->Open();
  if (status.Ok()) *store = std::move(sqlite);
  return status;
}

}  // namespace lumo

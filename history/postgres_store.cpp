// The unit history on a PostgreSQL server, through libpq.
//
// All stations of a hall write into one database. The schema is created or upgraded under a
// transaction-scoped advisory lock, so stations starting together do it once. Every statement
// goes through PQexecParams; a record whose id is already stored is left as it is, so a record
// sent again after a lost answer is still stored once. The connection URI's password is never
// put into a message: libpq takes it from the URI, ~/.pgpass or PGPASSWORD.
#include <libpq-fe.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "history/history_schema.h"
#include "history/history_store.h"
#include "platform/text.h"

namespace lumo {

namespace {

using history_schema::Cell;
using history_schema::ColumnKind;
using history_schema::Dialect;

// A station waits this long for its server before the record goes into the local queue.
constexpr const char* kConnectTimeoutSeconds = "3";
// The advisory lock that serialises schema changes between stations.
constexpr const char* kSchemaLockKey = "7523023";

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// bytea in the text result format: "\x" and two hex digits a byte. false for anything else.
bool ByteaFromText(const char* text, int length, std::string* out) {
  out->clear();
  if (length < 2 || text[0] != '\\' || text[1] != 'x' || (length - 2) % 2 != 0) return false;
  size_t bytes = static_cast<size_t>(length - 2) / 2;
  if (bytes > kHistoryTextLimit + 1) bytes = kHistoryTextLimit + 1;  // refused later
  out->reserve(bytes);
  for (size_t i = 0; i < bytes; ++i) {
    int high = HexValue(text[2 + 2 * i]), low = HexValue(text[3 + 2 * i]);
    if (high < 0 || low < 0) return false;
    out->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

bool NumberFromText(const char* text, int64_t* out) {
  return text != nullptr && ReadInteger(text, *out);
}

class PostgresStore : public HistoryStore {
 public:
  explicit PostgresStore(std::string uri) : uri_(std::move(uri)), shown_(MaskedLocation(uri_)) {}
  ~PostgresStore() override {
    if (conn_ != nullptr) PQfinish(conn_);
  }

  HistoryStatus Open() {
    HistoryStatus status = Connect();
    if (!status.Ok()) return status;
    return Schema();
  }

  HistoryStatus Append(const HistoryRecord& record) override {
    HistoryStatus status = Reconnect();
    if (!status.Ok()) return status;
    auto cells = history_schema::RecordCells(record);
    const char* values[history_schema::kColumnCount];
    int lengths[history_schema::kColumnCount];
    int formats[history_schema::kColumnCount];
    std::string numbers[history_schema::kColumnCount];
    for (int i = 0; i < history_schema::kColumnCount; ++i) {
      const Cell& cell = cells[static_cast<size_t>(i)];
      formats[i] = 0;
      lengths[i] = 0;
      if (cell.null) {
        values[i] = nullptr;
        continue;
      }
      switch (history_schema::kHistoryColumns[i].kind) {
        case ColumnKind::Text:
          values[i] = cell.text.c_str();
          break;
        case ColumnKind::Integer:
          numbers[i] = std::to_string(cell.number);
          values[i] = numbers[i].c_str();
          break;
        case ColumnKind::Blob:
          values[i] = cell.text.data();
          lengths[i] = static_cast<int>(cell.text.size());
          formats[i] = 1;  // binary: the bytes as they are
          break;
      }
    }
    const std::string sql = history_schema::InsertSql(Dialect::Postgres);
    Result result(PQexecParams(conn_, sql.c_str(), history_schema::kColumnCount, nullptr, values,
                               lengths, formats, 0));
    return Check(result.get(), PGRES_COMMAND_OK);
  }

  HistoryStatus Query(const HistoryFilter& filter, std::vector<HistoryRecord>* out) override {
    out->clear();
    HistoryStatus status = Reconnect();
    if (!status.Ok()) return status;
    auto q = history_schema::QuerySql(Dialect::Postgres, filter);
    std::vector<const char*> values;
    for (const std::string& p : q.parameters) values.push_back(p.c_str());
    Result result(PQexecParams(conn_, q.sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0));
    status = Check(result.get(), PGRES_TUPLES_OK);
    if (!status.Ok()) return status;
    PGresult* r = result.get();
    if (PQnfields(r) != history_schema::kColumnCount)
      return Fail(HistoryResult::NotHistory, "the records have the wrong columns");
    std::vector<Cell> cells(history_schema::kColumnCount);
    const int rows = PQntuples(r);
    for (int row = 0; row < rows; ++row) {
      for (int i = 0; i < history_schema::kColumnCount; ++i) {
        Cell& cell = cells[static_cast<size_t>(i)];
        cell = Cell{};
        cell.null = PQgetisnull(r, row, i) != 0;
        if (cell.null) continue;
        const char* text = PQgetvalue(r, row, i);
        const int length = PQgetlength(r, row, i);
        bool ok = true;
        switch (history_schema::kHistoryColumns[i].kind) {
          case ColumnKind::Text:
            cell.text.assign(text,
                             std::min<size_t>(static_cast<size_t>(length), kHistoryTextLimit + 1));
            break;
          case ColumnKind::Integer:
            ok = NumberFromText(text, &cell.number);
            break;
          case ColumnKind::Blob:
            ok = ByteaFromText(text, length, &cell.text);
            break;
        }
        if (!ok) cell.null = true;
      }
      HistoryRecord record;
      std::string why;
      if (!history_schema::RecordFromCells(cells, &record, &why))
        return Fail(HistoryResult::NotHistory, "a record cannot be read (" + why + ")");
      out->push_back(std::move(record));
    }
    return {};
  }

  HistoryStatus Remove(const std::string& id) override {
    HistoryStatus status = Reconnect();
    if (!status.Ok()) return status;
    const char* values[] = {id.c_str()};
    Result result(PQexecParams(conn_, "DELETE FROM unit_record WHERE id = $1", 1, nullptr, values,
                               nullptr, nullptr, 0));
    return Check(result.get(), PGRES_COMMAND_OK);
  }

  int64_t Count() override {
    if (!Reconnect().Ok()) return -1;
    Result result(PQexec(conn_, "SELECT count(*) FROM unit_record"));
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1) return -1;
    int64_t count = -1;
    return NumberFromText(PQgetvalue(result.get(), 0, 0), &count) ? count : -1;
  }

  std::string Describe() const override { return shown_; }

 private:
  HistoryStatus Fail(HistoryResult result, const std::string& why) const {
    std::string text;
    switch (result) {
      case HistoryResult::Ok:
        break;
      case HistoryResult::Unreachable:
        text = "The history server " + shown_ + " cannot be reached";
        break;
      case HistoryResult::Busy:
        text = "The history server " + shown_ + " is busy";
        break;
      case HistoryResult::Full:
        text = "The history server " + shown_ + " has no room";
        break;
      case HistoryResult::TooNew:
        text = "The history database " + shown_ + " was made by a newer version of the program";
        break;
      case HistoryResult::NotHistory:
        text = "The database " + shown_ + " is not a unit history";
        break;
      case HistoryResult::Failed:
        text = "The history server " + shown_ + " refused the request";
        break;
    }
    std::string reason = why;
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return {result, reason.empty() ? text : text + ": " + reason};
  }

  HistoryStatus Connect() {
    if (conn_ != nullptr) PQfinish(conn_);
    // connect_timeout first: one the URI names itself wins.
    const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
    const char* values[] = {kConnectTimeoutSeconds, "lumokonf", uri_.c_str(), nullptr};
    conn_ = PQconnectdbParams(keys, values, 1);
    if (conn_ == nullptr) return Fail(HistoryResult::Failed, "out of memory");
    if (PQstatus(conn_) != CONNECTION_OK) {
      std::string why = PQerrorMessage(conn_);
      PQfinish(conn_);
      conn_ = nullptr;
      return Fail(HistoryResult::Unreachable, why);
    }
    // The server's notices are not ours to print.
    PQsetNoticeProcessor(
        conn_, [](void*, const char*) {}, nullptr);
    return {};
  }

  // A lost connection is made again once before a statement.
  HistoryStatus Reconnect() {
    if (conn_ != nullptr && PQstatus(conn_) == CONNECTION_OK) return {};
    HistoryStatus status = Connect();
    if (!status.Ok()) return status;
    if (!schemaChecked_) return Schema();
    return {};
  }

  HistoryStatus Check(PGresult* result, ExecStatusType wanted) {
    if (result != nullptr && PQresultStatus(result) == wanted) return {};
    if (conn_ == nullptr || PQstatus(conn_) != CONNECTION_OK)
      return Fail(HistoryResult::Unreachable, conn_ != nullptr ? PQerrorMessage(conn_) : "");
    const char* state = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string why = result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn_);
    std::string code = state != nullptr ? state : "";
    if (code.rfind("08", 0) == 0 || code.rfind("57P", 0) == 0)
      return Fail(HistoryResult::Unreachable, why);
    if (code == "53100") return Fail(HistoryResult::Full, why);
    if (code.rfind("53", 0) == 0 || code == "40001" || code == "40P01" || code == "55P03")
      return Fail(HistoryResult::Busy, why);
    if (code == "42P01" || code == "42703") return Fail(HistoryResult::NotHistory, why);
    return Fail(HistoryResult::Failed, why);
  }

  HistoryStatus Exec(const std::string& sql, ExecStatusType wanted = PGRES_COMMAND_OK) {
    Result result(PQexec(conn_, sql.c_str()));
    return Check(result.get(), wanted);
  }

  HistoryStatus Schema() {
    HistoryStatus status = Exec("BEGIN");
    if (!status.Ok()) return status;
    status = SchemaInTransaction();
    if (status.Ok()) status = Exec("COMMIT");
    if (!status.Ok()) {
      Result rollback(PQexec(conn_, "ROLLBACK"));
      return status;
    }
    schemaChecked_ = true;
    return status;
  }

  HistoryStatus SchemaInTransaction() {
    HistoryStatus status =
        Exec(std::string("SELECT pg_advisory_xact_lock(") + kSchemaLockKey + ")", PGRES_TUPLES_OK);
    if (!status.Ok()) return status;
    Result tables(PQexec(conn_,
                         "SELECT to_regclass('lumo_history_version') IS NOT NULL,"
                         " to_regclass('unit_record') IS NOT NULL"));
    status = Check(tables.get(), PGRES_TUPLES_OK);
    if (!status.Ok()) return status;
    const bool hasVersion = std::strcmp(PQgetvalue(tables.get(), 0, 0), "t") == 0;
    const bool hasRecords = std::strcmp(PQgetvalue(tables.get(), 0, 1), "t") == 0;
    int64_t version = 0;
    if (!hasVersion) {
      if (hasRecords) return Fail(HistoryResult::NotHistory, "unit_record has no version table");
    } else {
      Result stored(PQexec(conn_, "SELECT version FROM lumo_history_version"));
      status = Check(stored.get(), PGRES_TUPLES_OK);
      if (!status.Ok()) return status;
      if (PQntuples(stored.get()) != 1 ||
          !NumberFromText(PQgetvalue(stored.get(), 0, 0), &version) || version < 0)
        return Fail(HistoryResult::NotHistory, "its version table is damaged");
    }
    if (version > kHistorySchemaVersion)
      return Fail(HistoryResult::TooNew,
                  "its version is " + std::to_string(version) + ", this program knows up to " +
                      std::to_string(kHistorySchemaVersion) + "; update the program");
    for (const auto& step : history_schema::kHistorySteps) {
      if (step.from < version) continue;
      status = Exec(step.postgres);
      if (!status.Ok()) return status;
    }
    if (version < kHistorySchemaVersion) {
      const std::string number = std::to_string(kHistorySchemaVersion);
      const char* values[] = {number.c_str()};
      Result update(PQexecParams(conn_, "UPDATE lumo_history_version SET version = $1", 1, nullptr,
                                 values, nullptr, nullptr, 0));
      status = Check(update.get(), PGRES_COMMAND_OK);
    }
    return status;
  }

  std::string uri_;
  std::string shown_;
  PGconn* conn_ = nullptr;
  bool schemaChecked_ = false;
};

}  // namespace

HistoryStatus OpenPostgresHistory(const std::string& uri, std::unique_ptr<HistoryStore>* store) {
  auto postgres = std::make_unique<PostgresStore>(uri);
  HistoryStatus status = postgres->Open();
  // An unreachable server still gives a store: its records wait and it connects again later.
  if (status.Ok() || status.result == HistoryResult::Unreachable) *store = std::move(postgres);
  return status;
}

}  // namespace lumo

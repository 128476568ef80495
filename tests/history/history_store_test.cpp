// The unit history against both databases: a SQLite file in a temporary folder, and a real
// PostgreSQL server the suite starts for itself (tests/history/postgres_server.h).
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <time.h>

#include <memory>

#include "history/history_recorder.h"
#include "history/history_store.h"
#include "tests/history/postgres_server.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using test::PostgresServer;
using test::TempDir;

constexpr auto kSettle = std::chrono::seconds(30);

PostgresServer* Server(std::string* why) {
  static std::unique_ptr<PostgresServer> server;
  static std::string failure;
  static bool tried = false;
  if (!tried) {
    tried = true;
    server = std::make_unique<PostgresServer>();
    if (!server->Start(&failure)) server.reset();
  }
  *why = failure;
  return server.get();
}

bool PgExec(const std::string& uri, const std::string& sql) {
  PGconn* conn = PQconnectdb(uri.c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PGresult* result = PQexec(conn, sql.c_str());
    ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
  }
  PQfinish(conn);
  return ok;
}

bool SqliteExec(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(file.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

HistoryRecord Sample(HistoryJob job, HistoryOutcome outcome, const std::string& identity,
                     const std::string& time) {
  HistoryRecord r;
  r.id = NewRecordId();
  r.timeUtc = time;
  r.station = "halle-3";
  r.operatorName = "mara";
  r.programVersion = "3.2.0";
  r.port = "/dev/ttyUSB0";
  r.deviceType = 1;
  r.identity = identity;
  r.serial = SerialFromIdentity(identity);
  r.firmware[0] = 4;
  r.firmware[1] = 2;
  r.job = job;
  r.pagesBefore.assign(kHistoryPageBytes, 0);
  r.pagesAfter.assign(kHistoryPageBytes, 0);
  for (size_t i = 0; i < kHistoryPageBytes; ++i) {
    r.pagesBefore[i] = static_cast<uint8_t>(i * 7);
    r.pagesAfter[i] = static_cast<uint8_t>(255 - i);  // every byte value, 0 included
  }
  r.reportCrc = 0xFEDCBA98u;
  r.fileName = "unit-4711.par";
  r.fileCrc = 0x80000001u;
  r.outcome = outcome;
  r.failedPage = outcome == HistoryOutcome::Failed ? 3 : -1;
  r.reason = outcome == HistoryOutcome::Done ? "" : "page 3 was not acknowledged";
  if (job == HistoryJob::SelfTest) {
    r.selfTestVerdict = "failed: Strom";
    r.selfTestValues = {{"Strom", "12,5 mA"}, {"Größe", "a=b"}};
  }
  return r;
}

// Each test gets an empty history of the kind it runs with.
class HistoryStoreTest : public ::testing::TestWithParam<HistoryLocation::Kind> {
 protected:
  void SetUp() override {
    if (GetParam() == HistoryLocation::Kind::SqliteFile) {
      location_ = {HistoryLocation::Kind::SqliteFile, folder_.path() + "h/history.sqlite"};
      return;
    }
    std::string why;
    server_ = Server(&why);
    if (server_ == nullptr) GTEST_SKIP() << "no PostgreSQL server: " << why;
    static int databases = 0;
    const std::string name = "h" + std::to_string(getpid()) + "_" + std::to_string(++databases);
    ASSERT_TRUE(PgExec(server_->Uri(), "CREATE DATABASE " + name));
    location_ = {HistoryLocation::Kind::Postgres, server_->Uri(name)};
  }

  bool Sqlite() const { return GetParam() == HistoryLocation::Kind::SqliteFile; }
  bool Exec(const std::string& sql) {
    return Sqlite() ? SqliteExec(location_.target, sql) : PgExec(location_.target, sql);
  }
  std::unique_ptr<HistoryStore> Open() {
    std::unique_ptr<HistoryStore> store;
    HistoryStatus status = OpenHistoryStore(location_, &store);
    EXPECT_TRUE(status.Ok()) << status.message;
    return status.Ok() ? std::move(store) : nullptr;
  }

  TempDir folder_;
  PostgresServer* server_ = nullptr;
  HistoryLocation location_;
};

TEST_P(HistoryStoreTest, EveryKindOfRecordRoundTrips) {
  auto store = Open();
  ASSERT_NE(store, nullptr);
  std::vector<HistoryRecord> written;
  int second = 0;
  for (HistoryJob job : {HistoryJob::Read, HistoryJob::Write, HistoryJob::Flash,
                         HistoryJob::SelfTest, HistoryJob::Line}) {
    for (HistoryOutcome outcome : {HistoryOutcome::Done, HistoryOutcome::Failed,
                                   HistoryOutcome::DeviceLost, HistoryOutcome::Cancelled}) {
      char time[32];
      std::snprintf(time, sizeof time, "2026-12-08 10:%02d:%02d.000", second / 60, second % 60);
      ++second;
      written.push_back(Sample(job, outcome, "TG5 Lichtgitter SN 004711", time));
    }
  }
  written[1].pagesBefore.clear();  // not read
  written[2].fileName = "Prüfung ß.par";
  for (const auto& r : written) ASSERT_TRUE(store->Append(r).Ok());
  // The same record again (a queue sending twice): stored once.
  ASSERT_TRUE(store->Append(written[0]).Ok());
  EXPECT_EQ(store->Count(), static_cast<int64_t>(written.size()));

  std::vector<HistoryRecord> read;
  HistoryFilter filter;
  filter.unit = "004711";
  ASSERT_TRUE(store->Query(filter, &read).Ok());
  ASSERT_EQ(read.size(), written.size());
  for (size_t i = 0; i < written.size(); ++i)  // newest first
    EXPECT_EQ(read[i], written[written.size() - 1 - i]) << i;
}

TEST_P(HistoryStoreTest, FiltersSelectUnitStationTimeAndFile) {
  auto store = Open();
  ASSERT_NE(store, nullptr);
  auto a = Sample(HistoryJob::Write, HistoryOutcome::Done, "TG5 SN 1", "2026-12-01 08:00:00.000");
  auto b = Sample(HistoryJob::Write, HistoryOutcome::Done, "TG5 SN 2", "2026-12-05 08:00:00.000");
  auto c = Sample(HistoryJob::Read, HistoryOutcome::Done, "Jovix 7", "2026-12-07 23:59:59.000");
  b.station = "halle-4";
  c.fileName = "";
  for (const auto* r : {&a, &b, &c}) ASSERT_TRUE(store->Append(*r).Ok());
  auto ids = [&](HistoryFilter filter) {
    std::vector<HistoryRecord> out;
    EXPECT_TRUE(store->Query(filter, &out).Ok());
    std::string text;
    for (const auto& r : out) text += r.identity + ";";
    return text;
  };
  HistoryFilter f;
  EXPECT_EQ(ids(f), "Jovix 7;TG5 SN 2;TG5 SN 1;");
  f.unit = "Jovix 7";  // the whole identity when it carries no serial
  EXPECT_EQ(ids(f), "Jovix 7;");
  f = {};
  f.station = "halle-4";
  EXPECT_EQ(ids(f), "TG5 SN 2;");
  f = {};
  f.since = *ParseHistoryDate("2026-12-05", false);
  f.until = *ParseHistoryDate("2026-12-07", true);
  EXPECT_EQ(ids(f), "Jovix 7;TG5 SN 2;");
  f = {};
  f.fileName = "unit-4711.par";
  f.limit = 1;
  EXPECT_EQ(ids(f), "TG5 SN 2;");
  f = {};
  f.unit = "x' OR '1'='1";  // only ever a value
  EXPECT_EQ(ids(f), "");
}

TEST_P(HistoryStoreTest, OlderVersionIsUpgradedAndKeepsItsRecords) {
  // A database as the first version left it: no reason, no self-test values, no indexes.
  const char* v1 =
      Sqlite() ? "CREATE TABLE lumo_history_version(version INTEGER NOT NULL);"
                 "INSERT INTO lumo_history_version VALUES(1);"
                 "CREATE TABLE unit_record(id TEXT PRIMARY KEY NOT NULL, time_utc TEXT NOT NULL,"
                 " station TEXT NOT NULL, operator TEXT NOT NULL, program_version TEXT NOT NULL,"
                 " port TEXT NOT NULL, device_type INTEGER NOT NULL, identity TEXT NOT NULL,"
                 " serial TEXT NOT NULL, firmware_main INTEGER NOT NULL,"
                 " firmware_minor INTEGER NOT NULL, job TEXT NOT NULL, pages_before BLOB,"
                 " pages_after BLOB, report_crc INTEGER NOT NULL, file_name TEXT NOT NULL,"
                 " file_crc INTEGER NOT NULL, outcome TEXT NOT NULL,"
                 " failed_page INTEGER NOT NULL, selftest_verdict TEXT NOT NULL);"
               : "CREATE TABLE lumo_history_version(version INTEGER NOT NULL);"
                 "INSERT INTO lumo_history_version VALUES(1);"
                 "CREATE TABLE unit_record(id TEXT PRIMARY KEY NOT NULL, time_utc TEXT NOT NULL,"
                 " station TEXT NOT NULL, operator TEXT NOT NULL, program_version TEXT NOT NULL,"
                 " port TEXT NOT NULL, device_type BIGINT NOT NULL, identity TEXT NOT NULL,"
                 " serial TEXT NOT NULL, firmware_main BIGINT NOT NULL,"
                 " firmware_minor BIGINT NOT NULL, job TEXT NOT NULL, pages_before BYTEA,"
                 " pages_after BYTEA, report_crc BIGINT NOT NULL, file_name TEXT NOT NULL,"
                 " file_crc BIGINT NOT NULL, outcome TEXT NOT NULL,"
                 " failed_page BIGINT NOT NULL, selftest_verdict TEXT NOT NULL);";
  if (Sqlite()) std::filesystem::create_directories(folder_.path() + "h");
  ASSERT_TRUE(Exec(v1));
  ASSERT_TRUE(
      Exec("INSERT INTO unit_record VALUES('old1', '2025-01-02 03:04:05.000', 's', 'o', '3.1',"
           " 'COM1', 1, 'TG5 SN 9', '9', 4, 1, 'write', NULL, NULL, 0, '', 0, 'done', -1,"
           " 'passed')"));
  auto store = Open();
  ASSERT_NE(store, nullptr);
  std::vector<HistoryRecord> read;
  HistoryFilter f;
  f.unit = "9";
  ASSERT_TRUE(store->Query(f, &read).Ok());
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0].id, "old1");
  EXPECT_EQ(read[0].selfTestVerdict, "passed");
  EXPECT_EQ(read[0].reason, "");
  // New records carry the new columns.
  auto r =
      Sample(HistoryJob::SelfTest, HistoryOutcome::Failed, "TG5 SN 9", "2026-01-01 00:00:00.000");
  ASSERT_TRUE(store->Append(r).Ok());
  ASSERT_TRUE(store->Query(f, &read).Ok());
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0], r);
}

TEST_P(HistoryStoreTest, NewerVersionIsRefusedAndLeftAlone) {
  ASSERT_NE(Open(), nullptr);
  ASSERT_TRUE(Exec("UPDATE lumo_history_version SET version = 3"));
  std::unique_ptr<HistoryStore> store;
  HistoryStatus status = OpenHistoryStore(location_, &store);
  EXPECT_EQ(status.result, HistoryResult::TooNew);
  EXPECT_EQ(store, nullptr);
  EXPECT_NE(status.message.find("newer version"), std::string::npos) << status.message;
  EXPECT_NE(status.message.find("version is 3"), std::string::npos) << status.message;
  // Not changed back to ours.
  ASSERT_TRUE(Exec("UPDATE lumo_history_version SET version = 2 WHERE version = 3"));
  EXPECT_NE(Open(), nullptr);
}

TEST_P(HistoryStoreTest, DatabaseOfOtherDataOrHostileRowsIsRefused) {
  if (Sqlite()) std::filesystem::create_directories(folder_.path() + "h");
  ASSERT_TRUE(Exec("CREATE TABLE unit_record(x INTEGER)"));
  std::unique_ptr<HistoryStore> store;
  EXPECT_EQ(OpenHistoryStore(location_, &store).result, HistoryResult::NotHistory);
  ASSERT_TRUE(Exec("DROP TABLE unit_record"));

  store = Open();
  ASSERT_NE(store, nullptr);
  auto good = Sample(HistoryJob::Read, HistoryOutcome::Done, "TG5 SN 5", "2026-01-01 00:00:00.000");
  ASSERT_TRUE(store->Append(good).Ok());
  // A row someone else wrote: a page image of the wrong size.
  ASSERT_TRUE(Exec(std::string("INSERT INTO unit_record SELECT 'bad', time_utc, station, operator,"
                               " program_version, port, device_type, identity, serial,"
                               " firmware_main, firmware_minor, job, ") +
                   (Sqlite() ? "x'0102'" : "'\\x0102'::bytea") +
                   ", pages_after, report_crc, file_name, file_crc, outcome, failed_page,"
                   " reason, selftest_verdict, selftest_values FROM unit_record"));
  std::vector<HistoryRecord> read;
  HistoryStatus status = store->Query({}, &read);
  EXPECT_EQ(status.result, HistoryResult::NotHistory);
  EXPECT_NE(status.message.find("pages_before"), std::string::npos) << status.message;
  // An unknown job text.
  ASSERT_TRUE(
      Exec("UPDATE unit_record SET pages_before = NULL, job = 'erase all' WHERE id = 'bad'"));
  EXPECT_EQ(store->Query({}, &read).result, HistoryResult::NotHistory);
  ASSERT_TRUE(Exec("UPDATE unit_record SET job = 'read', firmware_main = 70000 WHERE id = 'bad'"));
  EXPECT_EQ(store->Query({}, &read).result, HistoryResult::NotHistory);
}

INSTANTIATE_TEST_SUITE_P(Databases, HistoryStoreTest,
                         ::testing::Values(HistoryLocation::Kind::SqliteFile,
                                           HistoryLocation::Kind::Postgres),
                         [](const auto& info) {
                           return info.param == HistoryLocation::Kind::SqliteFile
                                      ? std::string("Sqlite")
                                      : std::string("Postgres");
                         });

TEST(HistorySqliteFileTest, NotADatabaseIsRefused) {
  TempDir folder;
  std::string file = folder.Write("junk.sqlite", std::string(4096, 'J'));
  std::unique_ptr<HistoryStore> store;
  HistoryStatus status = OpenSqliteHistory(file, &store);
  EXPECT_EQ(status.result, HistoryResult::NotHistory);
  EXPECT_NE(status.message.find("not a unit history"), std::string::npos) << status.message;
  EXPECT_EQ(lumo::test::ReadFile(file), std::string(4096, 'J'));  // left as it was
}

// A locked database loses no record: it waits in the queue and arrives when the lock is gone.
TEST(HistoryRecorderTest, LockedDatabaseRecordWaitsInQueueThenArrives) {
  TempDir folder;
  HistoryLocation location{HistoryLocation::Kind::SqliteFile, folder.path() + "history.sqlite"};
  {
    std::unique_ptr<HistoryStore> made;
    ASSERT_TRUE(OpenSqliteHistory(location.target, &made).Ok());
  }
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(location.target.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);

  auto record =
      Sample(HistoryJob::Write, HistoryOutcome::Done, "TG5 SN 77", "2026-12-08 10:00:00.000");
  {
    HistoryRecorder recorder(location);
    recorder.Submit(record);
    ASSERT_TRUE(recorder.Flush(kSettle));
    EXPECT_EQ(recorder.Waiting(), 1);
    auto messages = recorder.TakeMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages[0].find("locked"), std::string::npos) << messages[0];
  }
  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  // The next program start sends what waits.
  HistoryRecorder recorder(location);
  ASSERT_TRUE(recorder.Drain(kSettle));
  EXPECT_EQ(recorder.Waiting(), 0);
  std::unique_ptr<HistoryStore> store;
  ASSERT_TRUE(OpenSqliteHistory(location.target, &store).Ok());
  std::vector<HistoryRecord> read;
  ASSERT_TRUE(store->Query({}, &read).Ok());
  ASSERT_EQ(read.size(), 1u);
  EXPECT_EQ(read[0], record);
  std::unique_ptr<HistoryStore> queue;
  ASSERT_TRUE(OpenSqliteHistory(HistoryRecorder::QueueFileFor(location), &queue).Ok());
  EXPECT_EQ(queue->Count(), 0);
}

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A queue record someone damaged is reported and left; the writer does not spin on it.
TEST(HistoryRecorderTest, DamagedQueueRecordIsReportedWithoutBusyLoop) {
  TempDir folder;
  HistoryLocation location{HistoryLocation::Kind::SqliteFile, folder.path() + "history.sqlite"};
  const std::string queueFile = folder.path() + "queue.sqlite";
  {
    std::unique_ptr<HistoryStore> queue;
    ASSERT_TRUE(OpenSqliteHistory(queueFile, &queue).Ok());
    ASSERT_TRUE(queue
                    ->Append(Sample(HistoryJob::Read, HistoryOutcome::Done, "TG5 SN 1",
                                    "2026-12-08 10:00:00.000"))
                    .Ok());
  }
  ASSERT_TRUE(SqliteExec(queueFile, "UPDATE unit_record SET job = 'format disk'"));
  HistoryRecorder recorder(location, queueFile);
  const double before = CpuSeconds();
  EXPECT_FALSE(recorder.Drain(std::chrono::milliseconds(1500)));
  EXPECT_LT(CpuSeconds() - before, 0.5);
  EXPECT_EQ(recorder.Waiting(), 1);
  auto messages = recorder.TakeMessages();
  ASSERT_FALSE(messages.empty());
  EXPECT_NE(messages[0].find("unknown job"), std::string::npos) << messages[0];
}

}  // namespace
}  // namespace lumo

// Unit history figures, one line each:
//   history.record_ms   the time a finished job waits for its record (handing it to the
//                       recorder), and beside it the time the SQLite file takes to hold it
//   history.query_ms    the records of one unit among 100 000 (SQLite)
//   history.stations    eight processes writing into one PostgreSQL database at once
// Usage: history_bench DIR (a scratch folder).
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "history/history_recorder.h"
#include "history/history_store.h"
#include "tests/history/postgres_server.h"

namespace {

using namespace lumo;
using Clock = std::chrono::steady_clock;

constexpr int kRecordRuns = 200;
constexpr int kQueryRecords = 100000;
constexpr int kQueryUnits = 10000;  // ten records a unit
constexpr int kQueryRuns = 50;
constexpr int kStations = 8;
constexpr int kRecordsPerStation = 250;

double Ms(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

HistoryRecord Sample(const std::string& serial, int n) {
  HistoryRecord r;
  r.id = NewRecordId();
  char time[40];
  std::snprintf(time, sizeof time, "2026-%02d-%02d %02d:%02d:%02d.000", 1 + n % 12, 1 + n % 28,
                n % 24, n % 60, (n / 60) % 60);
  r.timeUtc = time;
  r.station = "station-1";
  r.operatorName = "bench";
  r.programVersion = "3.2.0";
  r.port = "/dev/ttyUSB0";
  r.deviceType = 1;
  r.identity = "TG5 Lichtgitter SN " + serial;
  r.serial = serial;
  r.job = HistoryJob::Line;
  r.pagesBefore.assign(kHistoryPageBytes, static_cast<uint8_t>(n));
  r.pagesAfter.assign(kHistoryPageBytes, static_cast<uint8_t>(n + 1));
  r.fileName = "unit.par";
  return r;
}

void RecordFigure(const std::string& dir) {
  const std::string file = dir + "/record.sqlite";
  std::unique_ptr<HistoryStore> store;
  if (!OpenSqliteHistory(file, &store).Ok()) {
    std::printf("history.record_ms: n/a  (no SQLite history in %s)\n", dir.c_str());
    return;
  }
  std::vector<double> append;
  for (int i = 0; i < kRecordRuns; ++i) {
    HistoryRecord r = Sample("R" + std::to_string(i), i);
    auto start = Clock::now();
    bool ok = store->Append(r).Ok();
    append.push_back(Ms(Clock::now() - start));
    if (!ok) {
      std::printf("history.record_ms: n/a  (a record was refused)\n");
      return;
    }
  }
  store.reset();
  HistoryRecorder recorder({HistoryLocation::Kind::SqliteFile, file});
  std::vector<double> submit;
  for (int i = 0; i < kRecordRuns; ++i) {
    HistoryRecord r = Sample("S" + std::to_string(i), i);
    auto start = Clock::now();
    recorder.Submit(std::move(r));
    submit.push_back(Ms(Clock::now() - start));
  }
  recorder.Flush(std::chrono::seconds(60));
  const double job = Median(submit), durable = Median(append);
  std::printf(
      "history.record_ms: %.4f  (a finished job hands its record over and goes on; the SQLite "
      "file holds it on the disk %.2f ms later, synchronous=FULL; median of %d; goal < 5 ms: "
      "%s)\n",
      job, durable, kRecordRuns, job < 5 && durable < 5 ? "met" : "NOT met");
}

void QueryFigure(const std::string& dir) {
  const std::string file = dir + "/query.sqlite";
  {
    std::unique_ptr<HistoryStore> made;
    if (!OpenSqliteHistory(file, &made).Ok()) return;
  }
  // 100 000 records in one transaction, through the same statement the store uses.
  sqlite3* db = nullptr;
  sqlite3_open(file.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db,
                     "INSERT INTO unit_record(id, time_utc, station, operator, program_version,"
                     " port, device_type, identity, serial, firmware_main, firmware_minor, job,"
                     " pages_before, pages_after, report_crc, file_name, file_crc, outcome,"
                     " failed_page, reason, selftest_verdict, selftest_values) VALUES(?1, ?2,"
                     " 'station-1', 'bench', '3.2.0', 'COM1', 1, ?3, ?4, 4, 2, 'line', ?5, ?5,"
                     " 0, 'unit.par', 0, 'done', -1, '', '', '')",
                     -1, &insert, nullptr);
  std::vector<uint8_t> pages(kHistoryPageBytes, 0x5A);
  for (int i = 0; i < kQueryRecords; ++i) {
    HistoryRecord r = Sample("U" + std::to_string(i % kQueryUnits), i);
    sqlite3_bind_text(insert, 1, r.id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, r.timeUtc.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 3, r.identity.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 4, r.serial.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_blob(insert, 5, pages.data(), static_cast<int>(pages.size()), SQLITE_STATIC);
    sqlite3_step(insert);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);

  std::unique_ptr<HistoryStore> store;
  if (!OpenSqliteHistory(file, &store).Ok()) return;
  std::vector<double> times;
  size_t found = 0;
  for (int i = 0; i < kQueryRuns; ++i) {
    HistoryFilter filter;
    filter.unit = "U" + std::to_string((i * 7919) % kQueryUnits);
    std::vector<HistoryRecord> records;
    auto start = Clock::now();
    store->Query(filter, &records);
    times.push_back(Ms(Clock::now() - start));
    found = records.size();
  }
  const double ms = Median(times);
  std::printf(
      "history.query_ms: %.3f  (the %zu records of one unit among %d, with their page images, "
      "SQLite; median of %d; goal < 20 ms: %s)\n",
      ms, found, kQueryRecords, kQueryRuns, ms < 20 ? "met" : "NOT met");
}

void StationsFigure() {
  test::PostgresServer server;
  std::string why;
  if (!server.Start(&why)) {
    std::printf("history.stations: n/a  (%s)\n", why.c_str());
    return;
  }
  const std::string uri = server.Uri();
  auto start = Clock::now();
  std::vector<pid_t> children;
  for (int s = 0; s < kStations; ++s) {
    pid_t pid = fork();
    if (pid == 0) {
      std::unique_ptr<HistoryStore> store;
      if (!OpenPostgresHistory(uri, &store).Ok()) _exit(1);
      std::vector<HistoryRecord> sent;
      for (int i = 0; i < kRecordsPerStation; ++i) {
        HistoryRecord r = Sample("S" + std::to_string(s) + "-" + std::to_string(i), i);
        r.station = "station-" + std::to_string(s + 1);
        if (!store->Append(r).Ok()) _exit(1);
        sent.push_back(r);
      }
      // A queue sending again after a lost answer: stored once all the same.
      for (int i = 0; i < 10; ++i)
        if (!store->Append(sent[i]).Ok()) _exit(1);
      _exit(0);
    }
    children.push_back(pid);
  }
  int failed = 0;
  for (pid_t pid : children) {
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
  }
  const double seconds = Ms(Clock::now() - start) / 1000;
  std::unique_ptr<HistoryStore> store;
  int64_t count = OpenPostgresHistory(uri, &store).Ok() ? store->Count() : -1;
  const int64_t expected = int64_t{kStations} * kRecordsPerStation;
  std::printf(
      "history.stations: %s  (%d processes wrote %d records each at once, 10 of them twice, "
      "into one PostgreSQL database in %.1f s: %lld records stored of %lld, %d processes "
      "failed)\n",
      count == expected && failed == 0 ? "all present, none twice" : "NOT all once", kStations,
      kRecordsPerStation, seconds, static_cast<long long>(count), static_cast<long long>(expected),
      failed);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  RecordFigure(argv[1]);
  QueryFigure(argv[1]);
  StationsFigure();
  return 0;
}

// lumokonf-cli's unit history end to end: the records of read, write and the production line,
// the history command, a history that fails, and a server that goes away during a line run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "history/history_store.h"
#include "tests/history/postgres_server.h"
#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace test;

// The program in the folder, with its own data folder (the default history and queues).
RunResult Cli(const TempDir& dir, const std::string& args) {
  test::CliOptions options;
  options.limitSeconds = 180;
  options.environment = "XDG_DATA_HOME='" + dir.path() + "data'";
  return test::RunCli(dir, args, options);
}

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(HistoryCliTest, JobsAreRecordedAndAskedFor) {
  TempDir dir;
  RunResult read = Cli(dir, "--echo off read --port SIM:TG5 --out unit.par");
  ASSERT_EQ(read.exitCode, 0) << read.err;
  RunResult write = Cli(dir, "--echo off write --port SIM:TG5 --file unit.par");
  ASSERT_EQ(write.exitCode, 0) << write.err;
  RunResult off = Cli(dir, "--echo off --history off read --port SIM:TG5");
  ASSERT_EQ(off.exitCode, 0) << off.err;

  // The default file in the data folder holds both jobs, newest first.
  RunResult json = Cli(dir, "history --unit 004711 --json");
  ASSERT_EQ(json.exitCode, 0) << json.err;
  auto records = nlohmann::json::parse(json.out);
  ASSERT_EQ(records.size(), 2u) << json.out;
  EXPECT_EQ(records[0]["job"], "write");
  EXPECT_EQ(records[0]["outcome"], "done");
  EXPECT_EQ(records[0]["file"], "unit.par");
  EXPECT_EQ(records[0]["pagesBefore"].get<std::string>().size(), 2 * kHistoryPageBytes);
  EXPECT_EQ(records[1]["job"], "read");
  EXPECT_EQ(records[1]["identity"], "TG5 Lichtgitter SN 004711");
  EXPECT_EQ(records[1]["pagesBefore"], "");

  RunResult csv = Cli(dir, "history --file unit.par --csv");
  ASSERT_EQ(csv.exitCode, 0) << csv.err;
  EXPECT_EQ(CountLines(csv.out), 2u) << csv.out;  // header and the write
  EXPECT_EQ(Cli(dir, "history --unit 999999").out, "");
  EXPECT_EQ(Cli(dir, "history --since 2001-02-30x").exitCode, 2);

  RunResult report = Cli(dir, "--lang en history --unit 004711 --report unit.html");
  ASSERT_EQ(report.exitCode, 0) << report.err;
  std::string html = lumo::test::ReadFile(dir.path() + "unit.html");
  EXPECT_NE(html.find("<h2>History</h2>"), std::string::npos);
  EXPECT_NE(html.find("TG5 Lichtgitter SN 004711"), std::string::npos);
}

TEST(HistoryCliTest, SettingsFileChoosesTheHistory) {
  TempDir dir;
  dir.Write("lumokonf.ini", "[History]\r\nDatabase=" + dir.path() + "hall.sqlite\r\n");
  ASSERT_EQ(Cli(dir, "--echo off read --port SIM:TG5").exitCode, 0);
  std::unique_ptr<HistoryStore> store;
  ASSERT_TRUE(OpenSqliteHistory(dir.path() + "hall.sqlite", &store).Ok());
  EXPECT_EQ(store->Count(), 1);
}

// A history that cannot take the record never changes the job's result; the record waits.
TEST(HistoryCliTest, FailingHistoryIsReportedAndTheJobStillSucceeds) {
  TempDir dir;
  const std::string junk = dir.Write("junk.sqlite", std::string(8192, 'x'));
  RunResult read = Cli(dir, "--echo off --history junk.sqlite read --port SIM:TG5");
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.err.find("not a unit history"), std::string::npos) << read.err;
  EXPECT_NE(read.err.find("1 record waits"), std::string::npos) << read.err;
  EXPECT_EQ(lumo::test::ReadFile(junk), std::string(8192, 'x'));
  std::unique_ptr<HistoryStore> queue;
  ASSERT_TRUE(OpenSqliteHistory(dir.path() + "junk-queue.sqlite", &queue).Ok());
  EXPECT_EQ(queue->Count(), 1);
}

// The server stops after the first unit and comes back after the third: every unit's record
// arrives, each once.
TEST(HistoryCliTest, ServerStoppedDuringALineRunGetsEveryUnitOnce) {
  PostgresServer server;
  std::string why;
  if (!server.Start(&why)) GTEST_SKIP() << "no PostgreSQL server: " << why;
  TempDir dir;
  ASSERT_EQ(Cli(dir, "--echo off --history off read --port SIM:TG5 --out unit.par").exitCode, 0);
  constexpr int kUnits = 4;
  Simulator sim(test::SimulatedTg5({"--units", std::to_string(kUnits)}));
  ASSERT_FALSE(sim.path().empty());

  RunResult run;
  std::thread line([&] {
    // The server trusts its local users: the password is there only to be kept out of sight.
    std::string uri = server.Uri();
    uri.replace(uri.find("lumo@"), 5, "lumo:geheim@");
    run = Cli(dir, "--history '" + uri + "' write --port '" + sim.path() +
                       "' --file unit.par --repeat --count " + std::to_string(kUnits) +
                       " --log units.jsonl");
  });
  auto waitFor = [&](size_t units) {
    return AwaitFile(
        dir / "units.jsonl", [&](const std::string& log) { return CountLines(log) >= units; },
        std::chrono::seconds(120));
  };
  bool stopped = waitFor(1) && server.Stop();
  bool resumed = waitFor(3) && server.Resume();
  line.join();
  ASSERT_TRUE(stopped);
  ASSERT_TRUE(resumed);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("cannot be reached"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("geheim"), std::string::npos) << run.err;  // the password never shown

  std::unique_ptr<HistoryStore> store;
  HistoryStatus status = OpenPostgresHistory(server.Uri(), &store);
  ASSERT_TRUE(status.Ok()) << status.message;
  std::vector<HistoryRecord> records;
  ASSERT_TRUE(store->Query({}, &records).Ok());
  std::set<std::string> ids;
  for (const auto& r : records) {
    ids.insert(r.id);
    EXPECT_EQ(r.job, HistoryJob::Line);
    EXPECT_EQ(r.outcome, HistoryOutcome::Done) << r.reason;
    EXPECT_EQ(r.pagesBefore.size(), kHistoryPageBytes);  // as read before the write
    EXPECT_EQ(r.fileName, "unit.par");
  }
  EXPECT_EQ(records.size(), static_cast<size_t>(kUnits)) << run.err;
  EXPECT_EQ(ids.size(), static_cast<size_t>(kUnits));
}

}  // namespace
}  // namespace lumo

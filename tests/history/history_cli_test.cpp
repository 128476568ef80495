// lumokonf-cli's unit history end to end: the records of read, write and the production line,
// the history command, a history that fails, and a server that goes away during a line run.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "history/history_store.h"
#include "tests/history/postgres_server.h"
#include "tests/temp_folder.h"

extern char** environ;

namespace lumo {
namespace {

using test::PostgresServer;
using test::TempFolder;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// The program in the folder, with its own data folder (the default history and queues).
RunResult Cli(const TempFolder& dir, const std::string& args) {
  const std::string command = "cd '" + dir.Path() + "' && XDG_DATA_HOME='" + dir.Path() +
                              "data' timeout 180 '" LUMO_CLI_PROGRAM "' " + args + " >'" +
                              dir.Path() + ".out' 2>'" + dir.Path() + ".err'";
  int status = std::system(command.c_str());
  RunResult result;
  if (status != -1 && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  result.out = TempFolder::Read(dir.Path() + ".out");
  result.err = TempFolder::Read(dir.Path() + ".err");
  return result;
}

size_t CountLines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(HistoryCliTest, JobsAreRecordedAndAskedFor) {
  TempFolder dir;
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
  std::string html = TempFolder::Read(dir.Path() + "unit.html");
  EXPECT_NE(html.find("<h2>History</h2>"), std::string::npos);
  EXPECT_NE(html.find("TG5 Lichtgitter SN 004711"), std::string::npos);
}

TEST(HistoryCliTest, SettingsFileChoosesTheHistory) {
  TempFolder dir;
  dir.Write("lumokonf.ini", "[History]\r\nDatabase=" + dir.Path() + "hall.sqlite\r\n");
  ASSERT_EQ(Cli(dir, "--echo off read --port SIM:TG5").exitCode, 0);
  std::unique_ptr<HistoryStore> store;
  ASSERT_TRUE(OpenSqliteHistory(dir.Path() + "hall.sqlite", &store).Ok());
  EXPECT_EQ(store->Count(), 1);
}

// A history that cannot take the record never changes the job's result; the record waits.
TEST(HistoryCliTest, FailingHistoryIsReportedAndTheJobStillSucceeds) {
  TempFolder dir;
  const std::string junk = dir.Write("junk.sqlite", std::string(8192, 'x'));
  RunResult read = Cli(dir, "--echo off --history junk.sqlite read --port SIM:TG5");
  EXPECT_EQ(read.exitCode, 0) << read.err;
  EXPECT_NE(read.err.find("not a unit history"), std::string::npos) << read.err;
  EXPECT_NE(read.err.find("1 record waits"), std::string::npos) << read.err;
  EXPECT_EQ(TempFolder::Read(junk), std::string(8192, 'x'));
  std::unique_ptr<HistoryStore> queue;
  ASSERT_TRUE(OpenSqliteHistory(dir.Path() + "junk-queue.sqlite", &queue).Ok());
  EXPECT_EQ(queue->Count(), 1);
}

// `lumokonf-cli simulate --units N` in the background: a new unit after each one released.
class Simulator {
 public:
  explicit Simulator(int units) {
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> args = {LUMO_CLI_PROGRAM, "--echo", "on",      "simulate",
                                     "--device",       "tg5",    "--units", std::to_string(units)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, LUMO_CLI_PROGRAM, &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fdopen(fds[0], "r");
    char line[512] = {};
    if (out_ != nullptr && std::fgets(line, sizeof line, out_) != nullptr) {
      path_ = line;
      while (!path_.empty() && (path_.back() == '\n' || path_.back() == '\r')) path_.pop_back();
    }
  }
  ~Simulator() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (out_ != nullptr) std::fclose(out_);
  }
  const std::string& Path() const { return path_; }

 private:
  pid_t pid_ = -1;
  FILE* out_ = nullptr;
  std::string path_;
};

// The server stops after the first unit and comes back after the third: every unit's record
// arrives, each once.
TEST(HistoryCliTest, ServerStoppedDuringALineRunGetsEveryUnitOnce) {
  PostgresServer server;
  std::string why;
  if (!server.Start(&why)) GTEST_SKIP() << "no PostgreSQL server: " << why;
  TempFolder dir;
  ASSERT_EQ(Cli(dir, "--echo off --history off read --port SIM:TG5 --out unit.par").exitCode, 0);
  constexpr int kUnits = 4;
  Simulator sim(kUnits);
  ASSERT_FALSE(sim.Path().empty());

  RunResult run;
  std::thread line([&] {
    // The server trusts its local users: the password is there only to be kept out of sight.
    std::string uri = server.Uri();
    uri.replace(uri.find("lumo@"), 5, "lumo:geheim@");
    run = Cli(dir, "--history '" + uri + "' write --port '" + sim.Path() +
                       "' --file unit.par --repeat --count " + std::to_string(kUnits) +
                       " --log units.jsonl");
  });
  auto logged = [&] { return CountLines(TempFolder::Read(dir.Path() + "units.jsonl")); };
  auto waitFor = [&](size_t units) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (logged() < units && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return logged() >= units;
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

// Two programs on the same port: the second is refused with the clear "port in use" reason and
// the first carries on undisturbed. Both are lumokonf-cli processes on the pty of a simulator.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/translations.h"
#include "link/port_errors.h"
#include "link/serial_port.h"
#include "platform/device_lock.h"
#include "tests/support/cli_run.h"

namespace lumo {
namespace {

using namespace std::chrono_literals;
using test::ReadFile;
using test::TempDir;

constexpr int kSamples = 12;  // signal samples of the first program: several seconds of traffic

// The first line the program wrote into the file; empty when none came within the limit.
std::string WaitForFirstLine(const std::string& file, std::chrono::milliseconds limit) {
  auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    std::string text = ReadFile(file);
    size_t eol = text.find('\n');
    if (eol != std::string::npos) return text.substr(0, eol);
    if (std::chrono::steady_clock::now() > end) return "";
    std::this_thread::sleep_for(20ms);
  }
}

TEST(PortInUse, SecondProgramIsRefusedAndTheFirstKeepsWorking) {
  TempDir dir;
  test::Simulator simulator(test::SimulatedTg5());
  const std::string port = simulator.path();
  ASSERT_FALSE(port.empty());

  test::Process first({LUMO_CLI_PROGRAM, "--lang", "en", "signal", "--port", port, "--count",
                       std::to_string(kSamples)},
                      dir / "first.out", dir / "first.err");
  ASSERT_TRUE(first.Started());
  // The first program holds the port once it printed its first sample.
  ASSERT_FALSE(WaitForFirstLine(dir / "first.out", 30s).empty()) << ReadFile(dir / "first.err");

  test::Process second({LUMO_CLI_PROGRAM, "--lang", "en", "read", "--port", port, "--timeout", "2"},
                       dir / "second.out", dir / "second.err");
  EXPECT_EQ(second.Wait(30s), 1);
  const std::string refused = ReadFile(dir / "second.err");
  EXPECT_NE(refused.find("Couldn't open COM-Port"), std::string::npos) << refused;
  // The holder is named from the lock file the first program wrote.
  const std::string holder = "in use by lumokonf-cli (process " + std::to_string(first.Pid()) + ")";
  EXPECT_NE(refused.find(holder), std::string::npos) << refused;

  // The first program carries on to its last sample and ends well.
  EXPECT_EQ(first.Wait(60s), 0) << ReadFile(dir / "first.err");
  const std::string samples = ReadFile(dir / "first.out");
  EXPECT_EQ(std::count(samples.begin(), samples.end(), '\n'), kSamples) << samples;
  EXPECT_EQ(ReadFile(dir / "first.err"), "");
}

// A pseudo-terminal pair; the slave is the "port".
struct Pty {
  Pty() {
    master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
  }
  ~Pty() {
    if (master >= 0) ::close(master);
  }
  int master = -1;
  std::string slave;
};

// A process of another program: named as given, optionally holding the device open with an
// exclusive flock, until killed. Only async-signal-safe calls after the fork.
class Foreign {
 public:
  Foreign(const char* name, const std::string& device) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_NAME, name, 0, 0, 0);
      if (!device.empty()) {
        int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) ::_exit(3);
      }
      for (;;) ::pause();
    }
  }
  ~Foreign() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// A process id that is certainly not in use: a child that has ended and been reaped.
pid_t DeadPid() {
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// Waits until the child has taken its name (it does so right after the fork).
void WaitForName(pid_t pid, const std::string& name) {
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (ProcessName(pid) != name && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(5ms);
}

class LockFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDeviceLockFolder(dir.path());
    language = CurrentLanguage();
    SelectLanguage(kLangEnglish);
  }
  void TearDown() override {
    SetDeviceLockFolder("");
    SelectLanguage(language);
  }
  LangId language = kLangNeutral;
  void WriteLock(const std::string& device, pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    test::WriteFile(dir / DeviceLockName(device), text);
  }
  TempDir dir;
};

TEST_F(LockFiles, NamesFollowTheDevicePath) {
  EXPECT_EQ(DeviceLockName("/dev/ttyUSB0"), "LCK..ttyUSB0");
  EXPECT_EQ(DeviceLockName("/dev/pts/5"), "LCK..pts_5");
  test::WriteFile(dir / "binary", std::string("\x39\x30\x00\x00", 4));  // 12345 as 4 bytes
  EXPECT_EQ(ReadLockPid(dir / "binary"), 12345);
  test::WriteFile(dir / "text", "      4242\n");
  EXPECT_EQ(ReadLockPid(dir / "text"), 4242);
  test::WriteFile(dir / "junk", "42 is the answer\n");
  EXPECT_EQ(ReadLockPid(dir / "junk"), 0);
  EXPECT_EQ(ReadLockPid(dir / "missing"), 0);
}

// Our open writes the lock file in the usual form, holds it while open and removes it on close.
TEST_F(LockFiles, OpenWritesAndCloseRemovesOurLock) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  const std::string lock = dir / DeviceLockName(pty.slave);
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slave), SerialResult::Ok) << SerialLastErrno();
  char expected[16];
  std::snprintf(expected, sizeof expected, "%10d\n", static_cast<int>(::getpid()));
  EXPECT_EQ(test::ReadFile(lock), expected);
  // A second open in this process is refused by the device's flock and leaves the first one's
  // lock file in place.
  SerialPort second;
  EXPECT_EQ(second.Open(pty.slave), SerialResult::System);
  EXPECT_EQ(SerialLastErrno(), EBUSY);
  EXPECT_EQ(test::ReadFile(lock), expected);
  EXPECT_EQ(port.Close(), SerialResult::Ok);
  EXPECT_NE(::access(lock.c_str(), F_OK), 0);
}

// A lock whose process is gone is removed and the port opens; a living holder keeps the port
// and is named.
TEST_F(LockFiles, StaleLockRemovedLiveLockRespected) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  WriteLock(pty.slave, DeadPid());
  SerialPort port;
  ASSERT_EQ(port.Open(pty.slave), SerialResult::Ok) << SerialLastErrno();
  EXPECT_EQ(ReadLockPid(dir / DeviceLockName(pty.slave)), ::getpid());
  EXPECT_EQ(port.Close(), SerialResult::Ok);

  Foreign minicom("minicom", "");
  WaitForName(minicom.Pid(), "minicom");
  WriteLock(pty.slave, minicom.Pid());
  const SerialResult result = port.Open(pty.slave);
  EXPECT_EQ(result, SerialResult::System);
  EXPECT_EQ(SerialLastErrno(), EBUSY);
  EXPECT_EQ(PortFailureText(result, SerialLastErrno(), pty.slave),
            "The port is in use by minicom (process " + std::to_string(minicom.Pid()) + ").");
  // The other program's lock file stays as it was.
  EXPECT_EQ(ReadLockPid(dir / DeviceLockName(pty.slave)), minicom.Pid());
}

// A program that writes no lock file but holds the device with flock is found among the
// processes that have the device open.
TEST_F(LockFiles, ForeignHolderWithoutLockFileIsNamed) {
  Pty pty;
  ASSERT_FALSE(pty.slave.empty());
  Foreign picocom("picocom", pty.slave);
  WaitForName(picocom.Pid(), "picocom");
  // The child holds the device once its flock is in place; our flock tells.
  const auto end = std::chrono::steady_clock::now() + 10s;
  SerialPort port;
  while (port.Open(pty.slave) == SerialResult::Ok) {
    port.Close();
    ASSERT_LT(std::chrono::steady_clock::now(), end) << "the child never took the device";
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(SerialLastErrno(), EBUSY);
  EXPECT_EQ(PortFailureText(SerialResult::System, EBUSY, pty.slave),
            "The port is in use by picocom (process " + std::to_string(picocom.Pid()) + ").");
  // Our refused open left no lock file behind.
  EXPECT_NE(::access((dir / DeviceLockName(pty.slave)).c_str(), F_OK), 0);
}

}  // namespace
}  // namespace lumo

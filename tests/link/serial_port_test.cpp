// The serial port layer over a real pseudo-terminal pair, over a scripted driver, and the port
// list over a sysfs tree of our own.
#include "link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <thread>

#include "base/settings.h"
#include "base/translations.h"
#include "link/port_errors.h"
#include "link/port_names.h"
#include "platform/port_lock.h"
#include "platform/port_provider.h"
#include "sim/sim_port.h"
#include "tests/support/temp_dir.h"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;

long MsSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Lock files go to a folder of the test's own, removed at exit.
const std::string& TestRuntimeDir() {
  static const test::TempDir folder;
  static const std::string dir = [] {
    std::string path = folder.path().empty() ? "/tmp/" : folder.path();
    path.pop_back();
    ::setenv("XDG_RUNTIME_DIR", path.c_str(), 1);
    return path;
  }();
  return dir;
}

// A failed open says what to do about it, in the program's language, with the same bytes in
// both languages as ever (the texts come from the translation tables).
TEST(SerialNames, OpenFailureTextsSayWhatToDo) {
  struct Row {
    SerialResult result;
    int error;
    const char* english;
    const char* german;
  };
  const Row rows[] = {
      {SerialResult::System, EBUSY, "The port is in use by another program.",
       "Der Port wird von einem anderen Programm benutzt."},
      {SerialResult::System, EWOULDBLOCK, "The port is in use by another program.",
       "Der Port wird von einem anderen Programm benutzt."},
      {SerialResult::System, EACCES,
       "No permission to open the port. Add the user to the group \"dialout\" (sudo usermod -aG "
       "dialout $USER), then log in again.",
       "Keine Berechtigung f\xFCr den Port. Den Benutzer in die Gruppe \"dialout\" aufnehmen "
       "(sudo usermod -aG dialout $USER) und neu anmelden."},
      {SerialResult::System, EPERM,
       "No permission to open the port. Add the user to the group \"dialout\" (sudo usermod -aG "
       "dialout $USER), then log in again.",
       "Keine Berechtigung f\xFCr den Port. Den Benutzer in die Gruppe \"dialout\" aufnehmen "
       "(sudo usermod -aG dialout $USER) und neu anmelden."},
      {SerialResult::System, ENOENT, "There is no such port (is the adapter plugged in?).",
       "Diesen Port gibt es nicht (Adapter eingesteckt?)."},
      {SerialResult::BadArgument, 0, "There is no such port (is the adapter plugged in?).",
       "Diesen Port gibt es nicht (Adapter eingesteckt?)."},
      {SerialResult::AlreadyOpen, 0, "The port is already open in this program.",
       "Der Port ist in diesem Programm schon ge\xF6"
       "ffnet."},
  };
  const LangId saved = CurrentLanguage();
  for (const Row& row : rows) {
    SelectLanguage(kLangEnglish);
    EXPECT_EQ(PortFailureText(row.result, row.error), row.english) << row.error;
    SelectLanguage(kLangGerman);
    EXPECT_EQ(PortFailureText(row.result, row.error), row.german) << row.error;
  }
  // Without a text of its own: the system's words.
  EXPECT_EQ(PortFailureText(SerialResult::System, EIO), std::strerror(EIO));
  SelectLanguage(saved);
}

// What a technician types becomes the port's path once; a text that names no port becomes "",
// never a guess.
TEST(PortNames, WhatIsTypedBecomesThePortsPath) {
  const std::pair<std::string, std::string> rows[] = {
      {"COM1:", "/dev/ttyS0"},
      {" com12", "/dev/ttyS11"},
      {"\\\\.\\COM3", "/dev/ttyS2"},
      {".\\com4 and more", "/dev/ttyS3"},
      {"COM4096", "/dev/ttyS4095"},
      {"\t/dev/serial/by-path/pci-0:1.0-port0 \r\n", "/dev/serial/by-path/pci-0:1.0-port0"},
      {"/dev/MyPort", "/dev/MyPort"},
      {" sim:tg5", "SIM:TG5"},
      {"Sim:Jovix", "SIM:JOVIX"},
      {"sim:other", "SIM:OTHER"},
      {"COM2:" + std::string(300, 'x'), "/dev/ttyS1"},
      {"/dev/" + std::string(kSerialNameMax - 5, 'p'),
       "/dev/" + std::string(kSerialNameMax - 5, 'p')},
      // None of these is a port.
      {"COM0", ""},
      {"COM01", ""},
      {"COM4097", ""},
      {"COM99999", ""},
      {"COMX", ""},
      {"\\\\.\\LPT1", ""},
      {"ttyUSB0", ""},
      {"", ""},
      {" \t ", ""},
      // Too long: refused rather than cut.
      {"COM" + std::string(300, '1'), ""},
      {"/dev/" + std::string(kSerialNameMax - 4, 'p'), ""},
  };
  for (const auto& [text, path] : rows) {
    EXPECT_EQ(PortPathOf(text), path) << text;
    // A path is its own path: mapping twice changes nothing.
    if (!path.empty()) {
      EXPECT_EQ(PortPathOf(path), path);
    }
  }
}

// Inside, a port is its path: Open takes nothing else, so a name that skipped the mapping fails
// loudly instead of opening something else.
TEST(PortNames, OpenTakesOnlyPaths) {
  TestRuntimeDir();
  SerialPort port;
  for (const char* typed : {"COM1", "sim:tg5", " SIM:TG5", "\\\\.\\COM1", ""}) {
    EXPECT_EQ(port.Open(typed), SerialResult::BadArgument) << typed;
    EXPECT_FALSE(port.Opened());
  }
  const std::string tooLong = "/dev/" + std::string(kSerialNameMax, 'p');
  EXPECT_EQ(port.Open(tooLong), SerialResult::BadArgument);
}

// COM1 and /dev/ttyS0 are one port: one lock (in this program and between programs), whatever
// the user called it.
TEST(PortNames, OneLockPerPath) {
  EXPECT_EQ(PortLockName(PortPathOf("com3:")), "SerialMutex__dev_ttyS2");
  EXPECT_EQ(PortLockName(PortPathOf("\\\\.\\COM3")), PortLockName("/dev/ttyS2"));
  EXPECT_EQ(PortLockName("/dev/pts/3"), "SerialMutex__dev_pts_3");
  EXPECT_EQ(PortLockName(std::string(300, 'A')).size(), std::strlen("SerialMutex_") + 248);
  TestRuntimeDir();
  EXPECT_EQ(PortLockPath(PortPathOf("COM3")),
            TestRuntimeDir() + "/lumokonf/SerialMutex__dev_ttyS2");
}

TEST(PortNames, PortExistsAndTheList) {
  EXPECT_TRUE(PortExists("SIM:TG5"));
  EXPECT_TRUE(PortExists(PortPathOf(" sim:jovix ")));
  EXPECT_FALSE(PortExists("/nonexistent/ttyX"));
  EXPECT_FALSE(PortExists("/tmp"));
  EXPECT_FALSE(PortExists(""));
  EXPECT_FALSE(PortExists("COM1"));  // a name, not a path
  // The kernel makes ttyS files without a UART behind them; such a port does not exist.
  for (int n = 0; n < 64; ++n) {
    const std::string path = "/dev/ttyS" + std::to_string(n);
    if (PortExists(path)) {
      EXPECT_TRUE(SerialHardwareExists(path)) << path;
    }
  }
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  ASSERT_GE(ports.size(), 2u);
  EXPECT_EQ(ports[ports.size() - 2].path, "SIM:TG5");
  EXPECT_EQ(ports.back().path, "SIM:JOVIX");
  for (const SerialPortInfo& port : ports) {
    EXPECT_TRUE(PortExists(port.path)) << port.path;
    EXPECT_EQ(PortPathOf(port.path), port.path) << "listed ports are paths";
  }
}

// A driver whose lines, counters and failures the test sets; it records what it is asked.
class ScriptedDriver : public SerialDriver {
 public:
  struct Script {
    std::vector<bool> dtrCalls, rtsCalls, breakCalls;
    LineErrorCounts counts;
    int countsErr = 0;
    int queueErr = 0;
    int dtrErr = 0;
    int setLineErr = 0;
  };
  explicit ScriptedDriver(Script* script) : s_(script) {}
  int GetLine(DriverLine& line) override {
    line = line_;
    return 0;
  }
  int SetLine(const DriverLine& line) override {
    if (s_->setLineErr) return s_->setLineErr;
    line_ = line;
    return 0;
  }
  int GetModes(LineMode&, LineMode&) override { return ENOTTY; }
  int SetDtr(bool on) override {
    s_->dtrCalls.push_back(on);
    return s_->dtrErr;
  }
  int SetRts(bool on) override {
    s_->rtsCalls.push_back(on);
    return 0;
  }
  int SetBreak(bool on) override {
    s_->breakCalls.push_back(on);
    return 0;
  }
  int GetErrorCounts(LineErrorCounts& counts) override {
    counts = s_->counts;
    return s_->countsErr;
  }
  int InQueue(int& count) override {
    count = 0;
    return s_->queueErr;
  }
  int Purge() override { return 0; }
  int WaitReadable(int, bool& ready, bool& woken) override {
    ready = false;
    woken = true;
    return 0;
  }
  int ReadSome(uint8_t*, size_t, size_t& got) override {
    got = 0;
    return 0;
  }
  int Write(const uint8_t*, size_t n, size_t& written, int) override {
    written = n;
    return 0;
  }
  int Drain(int) override { return 0; }
  void Wake() override {}

 private:
  Script* s_;
  DriverLine line_;
};

class SerialScripted : public ::testing::Test {
 protected:
  void SetUp() override {
    TestRuntimeDir();
    ASSERT_EQ(port.OpenDriver("FAKE1", std::make_unique<ScriptedDriver>(&script)),
              SerialResult::Ok);
  }
  ScriptedDriver::Script script;
  SerialPort port;
};

// A call that failed with the system error err.
::testing::AssertionResult SystemError(SerialResult result, int err) {
  if (result == SerialResult::System && SerialLastErrno() == err)
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "result " << static_cast<int>(result) << ", errno "
                                       << SerialLastErrno() << ", expected errno " << err;
}

// The layer opens every port through the provider registry and knows none by name.
class SerialProviders : public ::testing::Test {
 protected:
  void SetUp() override { TestRuntimeDir(); }
  void TearDown() override {
    UnregisterPortProvider("TEST:");
    // The providers the test program starts with.
    RegisterSerialDevicePorts();
    RegisterSimulatedPorts([] { return CurrentSettings().echo != 0; });
  }
  // A provider that opens scripted drivers for the names in present, failing with openErr.
  PortProvider Provider(const char* prefix, bool inProcess) {
    PortProvider provider;
    provider.prefix = prefix;
    provider.inProcess = inProcess;
    provider.open = [this](const std::string& name, int& err) -> std::unique_ptr<SerialDriver> {
      opened.push_back(name);
      err = openErr;
      if (err != 0) return nullptr;
      return std::make_unique<ScriptedDriver>(&script);
    };
    provider.list = [this] {
      std::vector<SerialPortInfo> ports;
      for (const std::string& name : present) {
        SerialPortInfo info;
        info.path = name;
        info.description = "test port " + name;
        ports.push_back(info);
      }
      return ports;
    };
    provider.exists = [this](const std::string& name) {
      return std::find(present.begin(), present.end(), name) != present.end();
    };
    return provider;
  }
  ScriptedDriver::Script script;
  std::vector<std::string> present;
  std::vector<std::string> opened;  // what the providers were asked to open, in order
  int openErr = 0;
};

TEST_F(SerialProviders, PrefixedProviderOpensListsAndLocksItsOwnNames) {
  present = {"TEST:A"};
  RegisterPortProvider(Provider("test:", true));
  EXPECT_EQ(PortPathOf(" test:a"), "TEST:A");
  EXPECT_TRUE(PortExists("TEST:A"));
  EXPECT_FALSE(PortExists("TEST:B"));
  EXPECT_TRUE(IsInProcessPort("test:a"));
  EXPECT_FALSE(IsInProcessPort("/dev/ttyS0"));

  SerialPort port;
  ASSERT_EQ(port.Open(PortPathOf("test:a")), SerialResult::Ok);
  EXPECT_EQ(port.Name(), "TEST:A");
  SerialPort other;
  EXPECT_EQ(other.Open("TEST:B"), SerialResult::BadArgument);
  EXPECT_EQ(opened, std::vector<std::string>{"TEST:A"});
  EXPECT_EQ(port.Close(), SerialResult::Ok);

  // Listed after the machine's ports, with the provider's description.
  const std::vector<SerialPortInfo> ports = ListSerialPorts();
  auto it =
      std::find_if(ports.begin(), ports.end(), [](const auto& p) { return p.path == "TEST:A"; });
  ASSERT_NE(it, ports.end());
  EXPECT_EQ(it->description, "test port TEST:A");
  EXPECT_TRUE(std::none_of(it, ports.end(), [](const auto& p) { return p.path[0] == '/'; }));

  // Registering the prefix again replaces the provider; its open failure is the layer's error.
  openErr = EBUSY;
  RegisterPortProvider(Provider("TEST:", false));
  EXPECT_FALSE(IsInProcessPort("TEST:A"));
  EXPECT_TRUE(SystemError(port.Open("TEST:A"), EBUSY));
}

TEST_F(SerialProviders, OtherNamesReachTheDeviceProviderAsPaths) {
  present = {"/dev/fake0"};
  RegisterPortProvider(Provider("", false));
  SerialPort port;
  ASSERT_EQ(port.Open(PortPathOf(" /dev/fake0 ")), SerialResult::Ok);
  EXPECT_EQ(port.Close(), SerialResult::Ok);
  // No provider has the prefix "TEST:": the name is the device provider's, and no path.
  EXPECT_EQ(port.Open("test:a"), SerialResult::BadArgument);
  EXPECT_FALSE(PortExists("/dev/fake1"));
  EXPECT_EQ(opened, std::vector<std::string>{"/dev/fake0"});

  // Without a device provider no device path exists.
  UnregisterPortProvider("");
  EXPECT_FALSE(PortExists("/dev/fake0"));
  EXPECT_EQ(port.Open("/dev/fake0"), SerialResult::BadArgument);
}

// The simulated devices are a provider the program registers, with the echo default it passes.
TEST_F(SerialProviders, SimulatedPortsExistOnlyWhenRegistered) {
  sim::ForgetSimulatedDevices();
  UnregisterPortProvider(kSimulatedPortPrefix);
  EXPECT_FALSE(PortExists("SIM:TG5"));
  EXPECT_FALSE(IsInProcessPort("SIM:TG5"));
  SerialPort port;
  EXPECT_EQ(port.Open("SIM:TG5"), SerialResult::BadArgument);

  for (bool echo : {true, false}) {
    RegisterSimulatedPorts([echo] { return echo; });
    EXPECT_TRUE(IsInProcessPort("sim:tg5"));
    ASSERT_EQ(port.Open("SIM:TG5"), SerialResult::Ok) << echo;
    ASSERT_NE(sim::SimulatedDevice("SIM:TG5"), nullptr);
    EXPECT_EQ(sim::SimulatedDevice("SIM:TG5")->Options().echo, echo);
    EXPECT_EQ(port.Close(), SerialResult::Ok);
    sim::ForgetSimulatedDevices();
  }
}

// A port over a driver of the caller's is called as the caller says; the name is its lock.
TEST_F(SerialScripted, OpenDriverTakesItsNameAsGiven) {
  EXPECT_EQ(port.Name(), "FAKE1");
  ScriptedDriver::Script other;
  SerialPort second;
  EXPECT_EQ(second.OpenDriver("", std::make_unique<ScriptedDriver>(&other)),
            SerialResult::BadArgument);
  EXPECT_EQ(second.OpenDriver(std::string(kSerialNameMax + 1, 'n'),
                              std::make_unique<ScriptedDriver>(&other)),
            SerialResult::BadArgument);
  EXPECT_EQ(second.OpenDriver("FAKE2", nullptr), SerialResult::BadArgument);
  EXPECT_FALSE(second.Opened());
  ASSERT_EQ(
      second.OpenDriver(std::string(kSerialNameMax, 'n'), std::make_unique<ScriptedDriver>(&other)),
      SerialResult::Ok);
  EXPECT_EQ(second.Name(), std::string(kSerialNameMax, 'n'));
}

TEST_F(SerialScripted, SetOutputsSwitchesOnlyWhatChanges) {
  const SerialResult ok = SerialResult::Ok;
  EXPECT_EQ(port.Outputs(), 0);                              // modes unknown: nothing claimed
  EXPECT_EQ(script.breakCalls, std::vector<bool>({false}));  // open ends any break
  ASSERT_EQ(port.Write("ab", 2), ok);
  ASSERT_EQ(port.Write("cd", 2), ok);
  EXPECT_EQ(script.breakCalls, std::vector<bool>({false, false}));  // once: then it is off
  EXPECT_EQ(port.Outputs() & kOutBreakMask, kOutBreakOff);
  ASSERT_EQ(port.SetOutputs(kOutDtrOn), ok);
  ASSERT_EQ(port.SetOutputs(kOutDtrOn), ok);
  EXPECT_EQ(script.dtrCalls, std::vector<bool>({true}));
  EXPECT_EQ(port.Outputs() & kOutDtrMask, kOutDtrOn);
  ASSERT_EQ(port.SetOutputs(kOutDtrOff), ok);
  EXPECT_EQ(script.dtrCalls, std::vector<bool>({true, false}));
  EXPECT_TRUE(script.rtsCalls.empty());

  script.breakCalls.clear();
  ASSERT_EQ(port.SetOutputs(kOutBreakOff), ok);
  ASSERT_EQ(port.SetOutputs(kOutBreakOff), ok);
  EXPECT_EQ(script.breakCalls, std::vector<bool>({false}));
  ASSERT_EQ(port.SetOutputs(kOutBreakOn), ok);
  ASSERT_EQ(port.SetOutputs(kOutBreakOff), ok);
  EXPECT_EQ(script.breakCalls, std::vector<bool>({false, true, false}));
  EXPECT_EQ(port.Outputs(), kOutDtrOff | kOutBreakOff);

  EXPECT_TRUE(SystemError(port.SetOutputs(kOutRtsHandshake), EINVAL));
  script.dtrErr = EIO;
  EXPECT_TRUE(SystemError(port.SetOutputs(kOutDtrOn), EIO));
  EXPECT_EQ(port.Outputs() & kOutDtrMask, kOutDtrOff);
  script.dtrErr = ENOTTY;  // no modem lines: no failure
  EXPECT_EQ(port.SetOutputs(kOutDtrOn), ok);
  EXPECT_EQ(port.Outputs() & kOutDtrMask, kOutDtrOn);
  // Asked directly, the device says that it has no DTR.
  EXPECT_EQ(port.DriverSetDtr(false), ENOTTY);
}

TEST_F(SerialScripted, LineErrorsAccumulateUntilCleared) {
  EXPECT_EQ(port.Errors(false), 0);
  script.counts.frame = 1;
  EXPECT_EQ(port.Errors(false), kLineErrFrame);
  script.counts.parity = 3;
  EXPECT_EQ(port.Errors(true), kLineErrFrame | kLineErrParity);
  EXPECT_EQ(port.Errors(false), 0);
  script.counts.overrun = 1;
  script.counts.bufOverrun = 1;
  EXPECT_EQ(port.InQueue(), 0);  // the queue query accumulates too
  script.counts.brk = 1;
  EXPECT_EQ(port.Errors(true), kLineErrOverrun | kLineErrRxOverflow | kLineErrBreak);
  script.counts.frame = 0xFFFFFFFF;
  port.Errors(true);
  script.counts.frame = 0;  // wrapped around: still a new event
  EXPECT_EQ(port.Errors(true), kLineErrFrame);
}

TEST_F(SerialScripted, StatusUnreadableAndCountersMissing) {
  script.countsErr = ENOTTY;
  script.counts.frame = 5;
  EXPECT_EQ(port.Errors(false), 0);
  EXPECT_TRUE(port.IsOpen());
  script.queueErr = EIO;
  EXPECT_EQ(port.Errors(false), kLineErrStatusUnreadable);
  EXPECT_EQ(SerialLastResult(), SerialResult::System);
  EXPECT_EQ(SerialLastErrno(), EIO);
  EXPECT_EQ(port.InQueue(), -1);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_TRUE(port.Opened());
  EXPECT_EQ(port.Close(), SerialResult::Ok);
  EXPECT_FALSE(port.Opened());
}

// A pseudo-terminal: the test plays the device on the master side.
class SerialPty : public ::testing::Test {
 protected:
  void SetUp() override {
    TestRuntimeDir();
    master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    termios tio{};
    ASSERT_EQ(::tcgetattr(master, &tio), 0);
    ::cfmakeraw(&tio);
    ASSERT_EQ(::tcsetattr(master, TCSANOW, &tio), 0);
    slave = ::ptsname(master);
  }
  void TearDown() override {
    if (port.Opened()) port.Close();
    if (master >= 0) ::close(master);
  }

  static SerialSettings Line(uint32_t baudRate, SerialTimeouts timeouts = {}, bool echo = false) {
    SerialSettings s;
    s.baudRate = baudRate;
    s.dataBits = 8;
    s.echo = echo;
    s.timeouts = timeouts;
    return s;
  }

  // Opens the port at 9600 8N1 with the given read timeouts.
  void Open(SerialTimeouts timeouts = {}) {
    ASSERT_EQ(port.Open(slave), SerialResult::Ok) << SerialLastErrno();
    ASSERT_EQ(port.Apply(Line(9600, timeouts)), SerialResult::Ok) << SerialLastErrno();
  }

  // Applies other timeouts, the line as it is.
  void SetTimeouts(SerialTimeouts timeouts) {
    SerialSettings s = port.Settings();
    s.timeouts = timeouts;
    ASSERT_EQ(port.Apply(s), SerialResult::Ok);
  }

  void MasterWrite(const std::string& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // What the port sent, up to n bytes, waiting at most limitMs for them.
  std::string MasterRead(size_t n, int limitMs) {
    std::string got;
    auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
    while (got.size() < n) {
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
      if (left <= 0) break;
      pollfd pfd{master, POLLIN, 0};
      if (::poll(&pfd, 1, left) <= 0) break;
      char buffer[512];
      ssize_t r = ::read(master, buffer, std::min(n - got.size(), sizeof buffer));
      if (r <= 0) break;
      got.append(buffer, static_cast<size_t>(r));
    }
    return got;
  }

  // Waits until the port sees n bytes waiting.
  bool WaitInQueue(int n) {
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      if (port.InQueue() == n) return true;
      pollfd none{-1, 0, 0};
      ::poll(&none, 0, 1);
    }
    return false;
  }

  int master = -1;
  std::string slave;
  SerialPort port;
};

TEST_F(SerialPty, OpenTwiceFailsAndKeepsTheFirst) {
  Open();
  EXPECT_EQ(port.Open("/dev/null"), SerialResult::AlreadyOpen);
  EXPECT_EQ(port.Name(), slave);
  ASSERT_EQ(port.Write("x", 1), SerialResult::Ok);
  EXPECT_EQ(MasterRead(1, 2000), "x");
}

TEST_F(SerialPty, SecondOpenOfThePortIsRefused) {
  Open();
  SerialPort other;
  EXPECT_TRUE(SystemError(other.Open(slave), EBUSY));
  EXPECT_FALSE(other.Opened());
  int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) {  // root passes TIOCEXCL; the flock still refuses
    EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), -1);
    ::close(fd);
  }
  ASSERT_EQ(port.Close(), SerialResult::Ok);
  ASSERT_EQ(other.Open(slave), SerialResult::Ok) << SerialLastErrno();
  EXPECT_EQ(other.Close(), SerialResult::Ok);
}

TEST_F(SerialPty, UnknownPortsAndNonTerminals) {
  EXPECT_EQ(port.Open("/nonexistent/ttyX"), SerialResult::BadArgument);
  EXPECT_EQ(port.Open("COM0"), SerialResult::BadArgument);
  // A device, but no terminal: never opened.
  EXPECT_EQ(port.Open("/dev/null"), SerialResult::BadArgument);
  EXPECT_FALSE(port.Opened());
  EXPECT_TRUE(PortExists(slave));
}

TEST_F(SerialPty, CloseResetsThePort) {
  Open({10, 20, 30, 40, 50});
  port.SetEcho(true);
  ASSERT_EQ(port.SetOutputs(kOutDtrOn), SerialResult::Ok);
  EXPECT_EQ(port.Outputs() & kOutDtrMask, kOutDtrOn);
  ASSERT_EQ(port.Close(), SerialResult::Ok);
  EXPECT_EQ(SerialLastResult(), SerialResult::Ok);
  EXPECT_FALSE(port.Opened());
  EXPECT_EQ(port.Name(), "");
  EXPECT_EQ(port.Settings(), SerialSettings{});
  EXPECT_EQ(port.Outputs(), 0);
  EXPECT_EQ(port.Purge(), SerialResult::NotOpen);
  // The same port opens again, with nothing carried over.
  ASSERT_EQ(port.Open(slave), SerialResult::Ok);
  EXPECT_EQ(port.Settings().timeouts, SerialTimeouts{});
  EXPECT_FALSE(port.Settings().echo);
}

TEST_F(SerialPty, LineSettingsAreAppliedAndReadBack) {
  Open();
  EXPECT_EQ(port.Settings().baudRate, 9600u);
  SerialSettings s = port.Settings();
  s.baudRate = 19200;
  ASSERT_EQ(port.Apply(s), SerialResult::Ok);
  EXPECT_EQ(port.Settings(), s);
  termios seen{};
  ASSERT_EQ(::tcgetattr(master, &seen), 0);
  EXPECT_EQ(::cfgetospeed(&seen), static_cast<speed_t>(B19200));
  s.baudRate = 250000;  // not in the classic table
  s.stopBits = 1;       // one and a half: two in its place
  ASSERT_EQ(port.Apply(s), SerialResult::Ok) << SerialLastErrno();
  EXPECT_EQ(port.Settings().baudRate, 250000u);
  EXPECT_EQ(port.Settings().stopBits, 2);
  s = port.Settings();
  s.dataBits = 4;
  EXPECT_TRUE(SystemError(port.Apply(s), EINVAL));
  EXPECT_EQ(port.Settings().dataBits, 8);
  s.dataBits = 8;
  s.baudRate = 0;  // would hang the line up
  EXPECT_NE(port.Apply(s), SerialResult::Ok);
  EXPECT_EQ(port.Settings().baudRate, 250000u);
}

TEST_F(SerialPty, WriteLengths) {
  Open();
  ASSERT_EQ(port.Write("abc", 0), SerialResult::Ok);
  EXPECT_EQ(port.Write(nullptr, 3), SerialResult::BadArgument);
  std::vector<char> huge(70000, 'z');
  EXPECT_EQ(port.Write(huge.data(), huge.size()), SerialResult::BadArgument);
  EXPECT_EQ(MasterRead(1, 200), "");
  std::string block(300, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i);
  ASSERT_EQ(port.Write(block.data(), block.size()), SerialResult::Ok);
  EXPECT_EQ(MasterRead(300, 2000), block);
}

TEST_F(SerialPty, WriteTotalLimitEndsAStuckWrite) {
  Open({0, 0, 0, 0, 200});  // the device never reads: the line fills up
  std::vector<char> block(kSerialMaxTransfer, 'w');
  auto start = Clock::now();
  EXPECT_EQ(port.Write(block.data(), block.size()), SerialResult::WriteShort);
  EXPECT_GE(MsSince(start), 190);
  EXPECT_LT(MsSince(start), 3000);
}

// The master returns what the port sends, changed by edit, until told to stop.
class EchoDevice {
 public:
  EchoDevice(int master, std::function<void(std::string&)> edit)
      : thread_([this, master, edit] {
          std::string seen;
          while (!stop_) {
            pollfd pfd{master, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            char buffer[512];
            ssize_t r = ::read(master, buffer, sizeof buffer);
            if (r <= 0) break;
            std::string chunk(buffer, static_cast<size_t>(r));
            size_t before = seen.size();
            seen += chunk;
            edit(seen);
            if (seen.size() > before)
              (void)!::write(master, seen.data() + before, seen.size() - before);
          }
        }) {}
  ~EchoDevice() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(SerialPty, EchoCheck) {
  Open({0, 0, 300, 0, 0});
  port.SetEcho(true);
  std::string block(250, 'a');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>('a' + i % 26);
  {
    EchoDevice same(master, [](std::string&) {});
    EXPECT_EQ(port.Write(block.data(), 250), SerialResult::Ok) << SerialLastErrno();
  }
  {
    EchoDevice differs(master, [](std::string& s) {
      if (s.size() > 170) s[170] = '#';
    });
    EXPECT_EQ(port.Write(block.data(), 250), SerialResult::EchoMismatch);
  }
  ASSERT_EQ(port.Purge(), SerialResult::Ok);
  {
    EchoDevice shortByOne(master, [](std::string& s) {
      if (s.size() >= 250) s.resize(249);
    });
    EXPECT_EQ(port.Write(block.data(), 250), SerialResult::EchoMismatch);
  }
}

TEST_F(SerialPty, EchoWithInputWaitingSendsNothing) {
  Open({0, 0, 300, 0, 0});
  port.SetEcho(true);
  MasterWrite("Z");
  ASSERT_TRUE(WaitInQueue(1));
  EXPECT_EQ(port.Write("abc", 3), SerialResult::EchoInputWaiting);
  EXPECT_EQ(MasterRead(1, 200), "");
  EXPECT_EQ(port.InQueue(), 1);
}

// Runs one read of count bytes; reports the result, its errno, the count received and the time.
struct ReadOutcome {
  SerialResult result;
  int sysErrno;
  uint32_t received;
  long ms;
};
ReadOutcome TimedRead(SerialPort& port, uint32_t count, std::string* data = nullptr) {
  std::vector<uint8_t> buffer(count + 1);
  uint32_t received = 99;
  auto start = Clock::now();
  const SerialResult result = port.Read(buffer.data(), count, received);
  ReadOutcome outcome{result, SerialLastErrno(), received, MsSince(start)};
  if (data) data->assign(reinterpret_cast<char*>(buffer.data()), received);
  return outcome;
}

TEST_F(SerialPty, ReadTotalLimits) {
  Open({0, 0, 200, 0, 0});
  auto r = TimedRead(port, 5);
  EXPECT_EQ(r.result, SerialResult::ReadShort);
  EXPECT_EQ(r.received, 0u);
  EXPECT_GE(r.ms, 190);
  EXPECT_LT(r.ms, 2000);

  SetTimeouts({0, 40, 0, 0, 0});  // 40 ms x 5 bytes
  r = TimedRead(port, 5);
  EXPECT_EQ(r.result, SerialResult::ReadShort);
  EXPECT_GE(r.ms, 190);
  EXPECT_LT(r.ms, 2000);

  // The interval limit does not start before the first byte.
  SetTimeouts({50, 0, 400, 0, 0});
  r = TimedRead(port, 5);
  EXPECT_GE(r.ms, 390);
  EXPECT_LT(r.ms, 2500);
  EXPECT_EQ(TimedRead(port, 0).result, SerialResult::Ok);
}

TEST_F(SerialPty, ReadIntervalEndsABlockAfterTheLastByte) {
  Open({100, 0, 0, 0, 0});
  MasterWrite("abc");
  ASSERT_TRUE(WaitInQueue(3));
  std::string data;
  auto r = TimedRead(port, 10, &data);
  EXPECT_EQ(r.result, SerialResult::ReadShort);
  EXPECT_EQ(data, "abc");
  EXPECT_GE(r.ms, 90);
  EXPECT_LT(r.ms, 2000);

  std::string block(300, 'q');
  MasterWrite(block);
  r = TimedRead(port, 300, &data);
  EXPECT_EQ(r.result, SerialResult::Ok);
  EXPECT_EQ(data, block);

  SetTimeouts({kSerialTimeoutMax, 0, 0, 0, 0});  // take what waits
  MasterWrite("xy");
  ASSERT_TRUE(WaitInQueue(2));
  r = TimedRead(port, 5, &data);
  EXPECT_EQ(data, "xy");
  EXPECT_LT(r.ms, 1000);
}

TEST_F(SerialPty, OneDeadlinePerReadNotPerByte) {
  Open({0, 0, 300, 0, 0});
  std::atomic<bool> stop{false};
  std::thread trickle([&] {
    for (int i = 0; i < 40 && !stop; ++i) {
      (void)!::write(master, "t", 1);
      pollfd none{-1, 0, 0};
      ::poll(&none, 0, 50);  // pacing the device, not synchronising
    }
  });
  auto r = TimedRead(port, 100);
  stop = true;
  trickle.join();
  EXPECT_EQ(r.result, SerialResult::ReadShort);
  EXPECT_GT(r.received, 0u);
  EXPECT_GE(r.ms, 290);
  EXPECT_LT(r.ms, 1500);
}

TEST_F(SerialPty, GetCharRestoresTheTimeouts) {
  const SerialTimeouts configured{0, 0, 200, 7, 8};
  Open(configured);
  uint8_t byte = 0;
  auto start = Clock::now();
  EXPECT_EQ(port.GetChar(byte, 150), SerialResult::ReadShort);
  EXPECT_GE(MsSince(start), 140);
  ASSERT_EQ(port.Refresh(), SerialResult::Ok);
  EXPECT_EQ(port.Settings().timeouts, configured);
  auto r = TimedRead(port, 1);  // still bound by the configured 200 ms
  EXPECT_GE(r.ms, 190);
  EXPECT_LT(r.ms, 2000);

  MasterWrite("AB");
  ASSERT_TRUE(WaitInQueue(2));
  ASSERT_EQ(port.GetChar(byte, 1000), SerialResult::Ok);
  EXPECT_EQ(byte, 'A');
  ASSERT_EQ(port.GetChar(byte, 1000), SerialResult::Ok);
  EXPECT_EQ(byte, 'B');
  EXPECT_EQ(port.InQueue(), 0);

  start = Clock::now();
  EXPECT_EQ(port.GetChar(byte, 0), SerialResult::ReadShort);  // no limit means no wait
  EXPECT_LT(MsSince(start), 1000);
}

TEST_F(SerialPty, PurgeDiscardsWhatWaits) {
  Open({0, 0, 100, 0, 0});
  MasterWrite("0123456789");
  ASSERT_TRUE(WaitInQueue(10));
  ASSERT_EQ(port.Purge(), SerialResult::Ok);
  EXPECT_EQ(port.InQueue(), 0);
  uint8_t byte = 0;
  EXPECT_EQ(port.GetChar(byte, 50), SerialResult::ReadShort);
  EXPECT_EQ(port.Errors(false), 0);  // a pty has no counters: never a failure
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(SerialPty, UnpluggedMakesTheStatusUnreadable) {
  Open({0, 0, 100, 0, 0});
  ::close(master);
  master = -1;
  EXPECT_EQ(port.InQueue(), -1);
  EXPECT_EQ(port.Errors(false), kLineErrStatusUnreadable);
  EXPECT_FALSE(port.IsOpen());
  auto r = TimedRead(port, 4);
  EXPECT_EQ(r.result, SerialResult::System);
  EXPECT_EQ(r.sysErrno, EIO);
  uint8_t b = 0;
  EXPECT_TRUE(SystemError(port.GetChar(b, 50), EIO));
  EXPECT_EQ(port.Close(), SerialResult::Ok);
}

TEST_F(SerialPty, WakeEndsABlockedRead) {
  Open();  // all timeouts 0: a read waits for ever
  std::atomic<bool> started{false};
  auto reader = std::async(std::launch::async, [&] {
    started = true;
    return TimedRead(port, 10);
  });
  while (!started) std::this_thread::yield();
  port.Wake();
  if (reader.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    MasterWrite(std::string(10, 'u'));  // free the reader before failing
    FAIL() << "the read was not woken";
  }
  EXPECT_EQ(reader.get().result, SerialResult::ReadShort);
}

// The link waits for a device's answer here: it must return the moment a byte arrives (and
// leave it to be read), fail at its limit, and end early on a wake or a vanished adapter.
TEST_F(SerialPty, WaitInputEndsOnAByteTheLimitAWakeOrAnUnplug) {
  Open();
  auto waiter = std::async(std::launch::async, [&] { return port.WaitInput(60000); });
  MasterWrite("x");
  ASSERT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(waiter.get(), SerialResult::Ok);
  EXPECT_EQ(port.InQueue(), 1);  // waiting for the reader, not taken
  EXPECT_EQ(port.WaitInput(0), SerialResult::Ok);

  ASSERT_EQ(port.Purge(), SerialResult::Ok);
  auto start = Clock::now();
  EXPECT_EQ(port.WaitInput(100), SerialResult::ReadShort);
  EXPECT_GE(MsSince(start), 95);

  std::atomic<bool> started{false};
  auto woken = std::async(std::launch::async, [&] {
    started = true;
    return port.WaitInput(60000);
  });
  while (!started) std::this_thread::yield();
  port.Wake();
  if (woken.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    MasterWrite("u");  // free the waiter before failing
    FAIL() << "the wait was not woken";
  }
  EXPECT_EQ(woken.get(), SerialResult::ReadShort);

  ::close(master);
  master = -1;
  EXPECT_TRUE(SystemError(port.WaitInput(60000), EIO));
}

TEST_F(SerialPty, OperationsWaitForThePortLock) {
  Open();
  std::promise<void> release;
  std::promise<void> held;
  std::thread holder([&, name = port.Name()] {
    PortLock lock(name);
    held.set_value();
    release.get_future().wait();
  });
  held.get_future().wait();
  auto query = std::async(std::launch::async, [&] { return port.InQueue(); });
  EXPECT_EQ(query.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
  release.set_value();
  holder.join();
  EXPECT_EQ(query.get(), 0);
}

TEST(SerialLock, SystemWideAndReentrant) {
  TestRuntimeDir();
  const std::string name = "\\\\.\\COM77";
  auto otherProcessCanLock = [&] {
    int fd = ::open(PortLockPath(name).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return locked;
  };
  {
    PortLock outer(name);
    EXPECT_TRUE(outer.SystemWide());
    EXPECT_FALSE(otherProcessCanLock());
    { PortLock inner(name); }
    EXPECT_FALSE(otherProcessCanLock());  // the inner release keeps the outer hold
  }
  EXPECT_TRUE(otherProcessCanLock());
  // Every process has its own simulated devices: their locks never reach another process.
  PortLock simulated("SIM:TG5");
  EXPECT_FALSE(simulated.SystemWide());
}

// A sysfs tree of our own: tty class entries with device links, USB attributes, UART types.
class SerialPortList : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder.path().empty());
    root = folder.path().substr(0, folder.path().size() - 1);
  }
  void Dir(const std::string& rel) { ::mkdir((root + "/" + rel).c_str(), 0755); }
  void File(const std::string& rel, const std::string& text) {
    std::ofstream(root + "/" + rel, std::ios::binary) << text;
  }
  void Link(const std::string& target, const std::string& rel) {
    ASSERT_EQ(::symlink(target.c_str(), (root + "/" + rel).c_str()), 0);
  }
  test::TempDir folder;
  std::string root;
};

TEST_F(SerialPortList, RealHardwareOnlyWithDescriptions) {
  for (const char* d :
       {"tty", "devices", "devices/usb1", "devices/usb1/1-1", "devices/usb1/1-1/1-1:1.0",
        "devices/usb1/1-2", "devices/usb1/1-2/1-2:1.0", "tty/ttyUSB0", "tty/ttyACM0", "tty/ttyS0",
        "tty/ttyS0/device", "tty/ttyS1", "tty/ttyS1/device", "tty/ttyS10", "tty/ttyS10/device",
        "tty/ttyS2", "tty/ttyS2/device", "tty/tty1"})
    Dir(d);
  File("devices/usb1/1-1/idVendor", "0403\n");
  File("devices/usb1/1-1/idProduct", "6001\n");
  File("devices/usb1/1-1/manufacturer", "FTDI\n");
  File("devices/usb1/1-1/product", "FT232R\x01 USB UART\n");
  File("devices/usb1/1-1/serial", "A1B2\n");
  Link("../../devices/usb1/1-1/1-1:1.0", "tty/ttyUSB0/device");
  File("devices/usb1/1-2/idVendor", "1234\n");
  File("devices/usb1/1-2/idProduct", "abcd\n");
  File("devices/usb1/1-2/manufacturer", std::string(500, 'M'));
  Link("../../devices/usb1/1-2/1-2:1.0", "tty/ttyACM0/device");
  File("tty/ttyS0/type", "4\n");
  File("tty/ttyS1/type", "0\n");  // registered, no UART behind it
  File("tty/ttyS10/type", "4\n");
  File("tty/ttyS2/type", "junk");  // unreadable type: not shown

  auto ports = ListSerialHardware(root + "/tty", "/fake/dev");
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(ports[0].path, "/fake/dev/ttyACM0");
  EXPECT_LE(ports[0].description.size(), 128u);
  EXPECT_EQ(ports[0].description.substr(0, 3), "MMM");
  EXPECT_EQ(ports[1].path, "/fake/dev/ttyS0");
  EXPECT_EQ(ports[1].description, "Serial port (16550A)");
  EXPECT_EQ(ports[2].path, "/fake/dev/ttyS10");
  EXPECT_EQ(ports[3].path, "/fake/dev/ttyUSB0");
  EXPECT_EQ(ports[3].description, "FTDI FT232R USB UART (A1B2)");

  File("devices/usb1/1-2/manufacturer", "");
  ports = ListSerialHardware(root + "/tty", "/fake/dev");
  ASSERT_FALSE(ports.empty());
  EXPECT_EQ(ports[0].description, "USB serial 1234:abcd");
  EXPECT_TRUE(ListSerialHardware(root + "/missing").empty());
}

// A USB adapter carries its ids, serial number, driver and the by-id name udev gives it; a port
// without such a link has no stable name. The device folder is a tree of our own.
TEST_F(SerialPortList, AdaptersCarryStableNamesAndIds) {
  for (const char* d :
       {"tty", "devices", "devices/usb1", "devices/usb1/1-1", "devices/usb1/1-1/1-1:1.0", "drivers",
        "drivers/ftdi_sio", "tty/ttyUSB3", "tty/ttyUSB0", "dev", "dev/serial", "dev/serial/by-id"})
    Dir(d);
  File("devices/usb1/1-1/idVendor", "0403\n");
  File("devices/usb1/1-1/idProduct", "6001\n");
  File("devices/usb1/1-1/manufacturer", "FTDI\n");
  File("devices/usb1/1-1/product", "FT232R USB UART\n");
  File("devices/usb1/1-1/serial", "A1B2\n");
  Link("../../../../drivers/ftdi_sio", "devices/usb1/1-1/1-1:1.0/driver");
  Link("../../devices/usb1/1-1/1-1:1.0", "tty/ttyUSB3/device");
  // A second port without a by-id link, behind the serial core's port and controller devices:
  // its driver is the one above them.
  for (const char* d : {"devices/platform", "devices/platform/ctrl", "devices/platform/ctrl/port",
                        "bus", "bus/serial-base", "bus/serial-base/drivers",
                        "bus/serial-base/drivers/port", "bus/serial-base/drivers/ctrl",
                        "bus/platform", "bus/platform/drivers", "bus/platform/drivers/serial8250"})
    Dir(d);
  Link("../../../../bus/serial-base/drivers/port", "devices/platform/ctrl/port/driver");
  Link("../../../bus/serial-base/drivers/ctrl", "devices/platform/ctrl/driver");
  Link("../../bus/platform/drivers/serial8250", "devices/platform/driver");
  Link("../../devices/platform/ctrl/port", "tty/ttyUSB0/device");
  File("dev/ttyUSB3", "");
  File("dev/ttyUSB0", "");
  Link("../../ttyUSB3", "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0");

  auto ports = ListSerialHardware(root + "/tty", root + "/dev");
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].path, root + "/dev/ttyUSB0");
  EXPECT_EQ(ports[0].stableName, "");
  EXPECT_EQ(ports[0].vendorId, "");
  EXPECT_EQ(ports[0].driver, "serial8250");
  const SerialPortInfo& usb = ports[1];
  EXPECT_EQ(usb.path, root + "/dev/ttyUSB3");
  EXPECT_EQ(usb.stableName, root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2-if00-port0");
  EXPECT_EQ(usb.vendorId, "0403");
  EXPECT_EQ(usb.productId, "6001");
  EXPECT_EQ(usb.serial, "A1B2");
  EXPECT_EQ(usb.driver, "ftdi_sio");
  EXPECT_EQ(usb.description, "FTDI FT232R USB UART (A1B2)");
  EXPECT_EQ(KernelDevicePath(usb.stableName), KernelDevicePath(usb.path));
  EXPECT_EQ(StableNameOf(usb.stableName, root + "/dev"), usb.stableName);
  EXPECT_EQ(StableNameOf(root + "/dev/missing", root + "/dev"), "");
}

// A stored stable name opens the adapter whatever kernel name it got this time: the link is the
// name, the pseudo-terminal behind it changes between "plug-ins".
TEST_F(SerialPortList, StableNameOpensWhateverKernelNameTheAdapterGot) {
  Dir("by-id");
  const std::string stable = root + "/by-id/usb-Lumo_Test_Adapter_0001-if00-port0";
  for (int plug = 0; plug < 2; ++plug) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    ::unlink(stable.c_str());
    ASSERT_EQ(::symlink(slave.c_str(), stable.c_str()), 0);
    EXPECT_EQ(KernelDevicePath(stable), slave);
    SerialPort port;
    ASSERT_EQ(port.Open(stable), SerialResult::Ok) << SerialLastErrno();
    EXPECT_EQ(port.Name(), stable);
    EXPECT_EQ(port.Close(), SerialResult::Ok);
    ::close(master);
  }
}

// The port as a class: every call answers one result of a closed set, and a System result keeps
// the errno beside it.

// A closed port says that it is not open. The layer's old number for this (6) is also the
// system's ENXIO, and its text used to read "there is no such port".
TEST(SerialPortClass, ClosedPortSaysNotOpenRatherThanNoSuchPort) {
  TestRuntimeDir();
  SerialPort port;
  uint8_t b = 0;
  uint32_t got = 7;
  EXPECT_EQ(port.Close(), SerialResult::NotOpen);
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(port.Refresh(), SerialResult::NotOpen);
  EXPECT_EQ(port.Apply(SerialSettings{}), SerialResult::NotOpen);
  EXPECT_EQ(port.SetOutputs(kOutDtrOn), SerialResult::NotOpen);
  EXPECT_EQ(port.Purge(), SerialResult::NotOpen);
  EXPECT_EQ(port.Write("x", 1), SerialResult::NotOpen);
  EXPECT_EQ(port.WaitInput(10), SerialResult::NotOpen);
  EXPECT_EQ(port.GetChar(b, 10), SerialResult::NotOpen);
  EXPECT_EQ(port.Read(&b, 1, got), SerialResult::NotOpen);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(SerialLastResult(), SerialResult::NotOpen);
  EXPECT_EQ(SerialLastErrno(), 0);
  EXPECT_EQ(port.Errors(false), kLineErrStatusUnreadable);
  EXPECT_EQ(port.InQueue(), -1);
  EXPECT_EQ(port.Name(), "");
  port.Wake();  // harmless on a closed port

  const LangId saved = CurrentLanguage();
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(PortFailureText(SerialLastResult(), SerialLastErrno()), "The port is not open.");
  EXPECT_EQ(PortFailureText(SerialResult::System, ENXIO),
            "There is no such port (is the adapter plugged in?).");
  SelectLanguage(kLangGerman);
  EXPECT_EQ(PortFailureText(SerialResult::NotOpen, 0),
            "Der Port ist nicht ge\xF6"
            "ffnet.");
  SelectLanguage(saved);
}

// Every failure has words of its own in both languages; a system error without a row of its
// own is said in the system's words.
TEST(SerialPortClass, EveryFailureHasItsText) {
  const SerialResult failures[] = {
      SerialResult::NotOpen,          SerialResult::AlreadyOpen, SerialResult::BadArgument,
      SerialResult::WriteShort,       SerialResult::ReadShort,   SerialResult::EchoMismatch,
      SerialResult::EchoInputWaiting,
  };
  const LangId saved = CurrentLanguage();
  for (SerialResult result : failures) {
    const char* msgId = PortFailureMsgId(result, 0);
    ASSERT_NE(msgId, nullptr) << static_cast<int>(result);
    SelectLanguage(kLangEnglish);
    const std::string english = PortFailureText(result, 0);
    SelectLanguage(kLangGerman);
    const std::string german = PortFailureText(result, 0);
    EXPECT_FALSE(english.empty()) << msgId;
    EXPECT_NE(english, german) << msgId;
    EXPECT_NE(english, msgId) << "no row for " << msgId;
  }
  SelectLanguage(kLangEnglish);
  EXPECT_EQ(PortFailureText(SerialResult::System, EIO), std::strerror(EIO));
  EXPECT_EQ(PortFailureText(SerialResult::System, EBUSY), "The port is in use by another program.");
  EXPECT_EQ(PortFailureText(SerialResult::Ok, 0), "");
  SelectLanguage(saved);
}

TEST_F(SerialPty, OpenApplyTransferClose) {
  EXPECT_EQ(port.Open(" " + slave), SerialResult::BadArgument) << "a name as typed";
  ASSERT_EQ(port.Open(PortPathOf(" " + slave + " \n")), SerialResult::Ok);
  EXPECT_EQ(port.Name(), slave);
  EXPECT_TRUE(port.IsOpen());
  const SerialSettings line = Line(19200, {0, 0, 200, 0, 0});
  ASSERT_EQ(port.Apply(line), SerialResult::Ok);
  EXPECT_EQ(port.Settings(), line);
  termios seen{};
  ASSERT_EQ(::tcgetattr(master, &seen), 0);
  EXPECT_EQ(::cfgetospeed(&seen), static_cast<speed_t>(B19200));

  ASSERT_EQ(port.Write("abc", 3), SerialResult::Ok);
  EXPECT_EQ(MasterRead(3, 2000), "abc");
  MasterWrite("xy");
  ASSERT_EQ(port.WaitInput(2000), SerialResult::Ok);
  char buffer[4] = {};
  uint32_t got = 0;
  EXPECT_EQ(port.Read(buffer, 3, got), SerialResult::ReadShort);
  EXPECT_EQ(std::string(buffer, got), "xy");

  EXPECT_EQ(port.Close(), SerialResult::Ok);
  EXPECT_EQ(port.Name(), "");
  // Going away releases the port as closing does.
  {
    SerialPort first;
    ASSERT_EQ(first.Open(slave), SerialResult::Ok);
  }
  EXPECT_EQ(port.Open(slave), SerialResult::Ok);
}

}  // namespace
}  // namespace lumo

#include "link/line_check.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "link/port_errors.h"
#include "link/port_names.h"
#include "platform/port_provider.h"
#include "platform/serial_ports.h"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Bytes sent to see whether the interface returns them: none is a command of either device.
constexpr uint8_t kEchoProbe[] = {0xA5, 0x5A, 0xC3};
// How long the probe's echo may take beyond its wire time (a USB adapter's latency).
constexpr uint32_t kEchoSlackMs = 300;
// The presence request and the firmware bit that asks for the 2400-baud line.
constexpr uint8_t kPresenceRequest = '?';
constexpr uint8_t kSpeedSwitchBits = 0xC0;
constexpr uint32_t kSwitchedBaudRate = 2400;
// Longest wait for one presence check after configuration mode was reached.
constexpr milliseconds kPresenceLimit{5000};
constexpr milliseconds kPollStep{10};

constexpr const char* kDialoutHint =
    "add the user to the group dialout: sudo usermod -aG dialout $USER, then log in again";
constexpr const char* kPortsHint = "plug the adapter in; lumokonf-cli ports lists the ports";

int64_t SinceEpochMs(Clock::time_point t) {
  return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
}

// Watches the line for the check: when the port opened and DTR rose, the first prompt after
// that, presence requests and their answers. Called on the link thread; atomics only.
class CheckTap : public LineTap {
 public:
  CheckTap(uint8_t prompt, uint8_t presenceAnswer)
      : prompt_(prompt), presenceAnswer_(presenceAnswer) {}

  void Sent(const uint8_t* data, size_t n) override {
    if (!afterReady_.load()) return;
    for (size_t i = 0; i < n; ++i) {
      if (data[i] == kPresenceRequest) requestSent_.store(true);
    }
  }
  void Received(const uint8_t* data, size_t n) override {
    const int64_t now = SinceEpochMs(Clock::now());
    for (size_t i = 0; i < n; ++i) {
      if (data[i] == prompt_ && promptMs_.load() < 0 && (dtrOnMs_.load() >= 0 || !dtr_.load()))
        promptMs_.store(now);
      if (afterReady_.load() && requestSent_.load() && data[i] == presenceAnswer_)
        presenceAnswers_.fetch_add(1);
    }
  }
  void Event(const std::string& text) override {
    const int64_t now = SinceEpochMs(Clock::now());
    if (text.rfind("open ", 0) == 0) {
      // Without DTR the supply is not ours: the first open of the check is the best start
      // there is (a simulator on a pseudo-terminal supplies its device a second after it).
      if (openMs_.load() < 0) openMs_.store(now);
      dtrOnMs_.store(-1);
      promptMs_.store(-1);
    } else if (text == "DTR on" && dtrOnMs_.load() < 0) {
      dtrOnMs_.store(now);
    }
  }

  void SetDtrSwitchable(bool on) { dtr_.store(on); }
  void MarkReady() {
    requestSent_.store(false);
    presenceAnswers_.store(0);
    afterReady_.store(true);
  }
  int PresenceAnswers() const { return presenceAnswers_.load(); }
  // Supply on (or the open, for a line without DTR) to the prompt; -1 when unknown.
  int64_t BootMs() const {
    int64_t from = dtr_.load() ? dtrOnMs_.load() : openMs_.load();
    int64_t to = promptMs_.load();
    return from >= 0 && to >= from ? to - from : -1;
  }

 private:
  const uint8_t prompt_, presenceAnswer_;
  std::atomic<bool> dtr_{true};
  std::atomic<int64_t> openMs_{-1}, dtrOnMs_{-1}, promptMs_{-1};
  std::atomic<bool> afterReady_{false}, requestSent_{false};
  std::atomic<int> presenceAnswers_{0};
};

// The link's notifications, queued for the checking thread.
class CheckSink : public NotificationSink {
 public:
  void Notify(LinkEvent event) override {
    std::lock_guard lock(mutex_);
    codes_.push_back(event.code);
    arrived_.notify_all();
  }
  // The next code, waiting until the deadline; -1 when none came.
  int32_t Next(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_until(lock, deadline, [this] { return !codes_.empty(); })) return -1;
    int32_t code = codes_.front();
    codes_.pop_front();
    return code;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::deque<int32_t> codes_;
};

class Checker {
 public:
  Checker(DutLink& link, const LineCheckOptions& options)
      : link_(link),
        options_(options),
        path_(PortPathOf(options.port)),
        profile_(DeviceProfile::ForDeviceType(options.config.deviceType)),
        tap_(profile_.prompt, profile_.presenceAnswer) {
    report_.echoSetting = options.config.echo;
  }

  LineCheckReport Run() {
    link_.StopLink();
    LineTap* savedTap = link_.Port().Tap();
    link_.Port().SetTap(&tap_);
    if (CheckPort() && CheckOpenDtrEcho()) RunDevice();
    link_.Port().SetTap(savedTap);
    return report_;
  }

 private:
  void Add(const char* name, CheckVerdict verdict, std::string text, std::string next = {}) {
    report_.steps.push_back({name, verdict, std::move(text), std::move(next)});
  }

  bool CheckPort() {
    if (IsInProcessPort(path_) && PortExists(path_)) {
      Add("port", CheckVerdict::Ok, "a simulated device in this program");
      return true;
    }
    const std::string path = DevicePathOf(options_.port);
    if (path.empty()) {
      Add("port", CheckVerdict::Failed, options_.port + " is not a port name",
          "give a device path such as /dev/ttyUSB0, a stable name under /dev/serial/by-id/ or "
          "COM1");
      return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      Add("port", CheckVerdict::Failed, path + " does not exist", kPortsHint);
      return false;
    }
    if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(path)) {
      Add("port", CheckVerdict::Failed, path + " is not a serial port",
          "lumokonf-cli ports lists the serial ports");
      return false;
    }
    std::string kernel = KernelDevicePath(path);
    std::string text = kernel == path ? path : path + " leads to " + kernel;
    std::string stable = StableNameOf(kernel);
    if (!stable.empty() && stable != path) text += " (stable name " + stable + ")";
    Add("port", CheckVerdict::Ok, text);
    return true;
  }

  bool CheckOpenDtrEcho() {
    SerialPort& port = link_.Port();
    if (const SerialResult result = port.Open(path_); result != SerialResult::Ok) {
      const int error = SerialLastErrno();
      std::string next;
      if (error == EACCES || error == EPERM) next = kDialoutHint;
      if (error == EBUSY || error == EWOULDBLOCK) next = "end that program or use another port";
      if (error == ENOENT || error == ENODEV || error == ENXIO) next = kPortsHint;
      Add("open", CheckVerdict::Failed, PortFailureText(result, error, options_.port), next);
      return false;
    }
    Add("open", CheckVerdict::Ok, "the port opens and is ours alone");

    // The supply off; whether the adapter can switch it at all.
    int dtrErr = port.DriverSetDtr(false);
    port.SetOutputs(kOutDtrOff);
    report_.dtrSwitchable = dtrErr == 0;
    tap_.SetDtrSwitchable(report_.dtrSwitchable);
    if (dtrErr == ENOTTY) {
      const bool pty = path_.find("/pts/") != std::string::npos ||
                       KernelDevicePath(path_).find("/pts/") != std::string::npos;
      Add("dtr", CheckVerdict::Note,
          pty ? "a pseudo-terminal has no DTR: the program cannot switch the device's supply"
              : "the adapter cannot switch DTR: the program cannot switch the device's supply",
          "switch the device's supply by hand; the time to its prompt counts from the open");
    } else if (dtrErr != 0) {
      Add("dtr", CheckVerdict::Failed,
          std::string("DTR cannot be switched: ") + std::strerror(dtrErr),
          "check the adapter and its driver");
      port.Close();
      return false;
    } else {
      Add("dtr", CheckVerdict::Ok, "DTR switches; the supply is off");
    }
    CheckEcho(port);
    port.Close();
    return true;
  }

  void CheckEcho(SerialPort& port) {
    const LinkConfig& c = options_.config;
    SerialSettings line;
    line.baudRate = c.baudRate;
    line.dataBits = c.dataBits;
    line.stopBits = c.stopBits;
    line.parity = c.parity;
    line.echo = false;
    line.timeouts = SerialTimeouts{};
    port.Apply(line);
    port.Purge();
    const uint32_t wireMs =
        static_cast<uint32_t>(sizeof kEchoProbe * 10 * 1000 / std::max<uint32_t>(c.baudRate, 1));
    std::vector<uint8_t> back;
    if (port.Write(kEchoProbe, sizeof kEchoProbe) == SerialResult::Ok) {
      const auto deadline = Clock::now() + milliseconds(wireMs + kEchoSlackMs);
      while (back.size() < sizeof kEchoProbe && Clock::now() < deadline) {
        uint8_t byte = 0;
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (port.GetChar(byte, static_cast<uint32_t>(std::max<int64_t>(left, 1))) ==
            SerialResult::Ok)
          back.push_back(byte);
      }
    }
    const std::string setting = c.echo ? "on" : "off";
    if (back.empty()) {
      report_.echo = EchoFinding::Off;
    } else if (back.size() == sizeof kEchoProbe &&
               std::equal(back.begin(), back.end(), std::begin(kEchoProbe))) {
      report_.echo = EchoFinding::On;
    } else {
      report_.echo = EchoFinding::Unclear;
      Add("echo", CheckVerdict::Failed,
          std::to_string(back.size()) + " of " + std::to_string(sizeof kEchoProbe) +
              " bytes came back, not as sent: the line is disturbed or the device is supplied",
          "check the cable and that the device's supply is off; then run the check again");
      report_.settingFits = false;
      return;
    }
    const bool echoes = report_.echo == EchoFinding::On;
    report_.settingFits = echoes == c.echo;
    const std::string found = echoes ? "the interface returns every byte sent (echo)"
                                     : "the interface returns nothing (no echo)";
    if (report_.settingFits) {
      Add("echo", CheckVerdict::Ok, found + "; the Echo setting (" + setting + ") fits");
    } else {
      const std::string use = echoes ? "1" : "0";
      Add("echo", CheckVerdict::Failed,
          found + "; the Echo setting is " + setting + " and does not fit",
          "set Echo=" + use + " in lumokonf.ini (or --echo " + (echoes ? "on" : "off") + ")");
    }
  }

  void RunDevice() {
    LinkConfig config = options_.config;
    // The rest runs with the interface as it is, so that the device can be found in any case.
    if (report_.echo == EchoFinding::On || report_.echo == EchoFinding::Off)
      config.echo = report_.echo == EchoFinding::On;
    config.autoRead = false;
    CheckSink sink;
    if (!link_.StartLink(path_, &sink, config)) {
      Add("supply", CheckVerdict::Failed,
          PortFailureText(SerialLastResult(), SerialLastErrno(), options_.port),
          "run the check again once the port is free");
      link_.StopLink();
      return;
    }
    const auto deadline = Clock::now() + milliseconds(config.powerOnDelayMs) + options_.deviceLimit;
    int32_t outcome = -1;
    while (outcome < 0) {
      int32_t code = sink.Next(deadline);
      if (code < 0) break;
      if (code == DN_READY || code == DN_NOFIRMWARE || code == DN_PORTFAILED) outcome = code;
    }
    report_.bootMs = tap_.BootMs();
    const std::string from = report_.dtrSwitchable
                                 ? " after the supply came on"
                                 : " after the check first opened the port (no DTR)";
    if (outcome == DN_PORTFAILED) {
      Add("supply", CheckVerdict::Failed, "the port failed (adapter unplugged?)",
          "plug the adapter in again and run the check again");
    } else if (report_.bootMs < 0) {
      Add("supply", CheckVerdict::Failed, "no prompt from a device",
          report_.dtrSwitchable
              ? "check the cable and that the interface supplies the device from DTR"
              : "check the cable; switch the device's supply off and on during the check");
    } else {
      Add("supply", CheckVerdict::Ok, "prompt " + std::to_string(report_.bootMs) + " ms" + from);
    }
    if (outcome == DN_NOFIRMWARE) {
      Add("identity", CheckVerdict::Failed, "the device has no firmware (its boot loader answered)",
          "load the firmware: lumokonf-cli flash --port " + options_.port + " FILE");
    } else if (outcome != DN_READY) {
      if (outcome != DN_PORTFAILED && report_.bootMs >= 0)
        Add("identity", CheckVerdict::Failed, "the device did not take the wake-up",
            "check the line's speed and the Echo setting");
    } else {
      report_.found = true;
      report_.identity = link_.Identity();
      report_.firmware = link_.FirmwareWord();
      Add("identity", CheckVerdict::Ok,
          report_.identity + ", firmware " + std::to_string(report_.firmware[0]) + "." +
              std::to_string(report_.firmware[1]));
      report_.speedSwitched = (report_.firmware[0] & kSpeedSwitchBits) == kSpeedSwitchBits;
      Add("speed", CheckVerdict::Ok,
          report_.speedSwitched
              ? "the line switched to " + std::to_string(kSwitchedBaudRate) + " baud"
              : "the device stays at " + std::to_string(config.baudRate) + " baud");
      CheckPresence();
    }
    if (!report_.found) {
      link_.PowerOff();
    } else {
      link_.SetLeaveOnExit(true);  // the device goes back to normal operation
    }
    link_.StopLink();
    link_.SetLeaveOnExit(false);
  }

  void CheckPresence() {
    tap_.MarkReady();
    const auto deadline = Clock::now() + kPresenceLimit;
    while (tap_.PresenceAnswers() == 0 && link_.InConfigMode() && Clock::now() < deadline)
      std::this_thread::sleep_for(kPollStep);
    if (tap_.PresenceAnswers() > 0 && link_.InConfigMode()) {
      Add("presence", CheckVerdict::Ok, "the device answers in configuration mode");
    } else {
      report_.found = false;
      Add("presence", CheckVerdict::Failed, "the device did not answer its presence check",
          "check the cable; at the switched speed the line must carry 2400 baud");
    }
  }

  DutLink& link_;
  const LineCheckOptions& options_;
  // The port the options name, as a path ("" when they name none); texts name it as given.
  const std::string path_;
  DeviceProfile profile_;
  CheckTap tap_;
  LineCheckReport report_;
};

}  // namespace

const char* CheckVerdictName(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Ok:
      return "ok";
    case CheckVerdict::Note:
      return "note";
    case CheckVerdict::Failed:
      return "failed";
    case CheckVerdict::Skipped:
      return "skipped";
  }
  return "";
}

LineCheckReport RunLineCheck(DutLink& link, const LineCheckOptions& options) {
  return Checker(link, options).Run();
}

}  // namespace lumo

#include "sim/sim_port.h"

#include "platform/port_provider.h"
#include "platform/port_watch.h"
#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <map>

namespace lumo {
namespace sim {
namespace {

constexpr uint8_t kMaxDataBits = 8;
constexpr uint8_t kMinDataBits = 4;
constexpr uint8_t kMaxStopBitsCode = 2;
constexpr uint8_t kMaxParityCode = 4;
constexpr size_t kQueueCapacity = 16384;  // bytes a driver buffer holds each way

// The simulated ports: each name begins with kSimulatedPortPrefix.
struct SimName {
  const char* name;         // as the port layer keeps it
  DeviceKind kind;          // the device behind it
  const char* description;  // in the port list
};
constexpr SimName kSimNames[] = {
    {"SIM:TG5", DeviceKind::Tg5, "Simulated TG5 light curtain"},
    {"SIM:JOVIX", DeviceKind::Jovix, "Simulated Jovix joystick controller"},
};

const SimName* FindSimName(const std::string& name) {
  size_t i = name.find_first_not_of(" \t");
  if (i == std::string::npos) return nullptr;
  std::string rest = name.substr(i);
  for (const auto& row : kSimNames)
    if (EqualNoCase(rest, row.name)) return &row;
  return nullptr;
}

struct RegistryEntry {
  std::shared_ptr<SimDevice> device;
  std::shared_ptr<SimLine> line;
  bool unplugged = false;  // the adapter is out: the port does not exist until plugged in
};

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::string, RegistryEntry>& Registry() {
  static std::map<std::string, RegistryEntry> registry;
  return registry;
}

// The program's end of an in-process line. Closing it drops DTR and ends the line.
class SimSerialDriver : public SerialDriver {
 public:
  SimSerialDriver(std::shared_ptr<SimLine> line, std::shared_ptr<SimDevice> device)
      : line_(std::move(line)), device_(std::move(device)) {}
  ~SimSerialDriver() override {
    line_->SetDtr(false);
    device_->Detach();
  }

  int GetLine(DriverLine& line) override { return line_->GetLine(line); }
  int SetLine(const DriverLine& line) override { return line_->SetLine(line); }
  int GetModes(LineMode& dtr, LineMode& rts) override { return line_->GetModes(dtr, rts); }
  int SetDtr(bool on) override { return line_->SetDtr(on); }
  int SetRts(bool on) override { return line_->SetRts(on); }
  int SetBreak(bool on) override { return line_->SetBreak(on); }
  int GetErrorCounts(LineErrorCounts& counts) override { return line_->GetErrorCounts(counts); }
  int InQueue(int& count) override { return line_->InQueue(count); }
  int Purge() override { return line_->Purge(); }
  int WaitReadable(int timeoutMs, bool& ready, bool& woken) override {
    return line_->WaitReadable(timeoutMs, ready, woken);
  }
  int ReadSome(uint8_t* buffer, size_t n, size_t& got) override {
    return line_->ReadSome(buffer, n, got);
  }
  int Write(const uint8_t* data, size_t n, size_t& written, int) override {
    return line_->ProgramWrite(data, n, written);
  }
  int Drain(int timeoutMs) override { return line_->Drain(timeoutMs); }
  void Wake() override { line_->Wake(); }

 private:
  std::shared_ptr<SimLine> line_;
  std::shared_ptr<SimDevice> device_;
};

}  // namespace

SimLine::SimLine(bool echo, bool pace, bool externalSupply)
    : echo_(echo), pace_(pace), externalSupply_(externalSupply) {}

// Time of one character on the line: start bit, data bits, parity bit, stop bits.
SimLine::Clock::duration SimLine::CharTimeLocked() const {
  double bits = 1.0 + line_.dataBits + (line_.parity != 0 ? 1.0 : 0.0);
  bits += line_.stopBits == 0 ? 1.0 : line_.stopBits == 1 ? 1.5 : 2.0;
  const double baud = line_.baudRate == 0 ? 1.0 : static_cast<double>(line_.baudRate);
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(bits / baud));
}

SimLine::Clock::time_point SimLine::ArrivalLocked(Clock::time_point& last) {
  const auto now = Clock::now();
  if (!pace_) return now;
  last = std::max(now, last) + CharTimeLocked();
  return last;
}

size_t SimLine::AvailableLocked(Clock::time_point now) const {
  size_t count = 0;
  while (count < toProgram_.size() && toProgram_[count].at <= now) ++count;
  return count;
}

// Device side.

bool SimLine::WaitPowerOn(uint64_t& epoch) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return closed_ || PoweredLocked(); });
  if (closed_) return false;
  epoch = epoch_;
  return true;
}

LineRead SimLine::ReadByte(uint64_t epoch, uint8_t& byte, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (true) {
    if (closed_) return LineRead::Closed;
    if (!PoweredLocked() || epoch != epoch_) return LineRead::PowerLost;
    const auto now = Clock::now();
    if (!toDevice_.empty() && toDevice_.front().at <= now) {
      byte = toDevice_.front().value;
      toDevice_.pop_front();
      return LineRead::Byte;
    }
    if (timeoutMs >= 0 && now >= deadline) return LineRead::Timeout;
    auto until = timeoutMs >= 0 ? deadline : Clock::time_point::max();
    if (!toDevice_.empty()) until = std::min(until, toDevice_.front().at);
    if (until == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, until);
  }
}

// Like a UART, the device's line takes its bytes one character time after another: the call
// returns when the last of them has arrived (what the device does next, a restart say, comes
// after its bytes are out).
void SimLine::Write(uint64_t epoch, const uint8_t* data, size_t n) {
  Clock::time_point sent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!PoweredLocked() || epoch != epoch_ || silent_) return;
    for (size_t i = 0; i < n; ++i) {
      uint8_t value = data[i];
      if (dropToProgram_ > 0) {
        --dropToProgram_;
        continue;
      }
      if (corruptToProgram_ > 0) {
        --corruptToProgram_;
        value = static_cast<uint8_t>(~value);
      }
      if (toProgram_.size() >= kQueueCapacity) {
        ++overflows_;
        continue;
      }
      toProgram_.push_back({value, ArrivalLocked(lastToProgram_)});
    }
    sent = lastToProgram_;
  }
  changed_.notify_all();
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_until(lock, sent, [&] { return closed_ || !PoweredLocked() || epoch != epoch_; });
}

uint32_t SimLine::BaudRate() {
  std::lock_guard<std::mutex> lock(mutex_);
  return line_.baudRate;
}

void SimLine::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  changed_.notify_all();
}

// Program side.

int SimLine::GetLine(DriverLine& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  line = line_;
  return 0;
}

int SimLine::SetLine(const DriverLine& line) {
  if (line.baudRate == 0 || line.dataBits < kMinDataBits || line.dataBits > kMaxDataBits ||
      line.stopBits > kMaxStopBitsCode || line.parity > kMaxParityCode)
    return EINVAL;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    line_ = line;
  }
  changed_.notify_all();
  return 0;
}

int SimLine::GetModes(LineMode& dtr, LineMode& rts) {
  std::lock_guard<std::mutex> lock(mutex_);
  dtr = dtr_ ? LineMode::Enabled : LineMode::Disabled;
  rts = rts_ ? LineMode::Enabled : LineMode::Disabled;
  return 0;
}

int SimLine::SetDtr(bool on) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (vanished_) return EIO;
    if (on && !dtr_ && !externalSupply_) {
      ++epoch_;
      toDevice_.clear();  // a device that starts hears nothing sent before
    }
    dtr_ = on;
  }
  changed_.notify_all();
  return 0;
}

int SimLine::SetRts(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (vanished_) return EIO;
  rts_ = on;
  return 0;
}

int SimLine::SetBreak(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (vanished_) return EIO;
  break_ = on;
  return 0;
}

int SimLine::GetErrorCounts(LineErrorCounts& counts) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts = LineErrorCounts{};
  if (vanished_) return EIO;
  counts.bufOverrun = overflows_;
  return 0;
}

int SimLine::InQueue(int& count) {
  std::lock_guard<std::mutex> lock(mutex_);
  count = 0;
  if (vanished_) return EIO;
  count = static_cast<int>(AvailableLocked(Clock::now()));
  return 0;
}

int SimLine::Purge() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (vanished_) return EIO;
  // What is available is never more than the queue holds.
  const auto available = static_cast<std::ptrdiff_t>(AvailableLocked(Clock::now()));
  toProgram_.erase(toProgram_.begin(), toProgram_.begin() + available);
  return 0;
}

int SimLine::WaitReadable(int timeoutMs, bool& ready, bool& woken) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready = woken = false;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (true) {
    if (vanished_) return EIO;
    if (woken_) {
      woken_ = false;
      woken = true;
      return 0;
    }
    const auto now = Clock::now();
    if (AvailableLocked(now) > 0) {
      ready = true;
      return 0;
    }
    if (timeoutMs >= 0 && now >= deadline) return 0;
    auto until = timeoutMs >= 0 ? deadline : Clock::time_point::max();
    if (!toProgram_.empty()) until = std::min(until, toProgram_.front().at);
    if (until == Clock::time_point::max())
      changed_.wait(lock);
    else
      changed_.wait_until(lock, until);
  }
}

int SimLine::ReadSome(uint8_t* buffer, size_t n, size_t& got) {
  std::lock_guard<std::mutex> lock(mutex_);
  got = 0;
  if (vanished_) return EIO;
  if (buffer == nullptr && n > 0) return EINVAL;
  const size_t take = std::min(n, AvailableLocked(Clock::now()));
  for (; got < take; ++got) {
    buffer[got] = toProgram_.front().value;
    toProgram_.pop_front();
  }
  return 0;
}

int SimLine::ProgramWrite(const uint8_t* data, size_t n, size_t& written) {
  written = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (vanished_) return EIO;
    if (data == nullptr && n > 0) return EINVAL;
    for (size_t i = 0; i < n; ++i) {
      const auto at = ArrivalLocked(lastToDevice_);
      programSent_.push_back(data[i]);
      if (echo_ && toProgram_.size() < kQueueCapacity)
        toProgram_.push_back({data[i], at});
      else if (echo_)
        ++overflows_;
      uint8_t value = data[i];
      if (!PoweredLocked() || silent_) continue;  // nobody listens
      if (dropToDevice_ > 0) {
        --dropToDevice_;
        continue;
      }
      if (corruptToDevice_ > 0) {
        --corruptToDevice_;
        value = static_cast<uint8_t>(~value);
      }
      if (replaceToDevice_) {
        value = *replaceToDevice_;
        replaceToDevice_.reset();
      }
      if (toDevice_.size() < kQueueCapacity) toDevice_.push_back({value, at});
    }
    written = n;
  }
  changed_.notify_all();
  return 0;
}

int SimLine::Drain(int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  while (!vanished_ && lastToDevice_ > Clock::now() && Clock::now() < deadline)
    changed_.wait_until(lock, std::min(deadline, lastToDevice_));
  return vanished_ ? EIO : 0;
}

void SimLine::Wake() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    woken_ = true;
  }
  changed_.notify_all();
}

// Control and inspection.

bool SimLine::Powered() {
  std::lock_guard<std::mutex> lock(mutex_);
  return PoweredLocked();
}

bool SimLine::Open() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !closed_;
}

void SimLine::SetEcho(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  echo_ = on;
}

void SimLine::SetPace(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  pace_ = on;
}

void SimLine::DropNextDeviceByte() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++dropToProgram_;
}

void SimLine::CorruptNextDeviceByte() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++corruptToProgram_;
}

void SimLine::DropNextProgramByte() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++dropToDevice_;
}

void SimLine::CorruptNextProgramByte() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++corruptToDevice_;
}

void SimLine::ReplaceNextProgramByte(uint8_t value) {
  std::lock_guard<std::mutex> lock(mutex_);
  replaceToDevice_ = value;
}

void SimLine::SetSilent(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = on;
  if (on) toDevice_.clear();
}

void SimLine::Vanish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    vanished_ = true;
    toDevice_.clear();
    toProgram_.clear();
  }
  changed_.notify_all();
}

std::vector<uint8_t> SimLine::ProgramSent() {
  std::lock_guard<std::mutex> lock(mutex_);
  return programSent_;
}

// Registry.

std::shared_ptr<SimDevice> PrepareSimulatedDevice(const std::string& name,
                                                  const SimOptions& options) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto& entry = Registry()[sim->name];
  if (entry.line && entry.line->Open()) return nullptr;
  SimOptions own = options;
  own.kind = sim->kind;
  entry.device = std::make_shared<SimDevice>(own);
  return entry.device;
}

std::shared_ptr<SimDevice> SimulatedDevice(const std::string& name) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(sim->name);
  return it == Registry().end() ? nullptr : it->second.device;
}

std::shared_ptr<SimLine> SimulatedLine(const std::string& name) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return nullptr;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(sim->name);
  return it == Registry().end() ? nullptr : it->second.line;
}

void UnplugSimulatedAdapter(const std::string& name) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return;
  std::shared_ptr<SimLine> line;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    auto& entry = Registry()[sim->name];
    entry.unplugged = true;
    line = entry.line;
  }
  if (line) line->Vanish();
  AnnouncePortChange();
}

void PlugSimulatedAdapter(const std::string& name) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry()[sim->name].unplugged = false;
  }
  AnnouncePortChange();
}

bool SimulatedAdapterPresent(const std::string& name) {
  const SimName* sim = FindSimName(name);
  if (sim == nullptr) return false;
  std::lock_guard<std::mutex> lock(RegistryMutex());
  auto it = Registry().find(sim->name);
  return it == Registry().end() || !it->second.unplugged;
}

void ForgetSimulatedDevices() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  for (auto it = Registry().begin(); it != Registry().end();) {
    if (it->second.line && it->second.line->Open())
      ++it;  // an open port keeps its device
    else
      it = Registry().erase(it);
  }
}

}  // namespace sim

bool IsSimulatedPortName(const std::string& name) {
  return sim::FindSimName(name) != nullptr;
}

std::unique_ptr<SerialDriver> OpenSimulatedPort(const std::string& name, bool echoDefault,
                                                int& err) {
  const sim::SimName* simName = sim::FindSimName(name);
  if (simName == nullptr) {
    err = ENOENT;
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(sim::RegistryMutex());
  auto& entry = sim::Registry()[simName->name];
  if (entry.unplugged) {
    err = ENODEV;
    return nullptr;
  }
  if (entry.line && entry.line->Open()) {
    err = EBUSY;
    return nullptr;
  }
  if (!entry.device) {
    // A device nobody prepared sits behind an interface that returns what was sent exactly when
    // the program expects it to (echoDefault: its Echo setting), so the port works either way.
    sim::SimOptions fresh = sim::DefaultOptions(simName->kind);
    fresh.echo = echoDefault;
    entry.device = std::make_shared<sim::SimDevice>(fresh);
  }
  const sim::SimOptions options = entry.device->Options();
  entry.line = std::make_shared<sim::SimLine>(options.echo, options.pace, options.externalSupply);
  entry.device->Attach(entry.line);
  // Like a tty, the line raises DTR when it is opened: the device is supplied until the program
  // switches DTR off.
  entry.line->SetDtr(true);
  err = 0;
  return std::make_unique<sim::SimSerialDriver>(entry.line, entry.device);
}

void RegisterSimulatedPorts(std::function<bool()> echoDefault) {
  PortProvider provider;
  provider.prefix = kSimulatedPortPrefix;
  provider.inProcess = true;
  provider.open = [echoDefault](const std::string& name, int& err) {
    return OpenSimulatedPort(name, echoDefault && echoDefault(), err);
  };
  provider.list = [] {
    std::vector<SerialPortInfo> ports;
    for (const auto& row : sim::kSimNames) {
      SerialPortInfo info;
      info.path = row.name;
      info.description = row.description;
      ports.push_back(std::move(info));
    }
    return ports;
  };
  provider.exists = [](const std::string& name) { return sim::SimulatedAdapterPresent(name); };
  RegisterPortProvider(std::move(provider));
}

}  // namespace lumo

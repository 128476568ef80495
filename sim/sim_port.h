// The in-process simulated devices behind the port names "SIM:TG5" and "SIM:JOVIX".
//
// State model: one registry entry per simulated name holds the device (sim/sim_device.h, its
// memory survives closing and reopening the port, as a real device on the line would) and the
// line of the last open. Opening the port makes a new SimLine, a pair of byte queues between the
// program's SerialDriver and the device's firmware thread; closing it drops DTR (the device loses
// its supply) and ends the line. A second open while the port is open fails with EBUSY.
//
// The line: DTR supplies the device; the device sees the baud rate the program set; the echo
// option returns every byte the program writes ahead of the device's reply; the pace option
// lets every byte take its character time at the line's rate. Faults for tests: drop or corrupt
// the next byte either way, fall silent (the device hears and says nothing), vanish like an
// unplugged adapter (the driver answers EIO from then on, the device loses its supply).
// DTR, RTS and break are supported. Each queue holds 16384 bytes like a driver buffer; what
// does not fit is lost and counted as a buffer overrun, the only error the line counts.
//
//   IsSimulatedPortName    "SIM:TG5" / "SIM:JOVIX" in any case
//   OpenSimulatedPort      a SerialDriver on the named device
//   RegisterSimulatedPorts the simulated ports as a port provider (the program's main decides)
//   sim::PrepareSimulatedDevice  a fresh device with given options for the next open
//   sim::SimulatedDevice / SimulatedLine  what the last open of a name reaches (tests)
//   sim::ForgetSimulatedDevices          drop every device (factory state on the next open)
//   sim::UnplugSimulatedAdapter / PlugSimulatedAdapter   the adapter pulled out (the line
//                                        vanishes, the port no longer exists) and put back in;
//                                        both announce the change to every PortWatch
//   sim::SimulatedAdapterPresent         whether the port exists now
//
// Threads: the driver is used by one thread at a time (Wake() from any); the line's control
// calls and the device's inspection calls are safe from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_driver.h"
#include "sim/device_line.h"
#include "sim/sim_device.h"

namespace lumo {

// Every simulated port name begins with this.
inline constexpr const char* kSimulatedPortPrefix = "SIM:";

// True for "SIM:TG5" and "SIM:JOVIX" in any case (after leading blanks).
bool IsSimulatedPortName(const std::string& name);

// Opens a simulated device as a serial driver; nullptr with err set (ENOENT for an unknown
// simulated name, ENODEV while its adapter is unplugged, EBUSY when it is open already) on
// failure. A device nobody prepared is made with the echo option echoDefault.
std::unique_ptr<SerialDriver> OpenSimulatedPort(const std::string& name, bool echoDefault,
                                                int& err);

// Registers the simulated ports as the provider of the names beginning with "SIM:", in-process
// (platform/port_provider.h). echoDefault is asked at each open of a device nobody prepared
// (the program passes its Echo setting; empty: no echo).
void RegisterSimulatedPorts(std::function<bool()> echoDefault);

namespace sim {

class SimLine : public DeviceLine {
 public:
  SimLine(bool echo, bool pace, bool externalSupply = false);

  // Device side.
  bool WaitPowerOn(uint64_t& epoch) override;
  LineRead ReadByte(uint64_t epoch, uint8_t& byte, int timeoutMs) override;
  void Write(uint64_t epoch, const uint8_t* data, size_t n) override;
  uint32_t BaudRate() override;
  void Close() override;

  // Program side (the SerialDriver calls these).
  int GetLine(DriverLine& line);
  int SetLine(const DriverLine& line);
  int GetModes(LineMode& dtr, LineMode& rts);
  int SetDtr(bool on);
  int SetRts(bool on);
  int SetBreak(bool on);
  int GetErrorCounts(LineErrorCounts& counts);
  int InQueue(int& count);
  int Purge();
  int WaitReadable(int timeoutMs, bool& ready, bool& woken);
  int ReadSome(uint8_t* buffer, size_t n, size_t& got);
  int ProgramWrite(const uint8_t* data, size_t n, size_t& written);
  int Drain(int timeoutMs);  // until the last byte written has reached the device
  void Wake();

  // Control and inspection for tests.
  bool Powered();
  bool Open();
  void SetEcho(bool on);
  void SetPace(bool on);
  void DropNextDeviceByte();      // the next byte the device sends never arrives
  void CorruptNextDeviceByte();   // ... arrives with every bit inverted
  void DropNextProgramByte();     // the next byte the program sends never reaches the device
  void CorruptNextProgramByte();  // ... reaches it with every bit inverted
  void ReplaceNextProgramByte(uint8_t value);  // ... reaches it as value
  void SetSilent(bool on);                     // the device neither hears nor answers
  void Vanish();                               // the adapter is unplugged
  std::vector<uint8_t> ProgramSent();          // every byte the program wrote, in order

 private:
  using Clock = std::chrono::steady_clock;
  struct TimedByte {
    uint8_t value;
    Clock::time_point at;  // when the byte has arrived at the far end
  };

  Clock::duration CharTimeLocked() const;
  Clock::time_point ArrivalLocked(Clock::time_point& last);
  size_t AvailableLocked(Clock::time_point now) const;
  bool PoweredLocked() const { return (dtr_ || externalSupply_) && !vanished_ && !closed_; }

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<TimedByte> toDevice_, toProgram_;
  std::vector<uint8_t> programSent_;
  DriverLine line_;
  bool dtr_ = false, rts_ = false, break_ = false;
  uint64_t epoch_ = 0;
  bool closed_ = false, vanished_ = false, woken_ = false;
  bool echo_, pace_, silent_ = false;
  const bool externalSupply_;
  uint32_t overflows_ = 0;
  int dropToProgram_ = 0, corruptToProgram_ = 0, dropToDevice_ = 0, corruptToDevice_ = 0;
  std::optional<uint8_t> replaceToDevice_;
  Clock::time_point lastToDevice_{}, lastToProgram_{};
};

// Makes a fresh device with these options for the name; the next open uses it. nullptr for an
// unknown name or while the port is open.
std::shared_ptr<SimDevice> PrepareSimulatedDevice(const std::string& name,
                                                  const SimOptions& options);
// The device and the line of the last open of the name (nullptr before the first).
std::shared_ptr<SimDevice> SimulatedDevice(const std::string& name);
std::shared_ptr<SimLine> SimulatedLine(const std::string& name);
void ForgetSimulatedDevices();
void UnplugSimulatedAdapter(const std::string& name);
void PlugSimulatedAdapter(const std::string& name);
bool SimulatedAdapterPresent(const std::string& name);

}  // namespace sim
}  // namespace lumo

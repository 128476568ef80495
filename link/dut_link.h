// The link with one device: the link thread, the device protocol and the page images.
//
// State model. One DutLink owns the serial port, the link thread, the page table and two
// page images: the device image (what the device held when its pages were last read) and the edit
// image (what is to be written). The link thread alone talks to the device. The user interface
//   - reads the link mode, device state, identity, firmware word, signal status, page table and
//     device image (all written by the link thread; read them after the notification announcing
//     a change),
//   - writes the edit image only while the link is idle, before it requests CMD_WRITE,
//   - hands over a command with RequestCommand, which is accepted only in MODE_IDLE.
// Every value shared between the two threads is an atomic or guarded by imagesMutex_; the link
// thread never waits for the user interface: notifications go to a NotificationSink, which must
// return at once (the desktop program queues a Qt event, the command line a queue entry).
//
//   StartLink / StopLink        open the port and run the thread / stop it and close the port
//   RequestCommand              hand a command (CMD_POLLSIGNAL .. CMD_LEAVE) to the thread; an
//                               idle thread is woken from its wait for a byte at once
//   StatusMsgId                 the MsgId of the status text for the current mode and state
//   InConfigMode / ConfigValid  device state >= DEV_CONFIG / >= DEV_VALID
//   SetLeaveOnExit              send "q" when the link ends
//   ResetPages, PageNeedsRead, PageNeedsWrite, AnyPageNeedsWrite   the page table
//   CopyDeviceImage, EditImage  the page images, copied out / written in under the lock
//   PowerOn, PowerOff, TogglePower, IsPowered                      the supply through DTR
// The exchanges of the device protocol (dut_protocol.cpp) run on the link thread only:
//   PresenceCheck, LeaveConfigMode, ReadPage, ErasePagePair, WritePage, PollSignal,
//   SelfTestVersion, RunSelfTestExchange, WaitForData, WaitQuiet, WaitForStrings,
//   ReadAllPages, WriteAllPages, Handshake
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "definitions/pardef.h"
#include "link/serial_port.h"
#include "platform/clock.h"

namespace lumo {

// The hand-over variable between the user interface and the link thread.
enum LinkMode : int32_t {
  MODE_OFF = 0,        // no link
  MODE_STOP = 1,       // the thread is asked to end
  MODE_IDLE = 2,       // thread polling, ready for a command
  MODE_BUSY = 3,       // a command is being carried out
  MODE_DRAIN = 4,      // a command ended; waiting for the line to be quiet
  CMD_POLLSIGNAL = 5,  // requested: signal poll "t"
  CMD_READ = 6,        // requested: read parameter pages
  CMD_WRITE = 7,       // requested: write parameter pages
  CMD_FLASH = 8,       // requested: firmware update
  CMD_SELFTEST = 9,    // requested: self-test, parameter 's' or 'c'
  CMD_LEAVE = 10,      // requested: back to normal operation
};

enum DevState : int32_t {
  DEV_NOPORT = 0,      // port closed
  DEV_SEARCHING = 1,   // link running, no device answers
  DEV_BOOTLOADER = 2,  // a device without firmware announced itself with "?"
  DEV_FLASHING = 3,    // firmware update running
  DEV_FOUND = 4,       // device prompt answered, identity being read
  DEV_SELFTEST = 5,    // self-test exchange running
  DEV_CONFIG = 6,      // device in configuration mode
  DEV_READING = 7,     // parameter pages being read
  DEV_VALID = 8,       // configuration mode, and the last read of all needed pages succeeded
  DEV_WRITING = 9,     // parameter pages being written
};

// Notification codes. DN_PROGRESS is ours: the read and write progress (0..100), delivered like
// every other notification instead of a direct call into a window.
enum LinkNotification : int32_t {
  DN_STOPPED = 0,
  DN_NODEVICE = 1,
  DN_PORTFAILED = 2,
  DN_NOFIRMWARE = 3,
  DN_LINEERROR = 4,
  DN_SHORTPAGE = 5,
  DN_FOUND = 7,
  DN_READSTART = 8,
  DN_READFAILED = 9,
  DN_READDONE = 10,
  DN_WRITEEND = 11,
  DN_WRITESTART = 12,
  DN_WRITEFAILED = 13,
  DN_WRITEOK = 14,
  DN_READY = 15,
  DN_FLASHSTART = 16,
  DN_FLASHOK = 17,
  DN_FLASHFAILED = 18,
  DN_FLASHEND = 19,
  DN_SIGNAL = 20,
  DN_SELFTESTSTART = 21,
  DN_SELFTESTSENT = 22,
  DN_SELFTESTDATA = 23,
  DN_SELFTESTFAILED = 24,
  DN_RESETTIME = 25,
  DN_IDLE = 26,
  DN_PROGRESS = 27,
};

const char* NotificationName(int32_t code);

enum PageState : uint8_t { PAGE_NONE = 0, PAGE_TOREAD = 1, PAGE_READ = 2 };

// One notification. A self-test result block travels inside it and belongs to whoever holds the
// notification; it is freed with it.
struct LinkEvent {
  int32_t code = 0;
  int32_t value = 0;
  std::unique_ptr<std::vector<uint8_t>> block;  // DN_SELFTESTDATA only
};

// Receives the link's notifications on the link thread (and on the caller's thread for
// DN_STOPPED). Must not block and must not call back into the link except for atomic reads.
class NotificationSink {
 public:
  virtual ~NotificationSink() = default;
  virtual void Notify(LinkEvent event) = 0;
};

// The eleven protocol time limits of the device definition, in milliseconds.
struct LinkTimeouts {
  uint32_t readInterval = 200;
  uint32_t readMultiplier = 20;
  uint32_t readConstant = 300;
  uint32_t threadCycle = 100;
  uint32_t bootId = 1000;
  uint32_t tr = 1000;
  uint32_t noTraffic = 300;
  uint32_t presentPrompt = 200;
  uint32_t wfResult = 400;
  uint32_t efResult = 400;
  uint32_t flashResponse = 900;
};

// What the link needs from the definition and the settings when it starts.
struct LinkConfig {
  int deviceType = 1;  // 1 light curtain, 2 joystick; anything else uses the light curtain's
  uint32_t baudRate = 1200;
  uint8_t dataBits = 8;
  uint8_t parity = 0;
  uint8_t stopBits = 0;
  bool echo = true;      // setting Echo
  bool autoRead = true;  // setting AutoReadConf
  LinkTimeouts timeouts;
  // Pause between opening the port and switching the supply on.
  uint32_t powerOnDelayMs = 1000;
  // Every page read twice and compared (setting VerifyReads; the read-back of a write always).
  bool verifyReads = false;
};

// The self-test rules as the exchange needs them (the rules file lives elsewhere).
class SelfTestRules {
 public:
  virtual ~SelfTestRules() = default;
  // Size in bytes of the version rule; false when there is none.
  virtual bool VersionRuleSize(int& size) const = 0;
  // Stores the version read and checks it against the version rule's limits.
  virtual bool CheckVersion(uint32_t version) = 0;
  // Length of the result block to read; 0 when it cannot be formed.
  virtual int PrepareBlockLength() = 0;
  // The text for ERRST_INVALIDVERSION's "%s".
  virtual std::string VersionText(uint32_t version) const = 0;
};

class DutLink;
// The firmware update, run on the link thread for CMD_FLASH with the command's parameter.
using FlashProcedure = std::function<void(DutLink& link, uintptr_t parameter)>;

// The device profile chosen from the device type.
struct DeviceProfile {
  uint8_t prompt;          // sent by the device at power-up
  uint8_t presenceAnswer;  // reply to "?"
  std::string wakeUp;      // sent in answer to the prompt
  int firstPage;
  int lastPage;
  static DeviceProfile ForDeviceType(int deviceType);
};

class DutLink {
 public:
  DutLink();
  ~DutLink();
  DutLink(const DutLink&) = delete;
  DutLink& operator=(const DutLink&) = delete;

  // Opens the port at portPath (a path as PortPathOf gives it; unless the caller opened the port
  // over a driver of its own with OpenDriver; a running link is stopped first), applies the line
  // settings, starts the thread and, after config.powerOnDelayMs, switches the supply on. False
  // when there is no sink or the port cannot be opened or the thread cannot be started.
  bool StartLink(const std::string& portPath, NotificationSink* sink, const LinkConfig& config);
  // Lets a running command finish (at most 5 s), asks the thread to end, wakes it from any port
  // operation and joins it; closes the port and posts DN_STOPPED. Never hangs.
  void StopLink();
  bool RequestCommand(int32_t command, uintptr_t parameter);

  // The MsgId of the status text ("" for none).
  const char* StatusMsgId() const;

  int32_t Mode() const { return mode_.load(); }
  int32_t DeviceState() const { return devState_.load(); }
  bool InConfigMode() const { return devState_.load() >= DEV_CONFIG; }
  bool ConfigValid() const { return devState_.load() >= DEV_VALID; }
  void SetLeaveOnExit(bool on) { leaveOnExit_.store(on); }
  // On: also ends a wait of the link thread that an abort may end (the self-test's wait for the
  // stick).
  void SetAbortRequest(bool on);
  bool AbortRequested() const { return abortRequest_.load(); }
  void SetResetLimit(uint32_t ms) { resetLimitMs_.store(ms); }
  void SetSelfTestRules(SelfTestRules* rules) { rules_.store(rules); }
  void SetFlashProcedure(FlashProcedure procedure);
  // Called by the link thread at the start of every cycle, before its wait for a byte. Set it
  // while the link is stopped. The fuzz target hands its commands over from there, in step
  // with the thread; the user interface calls RequestCommand from its own thread instead.
  void SetCycleHook(std::function<void()> hook) { cycleHook_ = std::move(hook); }
  // From the cycle hook only (link thread): the thread ends after this cycle, as if stopped;
  // StopLink still joins it and closes the port.
  void EndThreadAfterCycle() { SetThreadMode(MODE_STOP); }

  std::string Identity() const;
  std::array<uint8_t, 2> FirmwareWord() const;
  std::array<uint8_t, 4> SignalStatus() const;
  std::string PortName() const;

  void ResetPages(int page);
  bool PageNeedsRead(int page) const;
  bool PageNeedsWrite(int page) const;
  bool AnyPageNeedsWrite() const;
  PageState PageStateOf(int page) const;
  int PageLength(int page) const;
  PageImage CopyDeviceImage() const;
  PageImage CopyEditImage() const;
  // Runs f on the edit image under the lock; only while no write is running.
  void EditImage(const std::function<void(PageImage&)>& f);

  bool PowerOn();
  bool PowerOff();
  int TogglePower();
  bool IsPowered() const { return powered_.load(); }

  // The device protocol; link thread only (public for the flash procedure and the tests).
  bool PresenceCheck();
  void LeaveConfigMode();
  bool ReadPage(int page);
  bool ErasePagePair(int page);
  bool WritePage(int page);
  bool PollSignal();
  bool SelfTestVersion(char command);
  bool RunSelfTestExchange(char command);
  bool WaitForData(uint32_t limitMs);
  bool WaitQuiet(uint32_t quietMs, uint32_t limitMs);
  int WaitForStrings(uint32_t limitMs, const std::vector<std::string>& texts);
  bool ReadAllPages();
  bool WriteAllPages();
  void Handshake();
  // Every page read twice and both replies compared (the read-back after a write always is).
  void SetVerifyReads(bool on) { verifyReads_.store(on); }

  SerialPort& Port() { return port_; }
  const LinkConfig& Config() const { return config_; }
  void SetDeviceState(int32_t state) { devState_.store(state); }
  void Notify(int32_t code, int32_t value, std::unique_ptr<std::vector<uint8_t>> block = {});
  // True when StopLink asked the thread to end; long waits end early then.
  bool StopRequested() const { return stopRequested_.load(); }

 private:
  void ThreadMain();
  bool SetThreadMode(int32_t mode);
  void RunCommand(int32_t command);
  void DiscardWaiting();
  bool ByteFollowsReply();
  bool FetchPage(int page, bool longPages, uint8_t* data, int& length);
  void RecoverBySupply();
  bool PresenceCheckQuiet();
  void CheckPowerOnTimer();
  void StopPowerOnTimer(bool report);
  bool SendBytes(const void* data, int length);
  int32_t NeededPagesInRange(bool forWrite) const;
  bool PageNeedsWriteLocked(int page) const;
  // A page's state (PAGE_NONE outside 0..kPageCount-1); imagesMutex_ held.
  PageState PageStateLocked(int page) const;
  void SetProgress(int percent);
  bool SleepUnlessStopping(uint32_t ms);
  bool WaitCycleByte(uint8_t& byte);

  SerialPort port_;
  std::thread thread_;
  std::atomic<NotificationSink*> sink_{nullptr};
  std::function<void()> cycleHook_;  // written only while the thread is not running
  LinkConfig config_;
  DeviceProfile profile_;

  std::atomic<int32_t> mode_{MODE_OFF};
  std::atomic<int32_t> devState_{DEV_NOPORT};
  std::atomic<uintptr_t> parameter_{0};
  std::atomic<bool> leaveOnExit_{false};
  std::atomic<bool> abortRequest_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<uint32_t> resetLimitMs_{0};
  std::atomic<SelfTestRules*> rules_{nullptr};
  std::atomic<bool> threadDone_{true};
  std::atomic<bool> powered_{false};
  std::atomic<bool> verifyReads_{false};
  // The device in configuration mode answered a power-up the link switched on (its supply is the
  // line's DTR); link thread: whether the one supply cycle for the device lost since was tried.
  std::atomic<bool> foundAtOwnPowerUp_{false};
  std::atomic<int64_t> poweredAtMs_{0};  // when the link last switched the supply on
  bool supplyCycleTried_ = false;
  bool readBackVerify_ = false;  // link thread: the read-back of a write verifies every page

  // Power-on timer: running flag and start time (steady clock, ms).
  std::atomic<bool> timerRunning_{false};
  std::atomic<int64_t> timerStartMs_{0};

  mutable std::mutex imagesMutex_;  // guards everything below
  std::string identity_;
  std::array<uint8_t, 2> firmware_{};
  std::array<uint8_t, 4> signal_{};
  std::array<PageState, kPageCount> pageState_{};
  std::array<int16_t, kPageCount> pageLength_{};
  PageImage deviceImage_{};
  PageImage editImage_{};
  FlashProcedure flash_;

  // Who may end the link thread's wait for input early besides StopLink, which ends any.
  enum class WaitEnd : uint8_t {
    None,     // the thread is not in such a wait
    Command,  // the cycle's wait for a byte: RequestCommand ends it
    Stop,     // only a stop ends it
    Abort,    // SetAbortRequest(true) ends it
  };
  // Enters a wait that end (and StopLink) may end; false when that has already happened.
  bool BeginWakeableWait(WaitEnd end);
  // Leaves it, taking back a wake that came too late for it.
  void EndWakeableWait();
  // Ends the thread's wait when it is one of end (None: any); caller holds cycleMutex_.
  void WakeWaitLocked(WaitEnd end);
  // Waits on the port until a byte waits or limitMs passed, unless end or a stop ends it first;
  // true when a byte waits or the port's status cannot be read.
  bool WaitInput(uint32_t limitMs, WaitEnd end);

  // The thread's wakeable wait: wakeable_ says which kind it is in, waitWoken_ that someone woke
  // it; both guarded by cycleMutex_. No wake outlives the wait it was meant for (it would end
  // an exchange's read).
  std::mutex cycleMutex_;
  WaitEnd wakeable_ = WaitEnd::None;
  bool waitWoken_ = false;

  std::mutex stopMutex_;  // one StartLink/StopLink at a time
  std::mutex doneMutex_;
  std::condition_variable doneCv_;
};

// The checksum byte sent after the data of a page write.
uint8_t PageChecksum(int page, const uint8_t* data, int length);

// The program's one link.
DutLink& TheLink();

}  // namespace lumo

// A simulated light curtain (TG5) or joystick controller (Jovix), written like its firmware.
//
// State model: the device owns its memory (kPageCount pages), its firmware-present flag, its
// signal bytes and self-test blocks; they outlive power cycles and lines. While attached to a
// DeviceLine it runs its firmware on a thread of its own, one session per power epoch:
//
//   Off -> Booting (bootDelayMs; a stream boot loader catches "." at 2400 baud meanwhile)
//       -> no firmware: "?" and the block boot loader, or the stream boot loader waiting for dots
//       -> prompt ("!" TG5, 0xFF Jovix) -> WaitWakeUp (10 blanks TG5, 30 "@" Jovix, within 1 s)
//       -> identity text -> Config (answers the commands) -> "q" -> Normal (answers nothing)
//   Config -> "!FlasH" -> (block loader devices) "?" -> BlockLoader
//   BlockLoader / StreamLoader -> image received -> firmware present -> Booting again
//   any state -> supply gone -> Off
//
// Configuration mode commands: "?" -> "!"; "v" -> firmware word; "2" -> the device's line goes
// to 2400 baud (with the 0xC0 feature; bytes at another rate are lost from then on); "q";
// "r" p -> 32 bytes; "R" p -> length-1, data (long pages only); "e" p ~p -> ACK (NAK 0x15 for a
// wrong complement or odd page); "w"/"W" p data checksum -> ACK when page + data + checksum sum
// to 0xA5, else NAK; "t" -> 4 signal bytes; "s"/"c" -> version, result block (the joystick first
// waits for its stick). A command whose next byte does not come within 500 ms is dropped.
//
//   Attach / Detach       run the firmware on a line / stop it (closes the line)
//   State / WaitForState  what the device is doing
//   Page / SetPage        memory of one page (its length follows the bytes with long pages)
//   FirmwarePresent ...   inspection and control for tests, all thread-safe
//   RefuseNextWrite       NAK the next page write, "-" the next boot-loader block, or no
//                         "s - Reset!" for the next stream image
//   RefuseNextErase       NAK the next erase (nothing erased)
//   IgnoreNextErase       no answer to the next erase (nothing erased)
//   ShortenPageReads      the next n page reads are answered one byte short
//   StrayByteInNextPageRead  the next page read's answer carries one byte more at a position
//                         (0: before it; its length or more: right behind it)
//   CorruptPageReads      the next n page reads' answers have one byte inverted, each another
//   KeepBits              from now on one byte keeps some of its bits whatever a page write
//                         brings (a cell that does not take every value; the write is ACKed)
//   Received              every byte the firmware received, in order (WaitForReceived)
//   SetTraceSink          a callback for every exchange (device thread)
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/device_line.h"
#include "sim/sim_profiles.h"

namespace lumo::sim {

enum class DeviceState : uint8_t {
  Off,
  Booting,
  WaitWakeUp,
  Normal,
  Config,
  SelfTest,
  BlockLoader,
  StreamLoader,
};
const char* DeviceStateName(DeviceState state);

// One trace event: bytes received or sent by the device, or a note on what it did.
struct TraceEvent {
  enum class Kind : uint8_t { Received, Sent, Note } kind;
  std::vector<uint8_t> bytes;
  std::string note;
};
using TraceSink = std::function<void(const TraceEvent&)>;

// What a boot loader received.
struct FlashRecord {
  BootLoaderKind kind = BootLoaderKind::Block;
  uint8_t lead = 0;           // block dialogue only
  std::vector<uint8_t> data;  // the blocks one after the other, or the stream
};

class SimDevice {
 public:
  explicit SimDevice(const SimOptions& options);
  ~SimDevice();
  SimDevice(const SimDevice&) = delete;
  SimDevice& operator=(const SimDevice&) = delete;

  void Attach(std::shared_ptr<DeviceLine> line);
  void Detach();

  SimOptions Options() const;
  DeviceState State() const;
  // Waits until the device is in the state (true) or timeoutMs passed (false).
  bool WaitForState(DeviceState state, int timeoutMs) const;

  std::vector<uint8_t> Page(int page) const;
  void SetPage(int page, const std::vector<uint8_t>& bytes);
  bool FirmwarePresent() const;
  void SetFirmwarePresent(bool present);
  void SetSignal(const std::array<uint8_t, 4>& bytes);
  // The largest distance the signal wanders from the set values (0: fixed answers).
  void SetSignalWander(uint8_t range);
  void SetSelfTestBlock(char command, const std::vector<uint8_t>& block);
  void RefuseNextWrite();
  void RefuseNextErase();
  void IgnoreNextErase();
  void ShortenPageReads(int count = 1);
  void StrayByteInNextPageRead(size_t position);
  void CorruptPageReads(int count = 1);
  // Every later page write leaves the bits of mask in (page, offset) at those of bits.
  void KeepBits(int page, size_t offset, uint8_t mask, uint8_t bits);
  void MoveStick();
  // The rate the device's own line runs at: 0 follows the program, 2400 after "2".
  uint32_t DeviceBaud() const;

  std::vector<uint8_t> Received() const;
  // Waits until the firmware has received at least count bytes since the last ClearReceived.
  bool WaitForReceived(size_t count, int timeoutMs) const;
  void ClearReceived();
  std::optional<FlashRecord> LastFlash() const;
  int FlashCount() const;
  void SetTraceSink(TraceSink sink);

 private:
  enum class Next { Restart, Normal, BlockLoader, StreamLoader, StreamWaitDots };

  void Run(std::shared_ptr<DeviceLine> line);
  void Session();
  Next Boot();
  Next Configuration();
  Next BlockLoaderDialogue();
  Next StreamLoaderDialogue(bool waitForDots);
  void NormalOperation();

  int Recv(int timeoutMs);
  bool RecvArg(uint8_t& byte);
  void Send(const std::vector<uint8_t>& bytes);
  void Send(const std::string& text);
  void Discard(int ms);
  void Note(const std::string& text);
  void SetState(DeviceState state);

  void ReadPage(bool longForm);
  void Erase();
  void WritePage(bool longForm);
  void SelfTest(char command);
  std::array<uint8_t, 4> NextSignal();
  bool TakeRefusal();

  mutable std::mutex mutex_;
  mutable std::condition_variable stateChanged_;
  SimOptions options_;
  std::vector<std::vector<uint8_t>> memory_;
  std::vector<uint8_t> blockS_, blockC_;
  DeviceState state_ = DeviceState::Off;
  bool refuseNext_ = false;
  enum class EraseFault : uint8_t { None, Refuse, Ignore } eraseFault_ = EraseFault::None;
  int shortenReads_ = 0;
  int corruptReads_ = 0;
  size_t corruptAt_ = 0;  // moves on with every corrupted answer
  std::optional<size_t> strayAt_;
  struct KeptBits {
    int page;
    size_t offset;
    uint8_t mask, bits;
  };
  std::vector<KeptBits> keptBits_;  // applied to every page write, in order
  std::vector<uint8_t> received_;
  std::optional<FlashRecord> lastFlash_;
  int flashCount_ = 0;
  TraceSink trace_;
  std::atomic<bool> stickMoved_{false};
  std::atomic<uint32_t> deviceBaud_{0};
  uint32_t wanderSeed_ = 0x2545F491u;  // guarded by mutex_
  int wanderWeak_ = 0;                 // offsets from the set values, guarded by mutex_
  int wanderStrong_ = 0;

  // Device thread only.
  std::shared_ptr<DeviceLine> line_;
  uint64_t epoch_ = 0;
  std::thread thread_;
};

}  // namespace lumo::sim

// The link against a device whose every answer comes from a tape: the link's fuzz target and
// its tests.
//
// The tape is the fuzzer's input: a header, then the device's answers in order.
//   byte 0   bit 0 joystick controller (else light curtain), bit 1 the interface echoes,
//            bit 2 pages read when the device is found, bit 3 every page read twice,
//            bit 4 the flash prompt is answered Ok (else Cancel), bit 5 "q" when the link ends,
//            bit 6 the firmware image is a stream image (else a block image)
//   byte 1   the self-test rules: bits 0-3 result block length / 8, bits 4-5 version size (0: no
//            version rule), bit 6 the version passes its check
//   byte 2   bits 0-2 the number of commands; that many command bytes follow, each naming
//            (byte % 7) signal poll, read, write, firmware update, self-test "s", self-test "c",
//            leave; a write changes a byte of the page (byte / 7) counted from the first
//   then     answers: a length byte L and L bytes (L of 0xE0 to 0xEE: ((L - 0xE0) << 8) + the next
//            byte is the length), or 0xEF: the adapter is unplugged from then on
// Every request the link sends (a write to the line) and every switch of the supply on takes the
// next answer; the device says nothing more. Time is the virtual clock (platform/clock.h): a
// dialogue of seconds runs in microseconds, and a wait that nothing ends only moves the clock.
//
// Commands are handed over from the link's cycle hook, in step with the link thread: the next
// one when the link is idle, nothing is waiting to be read and the device is in configuration
// mode (a firmware update also without it); a command the link cannot take once the supply is
// on is skipped.
//
//   TapeRun       what the link did with a tape
//   RunTape       one run: start the link, hand over the commands, stop it; never hangs
//   RecordTape    a tape of a run against the in-process simulated device (the fuzz seeds)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "definitions/pardef.h"

namespace lumo::fuzz {

struct TapeRun {
  std::string identity;
  std::vector<int32_t> notifications;  // codes in the order posted
  PageImage deviceImage{};
  std::vector<int> readPages;   // pages the link holds as read at the end
  bool stoppedCleanly = false;  // the link is off and its port closed after StopLink
  bool progressInRange = true;  // every DN_PROGRESS between 0 and 100
  size_t answersUsed = 0;       // answers the link asked for
};

TapeRun RunTape(const uint8_t* data, size_t size);

// The header's command bytes.
enum TapeCommand : uint8_t {
  kTapeSignal = 0,
  kTapeRead = 1,
  kTapeWrite = 2,
  kTapeFlash = 3,
  kTapeSelfTestS = 4,
  kTapeSelfTestC = 5,
  kTapeLeave = 6,
};

// Runs the link against the simulated device simPort (echo off, no pacing, boot delay set
// short by the caller) with the header's settings and commands, and records every answer in
// tape form after the header; recorded (optional) receives what that link did. Real clock: call
// it while the virtual clock is off.
std::vector<uint8_t> RecordTape(const std::string& simPort, const std::vector<uint8_t>& header,
                                TapeRun* recorded = nullptr);

}  // namespace lumo::fuzz

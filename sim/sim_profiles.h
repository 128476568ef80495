// What a simulated device is: its options and its factory contents.
//
// Firmware word (answer to "v"): byte 0 = main number (0 to 31) with the feature bits OR-ed in
// (long pages 0xA0, 2400-baud switch 0xC0, FP8 references 0x80), byte 1 = secondary number.
//
// Memory of the light curtain (TG5), as the reference definition reads it; pages 0 to 4:
//   page 0   beam references, one byte per beam. Short pages: 32 bytes (32 beams); long pages:
//            beamCount bytes (1 to 256), told by the length byte of "R".
//   page 1   byte 0: software gain in bits 0-3 ([SW-Amp]), hardware gain in bit 4 ([HW-Amp]).
//   page 2   active beams. Long pages (bitmap): beam b is bit (b-1)/32 of byte (b-1)%32.
//            Short pages (bytes): byte b-1 is 255 for an active beam.
//   page 3   byte 0 last beam ($(LetzterStrahl)), byte 1 first beam ($(ErsterStrahl)).
//   page 4   byte 0 bit 0 output function, 1 swap outputs, 2 diagonal beams, 3 relative
//            threshold, 4 tolerated defective beams, 5 autoblank delay [s], 6 autoblanked beams,
//            7 weak signal threshold, 8 weak signal delay [s], 16 error delay.
//   Pages 1 to 4 are 32 bytes long. Unused bytes read 0xFF (erased flash).
//
// Memory of the joystick controller (Jovix); pages 0 to 4 of 32 bytes, one byte per parameter
// at offsets 0 to 9 of page 0 (see kJovixParameters in sim_profiles.cpp for names and values):
//   0 dead zone, 1 gain X, 2 gain Y, 3 centre X (signed), 4 centre Y (signed), 5 filter,
//   6 output mode, 7 ramp time, 8 bus address, 9 options. Pages 1 to 4 are erased (0xFF).
//
// Self-test result blocks: see examples/Limits_TG5.txt and examples/Limits_Jovix.txt, which
// describe exactly the blocks built here (TG5: version 2 in 2 bytes, 39-byte block; Jovix:
// version 1 in 1 byte, 12-byte block).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lumo::sim {

enum class DeviceKind : uint8_t { Tg5, Jovix };
enum class BootLoaderKind : uint8_t { Block, Stream };

constexpr int kPageCount = 5;         // pages 0 to 4
constexpr int kShortPageLength = 32;  // bytes of a short page
constexpr int kMaxPageLength = 256;   // longest long page

struct SimOptions {
  DeviceKind kind = DeviceKind::Tg5;
  bool firmwarePresent = true;
  BootLoaderKind bootLoader = BootLoaderKind::Block;  // TG5 block, Jovix stream
  uint8_t firmwareMain = 4;                           // 0 to 31
  uint8_t firmwareMinor = 2;
  bool longPages = false;   // firmware word bits 0xA0
  bool switch2400 = false;  // firmware word bits 0xC0
  bool fp8 = false;         // firmware word bit 0x80
  std::string identity;     // sent after the wake-up sequence (at most 50 bytes are sent)
  uint16_t beamCount = 32;  // TG5 with long pages: page 0 length (1 to 256)
  int bootDelayMs = 300;    // supply on to prompt (the restart time a self-test measures)
  int eraseMs = 30;         // erasing a page pair, before the acknowledgement
  int writePageMs = 20;     // programming a page, before the acknowledgement
  int selfTestMs = 100;     // version to result block
  int stickWaitMs = 1500;   // Jovix self-test: until the stick is moved; negative: MoveStick()
  uint16_t selfTestVersion = 2;
  uint8_t versionSize = 2;  // bytes of the version, least significant first (0 to 2)
  std::array<uint8_t, 4> signal{0x00, 0x13, 10, 200};  // answer to "t"
  // Each answer to "t" moves the weakest and strongest signal a few steps (a fixed-seed walk
  // within +-signalWander of the set values), like a receiver on a moving target; 0 keeps them.
  uint8_t signalWander = 0;
  // The rate the device talks at after a start and in its block boot loader; 0 hears whatever
  // rate the program set (a device that would fit any definition).
  uint32_t homeBaud = 0;
  bool flashSemantics = true;  // a page write only clears bits; the erase sets them all
  // The interface between the program and the device, not the device: whether it returns every
  // byte the program sends, and whether bytes take their time on the wire (10 bit times at the
  // line's rate each way; off only in tests whose subject is not the line's timing).
  bool echo = false;
  bool pace = true;
  // The device has a supply of its own: it runs from the port's open on, and DTR switches
  // nothing.
  bool externalSupply = false;
};

SimOptions DefaultOptions(DeviceKind kind);

// The two bytes answered to "v".
std::array<uint8_t, 2> FirmwareWord(const SimOptions& options);

// Factory memory: kPageCount pages, each at its length.
std::vector<std::vector<uint8_t>> FactoryMemory(const SimOptions& options);

// The result block of a self-test with command 's' or 'c'.
std::vector<uint8_t> FactorySelfTestBlock(const SimOptions& options, char command);

}  // namespace lumo::sim

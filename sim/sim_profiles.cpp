#include "sim/sim_profiles.h"

#include <algorithm>
#include <cstddef>

namespace lumo::sim {
namespace {

constexpr uint8_t kErased = 0xFF;
constexpr uint8_t kLongPageBits = 0xA0;
constexpr uint8_t kSwitch2400Bits = 0xC0;
constexpr uint8_t kFp8Bit = 0x80;
constexpr uint8_t kMainNumberMask = 0x1F;
constexpr uint8_t kBeamActiveByte = 255;
constexpr uint8_t kReferenceBase = 18;  // beam references 18 to 24, about 10 m range
constexpr int kReferenceSpread = 7;

struct ByteRow {
  int page;
  int offset;
  uint8_t value;
};

// Light curtain settings: page, offset, factory value.
constexpr ByteRow kTg5Settings[] = {
    {1, 0, 0x13},  // software gain 3, hardware gain high
    {4, 0, 0x01},  // output function: active interrupted
    {4, 1, 1},     // swap outputs: swapped
    {4, 2, 1},     // parallel + diagonal
    {4, 3, 128},   // relative threshold
    {4, 4, 2},     // tolerated defective beams
    {4, 5, 10},    // autoblank delay [s]
    {4, 6, 4},     // autoblanked beams
    {4, 7, 60},    // weak signal threshold
    {4, 8, 30},    // weak signal delay [s]
    {4, 16, 5},    // error delay
};

// Joystick parameters on page 0: offset, factory value, what it is.
struct JovixParameter {
  int offset;
  uint8_t value;
  const char* name;
};
constexpr JovixParameter kJovixParameters[] = {
    {0, 8, "dead zone"},   {1, 100, "gain X"},   {2, 100, "gain Y"},    {3, 0x03, "centre X"},
    {4, 0x02, "centre Y"}, {5, 2, "filter"},     {6, 1, "output mode"}, {7, 20, "ramp time"},
    {8, 1, "bus address"}, {9, 0x00, "options"},
};

// Self-test blocks, laid out as examples/Limits_TG5.txt and examples/Limits_Jovix.txt read them.
constexpr uint8_t kTg5Supply = 240;      // 24.0 V
constexpr uint8_t kTg5Temperature = 23;  // degrees, signed
constexpr uint8_t kTg5BeamBase = 12;
constexpr int kTg5BlockBeams = 32;
constexpr int kTg5FeedbackBase = 120;  // beam feedback values 120 to 179
constexpr int kTg5FeedbackSpread = 60;
constexpr uint16_t kTg5TransmitterMa = 95;
constexpr uint16_t kTg5ReceiverMa = 40;
constexpr int16_t kJovixTravel = 1000;  // stick end positions, signed
constexpr uint8_t kJovixSupply = 120;   // 12.0 V

void PutLe16(std::vector<uint8_t>& block, uint16_t value) {
  block.push_back(static_cast<uint8_t>(value & 0xFF));
  block.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> Tg5Block() {
  std::vector<uint8_t> block{kTg5Supply, kTg5Temperature, kTg5BeamBase};
  for (int i = 0; i < kTg5BlockBeams; ++i)
    block.push_back(static_cast<uint8_t>(kTg5FeedbackBase + (i * 7) % kTg5FeedbackSpread));
  PutLe16(block, kTg5TransmitterMa);
  PutLe16(block, kTg5ReceiverMa);
  return block;
}

std::vector<uint8_t> JovixBlock(char command) {
  std::vector<uint8_t> block;
  const uint16_t low = static_cast<uint16_t>(-kJovixTravel);
  const uint16_t high = static_cast<uint16_t>(kJovixTravel);
  for (uint16_t v : {low, high, low, high}) PutLe16(block, v);
  // Self calibration ('c') centres the stick; the plain test reports the stored offsets.
  block.push_back(command == 'c' ? 0 : 0x03);
  block.push_back(command == 'c' ? 0 : 0xFE);
  block.push_back(1);  // the stick was moved to its limits
  block.push_back(kJovixSupply);
  return block;
}

}  // namespace

SimOptions DefaultOptions(DeviceKind kind) {
  SimOptions options;
  options.kind = kind;
  if (kind == DeviceKind::Tg5) {
    options.bootLoader = BootLoaderKind::Block;
    options.identity = "\r\nTG5 Lichtgitter\tSN 004711\r\n";
    options.selfTestVersion = 2;
    options.versionSize = 2;
  } else {
    options.bootLoader = BootLoaderKind::Stream;
    options.identity = "Jovix JC-2\r\n";
    options.firmwareMain = 1;
    options.firmwareMinor = 7;
    options.selfTestVersion = 1;
    options.versionSize = 1;
  }
  return options;
}

std::array<uint8_t, 2> FirmwareWord(const SimOptions& options) {
  uint8_t byte0 = options.firmwareMain & kMainNumberMask;
  if (options.longPages) byte0 |= kLongPageBits;
  if (options.switch2400) byte0 |= kSwitch2400Bits;
  if (options.fp8) byte0 |= kFp8Bit;
  return {byte0, options.firmwareMinor};
}

std::vector<std::vector<uint8_t>> FactoryMemory(const SimOptions& options) {
  std::vector<std::vector<uint8_t>> pages(kPageCount,
                                          std::vector<uint8_t>(kShortPageLength, kErased));
  if (options.kind == DeviceKind::Jovix) {
    for (const auto& p : kJovixParameters) pages[0][static_cast<size_t>(p.offset)] = p.value;
    return pages;
  }
  const auto beams = static_cast<size_t>(
      options.longPages ? std::clamp<int>(options.beamCount, 1, kMaxPageLength) : kShortPageLength);
  pages[0].assign(beams, 0);
  for (size_t b = 0; b < beams; ++b)
    pages[0][b] = static_cast<uint8_t>(kReferenceBase + b % kReferenceSpread);
  if (options.longPages) std::fill(pages[2].begin(), pages[2].end(), 0);
  for (size_t b = 1; b <= beams; ++b) {
    if (options.longPages)
      pages[2][(b - 1) % kShortPageLength] |= static_cast<uint8_t>(1u << ((b - 1) / 32));
    else
      pages[2][b - 1] = kBeamActiveByte;
  }
  pages[3][0] = static_cast<uint8_t>(beams > 255 ? 255 : beams);
  pages[3][1] = 1;
  for (const auto& row : kTg5Settings)
    pages[static_cast<size_t>(row.page)][static_cast<size_t>(row.offset)] = row.value;
  return pages;
}

std::vector<uint8_t> FactorySelfTestBlock(const SimOptions& options, char command) {
  return options.kind == DeviceKind::Tg5 ? Tg5Block() : JovixBlock(command);
}

}  // namespace lumo::sim

// Reader benchmarks: the time to read the largest inputs the program accepts, and how that time
// grows with the input.
//
// State model: none kept. Each reader gets three generated inputs, a quarter, a half and the
// whole of the largest size (the whole is the limit a file may reach: 255 records of 255
// states, 1023 blocks, 1 MiB of stream); each is read kRepeats times and the best time is
// taken. Times are the reading thread's CPU time: on a machine shared with other work, wall
// time mostly measures the others. A reader grows linearly when doubling the input about doubles
// the time: the growth printed is time(1x) / time(0.5x) and time(0.5x) / time(0.25x), 2.0 for a
// linear reader.
//
//   readers_bench DIR     writes its inputs into DIR and prints readers.definition_ms,
//                         readers.block_file_ms, readers.stream_file_ms, readers.rules_ms
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <time.h>

#include "definitions/definition.h"
#include "definitions/loader.h"
#include "firmware/firmware_file.h"
#include "platform/message_box.h"
#include "selftest/limits.h"

namespace lumo {
namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGoalMs = 50.0;
constexpr int kRepeats = 9;
constexpr int kRecords = 252;  // with the three setting lines: 255 records, the most allowed
constexpr int kStates = 255;
constexpr int kBlocks = 1023;
constexpr size_t kStreamSize = 1024 * 1024;
constexpr int kRules = 10000;
constexpr int kOffsetsPerPage = 32;
constexpr int kStatesPerLine = 16;
// Growth above this for a doubled input counts as faster than linear (timer noise included).
constexpr double kLinearGrowthLimit = 2.6;
constexpr int kScales[] = {4, 2, 1};  // input divided by this: 0.25x, 0.5x, 1x

std::string DefinitionText(int records) {
  std::string text =
      "[DUT]            = \"Bench\"\r\n"
      "[DUT_DisplayAs]  = \"Bench device\"\r\n"
      "[Baudrate]       = \"1200, 8, N, 1\"\r\n";
  for (int r = 0; r < records; ++r) {
    text += "p" + std::to_string(r) + " = \"Parameter " + std::to_string(r) + "\", " +
            std::to_string(r / kOffsetsPerPage) + ":" + std::to_string(r % kOffsetsPerPage);
    // A logical line holds at most 2047 characters: short state names, 16 states a line.
    for (int s = 0; s < kStates; ++s) {
      text += s % kStatesPerLine == 0 ? ",\r\n    " : ",";
      if (s == 0) text += "*";
      text += std::to_string(s) + ":" + static_cast<char>('a' + s % 26) +
              static_cast<char>('A' + (s + r) % 26);
    }
    text += "\r\n";
  }
  return text;
}

std::string BlockFileText(int blocks) {
  std::string text = "5A\r\n";
  char hex[4];
  for (int b = 0; b < blocks; ++b) {
    for (uint32_t i = 0; i < kFlashBlockSize; ++i) {
      std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>((b * 31 + i * 7) & 0xFF));
      text += hex;
      text += i + 1 < kFlashBlockSize ? " " : "\r\n";
    }
  }
  return text;
}

std::string StreamFileText(size_t size) {
  std::string text;
  text.reserve(size);
  char line[64];
  for (unsigned n = 0; text.size() < size; n += 16) {
    std::snprintf(line, sizeof line, "J%04X:%08X%08X%08X%08X\r\n", n & 0xFFFF, n * 2654435761u,
                  n ^ 0x5A5A5A5Au, n * 40503u, ~n);
    text += line;
  }
  text.resize(size);
  return text;
}

// Rules referring back to earlier rules, in five variants; the version rule first.
std::string RulesText(int rules) {
  std::string text = "0, -1, 0, 2, \"Version\", 1, 3,\r\n";
  static const char kOps[] = {'+', '-', '*', '/', '_'};
  for (int n = 1; n <= rules; ++n) {
    text += "0, " + std::to_string(n) + ", " + std::to_string(2 + (n % 200)) + ", 2, ";
    if (n > 1) {
      int reference = 1 + (n * 7919) % (n - 1);
      text += std::string(1, kOps[n % 5]) + "(" + std::to_string(reference) + "), ";
    }
    text += "\"Rule " + std::to_string(n) + "\", 0, 65535, \"Hint " + std::to_string(n) + "\"\r\n";
  }
  return text;
}

bool WriteFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  return static_cast<bool>(out);
}

// CPU time of this thread in ms: what the reader costs, without the time other programs on a
// shared machine take the processor away (the files are in the page cache after writing).
double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double RunMs(const std::function<bool()>& step) {
  double start = ThreadCpuMs();
  if (!step()) return -1;
  return ThreadCpuMs() - start;
}

// Times the reader on the three inputs made by make(divisor) and prints the figure. The three
// take turns, kRepeats rounds, and each keeps its best time: a busy moment of the machine then
// slows one round of all three rather than all runs of one. The first run of the whole input
// (a cold heap, as in a program that reads its file once) is printed as well.
void Figure(const char* name, const char* what,
            const std::function<std::function<bool()>(int divisor)>& make,
            MessageRecorder& messages) {
  std::function<bool()> steps[3];
  for (int i = 0; i < 3; ++i) steps[i] = make(kScales[i]);
  double first = RunMs(steps[2]);
  double ms[3] = {1e300, 1e300, first};
  for (int round = 0; round < kRepeats && first >= 0; ++round) {
    for (int i = 0; i < 3; ++i) {
      double t = RunMs(steps[i]);
      if (t < 0) {
        auto boxes = messages.Boxes();
        std::string message = boxes.empty() ? "" : boxes.back().text;
        std::printf("%s: n/a  (the reader refused the input at 1/%d: %s)\n", name, kScales[i],
                    message.c_str());
        return;
      }
      ms[i] = std::min(ms[i], t);
    }
  }
  if (first < 0) {
    std::printf("%s: n/a  (the reader refused the whole input)\n", name);
    return;
  }
  double growthLow = ms[0] > 0 ? ms[1] / ms[0] : 0;
  double growthHigh = ms[1] > 0 ? ms[2] / ms[1] : 0;
  bool linear = growthLow <= kLinearGrowthLimit && growthHigh <= kLinearGrowthLimit;
  std::printf(
      "%s: %.2f  (%s, best of %d; goal < %.0f ms: %s; first read %.2f ms; 0.25x %.2f ms, 0.5x "
      "%.2f ms, 1x %.2f ms; growth per doubling %.2f, %.2f: %s)\n",
      name, ms[2], what, kRepeats, kGoalMs, ms[2] < kGoalMs ? "met" : "NOT met", first, ms[0],
      ms[1], ms[2], growthLow, growthHigh, linear ? "linear" : "FASTER than linear");
}

}  // namespace
}  // namespace lumo

int main(int argc, char** argv) {
  using namespace lumo;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/";
  MessageRecorder messages;
  ScopedMessageSink sink(&messages);

  Figure(
      "readers.definition_ms",
      "255 records: 3 settings and 252 parameters of 255 states each, from a file",
      [&](int divisor) {
        std::string path = dir + "definition_" + std::to_string(divisor) + ".txt";
        WriteFile(path, DefinitionText(kRecords / divisor));
        return [path]() -> bool {
          std::ifstream in(path, std::ios::binary);
          return ParseDefinitionFile(in) != nullptr;
        };
      },
      messages);

  Figure(
      "readers.block_file_ms", "1023 blocks",
      [&](int divisor) {
        std::string path = dir + "blocks_" + std::to_string(divisor) + ".tg5";
        WriteFile(path, BlockFileText(kBlocks / divisor));
        return [path, divisor]() -> bool {
          FirmwareImage image;
          return ReadBlockFile(path, image) == 1 &&
                 image.blockCount == static_cast<uint32_t>(kBlocks / divisor);
        };
      },
      messages);

  Figure(
      "readers.stream_file_ms", "1 MiB stream file",
      [&](int divisor) {
        std::string path = dir + "stream_" + std::to_string(divisor) + ".bfl";
        WriteFile(path, StreamFileText(kStreamSize / static_cast<size_t>(divisor)));
        return [path]() -> bool {
          FirmwareImage image;
          return ReadStreamFile(path, image) == 1 && image.byteCount > 0;
        };
      },
      messages);

  Figure(
      "readers.rules_ms", "10 000 rules with references: read, laid out, every rule evaluated",
      [&](int divisor) {
        std::string path = dir + "rules_" + std::to_string(divisor) + ".txt";
        WriteFile(path, RulesText(kRules / divisor));
        return [path]() -> bool {
          LimitTable table;
          table.SetDeviceType(kLightCurtain);
          std::ifstream in(path, std::ios::binary);
          if (!table.Read(in) || table.Prepare() <= 0) return false;
          for (LimitRule& rule : table.Rules()) table.Evaluate(rule);
          return true;
        };
      },
      messages);
  return 0;
}

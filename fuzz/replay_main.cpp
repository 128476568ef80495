// Replays fuzz inputs without libFuzzer: every file named on the command line, and every file
// in every folder named, goes once through the target's LLVMFuzzerTestOneInput. A crash or a
// sanitizer report ends the process and fails the test; a folder without inputs fails too, so a
// lost corpus does not pass unnoticed.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

bool Replay(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, so that a read past its end is seen by the sanitizers.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(input.data(), input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", argv[0]);
    return 2;
  }
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg(argv[i]);
    std::error_code error;
    if (std::filesystem::is_directory(arg, error)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      if (files.empty()) {
        std::fprintf(stderr, "no inputs in %s\n", argv[i]);
        return 1;
      }
      for (const auto& f : files) count += Replay(f) ? 1 : 0;
    } else if (!Replay(arg)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 1;
    } else {
      ++count;
    }
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}

// For tests of the firmware update: made-up images, and a power prompt that answers as the test
// says once it has been shown.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "firmware/flash.h"

namespace lumo::test {

// A block image of the given number of blocks; every byte differs from its neighbours.
inline std::shared_ptr<FirmwareImage> BlockImage(uint32_t blocks, uint8_t lead = 0x5A) {
  auto image = std::make_shared<FirmwareImage>();
  image->leadByte = lead;
  image->blockCount = blocks;
  for (uint32_t i = 0; i < blocks * kFlashBlockSize; ++i) {
    image->data.push_back(static_cast<uint8_t>(i * 7 + 3));
  }
  return image;
}

// A stream image of the given length, in printable letters.
inline std::shared_ptr<FirmwareImage> StreamImage(uint32_t bytes) {
  auto image = std::make_shared<FirmwareImage>();
  image->byteCount = bytes;
  for (uint32_t i = 0; i < bytes; ++i) image->data.push_back(static_cast<uint8_t>('A' + i % 26));
  return image;
}

// What the prompt showed and how it answers; shared between the test and the prompts the flash
// procedure makes (on the link thread).
struct PromptScript {
  std::atomic<PromptAnswer> answer{PromptAnswer::None};
  std::atomic<int> shown{0};
  std::atomic<int> alive{0};  // prompts made and not yet destroyed
  std::mutex mutex;
  std::condition_variable changed;  // shown or alive changed (under mutex)
  std::string title, text;

  // Waits until the prompt has been shown this often; ends as soon as it has.
  bool WaitShown(int times, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return shown.load() >= times; });
  }
  // Waits until every prompt made has been destroyed.
  bool WaitGone(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, limit, [&] { return alive.load() == 0; });
  }
};

class ScriptedPrompt : public FlashPrompt {
 public:
  explicit ScriptedPrompt(PromptScript& script) : script_(script) { Count(script_.alive, +1); }
  ~ScriptedPrompt() override { Count(script_.alive, -1); }
  void Show(const std::string& title, const std::string& text) override {
    std::lock_guard lock(script_.mutex);
    script_.title = title;
    script_.text = text;
    ++script_.shown;
    script_.changed.notify_all();
  }
  PromptAnswer Answer() override { return script_.answer.load(); }

 private:
  void Count(std::atomic<int>& counter, int step) {
    std::lock_guard lock(script_.mutex);
    counter += step;
    script_.changed.notify_all();
  }
  PromptScript& script_;
};

}  // namespace lumo::test

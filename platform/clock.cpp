#include "platform/clock.h"

#include <atomic>
#include <thread>

namespace lumo {
namespace {

std::atomic<bool> gVirtual{false};
// Nanoseconds on the virtual clock; it starts far from zero, as the steady clock does, so that
// "a long time ago" computed from it never goes below zero.
constexpr int64_t kVirtualStartNs = int64_t{1} << 40;
std::atomic<int64_t> gVirtualNs{kVirtualStartNs};

}  // namespace

LinkClock::time_point LinkClock::now() noexcept {
  if (gVirtual.load(std::memory_order_relaxed))
    return time_point(duration(gVirtualNs.load(std::memory_order_relaxed)));
  return time_point(
      std::chrono::duration_cast<duration>(std::chrono::steady_clock::now().time_since_epoch()));
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(LinkClock::now().time_since_epoch())
      .count();
}

void SleepFor(LinkClock::duration span) {
  if (span <= LinkClock::duration::zero()) return;
  if (gVirtual.load(std::memory_order_relaxed)) {
    AdvanceVirtualClock(span);
    return;
  }
  std::this_thread::sleep_for(span);
}

void SleepMs(int64_t ms) {
  SleepFor(std::chrono::milliseconds(ms));
}

void UseVirtualClock(bool on) {
  gVirtual.store(on);
}

bool VirtualClockActive() {
  return gVirtual.load(std::memory_order_relaxed);
}

void AdvanceVirtualClock(LinkClock::duration span) {
  if (span > LinkClock::duration::zero())
    gVirtualNs.fetch_add(span.count(), std::memory_order_relaxed);
}

}  // namespace lumo

// The clock every wait of the link reads.
//
// State: process-wide, one of two sources. By default the steady clock, and a sleep waits.
// A virtual clock instead (the link's fuzz target, and tests whose subject is not time): it
// stands still until a sleep or a driver's wait for a byte moves it on, so that a dialogue
// with pauses of seconds runs in microseconds. Switch before any link thread runs.
//
//   LinkClock            a std::chrono clock on the chosen source (deadlines, durations)
//   NowMs                its milliseconds
//   SleepFor, SleepMs    wait that long (virtual: move the clock on and return at once)
//   UseVirtualClock      choose the source
//   VirtualClockActive   whether the virtual clock is the source
//   AdvanceVirtualClock  move the virtual clock on (a virtual device's wait that timed out)
#pragma once

#include <chrono>
#include <cstdint>

namespace lumo {

struct LinkClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<LinkClock>;
  static constexpr bool is_steady = true;
  static time_point now() noexcept;
};

int64_t NowMs();
void SleepFor(LinkClock::duration span);
void SleepMs(int64_t ms);
inline void SleepUntil(LinkClock::time_point when) {
  SleepFor(when - LinkClock::now());
}

void UseVirtualClock(bool on);
bool VirtualClockActive();
void AdvanceVirtualClock(LinkClock::duration span);

}  // namespace lumo

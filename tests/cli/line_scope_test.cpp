// The production line's stop handlers last as long as the line runs, and the handlers that were
// there before come back at its end.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>

#include "cli/stop_signal.h"

namespace {

std::atomic<int> gSentinelCalls{0};

extern "C" void Sentinel(int) {
  gSentinelCalls.fetch_add(1);
}

struct SentinelHandlers {
  SentinelHandlers() {
    struct sigaction action {};
    action.sa_handler = Sentinel;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
  }
  ~SentinelHandlers() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    lumo::cli::ClearStopRequest();
  }
  struct sigaction previousInt {};
  struct sigaction previousTerm {};
};

TEST(StopSignalScope, CatchesStopsWhileItLastsAndGivesBackThePreviousHandlers) {
  using namespace lumo::cli;
  SentinelHandlers sentinel;
  ClearStopRequest();
  gSentinelCalls = 0;
  {
    StopSignalScope scope;
    raise(SIGTERM);
    EXPECT_TRUE(StopRequested());
    EXPECT_EQ(StopSignal(), SIGTERM);
    EXPECT_EQ(gSentinelCalls.load(), 0);
  }
  // The stop seen during the scope stays noted for the exit status.
  EXPECT_EQ(ExitAfterStop(0), kExitTerminated);
  ClearStopRequest();
  raise(SIGINT);
  raise(SIGTERM);
  EXPECT_EQ(gSentinelCalls.load(), 2);
  EXPECT_FALSE(StopRequested());
}

}  // namespace

#include "platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "tamsor.h"

namespace tamsor {
namespace {

TEST(ReadMonotonicClock, NeverGoesBackAndKeepsMicrosecondsInRange) {
  timeval previous = ReadMonotonicClock();
  for (int i = 0; i < 100000; ++i) {
    const timeval now = ReadMonotonicClock();
    ASSERT_GE(now.tv_usec, 0);
    ASSERT_LT(now.tv_usec, 1000000);
    ASSERT_GE(Tamsor::ElapsedSeconds(previous, now), 0.0);
    previous = now;
  }
  // It keeps time with the C++ library's steady clock, read around it.
  using std::chrono::steady_clock;
  const steady_clock::time_point outer_start = steady_clock::now();
  const timeval start = ReadMonotonicClock();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const timeval end = ReadMonotonicClock();
  const std::chrono::duration<double> outer = steady_clock::now() - outer_start;
  EXPECT_GE(Tamsor::ElapsedSeconds(start, end), 0.099);
  EXPECT_LE(Tamsor::ElapsedSeconds(start, end), outer.count() + 0.001);
}

// The shield is a handler, which the child's start resets to the default,
// so the child reacts as it would untimed; for the same reason an ignore
// the caller handed down stays, for the child to inherit.
TEST(ProcessSignal, InstallsAHandlerButKeepsTheCallersIgnores) {
  const int shielded[] = {
      SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM, SIGABRT, ConsoleBreakSignal()};
  for (const bool ignored : {false, true}) {
    for (const int signum : shielded) {
      std::signal(signum, ignored ? SIG_IGN : SIG_DFL);
    }
    ProcessSignal();
    for (const int signum : shielded) {
      EXPECT_TRUE(std::signal(signum, SIG_DFL) ==
                  (ignored ? SIG_IGN : &BlockTermSignal))
          << "signal " << signum << (ignored ? ", ignored before" : "");
    }
  }
}

}  // namespace
}  // namespace tamsor

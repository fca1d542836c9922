// The Windows platform layer on the test's own process, whose CPU time Wine
// accounts (a child's it does not).
#include <gtest/gtest.h>
#include <windows.h>

#include <csignal>

#include "platform.h"
#include "tamsor.h"

namespace tamsor {
namespace {

volatile unsigned long long sink;

TEST(ChildTimes, TellsUserTimeFromKernelTime) {
  ChildProcess self{};
  self.id = reinterpret_cast<intptr_t>(GetCurrentProcess());
  FILETIME kernel{};
  FILETIME user{};
  ChildTimes(self, &kernel, &user);
  const double kernel_before = Tamsor::FILETIME2Second(kernel);
  const double user_before = Tamsor::FILETIME2Second(user);
  // Arithmetic only, until 0.3 s of CPU time more, however loaded the
  // machine; a layer that reads nothing ends at the deadline.
  const ULONGLONG deadline = GetTickCount64() + 20000;
  double kernel_spent = 0;
  double user_spent = 0;
  while (kernel_spent + user_spent < 0.3 && GetTickCount64() < deadline) {
    for (int i = 0; i < 1000000; ++i) sink = sink + i;
    ChildTimes(self, &kernel, &user);
    kernel_spent = Tamsor::FILETIME2Second(kernel) - kernel_before;
    user_spent = Tamsor::FILETIME2Second(user) - user_before;
  }
  // Loosely: under load, page faults and the like add kernel time.
  EXPECT_GT(user_spent, 0.15);
  EXPECT_GT(user_spent, kernel_spent);
}

// The handler goes in unless the caller ignored the signal: that ignore
// stays, for the child to inherit. (On POSIX, ShieldDeathTest checks this
// for every shielded signal.)
TEST(InstallSignalHandler, KeepsOnlyTheCallersIgnore) {
  for (const bool ignored : {false, true}) {
    std::signal(SIGINT, ignored ? SIG_IGN : SIG_DFL);
    InstallSignalHandler(SIGINT, BlockTermSignal, false);
    EXPECT_TRUE(std::signal(SIGINT, SIG_DFL) ==
                (ignored ? SIG_IGN : &BlockTermSignal))
        << (ignored ? "ignored before" : "default before");
  }
}

}  // namespace
}  // namespace tamsor

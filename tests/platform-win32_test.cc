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

// Per figure, a job that accounts less than the process (Wine's, which
// accounts none; here one the process is not in) leaves the process's own.
TEST(ChildTimes, TellsUserTimeFromKernelTime) {
  const HANDLE empty_job = CreateJobObjectW(nullptr, nullptr);
  ASSERT_NE(empty_job, nullptr);
  for (const HANDLE tree : {HANDLE{nullptr}, empty_job}) {
    ChildProcess self{};
    self.id = reinterpret_cast<intptr_t>(GetCurrentProcess());
    self.tree = reinterpret_cast<intptr_t>(tree);
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
    EXPECT_GT(user_spent, 0.15) << (tree ? "with a job" : "without");
    EXPECT_GT(user_spent, kernel_spent) << (tree ? "with a job" : "without");
    // Each figure at least what the process was charged a moment before.
    ::FILETIME times[4];
    GetProcessTimes(GetCurrentProcess(), &times[0], &times[1], &times[2],
                    &times[3]);
    ChildTimes(self, &kernel, &user);
    EXPECT_GE(Tamsor::FILETIME2Second(kernel),
              Tamsor::FILETIME2Second(
                  {times[2].dwLowDateTime, times[2].dwHighDateTime}));
    EXPECT_GE(Tamsor::FILETIME2Second(user),
              Tamsor::FILETIME2Second(
                  {times[3].dwLowDateTime, times[3].dwHighDateTime}));
  }
  CloseHandle(empty_job);
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

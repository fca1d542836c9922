#include "platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "argv.h"
#include "run_helper.h"
#include "tamsor.h"

namespace tamsor {
namespace {

double Seconds(const FILETIME& time) { return Tamsor::FILETIME2Second(time); }

TEST(StartChild, RunsWaitsAndMeasuresTheChild) {
  FILETIME kernel{};
  FILETIME user{};
  ASSERT_TRUE(RunHelper({"spin", "0.3"}, &kernel, &user));
  EXPECT_LE(Seconds(kernel) + Seconds(user), 5.0);
  if (!std::getenv("TAMSOR_NO_CPU_ACCOUNTING")) {
    EXPECT_TRUE(SpunFor(0.3, kernel, user))
        << "charged " << Seconds(kernel) + Seconds(user) << " s";
  }
}

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

TEST(ProcessSignal, AbsorbsInterruptAndTerminationRequests) {
  ProcessSignal();
  // Were either not caught, the test program would end here.
  for (int signum : {SIGINT, SIGTERM, ConsoleBreakSignal()}) {
    EXPECT_EQ(std::raise(signum), 0);
  }
}

}  // namespace
}  // namespace tamsor

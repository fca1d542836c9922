#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

#include "run_helper.h"
#include "tamsor.h"

namespace tamsor {
namespace {

TEST(ShieldDeathTest, RequestsAreAbsorbedEveryTime) {
  for (int signum : {SIGINT, SIGTERM, SIGABRT}) {
    EXPECT_EXIT(
        {
          ProcessSignal();
          for (int i = 0; i < 3; ++i) raise(signum);
          std::exit(0);
        },
        testing::ExitedWithCode(0), "")
        << signum;
  }
}

TEST(ShieldDeathTest, FaultSignalsAreAbsorbedOnceThenTakeEffect) {
  for (int signum : {SIGILL, SIGFPE, SIGSEGV}) {
    EXPECT_EXIT(
        {
          ProcessSignal();
          raise(signum);
          raise(signum);
          std::exit(0);
        },
        testing::KilledBySignal(signum), "")
        << signum;
  }
}

TEST(Shield, IsAHandlerNotIgnoreSoChildrenKeepTheirDefaults) {
  ProcessSignal();
  for (int signum : {SIGINT, SIGILL, SIGFPE, SIGSEGV, SIGTERM, SIGABRT}) {
    struct sigaction current {};
    ASSERT_EQ(sigaction(signum, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, &BlockTermSignal) << signum;
    EXPECT_TRUE(current.sa_flags & SA_RESTART) << signum;
  }
}

// With SIGCHLD ignored the kernel would reap the child itself and its CPU
// times would be lost; a caller may well hand the timer that setting.
TEST(ChildDeathTest, CpuTimesSurviveAnInheritedSigchldIgnore) {
  EXPECT_EXIT(
      {
        signal(SIGCHLD, SIG_IGN);
        FILETIME kernel{};
        FILETIME user{};
        const bool ran = RunHelper({"spin", "0.3"}, &kernel, &user);
        const double cpu =
            Tamsor::FILETIME2Second(kernel) + Tamsor::FILETIME2Second(user);
        std::exit(ran && cpu >= 0.1 ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tamsor

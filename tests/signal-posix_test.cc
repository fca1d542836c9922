#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>

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

}  // namespace
}  // namespace tamsor

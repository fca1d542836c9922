#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform.h"
#include "tamsor.h"
#include "test_support.h"

namespace tamsor {
namespace {

// Runs the helper with `ops` as the timer runs a command; false when it
// could not be started. The CPU time it was charged is in `*charged`.
bool RunHelper(const std::vector<std::string>& ops, double* charged) {
  std::vector<std::string> args = {"tamsor", TAMSOR_HELPER};
  args.insert(args.end(), ops.begin(), ops.end());
  Argv argv(args);
  Command* command = PrepareCommand(argv.argc(), argv.argv());
  Child* child = command ? StartChild(command) : nullptr;
  if (!child) return false;
  WaitChild(child);
  FILETIME kernel;
  FILETIME user;
  ChildTimes(*child, &kernel, &user);
  *charged = Tamsor::FILETIME2Second(kernel) + Tamsor::FILETIME2Second(user);
  return true;
}

TEST(ShieldDeathTest, RequestsAreAbsorbedEveryTime) {
  for (int signum : {SIGINT, SIGTERM, SIGABRT, SIGQUIT}) {
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

// With SIGCHLD ignored the kernel would reap the child itself and its CPU
// times would be lost; a caller may well hand the timer that setting. The
// signals held across the start must be the caller's again afterwards.
TEST(ChildDeathTest, CpuTimesSurviveAnInheritedSigchldIgnore) {
  EXPECT_EXIT(
      {
        signal(SIGCHLD, SIG_IGN);
        sigset_t caller;
        sigemptyset(&caller);
        sigaddset(&caller, SIGUSR1);
        sigprocmask(SIG_SETMASK, &caller, nullptr);
        // 0.3 s, less under a millisecond lost by each of user and sys.
        double charged = 0;
        const bool ran = RunHelper({"spin", "0.3"}, &charged);
        sigset_t after;
        sigprocmask(SIG_BLOCK, nullptr, &after);
        const bool same = sigismember(&after, SIGUSR1) &&
                          !sigismember(&after, SIGINT) &&
                          !sigismember(&after, SIGTERM);
        std::exit(ran && charged >= 0.2985 && same ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A program that cannot be started still was a process for a moment; it
// must be reaped, not left behind.
TEST(ChildDeathTest, FailedStartLeavesNoChildBehind) {
  EXPECT_EXIT(
      {
        Argv argv({"tamsor", "tamsor-no-such-program-7c1e"});
        const bool started =
            StartChild(PrepareCommand(argv.argc(), argv.argv())) != nullptr;
        const bool none_left =
            waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
        std::exit(!started && none_left ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace tamsor

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>

#include "argv.h"
#include "run_helper.h"
#include "tamsor.h"

namespace tamsor {
namespace {

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

// A handler, unlike an ignore, is reset for the child when it starts, so the
// child reacts as it would untimed; an ignore from the caller must stay for
// the same reason. Returns the first signal the shield got wrong, or 0.
int WronglyShielded(bool ignored_before) {
  const int shielded[] = {SIGINT,  SIGILL,  SIGFPE, SIGSEGV,
                          SIGTERM, SIGABRT, SIGQUIT};
  for (int signum : shielded) {
    if (ignored_before) signal(signum, SIG_IGN);
  }
  ProcessSignal();
  for (int signum : shielded) {
    struct sigaction current {};
    sigaction(signum, nullptr, &current);
    const bool right = ignored_before
                           ? current.sa_handler == SIG_IGN
                           : current.sa_handler == &BlockTermSignal &&
                                 (current.sa_flags & SA_RESTART);
    if (!right) return signum;
  }
  return 0;
}

TEST(ShieldDeathTest, IsAHandlerButKeepsTheCallersIgnores) {
  for (bool ignored_before : {false, true}) {
    EXPECT_EXIT(std::exit(WronglyShielded(ignored_before)),
                testing::ExitedWithCode(0), "")
        << (ignored_before ? "ignored before" : "default before")
        << "; the exit code is the signal shielded wrongly";
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
        FILETIME kernel{};
        FILETIME user{};
        const bool ran = RunHelper({"spin", "0.3"}, &kernel, &user);
        sigset_t after;
        sigprocmask(SIG_BLOCK, nullptr, &after);
        const bool same = sigismember(&after, SIGUSR1) &&
                          !sigismember(&after, SIGINT) &&
                          !sigismember(&after, SIGTERM);
        std::exit(ran && SpunFor(0.3, kernel, user) && same ? 0 : 1);
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

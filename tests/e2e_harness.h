// The end-to-end suites' harness: runs the built timer as users do, against
// the helper child, and reads what it prints and how it exits. One
// implementation per platform (e2e_harness-posix.cc, e2e_harness-win32.cc)
// starts the processes; the rest is portable. The programs under test are
// the build's own, unless the environment names others:
//   TAMSOR_EXE       the timer (on Windows, the release zip's, say)
//   TAMSOR_HELPER    the helper child, as the timer should be given it
//   TAMSOR_ANSI_EXE  Windows: the timer without its manifest, which reads
//                    paths in the ANSI code page
#ifndef TAMSOR_TESTS_E2E_HARNESS_H_
#define TAMSOR_TESTS_E2E_HARNESS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "scratch_folder.h"

namespace tamsor_e2e {

// An environment variable, in UTF-8; false where it is not set.
bool GetEnv(const char* name, std::string* value);

// The variable, or ""; for the three above, the build's program.
std::string Env(const char* name);

// Sets an environment variable, or unsets it where `value` is null, for
// this process and those started from here on.
void SetEnv(const std::string& name, const char* value);

// Sets (or unsets) an environment variable while it lives, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// Whether this is the Windows build, where the timer is tamsor.exe.
bool Windows();

// Whether the Windows build runs under Wine, which raises Ctrl+C only.
bool UnderWine();

// The timer's exit status where the command cannot run: -1, which a POSIX
// parent reads as 255.
extern const int kCannotRun;

// The console's interrupts, as a user at the keyboard raises them for the
// timer and its child: Ctrl+C and Ctrl+Break (Ctrl+\ on POSIX).
enum class ConsoleEvent { kInterrupt, kBreak };

// How a run of the timer ended: its exit status, or where a signal ended it
// (POSIX), -1 and that signal.
struct Ending {
  int exit_code = 0;
  int signal = 0;
};

// The text-mode line end of the timer's platform.
std::string Eol(std::string text);

std::string Helper();

// A program's name as the failure message shows it: Windows quotes it.
std::string Program(const std::string& name);

struct Outcome {
  std::string out;
  int exit_code = -1;  // -1 also when killed by a signal
  int signal = 0;
  double seconds = 0;  // until the timer itself ended
};

void SleepFor(double seconds);

// Something to do to the running timer, given its process id, once its
// output shows `text`, so that it acts only when the child surely runs.
struct Trigger {
  std::string text;
  std::function<void(long)> action;
};

// Raises `event` for every process of the timer `pid`'s process group (on
// Windows, its console of its own); false when it could not.
bool Raise(ConsoleEvent event, long pid);

// Ends process `pid` if it still runs; false when it had ended already.
bool EndIfRunning(long pid);

// As stdout_to: a standard output that refuses every write (on Windows, a
// file open for reading only).
constexpr char kRefusesWrites[] = "/dev/full";

// Starts `program` (looked up in PATH) with the argument vector `argv`, in
// its own process group unless `own_group` is false (POSIX), in `directory`
// when one is given, fires `trigger` while it runs, and collects its
// standard output; or, where `stdout_to` is kRefusesWrites or "|" for a
// pipe nobody reads (with SIGPIPE ignored), sends standard output there and
// collects standard error. A hung program fails the test after a minute.
Outcome RunProgram(const std::string& program,
                   const std::vector<std::string>& argv,
                   const Trigger& trigger = {},
                   const std::string& directory = "", bool own_group = true,
                   const std::string& stdout_to = "");

// RunProgram's platform part: the program started, with what it writes
// to a pipe whose read end is `output`; in a console of its own on Windows
// where `own_console`.
struct Started {
  long pid = 0;  // 0 where it could not start
  intptr_t process = 0;
  intptr_t output = -1;
};
Started Start(const std::string& program, const std::vector<std::string>& argv,
              const std::string& directory, bool own_group,
              const std::string& stdout_to, bool own_console);

// Appends what the program writes within a few milliseconds; false, and
// the pipe closed, once all its writers are gone.
bool ReadSome(Started* started, std::string* out);

// Whether the program has ended, ending it and closing the pipe first
// where `end`; once it has, sets its exit status.
bool Ended(Started* started, bool end, Outcome* outcome);

// The timer's own argument vector, with `args` after its name.
std::vector<std::string> TamsorCommand(const std::vector<std::string>& args);

Outcome RunCommand(const std::vector<std::string>& command,
                   const Trigger& trigger = {},
                   const std::string& directory = "", bool own_group = true,
                   const std::string& stdout_to = "");

Outcome RunTamsor(const std::vector<std::string>& args,
                  const Trigger& trigger = {},
                  const std::string& directory = "",
                  const std::string& stdout_to = "");

struct Report {
  bool found = false;
  std::string before;  // the child's output ahead of the report
  double wall = 0;
  long real_ms = 0;
  long user_ms = 0;
  long sys_ms = 0;
};

// The report is the last thing printed: a line break, then four lines.
Report ParseReport(const std::string& out);

// The child's output, then the report and nothing else, and the timer
// ending as `ending` says.
void ExpectReportOnly(const Outcome& outcome, const std::string& child_output,
                      const char* what, const Ending& ending = {});

// Raises `event` while the helper child sleeps, untimed and then timed: the
// child dies of it, and the timer outlives it, reports, and then ends as the
// child ended untimed, so that its caller sees what it would see untimed.
void ExpectConsoleEventEndsTheChild(ConsoleEvent event);

// A row of the tables of programs and lines with a clear outcome.
struct OutcomeCase {
  const char* name;
  std::vector<std::string> args;
  std::string out;  // the whole output, or the child's ahead of a report
  bool runs;
  bool in_folder = false;
  std::string stdout_to = "";  // see RunProgram
  int status = kCannotRun;     // where it does not run
  std::string path = "";       // PATH for the timer, where not empty
};

// As an OutcomeCase's path: the timer runs with no PATH at all.
constexpr char kNoPath[] = "-";

// Runs each case's timer, in `folder` where the case asks, and checks its
// outcome.
void ExpectOutcomes(const std::vector<OutcomeCase>& cases,
                    const std::string& folder);

}  // namespace tamsor_e2e

#endif  // TAMSOR_TESTS_E2E_HARNESS_H_

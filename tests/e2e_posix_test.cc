// End-to-end: what only the POSIX build shows (the child's argument vector
// and process state, signals, CPU accounting), run natively only.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace tamsor_e2e {
namespace {

using std::string_literals::operator""s;

TEST(EndToEndPosix, ChildReceivesTheArgumentsUnchanged) {
  // Not for Windows: the Windows child re-splits one line.
  const Outcome outcome =
      RunTamsor({Helper(), "args", "two words", "", "tab\there", "q\"uote",
                 "back\\slash\\", "\xc3\xa9\xff", "-h", " "});
  ExpectReportOnly(outcome,
                   "argc=10\n<two words>\n<>\n<tab\there>\n<q\"uote>\n"
                   "<back\\slash\\>\n<\xc3\xa9\xff>\n<-h>\n< >\n",
                   "argv");
}

TEST(EndToEndPosix, BadProgramsAndLinesHaveClearOutcomes) {
  ScratchFolder folder({"not-executable"});
  const std::string plain = folder.path() + "/not-executable";
  std::vector<OutcomeCase> cases;
  cases.push_back({"a file without the execute bit",
                   {plain, "x"},
                   "Cannot run the command [ " + plain + " x  ]\n",
                   false});
  // Run through /bin/sh, as a shell would: text, as bash tells it, has no NUL
  // ahead of its first line break in its first 80 bytes.
  cases.push_back(
      {"a script without #!",
       {folder.Add("no-shebang", "echo \"hi $1\"\n\0\n"s, true), "x"},
       "hi x\n",
       true});
  const std::string late = "#" + std::string(79, 'x') + "\0\necho hi\n"s;
  cases.push_back(
      {"a NUL past 80 bytes", {folder.Add("late", late, true)}, "hi\n", true});
  // Found on PATH, the shell is given the path found: by its bare name it
  // would take the one in the current folder.
  folder.Add("sub/no-shebang", "echo \"found $1\"\n", true);
  OutcomeCase found{"a script without #! on PATH",
                    {"no-shebang", "x"},
                    "found x\n",
                    true,
                    true};
  found.path = folder.path() + "/sub";
  cases.push_back(found);
  // A name with a / is the file it names, never searched for.
  for (const auto& [named, out] :
       {std::make_pair("./no-shebang", "hi x\n"),
        std::make_pair("sub/no-shebang", "found x\n")}) {
    OutcomeCase row{"a name with a /", {named, "x"}, out, true, true};
    row.path = "/tamsor-no-such-folder";
    cases.push_back(row);
  }
  const std::string last = std::string(79, 'x') + "\0\necho RAN-BY-SH\n"s;
  const std::string at80 = folder.Add("at80", last, true);
  cases.push_back({"a NUL as the 80th byte",
                   {at80},
                   "Cannot run the command [ " + at80 + "  ]\n",
                   false});
  // A binary never goes to /bin/sh, which would run its lines.
  const std::string binary = "MZ\0\necho RAN-BY-SH\n"s;
  const std::string exe = folder.Add("w.exe", binary, true);
  cases.push_back(
      {"a binary", {exe}, "Cannot run the command [ " + exe + "  ]\n", false});
  // The search goes on past every entry that cannot be run.
  const size_t slash = Helper().rfind('/');
  const std::string name = Helper().substr(slash + 1);
  folder.Add("bin/" + name, binary, true);
  folder.Add("noexec/" + name, "echo RAN-BY-SH\n", false);
  symlink("loop", (folder.path() + "/loop").c_str());
  for (const auto& entry :
       {std::make_pair("ELOOP", "/loop"s),
        std::make_pair("ENAMETOOLONG", "/" + std::string(300, 'n')),
        std::make_pair("longer than PATH_MAX", "/" + std::string(5000, 'n')),
        std::make_pair("ENOEXEC, a binary", "/bin"s),
        std::make_pair("EACCES", "/noexec"s)}) {
    OutcomeCase row{entry.first, {name, "print", "RAN"}, "RAN", true};
    row.path = folder.path() + entry.second + ":" + Helper().substr(0, slash);
    cases.push_back(row);
  }
  // A million characters, in pieces the kernel accepts: Windows' limit on
  // a line is not POSIX's.
  std::vector<std::string> million = {Helper(), "print", "RAN", "exit", "0"};
  million.insert(million.end(), 10, std::string(100000, 'm'));
  cases.push_back({"a line of a million characters", million, "RAN", true});
  ExpectOutcomes(cases, folder.path());
  std::remove((folder.path() + "/loop").c_str());

  // A bare name is looked up in PATH's folders, an empty entry (wherever it
  // stands) being the current one, and nowhere else.
  const std::string dir = Helper().substr(0, slash);
  const std::vector<std::string> bare = {name, "print", "RAN"};
  const std::string none = "/tamsor-no-such-folder";
  ExpectOutcomes({{"a bare name in a PATH folder", bare, "RAN", true, false, "",
                   255, none + ":" + dir},
                  {"an empty PATH entry first", bare, "RAN", true, true, "",
                   255, ":" + none},
                  {"an empty PATH entry between", bare, "RAN", true, true, "",
                   255, none + "::" + none},
                  {"an empty PATH entry last", bare, "RAN", true, true, "", 255,
                   none + ":"},
                  {"a bare name in no PATH folder", bare,
                   "Cannot run the command [ " + name + " print RAN  ]\n",
                   false, true, "", 255, none},
                  {"no PATH at all: the system's folders",
                   {"true"},
                   "",
                   true,
                   false,
                   "",
                   255,
                   kNoPath}},
                 dir);
}

// What the child starts with, run bare and under the timer by callers in
// different states: only its parent may differ.
TEST(EndToEndPosix, ChildInheritsTheCallersProcessState) {
  // Not for Windows: POSIX process state.
  const struct {
    const char* name;
    std::vector<std::string> caller;  // helper operations ahead of the exec
    bool script = false;  // the child is a script that runs the helper
  } cases[] = {
      {"nothing ignored or blocked", {}},
      {"signals ignored",
       {"ignore", "INT", "ignore", "TERM", "ignore", "QUIT", "ignore", "HUP",
        "ignore", "CHLD", "ignore", "PIPE"}},
      {"USR1 blocked", {"block", "USR1"}},
      {"real-time signals blocked, the first and the last",
       {"block", "34", "block", "64"}},
      {"umask 077 and nice +3", {"umask", "077", "nice", "3"}},
      {"through /bin/sh, a script without #!", {}, true},
  };
  ScratchFolder folder({});
  const std::string script =
      folder.Add("state.sh", "exec '" + Helper() + "' state\n", true);
  std::string unchanged;
  for (const auto& c : cases) {
    // Each caller starts from a known state, whatever the test inherited.
    std::vector<std::string> bare = {Helper(), "default-signals"};
    bare.insert(bare.end(), c.caller.begin(), c.caller.end());
    bare.push_back("exec");
    std::vector<std::string> timed = bare;
    const std::vector<std::string> child =
        c.script ? std::vector<std::string>{script}
                 : std::vector<std::string>{Helper(), "state"};
    const std::vector<std::string> timer = TamsorCommand(child);
    timed.insert(timed.end(), timer.begin(), timer.end());
    bare.insert(bare.end(), child.begin(), child.end());
    // In the test's own process group, so that both runs share it.
    const Outcome untimed = RunCommand(bare, {}, "", false);
    ASSERT_NE(untimed.out.find("environ: "), std::string::npos)
        << c.name << ": " << untimed.out;
    if (unchanged.empty()) {
      unchanged = untimed.out;
    } else if (!c.script) {
      EXPECT_NE(untimed.out, unchanged) << c.name << ": the state did not show";
    }
    ExpectReportOnly(RunCommand(timed, {}, "", false), untimed.out, c.name);
  }
}

TEST(EndToEndPosix, NoArgumentVectorAtAllDoesNotCrash) {
  // Not for Windows: Wine always passes the program's name.
  const Outcome outcome = RunProgram(Env("TAMSOR_EXE"), {});
  ASSERT_EQ(outcome.signal, 0) << "killed by signal " << outcome.signal;
  // Newer kernels hand over an empty name instead, which asks for the help.
  if (outcome.exit_code == 0) {
    EXPECT_EQ(outcome.out.rfind("tamsor: A \"Linux-time\"-like program", 0), 0u)
        << outcome.out;
  } else {
    EXPECT_EQ(outcome.exit_code, 255);
    EXPECT_EQ(outcome.out, "Cannot run the command [  ]\n");
  }
}

// The helper spins until it has used 400 ms of CPU time, then prints what it
// was charged of each kind. The kernel's split of a short run between user
// and sys is an estimate, but neither figure ever goes back: the timer's
// must each be at least the helper's own.
TEST(EndToEndPosix, SpinningIsChargedAsCpuTime) {
  // Not for Windows: Wine does not account a child's CPU time.
  for (const char* op : {"spin", "kernel-spin"}) {
    const Outcome outcome = RunTamsor({Helper(), op, "0.4", "cpu"});
    const Report report = ParseReport(outcome.out);
    ASSERT_TRUE(report.found) << op << ": " << outcome.out;
    long own_user = -1;
    long own_sys = -1;
    std::sscanf(report.before.c_str(), "cpu_ms=%*d\nuser_ms=%ld\nsys_ms=%ld",
                &own_user, &own_sys);
    ASSERT_GE(own_user + own_sys, 399) << op << ": " << report.before;
    EXPECT_GE(report.user_ms, own_user) << op;
    EXPECT_GE(report.sys_ms, own_sys) << op;
    EXPECT_LE(report.real_ms, report.wall * 1000 + 50) << op;
  }
}

TEST(EndToEndPosix, TerminationRequestToTheTimerIsAbsorbed) {
  // Not for Windows: a POSIX SIGTERM ends a Wine process outright.
  const Outcome outcome = RunTamsor(
      {Helper(), "println", "started", "sleep", "1"},
      {"started", [](long pid) { kill(static_cast<pid_t>(pid), SIGTERM); }});
  ExpectReportOnly(outcome, "started\n", "terminate");
  EXPECT_GE(ParseReport(outcome.out).wall, 0.95) << "it kept waiting";
}

// The terminal's interrupts reach the timer's whole process group: a child
// that survives them is still waited for, and the timer reports and exits
// 0; one that dies of SIGINT or SIGQUIT, by a key or by its own hand, ends
// the timer the same way, once the report is out, so that a calling script
// stops as it would untimed.
TEST(EndToEndPosix, InterruptsEndTheTimerAsTheyEndTheChild) {
  // Not for Windows: the runtime there may reset its handler after one.
  const struct {
    const char* name;
    int times;  // key presses, 0.2 s apart, once the child has started
    ConsoleEvent event;
    std::vector<std::string> child;  // helper operations ahead of the sleep
    std::string out;
    Ending ending;
  } cases[] = {
      {"Ctrl+C three times, ignored",
       3,
       ConsoleEvent::kInterrupt,
       {"ignore", "INT"},
       "",
       {}},
      {"Ctrl+\\ twice, caught",
       2,
       ConsoleEvent::kBreak,
       {"catch", "QUIT"},
       "caught\ncaught\n",
       {}},
      {"Ctrl+C, caught, and the child exits 0",
       1,
       ConsoleEvent::kInterrupt,
       {"catch", "INT"},
       "caught\n",
       {}},
      {"no key, the child raises SIGINT",
       0,
       ConsoleEvent::kInterrupt,
       {"raise", "INT"},
       "",
       {-1, SIGINT}},
      {"no key, the child raises SIGQUIT",
       0,
       ConsoleEvent::kBreak,
       {"raise", "QUIT"},
       "",
       {-1, SIGQUIT}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {Helper()};
    args.insert(args.end(), c.child.begin(), c.child.end());
    args.insert(args.end(),
                {"println", "started", "sleep", "1.2", "exit", "0"});
    const ConsoleEvent event = c.event;
    const int times = c.times;
    const Outcome outcome =
        RunTamsor(args, {"started", [event, times](long pid) {
                           for (int i = 0; i < times; ++i) {
                             SleepFor(0.2);
                             Raise(event, pid);
                           }
                         }});
    const bool survives = c.ending.signal == 0;
    ExpectReportOnly(outcome, survives ? "started\n" + c.out : "", c.name,
                     c.ending);
    if (survives) {
      EXPECT_GE(ParseReport(outcome.out).wall, 1.15)
          << c.name << ": the timer kept waiting";
    }
  }
}

}  // namespace
}  // namespace tamsor_e2e

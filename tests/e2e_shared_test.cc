// End-to-end: what the timer does alike on every platform, built for each.
#include <string>
#include <utility>
#include <vector>

#include "e2e_harness.h"

namespace tamsor_e2e {
namespace {

TEST(EndToEnd, NoArgumentsPrintsTheHelp) {
  const Outcome outcome = RunTamsor({});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out,
            Eol("tamsor: A \"Linux-time\"-like program for Windows.\n"
                "Reports: wall time, then CPU time: real = user + sys\n"
                "Usage:   tamsor [program arguments]\n"));
}

// The timer's status is its own: 0 whatever the child did, but for an
// interrupt that ended it, which the caller must see as it would untimed.
TEST(EndToEnd, ExitsZeroUnlessAnInterruptEndedTheChild) {
  const auto ctrl_c_exit = static_cast<int>(0xC000013Au);
  std::vector<std::pair<std::vector<std::string>, Ending>> endings = {
      {{"exit", "7"}, {}},
      {{"exit", "255"}, {}},
      {{"raise", "SEGV"}, {}},
      {{"raise", "ABRT"}, {}},
      // STATUS_CONTROL_C_EXIT on Windows; 58 (its low byte) on POSIX.
      {{"exit", "0xC000013A"}, {Windows() ? ctrl_c_exit : 0}},
  };
  if (!Windows()) {  // SIGINT and SIGQUIT: EndToEndPosix's interrupt table
    endings.push_back({{"raise", "KILL"}, {}});
    endings.push_back({{"raise", "TERM"}, {}});
  }
  for (const auto& [ending, timer] : endings) {
    std::vector<std::string> args = {Helper(), "print", "before"};
    args.insert(args.end(), ending.begin(), ending.end());
    ExpectReportOnly(RunTamsor(args), "before",
                     (ending[0] + " " + ending[1]).c_str(), timer);
  }
}

TEST(EndToEnd, UnstartableCommandsAreReportedWithTheirLine) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  std::vector<Case> cases = {
      {{"tamsor-no-such-program", "x", "two words"},
       "Cannot run the command [ " + Program("tamsor-no-such-program") +
           " x \"two words\"  ]\n"},
      {{"-h"}, "Cannot run the command [ " + Program("-h") + "  ]\n"},
      {{"--help"}, "Cannot run the command [ " + Program("--help") + "  ]\n"},
      {{""}, "Cannot run the command [ \"\"  ]\n"},
      {{"tamsor-no-such-program", "\n\nwall\r\x01"},  // shown on one line
       "Cannot run the command [ " + Program("tamsor-no-such-program") +
           R"( \n\nwall\r\x01  ])" + "\n"},
  };
  if (!Windows()) {  // no line limit: the message shows the whole line
    const std::string long_arg(40000, 'x');
    cases.push_back({{"tamsor-no-such-program", long_arg, "a b"},
                     "Cannot run the command [ tamsor-no-such-program " +
                         long_arg + " \"a b\"  ]\n"});
  }
  for (const auto& c : cases) {
    const Outcome outcome = RunTamsor(c.args);
    EXPECT_EQ(outcome.out, Eol(c.message));
    EXPECT_EQ(outcome.exit_code, kCannotRun);
  }
}

TEST(EndToEnd, WildcardsAreExpandedByTheWindowsStartUpOnly) {
  const ScratchFolder folder({"one.txt", "two.txt", "other.dat"});
  const Outcome outcome = RunTamsor(
      {Helper(), "args", "*.txt", "*.none", "o?e.txt"}, {}, folder.path());
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << outcome.out;
  // The arguments, after the helper's count and raw line.
  const std::string listed =
      report.before.substr(report.before.find("\n<") + 1);
  EXPECT_EQ(listed, Windows()
                        ? Eol("<one.txt>\n<two.txt>\n<*.none>\n<one.txt>\n")
                        : "<*.txt>\n<*.none>\n<o?e.txt>\n");
}

TEST(EndToEnd, ReportFollowsTheChildsOutput) {
  ExpectReportOnly(RunTamsor({Helper(), "print", "partial"}), "partial",
                   "no final line break");
  ExpectReportOnly(RunTamsor({Helper(), "println", "whole"}), Eol("whole\n"),
                   "final line break leaves an empty line");
}

TEST(EndToEnd, OutputThroughAPipeIsKeptWholeAndInOrder) {
  std::string bulk;
  for (int n = 0; n < 20000; ++n) {
    char line[16];
    std::snprintf(line, sizeof line, "%08d ", n);
    bulk += line + std::string(54, 'b') + "\n";
  }
  ExpectReportOnly(RunTamsor({Helper(), "println", "one", "sleep", "0.1",
                              "bulk", "20000", "print", "last"}),
                   Eol("one\n" + bulk + "last"), "1.3 MB through a pipe");
}

TEST(EndToEnd, OneToTenThousandArgumentsReachTheChild) {
  ExpectReportOnly(RunTamsor({Helper()}), "", "the program alone");

  std::vector<std::string> args = {Helper(), "args"};
  args.insert(args.end(), 10000, "a");
  const Outcome outcome = RunTamsor(args);
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << outcome.out.substr(0, 200);
  EXPECT_EQ(report.before.rfind("argc=10002", 0), 0u);
  size_t received = 0;
  for (size_t at = 0; (at = report.before.find("<a>", at)) != std::string::npos;
       ++at) {
    ++received;
  }
  EXPECT_EQ(received, 10000u);
}

TEST(EndToEnd, BadProgramsAndLinesHaveClearOutcomes) {
  ScratchFolder folder({});
  const std::string unwritten = "tamsor: cannot write to standard output: ";
  std::vector<OutcomeCase> cases = {
      {"the report to a full disk",
       {Helper(), "exit", "0"},
       unwritten + (Windows() ? "write error" : "No space left on device") +
           "\n",
       false,
       false,
       kRefusesWrites,
       1},
      {"the report to a closed pipe, SIGPIPE ignored",
       {Helper(), "exit", "0"},
       unwritten + (Windows() ? "write error" : "Broken pipe") + "\n",
       false,
       false,
       "|",
       1},
      {"a directory as the program",
       {folder.path()},
       "Cannot run the command [ " + Program(folder.path()) + "  ]\n",
       false},
  };
  ExpectOutcomes(cases, folder.path());
}

TEST(EndToEnd, SleepIsTimedWithinLooseBounds) {
  const Outcome outcome = RunTamsor({Helper(), "sleep", "0.3"});
  ExpectReportOnly(outcome, "", "sleep");
  const Report report = ParseReport(outcome.out);
  EXPECT_GE(report.wall, 0.29);
  EXPECT_LE(report.wall, 1.0);
  EXPECT_LE(report.real_ms, 200) << "sleeping costs little CPU";
}

// The work of the processes a command starts counts: make, cmd.exe running
// a batch file, a launcher do little themselves. The copy spins until it has
// used 500 ms of CPU time; each of user and sys loses less than a
// millisecond to truncation, so real, their sum, is at least 499 ms.
TEST(EndToEnd, CpuTimeCoversTheWholeProcessTree) {
  if (UnderWine()) GTEST_SKIP() << "Wine accounts no other process's CPU time";
  ScratchFolder folder({});
  std::vector<std::vector<std::string>> commands = {
      {Helper(), "run", "spin", "0.5"}};
  if (Windows()) {
    commands.push_back(
        {folder.Add("spin.bat", "@\"" + Helper() + "\" spin 0.5\r\n", false)});
  }
  for (const auto& command : commands) {
    const Outcome outcome = RunTamsor(command);
    ExpectReportOnly(outcome, "", command[0].c_str());
    EXPECT_GE(ParseReport(outcome.out).real_ms, 499) << command[0];
  }
}

TEST(EndToEnd, InterruptEndsTheChildAndTheTimerReports) {
  ExpectConsoleEventEndsTheChild(ConsoleEvent::kInterrupt);
}

// The console's other interrupt (Ctrl+\, Ctrl+Break): on Windows no
// inherited setting turns it off, as one can Ctrl+C, so it reaches the timer
// on a CI runner too.
TEST(EndToEnd, BreakEndsTheChildAndTheTimerReports) {
  ExpectConsoleEventEndsTheChild(ConsoleEvent::kBreak);
}

TEST(EndToEnd, GrandchildrenAreNotWaitedFor) {
  const Outcome outcome = RunTamsor({Helper(), "grandchild", "6"});
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << outcome.out;
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_LT(outcome.seconds, 4.0);
  const std::string prefix = "grandchild=";
  ASSERT_EQ(report.before.rfind(prefix, 0), 0u) << report.before;
  const long pid = std::stol(report.before.substr(prefix.size()));
  EXPECT_GT(pid, 0) << "the grandchild did not start";
  if (pid > 0) {
    EXPECT_TRUE(EndIfRunning(pid)) << "it should still run";
  }
}

}  // namespace
}  // namespace tamsor_e2e

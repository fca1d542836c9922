// Runs the built timer as users do, against the helper child, and checks
// what it prints and how it exits. The timer under test comes from the
// environment, so the same suite also drives the Windows build under Wine:
//   TAMSOR_EXE       the timer
//   TAMSOR_HELPER    the helper child, as the timer should be given it
//   TAMSOR_LAUNCHER  optional program that runs the timer (e.g. wine)
//   TAMSOR_WINDOWS   set when the timer is the Windows build
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "argv.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// The build's own programs, unless the environment names others.
std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (value) return value;
  const std::string key = name;
  if (key == "TAMSOR_EXE") return TAMSOR_EXE;
  if (key == "TAMSOR_HELPER") return TAMSOR_HELPER;
  return "";
}

bool Windows() { return !Env("TAMSOR_WINDOWS").empty(); }

// The text-mode line end of the timer's platform.
std::string Eol(std::string text) {
  if (!Windows()) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Helper() { return Env("TAMSOR_HELPER"); }

// A program's name as the failure message shows it: Windows quotes it.
std::string Program(const std::string& name) {
  return Windows() ? "\"" + name + "\"" : name;
}

struct Outcome {
  std::string out;
  int exit_code = -1;  // -1 when killed by a signal
  int signal = 0;
  double seconds = 0;  // until the timer itself ended
};

void SleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Something to do to the running timer once its output shows `text`, so
// that signals are sent only when the child is surely running.
struct Trigger {
  std::string text;
  std::function<void(pid_t)> action;
};

// Starts `program` (looked up in PATH) with the argument vector `argv`, in
// its own process group unless `own_group` is false, in `directory` when one
// is given, fires `trigger` while it runs, and collects its standard output;
// or, where `stdout_to` names a file, or is "|" for a pipe nobody reads (with
// SIGPIPE ignored), sends standard output there and collects standard error.
Outcome RunProgram(const std::string& program, char** argv,
                   const Trigger& trigger = {},
                   const std::string& directory = "", bool own_group = true,
                   const std::string& stdout_to = "") {
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  int unread[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_to.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    // The platform's own diagnostics (Wine's) stay out of what is compared.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  } else {
    if (stdout_to == "|") {
      EXPECT_EQ(pipe(unread), 0);
      close(unread[0]);
      posix_spawn_file_actions_adddup2(&actions, unread[1], 1);
    } else {
      posix_spawn_file_actions_addopen(&actions, 1, stdout_to.c_str(), O_WRONLY,
                                       0);
    }
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  }
  const auto pipe_signal = signal(SIGPIPE, unread[1] < 0 ? SIG_DFL : SIG_IGN);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  if (!directory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
  }
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (own_group) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);

  Outcome outcome;
  const auto start = Clock::now();
  pid_t pid = -1;
  const int rc =
      posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  signal(SIGPIPE, pipe_signal);
  close(out[1]);
  if (unread[1] >= 0) close(unread[1]);
  if (rc != 0) {
    ADD_FAILURE() << "cannot start " << program;
    close(out[0]);
    return outcome;
  }
  bool fired = !trigger.action;

  // Read until the timer has ended and its output is closed; a hung timer
  // fails the test instead of hanging the suite.
  const auto deadline = start + std::chrono::seconds(60);
  int status = 0;
  bool ended = false;
  bool open = true;
  while (!ended || open) {
    if (!ended && waitpid(pid, &status, WNOHANG) == pid) {
      ended = true;
      outcome.seconds =
          std::chrono::duration<double>(Clock::now() - start).count();
    }
    if (Clock::now() > deadline) {
      ADD_FAILURE() << "the timer did not finish in time";
      kill(own_group ? -pid : pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    if (open) {
      struct pollfd readable = {out[0], POLLIN, 0};
      if (poll(&readable, 1, 5) > 0) {
        char chunk[4096];
        const ssize_t n = read(out[0], chunk, sizeof chunk);
        if (n > 0) {
          outcome.out.append(chunk, static_cast<size_t>(n));
          if (!fired && outcome.out.find(trigger.text) != std::string::npos) {
            fired = true;
            trigger.action(pid);
          }
        } else {
          open = false;
        }
      }
    } else {
      SleepFor(0.005);
    }
  }
  close(out[0]);
  if (WIFEXITED(status)) outcome.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  return outcome;
}

// `command` run through the launcher, if there is one.
std::vector<std::string> Launched(const std::vector<std::string>& command) {
  std::vector<std::string> launched;
  if (!Env("TAMSOR_LAUNCHER").empty())
    launched.push_back(Env("TAMSOR_LAUNCHER"));
  launched.insert(launched.end(), command.begin(), command.end());
  return launched;
}

// The timer's own argument vector, with `args` after its name.
std::vector<std::string> TamsorCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = {Env("TAMSOR_EXE")};
  command.insert(command.end(), args.begin(), args.end());
  return Launched(command);
}

Outcome RunCommand(const std::vector<std::string>& command,
                   const Trigger& trigger = {},
                   const std::string& directory = "", bool own_group = true,
                   const std::string& stdout_to = "") {
  Argv argv(command);
  return RunProgram(command[0], argv.argv(), trigger, directory, own_group,
                    stdout_to);
}

Outcome RunTamsor(const std::vector<std::string>& args,
                  const Trigger& trigger = {},
                  const std::string& directory = "",
                  const std::string& stdout_to = "") {
  return RunCommand(TamsorCommand(args), trigger, directory, true, stdout_to);
}

struct Report {
  bool found = false;
  std::string before;  // the child's output ahead of the report
  double wall = 0;
  long real_ms = 0;
  long user_ms = 0;
  long sys_ms = 0;
};

// Reads one report line, "label", spaces to six characters, then a figure
// with exactly three decimals and " s", at `pos`; advances past it.
bool ReadReportLine(const std::string& text, const std::string& label,
                    const std::string& nl, size_t* pos, long* milliseconds) {
  std::string head = label;
  head.resize(7, ' ');
  if (text.compare(*pos, head.size(), head) != 0) return false;
  size_t at = *pos + head.size();
  const size_t digits = text.find_first_not_of("0123456789", at);
  if (digits == std::string::npos || digits == at || text[digits] != '.') {
    return false;
  }
  const std::string whole = text.substr(at, digits - at);
  const std::string decimals = text.substr(digits + 1, 3);
  if (decimals.size() != 3 ||
      decimals.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  at = digits + 4;
  const std::string end = " s" + nl;
  if (text.compare(at, end.size(), end) != 0) return false;
  *pos = at + end.size();
  *milliseconds = std::stol(whole) * 1000 + std::stol(decimals);
  return true;
}

// The report is the last thing printed: a line break, then four lines.
Report ParseReport(const std::string& out) {
  const std::string nl = Windows() ? "\r\n" : "\n";
  Report report;
  const size_t at = out.rfind(nl + "wall   ");
  if (at == std::string::npos) return report;
  size_t pos = at + nl.size();
  long wall_ms = 0;
  if (!ReadReportLine(out, "wall", nl, &pos, &wall_ms) ||
      !ReadReportLine(out, "real", nl, &pos, &report.real_ms) ||
      !ReadReportLine(out, "user", nl, &pos, &report.user_ms) ||
      !ReadReportLine(out, "sys ", nl, &pos, &report.sys_ms) ||
      pos != out.size()) {
    return report;
  }
  report.found = true;
  report.before = out.substr(0, at);
  report.wall = wall_ms / 1000.0;
  return report;
}

void ExpectReportOnly(const Outcome& outcome, const std::string& child_output,
                      const char* what) {
  EXPECT_EQ(outcome.exit_code, 0)
      << what << (outcome.signal ? ": the timer was killed by a signal" : "");
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << what << ": no report in:\n" << outcome.out;
  EXPECT_EQ(report.before, child_output) << what;
  EXPECT_EQ(report.real_ms, report.user_ms + report.sys_ms) << what;
}

TEST(EndToEnd, NoArgumentsPrintsTheHelp) {
  const Outcome outcome = RunTamsor({});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.out,
            Eol("tamsor: A \"Linux-time\"-like program for Windows.\n"
                "Reports: wall time, then CPU time: real = user + sys\n"
                "Usage:   tamsor [program arguments]\n"));
}

TEST(EndToEnd, ChildReceivesTheArgumentsUnchanged) {
  if (Windows()) GTEST_SKIP() << "the Windows child re-splits one line";
  const Outcome outcome =
      RunTamsor({Helper(), "args", "two words", "", "tab\there", "q\"uote",
                 "back\\slash\\", "\xc3\xa9\xff", "-h", " "});
  ExpectReportOnly(outcome,
                   "argc=10\n<two words>\n<>\n<tab\there>\n<q\"uote>\n"
                   "<back\\slash\\>\n<\xc3\xa9\xff>\n<-h>\n< >\n",
                   "argv");
}

TEST(EndToEnd, ChildGetsTheAssembledLineByteForByte) {
  if (!Windows()) GTEST_SKIP() << "a POSIX child gets a vector, not a line";
  const Outcome outcome = RunTamsor({Helper(), "args", "two words", "",
                                     "tab\there", "q\"uote", "back\\slash\\"});
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << outcome.out;
  EXPECT_EQ(outcome.exit_code, 0);
  const std::string tail =
      "\" args \"two words\" \"\" \"tab\there\" q\"uote back\\slash\\ >";
  const size_t at = report.before.find("line=<");
  ASSERT_NE(at, std::string::npos) << report.before;
  const std::string line =
      report.before.substr(at, report.before.find("\r\n", at) - at);
  EXPECT_EQ(line, "line=<\"" + Helper() + tail);
}

TEST(EndToEnd, ExitsZeroWhateverTheChildDid) {
  std::vector<std::vector<std::string>> endings = {
      {"exit", "7"}, {"exit", "255"}, {"raise", "SEGV"}, {"raise", "ABRT"}};
  if (!Windows()) endings.push_back({"raise", "KILL"});
  for (const auto& ending : endings) {
    std::vector<std::string> args = {Helper(), "print", "before"};
    args.insert(args.end(), ending.begin(), ending.end());
    ExpectReportOnly(RunTamsor(args), "before", ending[1].c_str());
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
    EXPECT_EQ(outcome.exit_code, 255) << "-1 as a byte";
  }
}

const char kRefusal[] =
    "Cannot run the command: its command line is longer than 32766 "
    "characters\n";

TEST(EndToEnd, WindowsLineLimitDoesNotApplyOnPosix) {
  // Windows limits the timer's own command line too, so only wildcard
  // expansion can take the child's line past the limit there.
  if (Windows()) GTEST_SKIP() << "covered by the wildcard case";
  // The helper, "print RAN exit 0", the long argument and their spaces.
  const size_t fixed = Helper().size() + 1 + 16 + 1 + 1;
  const std::string at_limit(32766 - fixed, 'a');
  for (const std::string& arg : {at_limit, at_limit + "a"}) {
    ExpectReportOnly(RunTamsor({Helper(), "print", "RAN", "exit", "0", arg}),
                     "RAN", arg == at_limit ? "at the limit" : "one over");
  }
}

// A scratch folder with files of the given names, removed afterwards.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::vector<std::string>& names) {
    char pattern[] = "/tmp/tamsor-e2e-XXXXXX";
    const char* made = mkdtemp(pattern);
    EXPECT_NE(made, nullptr);
    path_ = made ? made : "/tmp";
    for (const std::string& name : names) Add(name, "", false);
  }
  // Adds a file holding `text`, executable when asked; returns its path.
  // A name may be in a new subfolder.
  std::string Add(const std::string& name, const std::string& text,
                  bool executable) {
    const std::string file_path = path_ + "/" + name;
    const size_t slash = name.rfind('/');
    const bool new_folder =
        slash != std::string::npos &&
        mkdir((path_ + "/" + name.substr(0, slash)).c_str(), 0755) == 0;
    FILE* file = std::fopen(file_path.c_str(), "w");
    EXPECT_NE(file, nullptr) << name;
    if (file) {
      std::fputs(text.c_str(), file);
      std::fclose(file);
    }
    if (executable) chmod(file_path.c_str(), 0755);
    names_.push_back(name);
    if (new_folder) names_.push_back(name.substr(0, slash));
    return file_path;
  }
  ~ScratchFolder() {
    for (const std::string& name : names_) {
      std::remove((path_ + "/" + name).c_str());
    }
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> names_;
};

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

// A Unicode program reads the line as UTF-16: bare and timed it must see
// the same arguments, none of them split, lost or turned into '?'.
TEST(EndToEnd, UnicodeArgumentsReachTheChildIntact) {
  if (!Windows()) GTEST_SKIP() << "a POSIX child gets the bytes themselves";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> files;  // in the folder the timer runs in
    std::string units;
  } cases[] = {
      {"Japanese", {"日本語"}, {}, "<65e5 672c 8a9e>"},
      {"accented Latin",
       {"Ünïcödé"},
       {},
       "<00dc 006e 00ef 0063 00f6 0064 00e9>"},
      {"Greek", {"Ελληνικά"}, {}, "<0395 03bb 03bb 03b7 03bd 03b9 03ba 03ac>"},
      {"an emoji outside the BMP", {"😀"}, {}, "<d83d de00>"},
      {"with a space", {"two 日本"}, {}, "<0074 0077 006f 0020 65e5 672c>"},
      {"a wildcard matching a non-ASCII name",
       {"*.txt"},
       {"日本.txt", "other.dat"},
       "<65e5 672c 002e 0074 0078 0074>"},
      {"empty, a tab, a quoted trailing backslash",
       {"", "a\tb", "C:\\a b\\", "after"},
       {},
       "<>\n<0061 0009 0062>\n<0043 003a 005c 0061 0020 0062 005c>\n"
       "<0061 0066 0074 0065 0072>"},
  };
  for (const auto& c : cases) {
    const ScratchFolder folder(c.files);
    std::vector<std::string> args = {Helper(), "wargs"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string expected = Eol(c.units + "\n");
    ExpectReportOnly(RunTamsor(args, {}, folder.path()), expected, c.name);
    // Started directly, the helper expands no wildcards.
    if (c.files.empty()) {
      EXPECT_EQ(RunCommand(Launched(args)).out, expected) << c.name << ", bare";
    }
  }
}

TEST(EndToEnd, WildcardExpansionPastTheLimitIsRefused) {
  if (!Windows()) GTEST_SKIP() << "the shell expands wildcards here";
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    names.push_back(std::to_string(1000 + i) + std::string(90, 'n') + ".txt");
  }
  const ScratchFolder folder(names);
  const Outcome outcome =
      RunTamsor({Helper(), "println", "RAN", "*.txt"}, {}, folder.path());
  EXPECT_EQ(outcome.out, Eol(kRefusal));
  EXPECT_EQ(outcome.exit_code, 255);
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
  ScratchFolder folder({"not-executable"});
  const std::string plain = folder.path() + "/not-executable";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string out;  // the whole output, or the child's ahead of a report
    bool runs;
    bool in_folder = false;
    std::string stdout_to = "";  // see RunProgram
    int status = 255;            // where it does not run
  };
  const std::string unwritten = "tamsor: cannot write to standard output: ";
  std::vector<Case> cases = {
      {"the report to a full disk",
       {Helper(), "exit", "0"},
       unwritten + (Windows() ? "write error" : "No space left on device") +
           "\n",
       false,
       false,
       "/dev/full",
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
  if (!Windows()) {
    cases.push_back({"a file without the execute bit",
                     {plain, "x"},
                     "Cannot run the command [ " + plain + " x  ]\n",
                     false});
    // Run through /bin/sh, as a shell would.
    cases.push_back({"a script without #!",
                     {folder.Add("no-shebang", "echo \"hi $1\"\n", true), "x"},
                     "hi x\n",
                     true});
    // A million characters, in pieces the kernel accepts.
    std::vector<std::string> million = {Helper(), "print", "RAN", "exit", "0"};
    million.insert(million.end(), 10, std::string(100000, 'm'));
    cases.push_back({"a line of a million characters", million, "RAN", true});
  } else {
    // cmd.exe runs these: whatever the arguments, that batch file and
    // nothing else, each argument one parameter, or a refusal.
    const std::string script = "@echo off\r\nif 1==1 (echo [%1] [%2])\r\n";
    for (const char* name : {"t.bat", "a,b/t.bat", "my tool.bat"}) {
      folder.Add(name, script, false);
    }
    folder.Add("a.bat", "echo WRONG\r\n", false);
    folder.Add("r.bat", "@echo ran\r\n", false);
    setenv("X", "q&echo.INJECTED", 1);
    const std::string unsafe =
        "Cannot run the command: a batch file cannot "
        "be given this argument safely: ";
    const std::string inject = "a&echo.INJECTED";
    cases.insert(
        cases.end(),
        {{"a plain argument", {"t.bat", "plain"}, "[plain] []\r\n", true, true},
         {"& in a batch argument",
          {"t.bat", inject},
          "[\"a&echo.INJECTED\"] []\r\n",
          true,
          true},
         {"quote state across arguments",
          {"t.bat", "a\"b", "c&echo.INJECTED"},
          unsafe + "a\"b\n",
          false,
          true},
         {"% expanded first", {"t.bat", "%X%"}, unsafe + "%X%\n", false, true},
         {"a parenthesised block closed",
          {"t.bat", "x)else(echo.INJECTED"},
          "[\"x)else(echo.INJECTED\"] []\r\n",
          true,
          true},
         {"= and , split",
          {"t.bat", "CONFIG=Release", "a,b"},
          "[\"CONFIG=Release\"] [\"a,b\"]\r\n",
          true,
          true},
         {"a name Windows tidies",
          {"t.bat\\.", inject},
          "[\"a&echo.INJECTED\"] []\r\n",
          true,
          true},
         {"a name Windows tidies, with slashes",
          {"./T.BAT/.", inject},
          "[\"a&echo.INJECTED\"] []\r\n",
          true,
          true},
         {"a path with syntax", {"a,b\\t.bat", "x"}, "[x] []\r\n", true, true},
         {"a line cmd.exe would drop",
          {"r.bat", std::string(9000, 'a')},
          "Cannot run the command: a batch file's command line is longer than "
          "8158 characters, the most cmd.exe takes\n",
          false,
          true},
         {"a line just under cmd.exe's limit",
          {"r.bat", std::string(8158 - 9, 'a')},
          "ran\r\n",
          true,
          true},
         {"a quoted program name",
          {"\"t.bat\"", inject},
          "Cannot run the command [ \"\"t.bat\"\" \"a&echo.INJECTED\"  ]\n",
          false,
          true},
         {"a name with a space, unquoted",
          {"my", "tool.bat", inject},
          "Cannot run the command [ \"my\" tool.bat a&echo.INJECTED  ]\n",
          false,
          true}});
  }
  for (const Case& c : cases) {
    const Outcome outcome =
        RunTamsor(c.args, {}, c.in_folder ? folder.path() : "", c.stdout_to);
    if (c.runs) {
      ExpectReportOnly(outcome, c.out, c.name);
    } else {
      EXPECT_EQ(outcome.out, Eol(c.out)) << c.name;
      EXPECT_EQ(outcome.exit_code, c.status) << c.name;
    }
  }
}

// What the child starts with, run bare and under the timer by callers in
// different states: only its parent may differ.
TEST(EndToEnd, ChildInheritsTheCallersProcessState) {
  if (Windows()) GTEST_SKIP() << "POSIX process state";
  const struct {
    const char* name;
    std::vector<std::string> caller;  // helper operations ahead of the exec
  } cases[] = {
      {"nothing ignored or blocked", {}},
      {"signals ignored",
       {"ignore", "INT", "ignore", "TERM", "ignore", "QUIT", "ignore", "HUP",
        "ignore", "CHLD", "ignore", "PIPE"}},
      {"USR1 blocked", {"block", "USR1"}},
      {"umask 077 and nice +3", {"umask", "077", "nice", "3"}},
  };
  std::string unchanged;
  for (const auto& c : cases) {
    // Each caller starts from a known state, whatever the test inherited.
    std::vector<std::string> bare = {Helper(), "default-signals"};
    bare.insert(bare.end(), c.caller.begin(), c.caller.end());
    bare.push_back("exec");
    std::vector<std::string> timed = bare;
    const std::vector<std::string> timer = TamsorCommand({Helper(), "state"});
    timed.insert(timed.end(), timer.begin(), timer.end());
    bare.insert(bare.end(), {Helper(), "state"});
    // In the test's own process group, so that both runs share it.
    const Outcome untimed = RunCommand(bare, {}, "", false);
    ASSERT_NE(untimed.out.find("environ: "), std::string::npos)
        << c.name << ": " << untimed.out;
    if (unchanged.empty()) {
      unchanged = untimed.out;
    } else {
      EXPECT_NE(untimed.out, unchanged) << c.name << ": the state did not show";
    }
    ExpectReportOnly(RunCommand(timed, {}, "", false), untimed.out, c.name);
  }
}

TEST(EndToEnd, NoArgumentVectorAtAllDoesNotCrash) {
  if (Windows()) GTEST_SKIP() << "Wine always passes the program's name";
  char* no_arguments[] = {nullptr};
  const Outcome outcome = RunProgram(Env("TAMSOR_EXE"), no_arguments);
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

TEST(EndToEnd, SleepIsTimedWithinLooseBounds) {
  const Outcome outcome = RunTamsor({Helper(), "sleep", "0.3"});
  ExpectReportOnly(outcome, "", "sleep");
  const Report report = ParseReport(outcome.out);
  EXPECT_GE(report.wall, 0.29);
  EXPECT_LE(report.wall, 1.0);
  EXPECT_LE(report.real_ms, 200) << "sleeping costs little CPU";
}

TEST(EndToEnd, SpinningIsChargedAsCpuTime) {
  if (Windows()) GTEST_SKIP() << "Wine does not account a child's CPU time";
  const Outcome outcome = RunTamsor({Helper(), "spin", "0.4"});
  ExpectReportOnly(outcome, "", "spin");
  const Report report = ParseReport(outcome.out);
  EXPECT_GE(report.real_ms, 250);
  EXPECT_LE(report.real_ms, report.wall * 1000 + 50);
}

TEST(EndToEnd, InterruptEndsTheChildAndTheTimerReports) {
  const Outcome outcome =
      RunTamsor({Helper(), "println", "started", "sleep", "5"},
                {"started", [](pid_t pid) {
                   SleepFor(0.2);
                   kill(-pid, SIGINT);
                 }});
  ExpectReportOnly(outcome, Eol("started\n"), "interrupted");
  EXPECT_LT(ParseReport(outcome.out).wall, 4.5) << "the child should have died";
}

TEST(EndToEnd, TerminationRequestToTheTimerIsAbsorbed) {
  if (Windows()) GTEST_SKIP() << "a POSIX SIGTERM ends a Wine process outright";
  const Outcome outcome =
      RunTamsor({Helper(), "println", "started", "sleep", "1"},
                {"started", [](pid_t pid) { kill(pid, SIGTERM); }});
  ExpectReportOnly(outcome, "started\n", "terminate");
  EXPECT_GE(ParseReport(outcome.out).wall, 0.95) << "it kept waiting";
}

TEST(EndToEnd, RepeatedInterruptsWhileTheChildIgnoresThem) {
  // The Windows runtime may reset its handler after the first one.
  if (Windows()) GTEST_SKIP() << "only a first interrupt is absorbed";
  const Outcome outcome = RunTamsor(
      {Helper(), "ignore", "INT", "println", "started", "sleep", "1.2"},
      {"started", [](pid_t pid) {
         for (int i = 0; i < 3; ++i) {
           SleepFor(0.2);
           kill(-pid, SIGINT);
         }
       }});
  ExpectReportOnly(outcome, "started\n", "ignored interrupts");
  EXPECT_GE(ParseReport(outcome.out).wall, 1.15);
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
  if (!Windows() && pid > 0) {
    EXPECT_EQ(kill(static_cast<pid_t>(pid), 0), 0) << "it should still run";
    kill(static_cast<pid_t>(pid), SIGKILL);
  }
}

}  // namespace

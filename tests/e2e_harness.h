// The end-to-end suites' harness: runs the built timer as users do, against
// the helper child, and reads what it prints and how it exits. The timer
// under test comes from the environment, so the same harness also drives
// the Windows build under Wine:
//   TAMSOR_EXE       the timer
//   TAMSOR_HELPER    the helper child, as the timer should be given it
//   TAMSOR_LAUNCHER  optional program that runs the timer (e.g. wine)
//   TAMSOR_WINDOWS   set when the timer is the Windows build
#ifndef TAMSOR_TESTS_E2E_HARNESS_H_
#define TAMSOR_TESTS_E2E_HARNESS_H_

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace tamsor_e2e {

// The build's own programs, unless the environment names others.
std::string Env(const char* name);

bool Windows();

// The text-mode line end of the timer's platform.
std::string Eol(std::string text);

std::string Helper();

// A program's name as the failure message shows it: Windows quotes it.
std::string Program(const std::string& name);

struct Outcome {
  std::string out;
  int exit_code = -1;  // -1 when killed by a signal
  int signal = 0;
  double seconds = 0;  // until the timer itself ended
};

void SleepFor(double seconds);

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
                   const std::string& stdout_to = "");

// `command` run through the launcher, if there is one.
std::vector<std::string> Launched(const std::vector<std::string>& command);

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

void ExpectReportOnly(const Outcome& outcome, const std::string& child_output,
                      const char* what);

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
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
    if (executable) chmod(file_path.c_str(), 0755);
    if (new_folder) names_.push_back(name.substr(0, slash));
    names_.push_back(name);
    return file_path;
  }
  ~ScratchFolder() {
    // The latest first: a subfolder goes after every file added to it.
    for (auto name = names_.rbegin(); name != names_.rend(); ++name) {
      std::remove((path_ + "/" + *name).c_str());
    }
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::vector<std::string> names_;
};

// A row of the tables of programs and lines with a clear outcome.
struct OutcomeCase {
  const char* name;
  std::vector<std::string> args;
  std::string out;  // the whole output, or the child's ahead of a report
  bool runs;
  bool in_folder = false;
  std::string stdout_to = "";  // see RunProgram
  int status = 255;            // where it does not run
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

// The end-to-end harness: see e2e_harness.h.
#include "e2e_harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <chrono>
#include <thread>

#include "argv.h"

extern char** environ;

namespace tamsor_e2e {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  if (value) return value;
  const std::string key = name;
  if (key == "TAMSOR_EXE") return TAMSOR_EXE;
  if (key == "TAMSOR_HELPER") return TAMSOR_HELPER;
  return "";
}

bool Windows() { return !Env("TAMSOR_WINDOWS").empty(); }

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

std::string Program(const std::string& name) {
  return Windows() ? "\"" + name + "\"" : name;
}

void SleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Outcome RunProgram(const std::string& program, char** argv,
                   const Trigger& trigger, const std::string& directory,
                   bool own_group, const std::string& stdout_to) {
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

  using Clock = std::chrono::steady_clock;
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

std::vector<std::string> Launched(const std::vector<std::string>& command) {
  std::vector<std::string> launched;
  if (!Env("TAMSOR_LAUNCHER").empty())
    launched.push_back(Env("TAMSOR_LAUNCHER"));
  launched.insert(launched.end(), command.begin(), command.end());
  return launched;
}

std::vector<std::string> TamsorCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = {Env("TAMSOR_EXE")};
  command.insert(command.end(), args.begin(), args.end());
  return Launched(command);
}

Outcome RunCommand(const std::vector<std::string>& command,
                   const Trigger& trigger, const std::string& directory,
                   bool own_group, const std::string& stdout_to) {
  Argv argv(command);
  return RunProgram(command[0], argv.argv(), trigger, directory, own_group,
                    stdout_to);
}

Outcome RunTamsor(const std::vector<std::string>& args, const Trigger& trigger,
                  const std::string& directory, const std::string& stdout_to) {
  return RunCommand(TamsorCommand(args), trigger, directory, true, stdout_to);
}

namespace {

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

}  // namespace

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

void ExpectOutcomes(const std::vector<OutcomeCase>& cases,
                    const std::string& folder) {
  const char* const path = std::getenv("PATH");
  const bool had_path = path != nullptr;
  const std::string caller_path = had_path ? path : "";
  for (const OutcomeCase& c : cases) {
    if (c.path == kNoPath) {
      unsetenv("PATH");
    } else if (!c.path.empty()) {
      setenv("PATH", c.path.c_str(), 1);
    }
    const Outcome outcome =
        RunTamsor(c.args, {}, c.in_folder ? folder : "", c.stdout_to);
    if (!c.path.empty()) {
      if (had_path) {
        setenv("PATH", caller_path.c_str(), 1);
      } else {
        unsetenv("PATH");
      }
    }
    if (c.runs) {
      ExpectReportOnly(outcome, c.out, c.name);
    } else {
      EXPECT_EQ(outcome.out, Eol(c.out)) << c.name;
      EXPECT_EQ(outcome.exit_code, c.status) << c.name;
    }
  }
}

}  // namespace tamsor_e2e

// The end-to-end harness on POSIX: posix_spawn, pipes and signals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

#include "argv.h"
#include "e2e_harness.h"

extern char** environ;

namespace tamsor_e2e {

bool GetEnv(const char* name, std::string* value) {
  const char* set = std::getenv(name);
  if (set) *value = set;
  return set != nullptr;
}

void SetEnv(const std::string& name, const char* value) {
  if (value) {
    setenv(name.c_str(), value, 1);
  } else {
    unsetenv(name.c_str());
  }
}

bool Windows() { return false; }

const int kCannotRun = 255;

std::string CannotRaise(ConsoleEvent) { return ""; }

bool Raise(ConsoleEvent event, long pid) {
  return kill(static_cast<pid_t>(-pid),
              event == ConsoleEvent::kInterrupt ? SIGINT : SIGQUIT) == 0;
}

bool EndIfRunning(long pid) {
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

Outcome RunProgram(const std::string& program,
                   const std::vector<std::string>& args,
                   const Trigger& trigger, const std::string& directory,
                   bool own_group, const std::string& stdout_to) {
  Argv argv(args);
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
      posix_spawnp(&pid, program.c_str(), &actions, &attributes,
                   argv.argv(), environ);
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

}  // namespace tamsor_e2e

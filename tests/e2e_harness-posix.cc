// The end-to-end harness on POSIX: posix_spawn, pipes and signals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "e2e_harness.h"
#include "test_support.h"

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

bool UnderWine() { return false; }

const int kCannotRun = 255;

bool Raise(ConsoleEvent event, long pid) {
  return kill(static_cast<pid_t>(-pid),
              event == ConsoleEvent::kInterrupt ? SIGINT : SIGQUIT) == 0;
}

bool EndIfRunning(long pid) {
  return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

Started Start(const std::string& program, const std::vector<std::string>& args,
              const std::string& directory, bool own_group,
              const std::string& stdout_to, bool /*own_console*/) {
  // A child the suite ends with Ctrl+\ leaves no core file behind.
  const struct rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  Argv argv(args);
  int out[2];
  EXPECT_EQ(pipe(out), 0);
  int unread[2] = {-1, -1};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (stdout_to.empty()) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
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
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, program.c_str(), &actions, &attributes,
                              argv.argv(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  signal(SIGPIPE, pipe_signal);
  close(out[1]);
  if (unread[1] >= 0) close(unread[1]);
  Started started;
  started.output = out[0];
  started.pid = rc == 0 ? pid : 0;
  started.process = own_group ? -pid : pid;  // what a hung one's end kills
  if (rc != 0) close(out[0]);
  return started;
}

bool ReadSome(Started* started, std::string* out) {
  struct pollfd readable = {static_cast<int>(started->output), POLLIN, 0};
  if (poll(&readable, 1, 5) <= 0) return true;
  char chunk[4096];
  const ssize_t n = read(readable.fd, chunk, sizeof chunk);
  if (n > 0) {
    out->append(chunk, static_cast<size_t>(n));
    return true;
  }
  close(readable.fd);
  started->output = -1;
  return false;
}

bool Ended(Started* started, bool end, Outcome* outcome) {
  if (end && started->output >= 0) close(static_cast<int>(started->output));
  if (started->process == 0) return true;
  if (end) kill(static_cast<pid_t>(started->process), SIGKILL);
  int status = 0;
  const pid_t pid = static_cast<pid_t>(started->pid);
  if (waitpid(pid, &status, end ? 0 : WNOHANG) != pid) return false;
  if (WIFEXITED(status)) outcome->exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) outcome->signal = WTERMSIG(status);
  started->process = 0;
  return true;
}

}  // namespace tamsor_e2e

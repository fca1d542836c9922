// POSIX: process creation takes a program and an argument vector, so the
// child gets the timer's own arguments unchanged and no command line is
// assembled for it.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"
#include "tamsor.h"

namespace tamsor {

// The child gets the timer's own argument vector, so there is nothing to
// assemble and no length but the kernel's.
struct Command {
  int argc;
  char** argv;
};

struct Child {
  pid_t pid;
  int status;  // as wait4 gives it
  FILETIME kernel;
  FILETIME user;
};

namespace {

FILETIME ToFileTime(const ::timeval& tv) {
  const uint64_t ticks = static_cast<uint64_t>(tv.tv_sec) * 10000000u +
                         static_cast<uint64_t>(tv.tv_usec) * 10u;
  return FILETIME{static_cast<uint32_t>(ticks),
                  static_cast<uint32_t>(ticks >> 32)};
}

void Reap(pid_t pid) {
  while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
  }
}

// The kernel's signal mask, one bit for each of signals 1 to 64. The C
// library's own calls are no use for it: musl's leave 32 to 34 out of the
// mask they report and cannot block them; glibc's cannot block 32 and 33.
using KernelMask = uint64_t;

void SetKernelMask(int how, const KernelMask* set, KernelMask* old) {
  syscall(SYS_rt_sigprocmask, how, set, old, sizeof(KernelMask));
}

// The mask the timer was started with, read once, before its first handler
// is installed (musl unblocks 33 and 34 then) or else at the spawn: until a
// handler is installed, the mask is still the caller's.
KernelMask CallerMask() {
  static KernelMask caller_mask;
  static bool read;
  if (!read) {
    SetKernelMask(SIG_BLOCK, nullptr, &caller_mask);
    read = true;
  }
  return caller_mask;
}

// The signals the timer has a handler for, which the child must not run.
bool caught[NSIG];

// What follows runs in the vfork child, which shares the timer's memory:
// no heap, nothing but system calls and plain copies.

void ResetCaughtSignals() {
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  for (int signum = 1; signum < NSIG; ++signum) {
    if (caught[signum]) sigaction(signum, &default_action, nullptr);
  }
}

// Whether the file at `path` starts as a binary does: a NUL ahead of the
// first line break in its first 80 bytes, as bash decides. A file that
// cannot be read is left to the shell to report.
bool LooksBinary(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char sample[80];
  const ssize_t n = read(fd, sample, sizeof sample);
  close(fd);
  for (ssize_t i = 0; i < n && sample[i] != '\n'; ++i) {
    if (sample[i] == '\0') return true;
  }
  return false;
}

// Runs `path` with argv[1..] as its arguments; a text file the kernel cannot
// run (a script without "#!") goes to /bin/sh, as shells and glibc do and
// musl does not, but a binary one never does. Uses argv[0], the timer's own
// name, as the slot for the shell's. Returns only on failure, with errno
// set.
void Exec(const char* path, char** argv) {
  execve(path, argv + 1, environ);
  if (errno != ENOEXEC) return;
  if (LooksBinary(path)) {
    errno = ENOEXEC;
    return;
  }
  char* const program = argv[1];
  char* const timer = argv[0];
  argv[0] = const_cast<char*>("/bin/sh");
  argv[1] = const_cast<char*>(path);
  execve("/bin/sh", argv, environ);
  argv[0] = timer;
  argv[1] = program;
  errno = ENOEXEC;
}

// execvp's search of PATH for argv[1], with Exec's fallback. As dash does,
// it goes on past every entry that cannot be run, and a permission error is
// the result where nothing runs. A path longer than PATH_MAX is skipped: the
// kernel would not take it either.
void ExecSearchingPath(char** argv) {
  const char* file = argv[1];
  if (*file == '\0') {
    errno = ENOENT;
    return;
  }
  if (strchr(file, '/')) return Exec(file, argv);
  const char* path = getenv("PATH");
  if (!path) path = "/bin:/usr/bin";
  const size_t file_length = strlen(file);
  char candidate[PATH_MAX];
  bool denied = false;
  for (const char* dir = path;; ++dir) {
    const char* end = dir;
    while (*end && *end != ':') ++end;
    const size_t n = static_cast<size_t>(end - dir);
    if (n + 1 + file_length < sizeof candidate) {
      // An empty entry is the current folder.
      memcpy(candidate, dir, n);
      size_t at = n;
      if (n > 0) candidate[at++] = '/';
      memcpy(candidate + at, file, file_length + 1);
      Exec(candidate, argv);
      if (errno == EACCES) denied = true;
    }
    if (*end == '\0') break;
    dir = end;
  }
  errno = denied ? EACCES : ENOENT;
}

// Everything the vfork child needs, and what it reports back.
struct ChildStart {
  char** argv;
  const struct sigaction* sigchld;  // the caller's, where not the default
  KernelMask mask;                  // the caller's
  volatile bool failed;
};

// The vfork child's whole work, in a frame of its own below the timer's:
// inlined into StartChild, its locals (a path of PATH_MAX bytes) could
// share stack slots with what the timer reads once vfork returns. It writes
// nothing of the timer's but `start->failed` and the two argv slots a shell
// borrows.
[[noreturn]] __attribute__((noinline)) void ExecInChild(ChildStart* start) {
  ResetCaughtSignals();
  if (start->sigchld) sigaction(SIGCHLD, start->sigchld, nullptr);
  SetKernelMask(SIG_SETMASK, &start->mask, nullptr);
  ExecSearchingPath(start->argv);
  start->failed = true;
  _exit(127);
}

}  // namespace

int ConsoleBreakSignal() { return SIGQUIT; }

Command* PrepareCommand(int argc, char** argv) {
  static Command command;
  command = Command{argc, argv};
  return &command;
}

Child* StartChild(Command* command) {
  const int argc = command->argc;
  char** const argv = command->argv;
  // No program named: nothing to try.
  if (argc < 2) return nullptr;
  // Were SIGCHLD ignored, as a caller may hand it down, the kernel would
  // reap the child itself and its CPU times would be lost. The child gets
  // the caller's setting back.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  struct sigaction caller {};
  sigaction(SIGCHLD, &default_action, &caller);
  ChildStart start{argv, caller.sa_handler != SIG_DFL ? &caller : nullptr,
                   CallerMask(), false};

  // Every signal is held until the child has its own dispositions: one
  // arriving in between would run the timer's handler in the child.
  const KernelMask all = ~KernelMask{0};
  KernelMask timer_mask = 0;
  SetKernelMask(SIG_BLOCK, &all, &timer_mask);
  char* const saved[2] = {argv[0], argv[1]};

  // vfork, unlike posix_spawn, leaves every signal disposition, the mask and
  // all other process state as the timer received it, and is cheaper. The
  // child shares the timer's memory until exec, which is how a failed exec
  // is reported back.
  const pid_t pid = vfork();
  if (pid == 0) ExecInChild(&start);
  // A shell run for a script borrowed these slots.
  argv[0] = saved[0];
  argv[1] = saved[1];
  SetKernelMask(SIG_SETMASK, &timer_mask, nullptr);
  if (pid < 0) return nullptr;
  if (start.failed) {
    Reap(pid);
    return nullptr;
  }
  static Child child;
  child = Child{pid, 0, {}, {}};
  return &child;
}

void PrintCannotRun(const Command& command) {
  PrintCannotRun(command.argc, command.argv);
}

void WaitChild(Child* child) {
  int status = 0;
  struct rusage usage {};
  pid_t ended;
  do {
    ended = wait4(child->pid, &status, 0, &usage);
  } while (ended < 0 && errno == EINTR);
  if (ended < 0) usage = rusage{};
  child->status = ended < 0 ? 0 : status;
  child->kernel = ToFileTime(usage.ru_stime);
  child->user = ToFileTime(usage.ru_utime);
}

void ChildTimes(const Child& child, FILETIME* kernel, FILETIME* user) {
  *kernel = child.kernel;
  *user = child.user;
}

int PassOnInterrupt(const Child& child) {
  if (!WIFSIGNALED(child.status)) return 0;
  const int signum = WTERMSIG(child.status);
  if (signum != SIGINT && signum != SIGQUIT) return 0;
  // The child's end is what is passed on, not a core file of the timer's.
  struct rlimit core {};
  getrlimit(RLIMIT_CORE, &core);
  core.rlim_cur = 0;
  setrlimit(RLIMIT_CORE, &core);
  signal(signum, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signum);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signum);
  return 128 + signum;  // as a shell would report it, were the timer alive
}

timeval ReadMonotonicClock() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return timeval{static_cast<int64_t>(now.tv_sec),
                 static_cast<int64_t>(now.tv_nsec / 1000)};
}

void InstallSignalHandler(int signum, void (*handler)(int), bool one_shot) {
  CallerMask();  // read while it is still the caller's
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the wait going across a caught signal.
  action.sa_flags = SA_RESTART | (one_shot ? SA_RESETHAND : 0);
  struct sigaction previous {};
  sigaction(signum, &action, &previous);
  // An ignore from the caller stays: the timer is immune to that signal
  // anyway, and the child must inherit the ignore as it would untimed.
  if (previous.sa_handler == SIG_IGN) {
    sigaction(signum, &previous, nullptr);
  } else if (signum > 0 && signum < NSIG) {
    caught[signum] = true;
  }
}

}  // namespace tamsor

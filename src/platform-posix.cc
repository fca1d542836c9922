// POSIX: process creation takes a program and an argument vector, so the
// child gets the timer's own arguments unchanged and no command line is
// assembled for it.
#include <errno.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "platform.h"

namespace tamsor {

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

}  // namespace

bool ChildTakesOneLine() { return false; }

bool CreateChild(char* /*command_line*/, int argc, char** argv,
                 ChildProcess* child) {
  *child = ChildProcess{};
  // No program named: nothing to try.
  if (argc < 2) return false;
  // Were SIGCHLD ignored, as a caller may hand it down, the kernel would
  // reap the child itself and its CPU times would be lost. The child gets
  // the caller's setting back.
  struct sigaction default_action {};
  default_action.sa_handler = SIG_DFL;
  struct sigaction caller {};
  sigaction(SIGCHLD, &default_action, &caller);
  const bool restore = caller.sa_handler != SIG_DFL;

  // vfork, unlike posix_spawn, leaves every signal disposition, the mask and
  // all other process state as the timer received it, and is cheaper. The
  // child shares the timer's memory until exec, which is how a failed exec
  // is reported back.
  volatile bool exec_failed = false;
  const pid_t pid = vfork();
  if (pid == 0) {
    if (restore) sigaction(SIGCHLD, &caller, nullptr);
    // execvp also runs a script without "#!" through /bin/sh, as shells do.
    execvp(argv[1], argv + 1);
    exec_failed = true;
    _exit(127);
  }
  if (pid < 0) return false;
  if (exec_failed) {
    Reap(pid);
    return false;
  }
  child->id = pid;
  return true;
}

void WaitChild(ChildProcess* child) {
  int status = 0;
  struct rusage usage {};
  pid_t ended;
  do {
    ended = wait4(static_cast<pid_t>(child->id), &status, 0, &usage);
  } while (ended < 0 && errno == EINTR);
  if (ended < 0) usage = rusage{};
  child->kernel = ToFileTime(usage.ru_stime);
  child->user = ToFileTime(usage.ru_utime);
}

void ChildTimes(const ChildProcess& child, FILETIME* kernel, FILETIME* user) {
  *kernel = child.kernel;
  *user = child.user;
}

timeval ReadMonotonicClock() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return timeval{static_cast<int64_t>(now.tv_sec),
                 static_cast<int64_t>(now.tv_nsec / 1000)};
}

void InstallSignalHandler(int signum, void (*handler)(int), bool one_shot) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  // Restarted calls keep the wait going across a caught signal.
  action.sa_flags = SA_RESTART | (one_shot ? SA_RESETHAND : 0);
  struct sigaction previous {};
  sigaction(signum, &action, &previous);
  // An ignore from the caller stays: the timer is immune to that signal
  // anyway, and the child must inherit the ignore as it would untimed.
  if (previous.sa_handler == SIG_IGN) sigaction(signum, &previous, nullptr);
}

}  // namespace tamsor

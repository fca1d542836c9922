// POSIX: process creation takes a program and an argument vector, so the
// child gets the timer's own arguments unchanged and the assembled line only
// serves the failure message.
#include <errno.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>

#include "platform.h"

extern char** environ;

namespace tamsor {

namespace {

FILETIME ToFileTime(const ::timeval& tv) {
  const uint64_t ticks = static_cast<uint64_t>(tv.tv_sec) * 10000000u +
                         static_cast<uint64_t>(tv.tv_usec) * 10u;
  return FILETIME{static_cast<uint32_t>(ticks),
                  static_cast<uint32_t>(ticks >> 32)};
}

}  // namespace

bool CreateChild(char* /*command_line*/, int argc, char** argv,
                 ChildProcess* child) {
  *child = ChildProcess{};
  // No program named: nothing to try.
  if (argc < 2) return false;
  // Were SIGCHLD ignored, as a caller may hand it down, the kernel would
  // reap the child itself and its CPU times would be lost.
  signal(SIGCHLD, SIG_DFL);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[1], nullptr, nullptr, argv + 1, environ) != 0) {
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
  sigaction(signum, &action, nullptr);
}

}  // namespace tamsor

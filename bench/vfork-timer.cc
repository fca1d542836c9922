// The floor for a timer on Linux: vfork + execvp + wait4 and a report, and
// nothing else. The benchmark measures tamsor's own cost against it.
#include <stdio.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  const pid_t pid = vfork();
  if (pid == 0) {
    execvp(argv[1], argv + 1);
    _exit(127);
  }
  int status;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  clock_gettime(CLOCK_MONOTONIC, &end);
  const double user = Seconds(usage.ru_utime);
  const double sys = Seconds(usage.ru_stime);
  printf("\nwall   %.3f s\nreal   %.3f s\nuser   %.3f s\nsys    %.3f s\n",
         (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9,
         user + sys, user, sys);
  return 0;
}

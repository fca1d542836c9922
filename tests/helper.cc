// A child for the end-to-end tests: runs a small script of operations given
// as arguments, so tests need no system commands.
//
//   args A B ...      print "argc=N", "line=<raw command line>" on Windows,
//                     then each remaining argument as "<A>", and exit 0
//   print TEXT        write TEXT without a line break
//   println TEXT      write TEXT and a line break
//   bulk LINES        write LINES numbered lines of 64 bytes each
//   sleep SECONDS     sleep
//   spin SECONDS      keep the CPU busy in user mode
//   cpu               print "cpu_ms=N", this process's own user + sys time
//   exit CODE         exit with CODE
//   raise SIGNAL      raise SEGV, ABRT, INT, TERM or KILL
//   ignore-int        ignore SIGINT from here on
//   grandchild SECS   start a detached copy that sleeps SECS, print its pid
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

void SleepSeconds(double seconds) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(seconds * 1000));
#else
  struct timespec left;
  left.tv_sec = static_cast<time_t>(seconds);
  left.tv_nsec = static_cast<long>((seconds - left.tv_sec) * 1e9);
  while (nanosleep(&left, &left) != 0) {
  }
#endif
}

volatile unsigned long long sink;

void Spin(double seconds) {
  const auto until =
      std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    for (int i = 0; i < 100000; ++i) sink = sink + i;
  }
}

long long OwnCpuMilliseconds() {
#ifdef _WIN32
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
  auto ticks = [](const FILETIME& t) {
    return (static_cast<long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return (ticks(kernel) + ticks(user)) / 10000;
#else
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
#endif
}

int SignalNamed(const std::string& name) {
  if (name == "SEGV") return SIGSEGV;
  if (name == "ABRT") return SIGABRT;
  if (name == "INT") return SIGINT;
  if (name == "TERM") return SIGTERM;
#ifndef _WIN32
  if (name == "KILL") return SIGKILL;
#endif
  std::fprintf(stderr, "helper: unknown signal %s\n", name.c_str());
  std::exit(99);
}

// Starts a copy of this program that sleeps, with none of our standard
// handles, so that whoever reads our output is not held up by it.
long long StartGrandchild(const char* self, const char* seconds) {
#ifdef _WIN32
  std::string line = std::string("\"") + self + "\" sleep " + seconds;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE,
                      DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return -1;
  }
  return process.dwProcessId;
#else
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
  }
  char sleep_op[] = "sleep";
  char* child_argv[] = {const_cast<char*>(self), sleep_op,
                        const_cast<char*>(seconds), nullptr};
  pid_t pid = -1;
  const int rc =
      posix_spawn(&pid, self, &actions, nullptr, child_argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
#endif
}

const char* Operand(int argc, char** argv, int i) {
  if (i >= argc) {
    std::fprintf(stderr, "helper: %s needs an operand\n", argv[i - 1]);
    std::exit(98);
  }
  return argv[i];
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string op = argv[i];
    if (op == "args") {
      std::printf("argc=%d\n", argc);
#ifdef _WIN32
      std::printf("line=<%s>\n", GetCommandLineA());
#endif
      for (int j = i + 1; j < argc; ++j) std::printf("<%s>\n", argv[j]);
      return 0;
    } else if (op == "print") {
      std::fputs(Operand(argc, argv, ++i), stdout);
    } else if (op == "println") {
      std::puts(Operand(argc, argv, ++i));
    } else if (op == "bulk") {
      const long lines = std::atol(Operand(argc, argv, ++i));
      const std::string filler(54, 'b');
      for (long n = 0; n < lines; ++n) {
        std::printf("%08ld %s\n", n, filler.c_str());
      }
    } else if (op == "sleep") {
      std::fflush(stdout);
      SleepSeconds(std::atof(Operand(argc, argv, ++i)));
    } else if (op == "spin") {
      Spin(std::atof(Operand(argc, argv, ++i)));
    } else if (op == "cpu") {
      std::printf("cpu_ms=%lld\n", OwnCpuMilliseconds());
    } else if (op == "exit") {
      std::fflush(stdout);
      return std::atoi(Operand(argc, argv, ++i));
    } else if (op == "raise") {
      std::fflush(stdout);
      std::raise(SignalNamed(Operand(argc, argv, ++i)));
    } else if (op == "ignore-int") {
      std::signal(SIGINT, SIG_IGN);
    } else if (op == "grandchild") {
      std::printf("grandchild=%lld\n",
                  StartGrandchild(argv[0], Operand(argc, argv, ++i)));
    } else {
      std::fprintf(stderr, "helper: unknown operation %s\n", op.c_str());
      return 97;
    }
    std::fflush(stdout);
  }
  return 0;
}

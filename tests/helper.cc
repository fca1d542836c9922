// A child for the end-to-end tests: runs a small script of operations given
// as arguments, so tests need no system commands.
//
//   args A B ...      print "argc=N", "line=<raw command line>" on Windows,
//                     then each remaining argument as "<A>", and exit 0
//   wargs A B ...     Windows: split GetCommandLineW as CommandLineToArgvW
//                     does and print each remaining argument's UTF-16 units
//                     in hex, as "<65e5 672c>", and exit 0
//   print TEXT        write TEXT without a line break
//   println TEXT      write TEXT and a line break
//   bulk LINES        write LINES numbered lines of 64 bytes each
//   sleep SECONDS     sleep
//   spin SECONDS      keep the CPU busy in user mode until this process has
//                     used SECONDS more CPU time, however loaded the machine
//   cpu               print this process's own CPU time so far: "cpu_ms=N"
//                     (user + sys), "user_ms=N" and "sys_ms=N"
//   exit CODE         exit with CODE (decimal, or hex as 0xC000013A)
//   raise SIGNAL      raise SIGNAL (SEGV, ABRT, INT, TERM; KILL on POSIX)
//   ignore SIGNAL     ignore SIGNAL from here on
//   grandchild SECS   start a detached copy that sleeps SECS, print its pid
//   run OPS...        run a copy with the remaining operations, wait for it
//                     and exit with its status ("cannot run" and 93 where it
//                     cannot start)
//   run-breakaway OPS...
//                     Windows: the same, the copy asking to leave our job
//   in-job            Windows: print "in_job=yes" or "in_job=no"
//   no-breakaway-job PROGRAM ARGS...
//                     Windows: run PROGRAM with ARGS (none holding a space or
//                     a quote) in a job that forbids breakaway, wait for it
//                     and exit with its status
//   console-event c|break PID
//                     Windows: raise Ctrl+C or Ctrl+Break in the console of
//                     process PID, as a key press there; exit 0 if raised
// POSIX only, to be a caller in a given state or to show that state:
//   default-signals   set every signal to its default action, those the C
//                     library keeps for itself too, and block none
//   block SIGNAL      add SIGNAL to the signal mask
//   catch SIGNAL      print "caught" on each SIGNAL, and go on
//   umask OCTAL       set the file mode creation mask
//   nice N            add N to the nice value
//   exec PROGRAM ...  replace this process with PROGRAM and the rest
//   kernel-spin SECS  as spin, but in the kernel: 1 MiB reads from
//                     /dev/zero
//   state             print what this process started with: ignored and
//                     blocked signals, open descriptors, umask, nice value,
//                     process group and session, RLIMIT_NOFILE, working
//                     directory and a hash of the environment
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
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

// This process's own CPU time so far, in microseconds of each kind.
struct CpuTime {
  long long user;
  long long sys;
};

CpuTime OwnCpu() {
#ifdef _WIN32
  FILETIME creation, exit, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
  auto us = [](const FILETIME& t) {
    return ((static_cast<long long>(t.dwHighDateTime) << 32) |
            t.dwLowDateTime) /
           10;
  };
  return {us(user), us(kernel)};
#else
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  auto us = [](const timeval& t) { return t.tv_sec * 1000000LL + t.tv_usec; };
  return {us(usage.ru_utime), us(usage.ru_stime)};
#endif
}

// Both kinds together, in whole milliseconds: what `spin` counts.
long long OwnCpuMilliseconds() {
  const CpuTime own = OwnCpu();
  return (own.user + own.sys) / 1000;
}

volatile unsigned long long sink;

// Counts CPU time, not wall time, so that a loaded machine only makes it
// take longer.
void Spin(double seconds) {
  const long long until =
      OwnCpuMilliseconds() + static_cast<long long>(seconds * 1000);
  while (OwnCpuMilliseconds() < until) {
    for (int i = 0; i < 100000; ++i) sink = sink + i;
  }
}

int SignalNamed(const std::string& name) {
  const struct {
    const char* name;
    int signum;
  } signals[] = {
      {"SEGV", SIGSEGV}, {"ABRT", SIGABRT}, {"INT", SIGINT}, {"TERM", SIGTERM},
#ifndef _WIN32
      {"KILL", SIGKILL}, {"QUIT", SIGQUIT}, {"HUP", SIGHUP}, {"CHLD", SIGCHLD},
      {"PIPE", SIGPIPE}, {"USR1", SIGUSR1}, {"34", 34},      {"64", 64},
#endif
  };
  for (const auto& s : signals) {
    // cppcheck-suppress useStlAlgorithm
    if (name == s.name) return s.signum;
  }
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

#ifdef _WIN32
// Runs `line` with creation `flags`, in `job` from its first instruction
// where one is given, waits for it and returns its exit status; 93, saying
// why, where it cannot start.
int RunLine(std::string line, DWORD flags, HANDLE job) {
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE,
                      flags | (job ? CREATE_SUSPENDED : 0), nullptr, nullptr,
                      &startup, &process)) {
    std::printf("cannot run: error %lu\n", GetLastError());
    return 93;
  }
  if (job) {
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 93;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
#endif

// Runs a copy of this program with argv[first..] as its operations, waits
// for it and returns its exit status; 93 where it cannot start.
int RunCopy(char** argv, int first, int argc, bool breakaway) {
#ifdef _WIN32
  std::string line = std::string("\"") + argv[0] + "\"";
  for (int i = first; i < argc; ++i) line += std::string(" ") + argv[i];
  return RunLine(line, breakaway ? CREATE_BREAKAWAY_FROM_JOB : 0, nullptr);
#else
  (void)argc;  // argv[argc] is null: the copy takes the rest as it is
  (void)breakaway;
  std::fflush(stdout);
  char** const copy = argv + first - 1;
  char* const op = copy[0];
  copy[0] = argv[0];
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], nullptr, nullptr, copy, environ);
  copy[0] = op;
  int status = 0;
  if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    std::printf("cannot run\n");
    return 93;
  }
  return WEXITSTATUS(status);
#endif
}

#ifdef _WIN32
// The arguments as a Unicode program sees them, after the one at `op`.
void PrintWideArguments(int op) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int j = op + 1; wide && j < count; ++j) {
    std::printf("<");
    for (const wchar_t* unit = wide[j]; *unit; ++unit) {
      std::printf(unit == wide[j] ? "%04x" : " %04x",
                  static_cast<unsigned>(*unit));
    }
    std::printf(">\n");
  }
  LocalFree(wide);
}

BOOL WINAPI Survive(DWORD) { return TRUE; }

// Joins the console of process `pid` for as long as it takes to raise
// `event` there, for every process attached to it.
int RaiseInConsole(const std::string& event, const char* pid) {
  FreeConsole();
  if (!AttachConsole(static_cast<DWORD>(std::strtoul(pid, nullptr, 10)))) {
    return 1;
  }
  SetConsoleCtrlHandler(Survive, TRUE);
  return GenerateConsoleCtrlEvent(
             event == "c" ? CTRL_C_EVENT : CTRL_BREAK_EVENT, 0)
             ? 0
             : 1;
}
#endif

const char* Operand(int argc, char** argv, int i) {
  if (i >= argc) {
    std::fprintf(stderr, "helper: %s needs an operand\n", argv[i - 1]);
    std::exit(98);
  }
  return argv[i];
}

#ifndef _WIN32
// The process state a child inherits, one item a line; the parent is left
// out, as the one thing a timer may change.
void PrintState() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigIgn:", 0) == 0 || line.rfind("SigBlk:", 0) == 0) {
      std::printf("%s\n", line.c_str());
    }
  }
  std::printf("fds:");
  if (DIR* fds = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(fds)) {
      if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(fds)) {
        continue;
      }
      std::printf(" %s", entry->d_name);
    }
    closedir(fds);
  }
  const mode_t mask = umask(0);
  umask(mask);
  errno = 0;
  const int nice_value = getpriority(PRIO_PROCESS, 0);
  struct rlimit files {};
  getrlimit(RLIMIT_NOFILE, &files);
  char cwd[PATH_MAX] = "";
  if (!getcwd(cwd, sizeof cwd)) std::strcpy(cwd, "?");
  unsigned long long hash = 1469598103934665603ull;  // FNV-1a
  for (char** var = environ; *var; ++var) {
    for (const char* c = *var; *c; ++c) {
      hash = (hash ^ static_cast<unsigned char>(*c)) * 1099511628211ull;
    }
    hash = (hash ^ 0xff) * 1099511628211ull;
  }
  std::printf(
      "\numask: %04o\nnice: %d\npgrp: %ld\nsession: %ld\n"
      "nofile: %llu %llu\ncwd: %s\nenviron: %016llx\n",
      static_cast<unsigned>(mask), nice_value, static_cast<long>(getpgrp()),
      static_cast<long>(getsid(0)),
      static_cast<unsigned long long>(files.rlim_cur),
      static_cast<unsigned long long>(files.rlim_max), cwd, hash);
}

// The kernel fills the whole buffer on each read, so nearly all the time is
// its own; small writes would cost the caller about as much as the kernel.
void SpinInKernel(double seconds) {
  static char buffer[1 << 20];
  const int zero_fd = open("/dev/zero", O_RDONLY);
  const long long until =
      OwnCpuMilliseconds() + static_cast<long long>(seconds * 1000);
  while (zero_fd >= 0 && OwnCpuMilliseconds() < until) {
    if (read(zero_fd, buffer, sizeof buffer) !=
        static_cast<ssize_t>(sizeof buffer)) {
      std::exit(95);
    }
  }
  close(zero_fd);
}

void SayCaught(int) {
  static const char kCaught[] = "caught\n";
  if (write(1, kCaught, sizeof kCaught - 1) < 0) _exit(94);
}

// The POSIX-only operations; returns the index of the last argument used,
// or 0 for an operation it does not know.
int PosixOperation(int argc, char** argv, int i) {
  const std::string op = argv[i];
  if (op == "default-signals") {
    // The C library's own signals are out of reach of sigaction.
    // The kernel's struct: handler (SIG_DFL), flags, restorer, mask.
    const unsigned long to_default[4] = {};
    for (int signum = 1; signum <= 64; ++signum) {
      if (signum == SIGKILL || signum == SIGSTOP) continue;
      syscall(SYS_rt_sigaction, signum, &to_default, nullptr, 8);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    return i;
  } else if (op == "block") {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SignalNamed(Operand(argc, argv, i + 1)));
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return i + 1;
  } else if (op == "catch") {
    struct sigaction action {};
    action.sa_handler = SayCaught;
    action.sa_flags = SA_RESTART;
    sigaction(SignalNamed(Operand(argc, argv, i + 1)), &action, nullptr);
    return i + 1;
  } else if (op == "umask") {
    umask(static_cast<mode_t>(
        std::strtol(Operand(argc, argv, i + 1), nullptr, 8)));
    return i + 1;
  } else if (op == "nice") {
    errno = 0;
    if (nice(std::atoi(Operand(argc, argv, i + 1))) == -1 && errno != 0) {
      std::perror("helper: nice");
    }
    return i + 1;
  } else if (op == "exec") {
    const char* program = Operand(argc, argv, i + 1);
    execvp(program, argv + i + 1);
    std::fprintf(stderr, "helper: cannot exec %s\n", program);
    std::exit(96);
  } else if (op == "state") {
    PrintState();
    return i;
  } else if (op == "kernel-spin") {
    SpinInKernel(std::atof(Operand(argc, argv, i + 1)));
    return i + 1;
  }
  return 0;
}
#endif

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
#ifdef _WIN32
    } else if (op == "wargs") {
      PrintWideArguments(i);
      return 0;
    } else if (op == "in-job") {
      BOOL in_job = FALSE;
      IsProcessInJob(GetCurrentProcess(), nullptr, &in_job);
      std::printf("in_job=%s\n", in_job ? "yes" : "no");
    } else if (op == "no-breakaway-job") {
      // A new job forbids breakaway, as a CI runner's or a service's may.
      std::string line;
      for (int j = i + 1; j < argc; ++j) line += std::string(" ") + argv[j];
      std::fflush(stdout);
      return RunLine(line.substr(1), 0, CreateJobObjectW(nullptr, nullptr));
    } else if (op == "run-breakaway") {
      std::fflush(stdout);
      return RunCopy(argv, i + 1, argc, true);
    } else if (op == "console-event") {
      const std::string event = Operand(argc, argv, ++i);
      return RaiseInConsole(event, Operand(argc, argv, ++i));
#endif
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
      // Each kind truncated as the timer truncates it.
      const CpuTime own = OwnCpu();
      std::printf("cpu_ms=%lld\nuser_ms=%lld\nsys_ms=%lld\n",
                  (own.user + own.sys) / 1000, own.user / 1000, own.sys / 1000);
    } else if (op == "exit") {
      std::fflush(stdout);
      // Any 32 bits: 0xC000013A is what Ctrl+C ends a Windows program with.
      return static_cast<int>(
          std::strtoul(Operand(argc, argv, ++i), nullptr, 0));
    } else if (op == "raise") {
      std::fflush(stdout);
      std::raise(SignalNamed(Operand(argc, argv, ++i)));
    } else if (op == "ignore") {
      std::signal(SignalNamed(Operand(argc, argv, ++i)), SIG_IGN);
    } else if (op == "run") {
      std::fflush(stdout);
      return RunCopy(argv, i + 1, argc, false);
    } else if (op == "grandchild") {
      std::printf("grandchild=%lld\n",
                  StartGrandchild(argv[0], Operand(argc, argv, ++i)));
    } else {
#ifndef _WIN32
      if (const int last = PosixOperation(argc, argv, i)) {
        i = last;
        std::fflush(stdout);
        continue;
      }
#endif
      std::fprintf(stderr, "helper: unknown operation %s\n", op.c_str());
      return 97;
    }
    std::fflush(stdout);
  }
  return 0;
}

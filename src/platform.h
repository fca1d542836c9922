// The platform layer: the few operations the timer needs from the operating
// system, in portable types. One implementation file per platform, chosen
// in CMake; each owns what its process creation needs.
#ifndef TAMSOR_PLATFORM_H_
#define TAMSOR_PLATFORM_H_

#include <stdint.h>

namespace tamsor {

// A CPU-time count in 100-nanosecond units, split into two 32-bit halves as
// Windows delivers it. Other platforms convert into this at the edge.
struct FILETIME {
  uint32_t dwLowDateTime;
  uint32_t dwHighDateTime;
};

// A clock reading in whole seconds and microseconds within the second.
struct timeval {
  int64_t tv_sec;
  int64_t tv_usec;
};

// The command as the platform's process creation takes it, and a started
// child. Each platform defines them; there is one of each at a time, in the
// platform's own storage.
struct Command;
struct Child;

// The command argv[1] .. argv[argc-1] (UTF-8; argv[argc] is null), made
// ready to start. Null, the reason printed, where it must not run.
Command* PrepareCommand(int argc, char** argv);

// Starts the command in the timer's console with its standard handles,
// environment and current directory, and all other process state as the
// timer received it. Null when it cannot be found or started.
Child* StartChild(Command* command);

// "Cannot run the command [ ... ]" for a command StartChild did not start.
void PrintCannotRun(const Command& command);

// Blocks until the child process itself has ended; caught signals do not
// end the wait early.
void WaitChild(Child* child);

// The CPU time the ended child spent in kernel mode and in user mode: where
// the platform accounts its whole process tree, the tree's.
void ChildTimes(const Child& child, FILETIME* kernel, FILETIME* user);

// What the timer ends with once its report is out: 0, unless an interrupt
// (Ctrl+C; Ctrl+\ or Ctrl+Break) ended the child, which the caller must then
// see as it would untimed, so that a script stops where it would: on POSIX
// the timer ends itself by the same signal, on Windows it returns the
// child's STATUS_CONTROL_C_EXIT.
int PassOnInterrupt(const Child& child);

// A monotonic, high-resolution clock reading, so that elapsed times survive
// adjustments of the calendar clock.
timeval ReadMonotonicClock();

// The console's other interrupt, beside Ctrl+C: Ctrl+\ (SIGQUIT) on POSIX,
// Ctrl+Break (SIGBREAK) on Windows.
int ConsoleBreakSignal();

// Installs `handler` for signal `signum`, unless the timer was started with
// that signal ignored: then the ignore stays, for the child to inherit. A
// one-shot handler gives way to the default action after its first
// delivery, so that a genuine fault in the timer cannot re-enter a handler
// that returns forever.
void InstallSignalHandler(int signum, void (*handler)(int), bool one_shot);

}  // namespace tamsor

#endif  // TAMSOR_PLATFORM_H_

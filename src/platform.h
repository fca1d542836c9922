// The platform layer: the few operations the timer needs from the operating
// system, in portable types. One implementation file per platform.
#ifndef TAMSOR_PLATFORM_H_
#define TAMSOR_PLATFORM_H_

#include <stddef.h>
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

// A started child. `id` is the platform's handle for it; `tree`, where not
// 0, its handle for the child and every process the child starts, whose CPU
// times it accounts together (a Windows job). WaitChild sets `ending`, how
// it ended (a POSIX wait status, a Windows exit code), and the CPU times
// where the platform hands them over at that point.
struct ChildProcess {
  intptr_t id;
  intptr_t tree;
  int ending;
  FILETIME kernel;
  FILETIME user;
};

// Whether process creation takes the child's command line as one string
// (Windows), which must then fit the command buffer, rather than the
// argument vector itself.
bool ChildTakesOneLine();

// The longest path Windows' own calls hand back, with its NUL.
constexpr size_t kPathSize = 32768;

// A batch file as found, and the command processor to run it with: both
// absolute paths, in UTF-8 whatever the ANSI code page, so that none of
// their characters is lost; a UTF-16 unit takes at most three bytes.
struct BatchFile {
  char cmd[3 * kPathSize];
  char path[3 * kPathSize];
};

// What a batch file's name leads to.
enum class Found {
  kNothing,    // no file, a folder first, a file that cannot be read or that
               // starts with "MZ" but is no program image
  kProgram,    // a program under a batch file's name: runs as any program
  kBatchFile,  // for cmd.exe
};

// Looks `name` (UTF-8) up as Windows' process creation does: a name
// TakenAsItStands as the file it names; any other in the timer's own folder,
// the current folder (where Windows asks for it: always for a name holding
// a backslash, else unless NoDefaultCurrentDirectoryInExePath is set), the
// system folder, the 16-bit system folder, the Windows folder, then each
// PATH entry (an empty one is the current folder), where a folder of that
// name ends the search. A program image ("MZ", and "PE\0\0" where its header
// points) is a program whatever its name; `path` is the file found, `cmd`
// the system folder's cmd.exe, never searched for.
Found FindBatchFile(const char* name, BatchFile* found);

// The arguments after the timer's own name in UTF-8, converted as process
// creation converts them (ANSI code page to UTF-16), so that no byte of a
// double-byte character is read as a character of its own; `argv` itself
// where they are in UTF-8 already, or where the child takes the vector.
// Null where they cannot all be in one command line.
char** ArgumentsInUtf8(int argc, char** argv);

// `text`, in UTF-8, as the console shows the arguments: in the code page
// they came in, written to `out` (of `size` bytes) where that is another.
// For messages.
const char* AsGiven(const char* text, char* out, size_t size);

// Starts the child in the timer's console with its standard handles,
// environment and current directory, and all other process state as the
// timer received it. `command_line` is the assembled line, where
// ChildTakesOneLine, in UTF-8; `argv` holds the program and its arguments
// as the timer received them (argv[argc] is null), for platforms whose
// process creation takes a vector. `program`, where not null, is the file
// to start (UTF-8), found already: no second search can start another.
// Returns false when the program cannot be found or started.
bool CreateChild(const char* program, char* command_line, int argc, char** argv,
                 ChildProcess* child);

// Blocks until the child process itself has ended; caught signals do not
// end the wait early.
void WaitChild(ChildProcess* child);

// The CPU time the ended child spent in kernel mode and in user mode: where
// the platform accounts its whole process tree, the tree's.
void ChildTimes(const ChildProcess& child, FILETIME* kernel, FILETIME* user);

// What the timer ends with once its report is out: 0, unless an interrupt
// (Ctrl+C; Ctrl+\ or Ctrl+Break) ended the child, which the caller must then
// see as it would untimed, so that a script stops where it would: on POSIX
// the timer ends itself by the same signal, on Windows it returns the
// child's STATUS_CONTROL_C_EXIT.
int PassOnInterrupt(const ChildProcess& child);

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

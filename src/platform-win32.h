// The Windows platform's internals: what its entry point needs, and what
// decides its behaviour, shared with its tests so that each part can be
// checked under Wine, not only end to end.
#ifndef TAMSOR_PLATFORM_WIN32_H_
#define TAMSOR_PLATFORM_WIN32_H_

#include <stdio.h>
#include <windows.h>

#include "platform.h"
#include "windows-command-line.h"

namespace tamsor {

// The longest path Windows' own calls hand back, with its NUL.
constexpr size_t kPathSize = 32768;

struct Command {
  wchar_t line[kCommandBufferSize];  // as CreateProcessW takes it
  // The file to start, found already, so that no second search can start
  // another; empty where Windows searches for the line's program itself.
  wchar_t program[kPathSize];
  // That file, where it is a program image, open since it was examined,
  // sharing reading only: no one can write it or put another file in its
  // place before it is started.
  HANDLE held;
  char text[kCommandBufferSize];  // the line as assembled, in UTF-8
};

struct Child {
  HANDLE process;
  HANDLE job;  // the job it runs in, where it could be put in one
  DWORD exit_code;
};

// The arguments of the C runtime's wide start-up in UTF-8, in the timer's
// own storage (argv[0], the timer's own name, only as a placeholder). Null,
// the reason printed to `out`, where one is no valid UTF-16 (a lone
// surrogate) or they cannot all be in one command line.
char** ArgumentsInUtf8(int argc, wchar_t** argv, FILE* out = stdout);

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
// name ends the search. Sets `path` (kPathSize units) to the file found. A
// program image ("MZ", and "PE\0\0" where its header points) is a program
// whatever its name, and `*held` is then that file, held open.
Found FindBatchFile(const char* name, wchar_t* path, HANDLE* held);

// Creates the command's process suspended, so that not one instruction of
// it runs before it is in the run's job, and lets go of the file held.
bool CreateSuspended(Command* command, PROCESS_INFORMATION* process);

// Lets the suspended process run, in `job` where it can be put there.
// Fills `child`; false, and the process ended, where it cannot run.
bool RunInJob(const PROCESS_INFORMATION& process, HANDLE job, Child* child);

// The CPU figures: the child's own, or where `tree` is the accounting of
// the job it ran in, the job's, though never less than its own, so that an
// accounting that counts short (Wine's counts nothing) cannot lower them.
void TreeTimes(const ::FILETIME& own_kernel, const ::FILETIME& own_user,
               const JOBOBJECT_BASIC_ACCOUNTING_INFORMATION* tree,
               FILETIME* kernel, FILETIME* user);

}  // namespace tamsor

#endif  // TAMSOR_PLATFORM_WIN32_H_

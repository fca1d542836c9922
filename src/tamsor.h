// The timer's portable logic: help text, signal shield, command-line
// assembly and the timing record with its report.
#ifndef TAMSOR_TAMSOR_H_
#define TAMSOR_TAMSOR_H_

#include <stddef.h>
#include <stdio.h>

#include "platform.h"

namespace tamsor {

// CreateProcessA accepts at most 32,766 characters plus the NUL.
constexpr size_t kCommandBufferSize = 32767;
constexpr size_t kMaxCommandLine = kCommandBufferSize - 1;

// cmd.exe takes at most 8,191 characters for the whole of its own command
// line, and Windows runs a batch file as
// `C:\Windows\system32\cmd.exe /c "` + line + `"`: 33 of them are taken.
constexpr size_t kMaxBatchLine = 8191 - 33;

// The exit status when what tamsor printed could not be written.
constexpr int kExitNotWritten = 1;

// Why an assembled line cannot be handed to Windows.
enum class LineFault {
  kNone,
  kTooLong,              // over kMaxCommandLine
  kQuoteInProgram,       // no file name holds one: the program is ambiguous
  kUnsafeBatchArgument,  // see UnsafeBatchArgument
  kTooLongForCmd,        // a batch file's line over kMaxBatchLine
};

void PrintHelp(FILE* out = stdout);

// Flushes `out`; where that or an earlier write failed, says why on `err`
// and returns false.
bool FinishOutput(FILE* out = stdout, FILE* err = stderr);

// Printed instead of running anything when the line would not fit.
void PrintTooLong(FILE* out = stdout);
void PrintTooLongForCmd(FILE* out = stdout);

// Printed when the child cannot be created: `line` as assembled where there
// is one, else argv[1] .. argv[argc-1] as a user would quote them, written
// piece by piece, so however long it is.
void PrintCannotRun(const char* line, int argc, char* const* argv,
                    FILE* out = stdout);

// Printed instead of running a batch file that would take an argument as
// command syntax.
void PrintUnsafeBatchArgument(const char* arg, FILE* out = stdout);

// The message for `fault`, about the line assembled from argv into `line`.
void PrintLineFault(LineFault fault, const char* line, int argc,
                    char* const* argv, FILE* out = stdout);

// Whether Windows runs `program` through cmd.exe: the name as Windows
// resolves it (/ and \ alike, "." and ".." segments collapsed, trailing dots
// and spaces dropped) has an extension that starts with "bat" or "cmd", in
// any case. Erring towards a batch file is safe; the other way is not.
bool IsBatchFile(const char* program);

// Where argv[1] is a batch file, the first of argv[1] .. argv[argc-1] that
// cmd.exe cannot be given as data however it is quoted: one holding a double
// quote (the quote state runs across the whole line), a % (expanded before
// anything else is read), a CR or a LF. Null when there is none or the
// program is no batch file.
const char* UnsafeBatchArgument(int argc, char* const* argv);

// Shields the timer against interrupt and termination signals for the run.
void ProcessSignal();
void BlockTermSignal(int);

// Joins argv[1] .. argv[argc-1] into `buffer`, each followed by one space.
// The program's name is always quoted, so that Windows takes exactly that
// name. Where it is a batch file, an argument is quoted unless it is all
// letters, digits and # $ * + - . / : ? @ \ _. Otherwise an argument is
// quoted when it is empty or holds a space or tab, and backslashes ahead of
// the closing quote are doubled, as the C runtime reads \" as a quote.
// Nothing else is escaped. `buffer` is zero-filled first. Returns false,
// having written nothing past `size`, when the line needs more than
// `size` - 1 characters.
bool AssembleCommandLine(int argc, char* const* argv, char* buffer,
                         size_t size);

// Assembles the line into `buffer` and checks that Windows, and cmd.exe
// for a batch file, would run exactly what the caller named with exactly
// those arguments.
LineFault PrepareCommandLine(int argc, char* const* argv, char* buffer,
                             size_t size);

// The timing record of the one run. Never instantiated.
class Tamsor {
 public:
  Tamsor() {}
  ~Tamsor() {}

  static void Start();
  static void End();
  static void SetUSRTime(const FILETIME& kernel, const FILETIME& user);
  static void Report(FILE* out = stdout);

  // Whole milliseconds of a 100-ns count, as seconds. Truncates below the
  // millisecond so that printed real always equals printed user + sys.
  static double FILETIME2Second(const FILETIME& count);

  // Seconds between two clock readings; the microseconds difference may be
  // negative.
  static double ElapsedSeconds(const timeval& early, const timeval& late);

  static timeval earlyt;
  static timeval latet;
  static double walltime;
  static double usertime;
  static double systime;
  static double realtime;
};

}  // namespace tamsor

#endif  // TAMSOR_TAMSOR_H_

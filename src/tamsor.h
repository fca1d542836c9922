// The timer's portable logic: help text, signal shield, command-line
// assembly and the timing record with its report.
#ifndef TAMSOR_TAMSOR_H_
#define TAMSOR_TAMSOR_H_

#include <cstddef>
#include <cstdio>

#include "platform.h"

namespace tamsor {

// CreateProcessA accepts at most 32,766 characters plus the NUL.
constexpr size_t kCommandBufferSize = 32767;
constexpr size_t kMaxCommandLine = kCommandBufferSize - 1;

void PrintHelp(FILE* out = stdout);

// Printed instead of running anything when the line would not fit.
void PrintTooLong(FILE* out = stdout);

// Printed when the child cannot be created: the line assembled from
// argv[1] .. argv[argc-1], written piece by piece, so however long it is.
void PrintCannotRun(int argc, char* const* argv, FILE* out = stdout);

// Printed instead of running a batch file that would take an argument as
// command syntax.
void PrintUnsafeBatchArgument(const char* arg, FILE* out = stdout);

// Whether Windows runs `program` through cmd.exe: its name, once trailing
// dots and spaces are dropped as Windows drops them, ends in .bat or .cmd,
// in any case.
bool IsBatchFile(const char* program);

// Where argv[1] is a batch file, the first argument that cmd.exe would not
// take as data however it is quoted: one holding a double quote together
// with any of & | < > ^, or a line break, which ends cmd.exe's command.
// Null when there is none or the program is no batch file.
const char* UnsafeBatchArgument(int argc, char* const* argv);

// Shields the timer against interrupt and termination signals for the run.
void ProcessSignal();
void BlockTermSignal(int);

// Joins argv[1] .. argv[argc-1] into `buffer`: an argument holding a space
// (or, where argv[1] is a batch file, any of & | < > ^, so that cmd.exe
// takes it as data) is wrapped in double quotes, nothing is escaped, and
// every argument is followed by one space. `buffer` is zero-filled first.
// Returns false, having written nothing past `size`, when the line needs more
// than `size` - 1 characters.
bool AssembleCommandLine(int argc, char* const* argv, char* buffer,
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

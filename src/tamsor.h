// The timer's portable logic: the run's fixed sequence, the help text and
// messages, the signal shield and the timing record with its report.
#ifndef TAMSOR_TAMSOR_H_
#define TAMSOR_TAMSOR_H_

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "platform.h"

namespace tamsor {

// The exit status when what tamsor printed could not be written.
constexpr int kExitNotWritten = 1;
// The exit status when the command cannot be run.
constexpr int kExitCannotRun = -1;

// The whole run: the help text, or the command argv[1] .. argv[argc-1]
// timed. Each platform's entry point hands the arguments over in UTF-8.
int Main(int argc, char** argv);

void PrintHelp(FILE* out = stdout);

// Writes `text` on one line: a control character (below 0x20 but tab, and
// 0x7F) as \n, \r or \xHH, everything else as it is. A message is one line
// whatever the arguments hold, so nothing after it can pass for a report.
void PutVisibly(const char* text, FILE* out);

// "Cannot run the command [ LINE ]", LINE the command line as assembled.
void PrintCannotRun(const char* line, FILE* out = stdout);

// The same for a command that is a vector, argv[1] .. argv[argc-1], each
// argument as a user would quote it (in double quotes where it is empty or
// holds a space or a tab) and followed by a space, written piece by piece,
// so however long it is.
void PrintCannotRun(int argc, char* const* argv, FILE* out = stdout);

// Flushes `out`; where that or an earlier write failed, says why on `err`
// and returns false.
bool FinishOutput(FILE* out = stdout, FILE* err = stderr);

// Shields the timer against interrupt and termination signals for the run.
void ProcessSignal();
void BlockTermSignal(int);

// The 64-bit count of 100-nanosecond units a FILETIME holds.
inline uint64_t Ticks(const FILETIME& count) {
  return (static_cast<uint64_t>(count.dwHighDateTime) << 32) |
         count.dwLowDateTime;
}

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

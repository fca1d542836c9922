// The timer's portable logic: help text, signal shield and the timing
// record with its report. The child's command line is in command-line.h.
#ifndef TAMSOR_TAMSOR_H_
#define TAMSOR_TAMSOR_H_

#include <stddef.h>
#include <stdio.h>

#include "platform.h"

namespace tamsor {

// The exit status when what tamsor printed could not be written.
constexpr int kExitNotWritten = 1;

void PrintHelp(FILE* out = stdout);

// Flushes `out`; where that or an earlier write failed, says why on `err`
// and returns false.
bool FinishOutput(FILE* out = stdout, FILE* err = stderr);

// Shields the timer against interrupt and termination signals for the run.
void ProcessSignal();
void BlockTermSignal(int);

// A CPU-time count for the child's whole process tree: the tree's, but
// never less than the child alone was charged, so that an accounting that
// counts short (or nothing) cannot lower the figure.
FILETIME TreeTime(const FILETIME& tree, const FILETIME& own);

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

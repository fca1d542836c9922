#include "tamsor.h"

#include <errno.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>

namespace tamsor {

void PrintHelp(FILE* out) {
  fprintf(out, "tamsor: A \"Linux-time\"-like program for Windows.\n");
  fprintf(out, "Reports: wall time, then CPU time: real = user + sys\n");
  fprintf(out, "Usage:   tamsor [program arguments]\n");
}

void PutVisibly(const char* text, FILE* out) {
  for (; *text; ++text) {
    const unsigned char byte = static_cast<unsigned char>(*text);
    if (*text == '\n') {
      fputs("\\n", out);
    } else if (*text == '\r') {
      fputs("\\r", out);
    } else if ((byte < 0x20 && *text != '\t') || byte == 0x7F) {
      fprintf(out, "\\x%02X", byte);
    } else {
      fputc(*text, out);
    }
  }
}

void PrintCannotRun(const char* line, FILE* out) {
  fputs("Cannot run the command [ ", out);
  PutVisibly(line, out);
  fputs(" ]\n", out);
}

void PrintCannotRun(int argc, char* const* argv, FILE* out) {
  fputs("Cannot run the command [ ", out);
  for (int i = 1; i < argc; ++i) {
    const bool quote = *argv[i] == '\0' || strpbrk(argv[i], " \t");
    if (quote) fputc('"', out);
    PutVisibly(argv[i], out);
    fputs(quote ? "\" " : " ", out);
  }
  fputs(" ]\n", out);
}

bool FinishOutput(FILE* out, FILE* err) {
  const int error = fflush(out) == 0 ? 0 : errno;
  if (error == 0 && !ferror(out)) return true;
  fprintf(err, "tamsor: cannot write to standard output: %s\n",
          error ? strerror(error) : "write error");
  return false;
}

namespace {

struct ShieldedSignal {
  int signum;
  // Faults raised by the timer itself must not resume into the faulting
  // instruction forever, so their handler fires once only.
  bool one_shot;
};

constexpr ShieldedSignal kShield[] = {
    {SIGINT, false}, {SIGILL, true},   {SIGFPE, true},
    {SIGSEGV, true}, {SIGTERM, false}, {SIGABRT, false},
};

}  // namespace

void ProcessSignal() {
  for (const ShieldedSignal& s : kShield) {
    InstallSignalHandler(s.signum, BlockTermSignal, s.one_shot);
  }
  // The console's other interrupt reaches the child too, which may well
  // survive it (a JVM prints its threads and goes on): the timer must not
  // die of it and leave the child running without a report.
  InstallSignalHandler(ConsoleBreakSignal(), BlockTermSignal, false);
}

// Does nothing on purpose: a handler, unlike ignoring the signal, is reset
// for the child when it starts, so the child reacts as it would untimed.
void BlockTermSignal(int) {}

timeval Tamsor::earlyt;
timeval Tamsor::latet;
double Tamsor::walltime;
double Tamsor::usertime;
double Tamsor::systime;
double Tamsor::realtime;

void Tamsor::Start() { earlyt = ReadMonotonicClock(); }

void Tamsor::End() {
  latet = ReadMonotonicClock();
  walltime = ElapsedSeconds(earlyt, latet);
}

double Tamsor::ElapsedSeconds(const timeval& early, const timeval& late) {
  const int64_t seconds = late.tv_sec - early.tv_sec;
  const int64_t microseconds = late.tv_usec - early.tv_usec;
  return static_cast<double>(seconds) +
         static_cast<double>(microseconds) / 1000000.0;
}

double Tamsor::FILETIME2Second(const FILETIME& count) {
  const uint64_t milliseconds = Ticks(count) / 10000;
  return static_cast<double>(milliseconds / 1000) +
         static_cast<double>(milliseconds % 1000) / 1000.0;
}

void Tamsor::SetUSRTime(const FILETIME& kernel, const FILETIME& user) {
  usertime = FILETIME2Second(user);
  systime = FILETIME2Second(kernel);
  realtime = usertime + systime;
}

namespace {

void PrintReportLine(FILE* out, const char* label, double seconds) {
  fprintf(out, "%-6s %.3f s\n", label, seconds);
}

}  // namespace

void Tamsor::Report(FILE* out) {
  fprintf(out, "\n");
  PrintReportLine(out, "wall", walltime);
  PrintReportLine(out, "real", realtime);
  PrintReportLine(out, "user", usertime);
  PrintReportLine(out, "sys ", systime);
}

}  // namespace tamsor

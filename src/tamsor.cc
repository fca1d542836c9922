#include "tamsor.h"

#include <ctype.h>
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

bool FinishOutput(FILE* out, FILE* err) {
  const int error = fflush(out) == 0 ? 0 : errno;
  if (error == 0 && !ferror(out)) return true;
  fprintf(err, "tamsor: cannot write to standard output: %s\n",
          error ? strerror(error) : "write error");
  return false;
}

void PrintTooLong(FILE* out) {
  fprintf(out,
          "Cannot run the command: its command line is longer than "
          "%zu characters\n",
          kMaxCommandLine);
}

void PrintTooLongForCmd(FILE* out) {
  fprintf(out,
          "Cannot run the command: a batch file's command line is "
          "longer than %zu characters, the most cmd.exe takes\n",
          kMaxBatchLine);
}

void PrintUnsafeBatchArgument(const char* arg, FILE* out) {
  fprintf(out,
          "Cannot run the command: a batch file cannot be given this "
          "argument safely: %s\n",
          arg);
}

namespace {

// What a batch file may be given without quotes: nothing cmd.exe splits
// at, expands or reads as syntax.
constexpr char kBatchSafe[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "#$*+-./:?@\\_";

enum class Rule { kProgram, kBatch, kOrdinary };

// Where an argument goes: a buffer that counts what would not fit, or a
// stream.
struct Sink {
  char* buffer;
  size_t capacity;
  size_t used;
  FILE* file;

  void Put(char c) {
    if (file) {
      fputc(c, file);
    } else if (used++ < capacity) {
      buffer[used - 1] = c;
    }
  }
};

bool NeedsQuotes(const char* arg, Rule rule) {
  switch (rule) {
    case Rule::kProgram:
      return true;
    case Rule::kBatch:
      return *arg == '\0' || arg[strspn(arg, kBatchSafe)] != '\0';
    case Rule::kOrdinary:
      break;
  }
  return *arg == '\0' || strpbrk(arg, " \t") != nullptr;
}

// The argument as the child's start-up must see it, and one space.
void PutArgument(const char* arg, Rule rule, Sink* sink) {
  const bool quote = NeedsQuotes(arg, rule);
  if (quote) sink->Put('"');
  const char* end = arg;
  for (; *end; ++end) sink->Put(*end);
  if (quote && rule == Rule::kOrdinary) {
    for (const char* c = end; c > arg && c[-1] == '\\'; --c) sink->Put('\\');
  }
  if (quote) sink->Put('"');
  sink->Put(' ');
}

bool RunsABatchFile(int argc, char* const* argv) {
  return argc >= 2 && IsBatchFile(argv[1]);
}

void PutLine(int argc, char* const* argv, bool windows, Sink* sink) {
  const bool batch = windows && RunsABatchFile(argc, argv);
  for (int i = 1; i < argc; ++i) {
    const Rule rule = windows && i == 1 ? Rule::kProgram
                      : batch           ? Rule::kBatch
                                        : Rule::kOrdinary;
    PutArgument(argv[i], rule, sink);
  }
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The last segment of `path` once "." and ".." segments are collapsed;
// false when none is left. Read from the end, so nothing is stored.
bool ResolvedLastSegment(const char* path, const char** segment,
                         size_t* length) {
  size_t end = strlen(path);
  size_t parents = 0;  // ".." segments still to apply
  while (end > 0) {
    if (IsSeparator(path[end - 1])) {
      --end;
      continue;
    }
    size_t start = end;
    while (start > 0 && !IsSeparator(path[start - 1])) --start;
    const char* at = path + start;
    const size_t n = end - start;
    if (n == 2 && at[0] == '.' && at[1] == '.') {
      ++parents;
    } else if (n == 1 && at[0] == '.') {
      // The same folder.
    } else if (parents > 0) {
      --parents;
    } else {
      *segment = at;
      *length = n;
      return true;
    }
    end = start;
  }
  return false;
}

bool StartsWithInAnyCase(const char* text, size_t length, const char* word) {
  for (size_t i = 0; word[i]; ++i) {
    if (i >= length ||
        tolower(static_cast<unsigned char>(text[i])) != word[i]) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool IsBatchFile(const char* program) {
  const char* name = nullptr;
  size_t length = 0;
  if (!ResolvedLastSegment(program, &name, &length)) return false;
  while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) {
    --length;
  }
  const char* dot = nullptr;
  for (size_t i = 0; i < length; ++i) {
    if (name[i] == '.') dot = name + i;
  }
  if (!dot) return false;
  // Also .bat:stream and the like: the check Windows makes is not known to
  // stop at the extension's end.
  const size_t rest = length - static_cast<size_t>(dot + 1 - name);
  return StartsWithInAnyCase(dot + 1, rest, "bat") ||
         StartsWithInAnyCase(dot + 1, rest, "cmd");
}

const char* UnsafeBatchArgument(int argc, char* const* argv) {
  if (!RunsABatchFile(argc, argv)) return nullptr;
  for (int i = 1; i < argc; ++i) {
    if (strpbrk(argv[i], "\"%\r\n") != nullptr) return argv[i];
  }
  return nullptr;
}

void PrintCannotRun(const char* line, int argc, char* const* argv, FILE* out) {
  fprintf(out, "Cannot run the command [ ");
  if (line) {
    fputs(line, out);
  } else {
    Sink sink{nullptr, 0, 0, out};
    PutLine(argc, argv, false, &sink);
  }
  fprintf(out, " ]\n");
}

void PrintLineFault(LineFault fault, const char* line, int argc,
                    char* const* argv, FILE* out) {
  switch (fault) {
    case LineFault::kNone:
      break;
    case LineFault::kTooLong:
      PrintTooLong(out);
      break;
    case LineFault::kQuoteInProgram:
      PrintCannotRun(line, argc, argv, out);
      break;
    case LineFault::kUnsafeBatchArgument:
      PrintUnsafeBatchArgument(UnsafeBatchArgument(argc, argv), out);
      break;
    case LineFault::kTooLongForCmd:
      PrintTooLongForCmd(out);
      break;
  }
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
}

// Does nothing on purpose: a handler, unlike ignoring the signal, is reset
// for the child when it starts, so the child reacts as it would untimed.
void BlockTermSignal(int) {}

bool AssembleCommandLine(int argc, char* const* argv, char* buffer,
                         size_t size) {
  if (size == 0) return false;
  memset(buffer, 0, size);
  Sink sink{buffer, size - 1, 0, nullptr};
  PutLine(argc, argv, true, &sink);
  if (sink.used > sink.capacity) {
    memset(buffer, 0, size);
    return false;
  }
  return true;
}

LineFault PrepareCommandLine(int argc, char* const* argv, char* buffer,
                             size_t size) {
  if (!AssembleCommandLine(argc, argv, buffer, size))
    return LineFault::kTooLong;
  if (argc >= 2 && strchr(argv[1], '"')) return LineFault::kQuoteInProgram;
  if (UnsafeBatchArgument(argc, argv)) return LineFault::kUnsafeBatchArgument;
  if (RunsABatchFile(argc, argv) && strlen(buffer) > kMaxBatchLine) {
    return LineFault::kTooLongForCmd;
  }
  return LineFault::kNone;
}

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
  const uint64_t ticks =
      (static_cast<uint64_t>(count.dwHighDateTime) << 32) | count.dwLowDateTime;
  const uint64_t milliseconds = ticks / 10000;
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

#include "tamsor.h"

#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstring>

namespace tamsor {

void PrintHelp(FILE* out) {
  std::fprintf(out, "tamsor: A \"Linux-time\"-like program for Windows.\n");
  std::fprintf(out, "Reports: wall time, then CPU time: real = user + sys\n");
  std::fprintf(out, "Usage:   tamsor [program arguments]\n");
}

void PrintTooLong(FILE* out) {
  std::fprintf(out,
               "Cannot run the command: its command line is longer than "
               "%zu characters\n",
               kMaxCommandLine);
}

void PrintUnsafeBatchArgument(const char* arg, FILE* out) {
  std::fprintf(out,
               "Cannot run the command: a batch file cannot be given this "
               "argument safely: %s\n",
               arg);
}

namespace {

// What cmd.exe reads as command syntax unless it stands within quotes.
constexpr char kBatchSyntax[] = "&|<>^";

bool RunsABatchFile(int argc, char* const* argv) {
  return argc >= 2 && IsBatchFile(argv[1]);
}

// The one quoting rule, for the child's line and the failure message alike.
bool NeedsQuotes(const char* arg, bool batch) {
  return std::strchr(arg, ' ') != nullptr ||
         (batch && std::strpbrk(arg, kBatchSyntax) != nullptr);
}

}  // namespace

bool IsBatchFile(const char* program) {
  size_t length = std::strlen(program);
  while (length > 0 &&
         (program[length - 1] == '.' || program[length - 1] == ' ')) {
    --length;
  }
  if (length < 4) return false;
  char extension[5] = {};
  for (size_t i = 0; i < 4; ++i) {
    extension[i] = static_cast<char>(
        std::tolower(static_cast<unsigned char>(program[length - 4 + i])));
  }
  return std::strcmp(extension, ".bat") == 0 ||
         std::strcmp(extension, ".cmd") == 0;
}

const char* UnsafeBatchArgument(int argc, char* const* argv) {
  if (!RunsABatchFile(argc, argv)) return nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const bool quote_and_syntax = std::strchr(arg, '"') != nullptr &&
                                  std::strpbrk(arg, kBatchSyntax) != nullptr;
    if (quote_and_syntax || std::strpbrk(arg, "\r\n") != nullptr) return arg;
  }
  return nullptr;
}

void PrintCannotRun(int argc, char* const* argv, FILE* out) {
  const bool batch = RunsABatchFile(argc, argv);
  std::fprintf(out, "Cannot run the command [ ");
  for (int i = 1; i < argc; ++i) {
    std::fprintf(out, NeedsQuotes(argv[i], batch) ? "\"%s\" " : "%s ", argv[i]);
  }
  std::fprintf(out, " ]\n");
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
  std::memset(buffer, 0, size);
  const size_t capacity = size - 1;
  const bool batch = RunsABatchFile(argc, argv);
  size_t used = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const size_t length = std::strlen(arg);
    const bool quote = NeedsQuotes(arg, batch);
    const size_t needed = length + (quote ? 2 : 0) + 1;
    if (needed > capacity - used) {
      std::memset(buffer, 0, used);
      return false;
    }
    if (quote) buffer[used++] = '"';
    std::memcpy(buffer + used, arg, length);
    used += length;
    if (quote) buffer[used++] = '"';
    buffer[used++] = ' ';
  }
  return true;
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
  std::fprintf(out, "%-6s %.3f s\n", label, seconds);
}

}  // namespace

void Tamsor::Report(FILE* out) {
  std::fprintf(out, "\n");
  PrintReportLine(out, "wall", walltime);
  PrintReportLine(out, "real", realtime);
  PrintReportLine(out, "user", usertime);
  PrintReportLine(out, "sys ", systime);
}

}  // namespace tamsor

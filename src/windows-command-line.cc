#include "windows-command-line.h"

#include <ctype.h>
#include <string.h>

#include "tamsor.h"

namespace tamsor {

namespace {

// What a batch file may be given without quotes: nothing cmd.exe splits
// at, expands or reads as syntax.
constexpr char kBatchSafe[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
    "#$*+-./:?@\\_";

// Between cmd.exe's path and the batch file's in a batch file's line.
constexpr char kCmdSwitches[] = "\" /d /s /c \"";

// Whether cmd.exe cannot be given `text` as data however it is quoted: a
// double quote (the quote state runs across the whole line), a % (expanded
// even inside quotes), a CR or a LF.
bool UnsafeForCmd(const char* text) {
  return strpbrk(text, "\"%\r\n") != nullptr;
}

// The first of argv[2] .. that cmd.exe cannot be given as data. Found the
// same in the arguments as given, whatever their code page: no byte of a
// double-byte character is a quote, a %, a CR or a LF.
const char* FirstUnsafeArgument(int argc, char* const* argv) {
  for (int i = 2; i < argc; ++i) {
    if (UnsafeForCmd(argv[i])) return argv[i];
  }
  return nullptr;
}

// How an argument is written: the program's name, an argument of a
// program, or one of a batch file.
enum class Rule { kProgram, kOrdinary, kBatch };

// Where the line goes: a buffer that counts what would not fit.
struct Sink {
  char* buffer;
  size_t capacity;
  size_t used;

  void Put(char c) {
    if (used++ < capacity) buffer[used - 1] = c;
  }
  void Put(const char* text) {
    while (*text) Put(*text++);
  }
  void Put(char c, size_t times) {
    while (times-- > 0) Put(c);
  }
};

bool NeedsQuotes(const char* arg, Rule rule) {
  switch (rule) {
    case Rule::kProgram:
      return true;
    case Rule::kBatch:
      // Quoted when it ends in \ too: the C runtime of the program a batch
      // file hands %* on to must see the doubled \ before the closing quote.
      return *arg == '\0' || arg[strspn(arg, kBatchSafe)] != '\0' ||
             arg[strlen(arg) - 1] == '\\';
    case Rule::kOrdinary:
      break;
  }
  return *arg == '\0' || strpbrk(arg, " \t") != nullptr;
}

// The argument as the child's start-up must read it back. The C runtime and
// CommandLineToArgvW read 2n backslashes and a quote as n backslashes and a
// quote that opens or closes, 2n+1 as n and the quote itself, and
// backslashes elsewhere as they stand: so a quote of the argument's own gets
// one, and the backslashes ahead of it or of the closing quote are doubled.
// The program's name is read up to the next quote.
void PutArgument(const char* arg, Rule rule, Sink* sink) {
  const bool quote = NeedsQuotes(arg, rule);
  const bool escape = rule != Rule::kProgram;
  if (quote) sink->Put('"');
  size_t backslashes = 0;
  for (const char* c = arg; *c; ++c) {
    if (escape && *c == '"') {
      sink->Put('\\', backslashes + 1);
    }
    backslashes = *c == '\\' ? backslashes + 1 : 0;
    sink->Put(*c);
  }
  if (quote && escape) sink->Put('\\', backslashes);
  if (quote) sink->Put('"');
}

// Fills `buffer` from `sink`'s count; on overflow leaves it all zero.
bool Finish(const Sink& sink, char* buffer, size_t size) {
  if (sink.used <= sink.capacity) return true;
  memset(buffer, 0, size);
  return false;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// `path` without a leading drive ("C:"), which is no part of a name.
const char* AfterDrive(const char* path) {
  return isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':'
             ? path + 2
             : path;
}

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

bool EndsWithInAnyCase(const char* text, size_t length, const char* word) {
  const size_t n = strlen(word);
  if (length < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (tolower(static_cast<unsigned char>(text[length - n + i])) != word[i]) {
      return false;
    }
  }
  return true;
}

// Whether the last segment of `program`, after any drive prefix, holds a
// ':': an alternate data stream, which no file name can be, and which
// Windows may or may not run as the file's type.
bool NamesAStream(const char* program) {
  const char* name = nullptr;
  size_t length = 0;
  return ResolvedLastSegment(AfterDrive(program), &name, &length) &&
         memchr(name, ':', length) != nullptr;
}

// Whether cmd.exe, given `path` in quotes, reads the very file Windows
// found: an absolute path in the plain spelling, its name already tidy.
bool IsPlainBatchPath(const char* path) {
  const size_t length = strlen(path);
  const bool drive = AfterDrive(path) != path && IsSeparator(path[2]);
  const bool unc = IsSeparator(path[0]) && IsSeparator(path[1]) &&
                   path[2] != '?' && path[2] != '.';
  return (drive || unc) && !NamesAStream(path) && path[length - 1] != '.' &&
         path[length - 1] != ' ' && IsBatchFile(path);
}

// "Cannot run the command: WHY: WHAT", WHAT shown on the line.
void PrintRefusal(const char* why, const char* what, FILE* out) {
  fprintf(out, "Cannot run the command: %s: ", why);
  PutVisibly(what, out);
  fputc('\n', out);
}

}  // namespace

void PrintTooLong(FILE* out) {
  fprintf(out,
          "Cannot run the command: its command line is longer than "
          "%zu characters\n",
          kMaxCommandLine);
}

void PrintLineFault(LineFault fault, const char* line, const char* path,
                    int argc, char* const* argv, FILE* out) {
  switch (fault) {
    case LineFault::kNone:
      break;
    case LineFault::kTooLong:
      PrintTooLong(out);
      break;
    case LineFault::kQuoteInProgram:
      PrintCannotRun(line, out);
      break;
    case LineFault::kStreamInProgram:
      PrintRefusal("a program name with a ':' names a stream, not a file",
                   argv[1], out);
      break;
    case LineFault::kUnsafeBatchArgument: {
      // An argument, or else the path found.
      const char* unsafe = FirstUnsafeArgument(argc, argv);
      PrintRefusal("a batch file cannot be given this argument safely",
                   unsafe ? unsafe
                   : path ? path
                          : "",
                   out);
      break;
    }
    case LineFault::kUnclearBatchPath:
      PrintRefusal(
          "cmd.exe may not read the path of the batch file found as Windows "
          "does",
          path ? path : "", out);
      break;
    case LineFault::kTooLongForCmd:
      fprintf(out,
              "Cannot run the command: a batch file's command line is "
              "longer than %zu characters, the most cmd.exe takes\n",
              kMaxCmdLine);
      break;
  }
}

bool IsBatchFile(const char* program) {
  const char* name = nullptr;
  size_t length = 0;
  if (!ResolvedLastSegment(AfterDrive(program), &name, &length)) return false;
  while (length > 0 && (name[length - 1] == '.' || name[length - 1] == ' ')) {
    --length;
  }
  return EndsWithInAnyCase(name, length, ".bat") ||
         EndsWithInAnyCase(name, length, ".cmd");
}

bool RunsABatchFile(int argc, char* const* argv) {
  return argc >= 2 && IsBatchFile(argv[1]);
}

bool AssembleCommandLine(int argc, char* const* argv, char* buffer,
                         size_t size) {
  if (size == 0) return false;
  memset(buffer, 0, size);
  Sink sink{buffer, size - 1, 0};
  for (int i = 1; i < argc; ++i) {
    PutArgument(argv[i], i == 1 ? Rule::kProgram : Rule::kOrdinary, &sink);
    sink.Put(' ');
  }
  return Finish(sink, buffer, size);
}

bool AssembleBatchLine(const char* cmd, const char* path, int argc,
                       char* const* argv, char* buffer, size_t size) {
  if (size == 0) return false;
  memset(buffer, 0, size);
  Sink sink{buffer, size - 1, 0};
  // /d: no AutoRun commands ahead of the batch file, in its time and maybe
  // in another folder. /s: cmd.exe drops exactly the outer pair of quotes
  // and reads the rest as it stands, with no guess about which quotes are
  // meant. /c: run that one command line and end.
  sink.Put('"');
  sink.Put(cmd);
  sink.Put(kCmdSwitches);
  PutArgument(path, Rule::kProgram, &sink);
  for (int i = 2; i < argc; ++i) {
    sink.Put(' ');
    PutArgument(argv[i], Rule::kBatch, &sink);
  }
  sink.Put('"');
  return Finish(sink, buffer, size);
}

bool TakenAsItStands(const char* name) {
  const size_t dots = strspn(name, ".");
  return IsSeparator(name[0]) || (name[0] != '\0' && name[1] == ':') ||
         ((dots == 1 || dots == 2) && IsSeparator(name[dots]));
}

LineFault PrepareCommandLine(int argc, char* const* argv, char* buffer,
                             size_t size) {
  if (!AssembleCommandLine(argc, argv, buffer, size))
    return LineFault::kTooLong;
  if (argc >= 2 && strchr(argv[1], '"')) return LineFault::kQuoteInProgram;
  if (argc >= 2 && NamesAStream(argv[1])) return LineFault::kStreamInProgram;
  return LineFault::kNone;
}

LineFault PrepareBatchLine(const char* cmd, const char* path, int argc,
                           char* const* argv, char* buffer, size_t size) {
  // cmd.exe expands % inside quotes too, so the found path is under the
  // same rule as the arguments.
  if (FirstUnsafeArgument(argc, argv) || UnsafeForCmd(path)) {
    return LineFault::kUnsafeBatchArgument;
  }
  if (!IsPlainBatchPath(path)) return LineFault::kUnclearBatchPath;
  if (size == 0) return LineFault::kTooLong;
  const bool cmd_limits = size - 1 >= kMaxCmdLine;
  if (!AssembleBatchLine(cmd, path, argc, argv, buffer,
                         cmd_limits ? kMaxCmdLine + 1 : size)) {
    return cmd_limits ? LineFault::kTooLongForCmd : LineFault::kTooLong;
  }
  return LineFault::kNone;
}

}  // namespace tamsor

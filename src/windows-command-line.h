// The Windows command line: how the arguments are joined into the one
// string that process creation takes, which programs run through cmd.exe,
// what cannot be handed over exactly, and the messages that say so. Pure
// and portable, so that the tests exercise it on every platform; only the
// Windows platform file runs it.
#ifndef TAMSOR_WINDOWS_COMMAND_LINE_H_
#define TAMSOR_WINDOWS_COMMAND_LINE_H_

#include <stddef.h>
#include <stdio.h>

namespace tamsor {

// CreateProcessW accepts at most 32,766 characters plus the NUL.
constexpr size_t kCommandBufferSize = 32767;
constexpr size_t kMaxCommandLine = kCommandBufferSize - 1;

// cmd.exe takes at most 8,191 characters for the whole of its own command
// line, its own path and switches included.
constexpr size_t kMaxCmdLine = 8191;

// Why a line cannot be handed to Windows.
enum class LineFault {
  kNone,
  kTooLong,              // over kMaxCommandLine
  kQuoteInProgram,       // no file name holds one: the program is ambiguous
  kStreamInProgram,      // a ':' in the name's last part: a stream, no file
  kUnsafeBatchArgument,  // see PrepareBatchLine
  kUnclearBatchPath,     // a found batch file cmd.exe may read otherwise
  kTooLongForCmd,        // a batch file's whole line over kMaxCmdLine
};

// Printed instead of running anything when the line would not fit.
void PrintTooLong(FILE* out = stdout);

// The message for `fault`, one line. `line` is the line as assembled,
// `path` the batch file as found, where there is one.
void PrintLineFault(LineFault fault, const char* line, const char* path,
                    int argc, char* const* argv, FILE* out = stdout);

// Whether Windows runs `program` through cmd.exe: the name as Windows
// resolves it (/ and \ alike, "." and ".." segments collapsed, trailing dots
// and spaces dropped) ends in ".bat" or ".cmd", in any case.
bool IsBatchFile(const char* program);

// Whether argv[1] is named as a batch file: then Windows reads the file
// it finds to decide whether it is one.
bool RunsABatchFile(int argc, char* const* argv);

// Whether Windows takes `name` as the file it names rather than searching
// for it: a name that starts with a root, a drive, .\ or ..\ (/ alike).
// Any other, with a folder part or not, is searched for as a bare name is.
bool TakenAsItStands(const char* name);

// Joins argv[1] .. argv[argc-1] into `buffer`, each followed by one space,
// so that the C runtime and CommandLineToArgvW read every argument back as
// given. The program's name is always quoted, so that Windows takes exactly
// that name. An argument is quoted when it is empty or holds a space or
// tab; a quote in it is escaped (\"), and backslashes ahead of a quote, its
// own or the closing one, are doubled. Nothing else is escaped. (A batch
// file gets the line of AssembleBatchLine instead; this one is for a
// program, whatever its name.) `buffer` is zero-filled first. Returns
// false, having written nothing past `size`, when the line needs more than
// `size` - 1 characters.
bool AssembleCommandLine(int argc, char* const* argv, char* buffer,
                         size_t size);

// The line that has `cmd` run the batch file at `path` with argv[2] ..
// argv[argc-1] under the batch rule:
//   "CMD" /d /s /c ""PATH" ARG ARG"
// An argument is quoted unless it is all letters, digits and
// # $ * + - . / : ? @ \ _ and does not end in \; backslashes ahead of the
// closing quote are doubled. Same contract as AssembleCommandLine.
bool AssembleBatchLine(const char* cmd, const char* path, int argc,
                       char* const* argv, char* buffer, size_t size);

// Assembles the line into `buffer` and checks what can be checked before
// the program is looked up: that Windows would take exactly the program
// named.
LineFault PrepareCommandLine(int argc, char* const* argv, char* buffer,
                             size_t size);

// Once the batch file argv[1] has been found at the absolute `path`, and
// `cmd` is the system's cmd.exe: replaces the line in `buffer` by the one
// that runs exactly that file, or says why that cannot be done. Among the
// reasons, an argument or the path that cmd.exe cannot be given as data
// however it is quoted: one holding a double quote (the quote state runs
// across the whole line), a % (expanded even inside quotes), a CR or a LF.
LineFault PrepareBatchLine(const char* cmd, const char* path, int argc,
                           char* const* argv, char* buffer, size_t size);

}  // namespace tamsor

#endif  // TAMSOR_WINDOWS_COMMAND_LINE_H_

// Windows: the child is created from one command line, which its own
// start-up splits back into arguments; a batch file's runs through cmd.exe.
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>
#include <windows.h>

// The report's rounding must not depend on the machine it runs on: a wall
// time of exactly 0.0625 s prints as 0.062 (ties to even) everywhere, or the
// same build reports differently on two machines. msvcrt.dll rounds ties
// away from zero; the UCRT rounds them to even only in builds made with
// recent toolsets and, as a DLL, only on Windows 10 2004 and later. So
// MinGW formats with its own printf, and MSVC links the runtime statically.
#if defined(__MINGW32__)
#if !defined(__USE_MINGW_ANSI_STDIO) || !__USE_MINGW_ANSI_STDIO
#error \
    "MinGW: build with __USE_MINGW_ANSI_STDIO=1 (msvcrt.dll rounds 0.0625 differently)"
#endif
#elif defined(_MSC_VER)
#if defined(_DLL)
#error \
    "MSVC: link the C runtime statically (/MT): the UCRT DLL rounds 0.0625 to even only on Windows 10 2004 and later"
#endif
#else
#error "build tamsor.exe with MinGW-w64 or MSVC (or clang-cl)"
#endif

#include "platform-win32.h"
#include "tamsor.h"

namespace tamsor {

namespace {

FILETIME FromWindows(const ::FILETIME& time) {
  return FILETIME{time.dwLowDateTime, time.dwHighDateTime};
}

FILETIME FromCount(const LARGE_INTEGER& count) {
  return FILETIME{count.LowPart, static_cast<uint32_t>(count.HighPart)};
}

// Whether a Windows call that fills a buffer of `size` succeeded: it returns
// 0 on failure, and the size it needs when the buffer is too small.
bool Fits(DWORD length, DWORD size) { return length > 0 && length < size; }

// The lookup reads every path in UTF-16: in the ANSI code page a folder
// named with a character it lacks would become another folder's name.
enum class Entry { kNone, kFile, kFolder };

// What `name` in `folder` is; a file's full path in `path`.
Entry EntryIn(const wchar_t* folder, size_t folder_length, const wchar_t* name,
              wchar_t* path) {
  static wchar_t candidate[kPathSize];
  const size_t name_length = wcslen(name);
  if (folder_length + 1 + name_length >= kPathSize) return Entry::kNone;
  wmemcpy(candidate, folder, folder_length);
  size_t at = folder_length;
  if (at > 0 && folder[at - 1] != L'\\' && folder[at - 1] != L'/') {
    candidate[at++] = L'\\';
  }
  wmemcpy(candidate + at, name, name_length + 1);
  if (!Fits(GetFullPathNameW(candidate, kPathSize, path, nullptr), kPathSize)) {
    return Entry::kNone;
  }
  const DWORD attributes = GetFileAttributesW(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Entry::kNone;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Entry::kFolder
                                                 : Entry::kFile;
}

// The folders process creation searches ahead of PATH, in its order.
Entry FindAheadOfPath(const wchar_t* name, wchar_t* path) {
  static wchar_t folder[kPathSize];
  Entry entry = Entry::kNone;
  DWORD length = GetModuleFileNameW(nullptr, folder, kPathSize);
  if (Fits(length, kPathSize)) {
    while (length > 0 && folder[length - 1] != L'\\') --length;
    if (length > 0) entry = EntryIn(folder, length - 1, name, path);
  }
  // Windows' own answer: a name holding a backslash is looked for in the
  // current folder whatever the variable says.
  if (entry == Entry::kNone && NeedCurrentDirectoryForExePathW(name)) {
    entry = EntryIn(L"", 0, name, path);
  }
  length = GetSystemDirectoryW(folder, kPathSize);
  if (entry == Entry::kNone && Fits(length, kPathSize)) {
    entry = EntryIn(folder, length, name, path);
  }
  length = GetWindowsDirectoryW(folder, kPathSize - 8);
  if (entry == Entry::kNone && Fits(length, kPathSize - 8)) {
    wmemcpy(folder + length, L"\\System", 8);
    entry = EntryIn(folder, length + 7, name, path);  // 16-bit
    if (entry == Entry::kNone) entry = EntryIn(folder, length, name, path);
  }
  return entry;
}

// An empty entry is the current folder, as Wine's process creation takes it.
Entry FindOnPath(const wchar_t* name, wchar_t* path) {
  static wchar_t list[kPathSize];
  if (!Fits(GetEnvironmentVariableW(L"PATH", list, kPathSize), kPathSize)) {
    return Entry::kNone;
  }
  Entry entry = Entry::kNone;
  for (const wchar_t* at = list; entry == Entry::kNone && *at;) {
    const size_t length = wcscspn(at, L";");
    entry = EntryIn(at, length, name, path);
    at += length;
    if (*at == L';') ++at;
  }
  return entry;
}

// What a file is to process creation, which reads it before it looks at
// its name.
enum class Kind {
  kUnreadable,
  kProgram,    // "MZ", and "PE\0\0" where the MZ header points
  kNoProgram,  // "MZ" but no program image: Windows refuses to start it
  kOther,      // under a batch file's name, a batch file
};

// Whether the signature the loader looks for is at the offset the MZ header
// `head` holds (at 0x3C, little-endian).
bool HasPeSignature(HANDLE file, const unsigned char* head) {
  LARGE_INTEGER at;
  at.QuadPart =
      static_cast<LONGLONG>(head[60] | head[61] << 8 | head[62] << 16 |
                            static_cast<uint32_t>(head[63]) << 24);
  char signature[4] = {0, 0, 0, 0};
  DWORD read = 0;
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
         ReadFile(file, signature, sizeof signature, &read, nullptr) &&
         read == sizeof signature && memcmp(signature, "PE\0\0", 4) == 0;
}

Kind KindOf(HANDLE file) {
  unsigned char head[64] = {};  // the MZ header
  DWORD read = 0;
  if (!ReadFile(file, head, sizeof head, &read, nullptr)) {
    return Kind::kUnreadable;
  }
  if (read < 2 || head[0] != 'M' || head[1] != 'Z') return Kind::kOther;
  return read == sizeof head && HasPeSignature(file, head) ? Kind::kProgram
                                                           : Kind::kNoProgram;
}

// Reads what the file at `path` is. A program image stays open in `*held`,
// sharing reading only, from the moment it is read until it is started: a
// file put in its place in between would be started as examined, a batch
// file as a program. (Windows itself refuses to start an image that is open
// for writing, so this refuses nothing it would start.) Where another
// process has it open for writing, it is read with all sharing: a batch
// file needs no hold, its line being safe whatever the file turns into.
Kind ReadKind(const wchar_t* path, HANDLE* held) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const bool holding = file != INVALID_HANDLE_VALUE;
  if (!holding && GetLastError() == ERROR_SHARING_VIOLATION) {
    file = CreateFileW(path, GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (file == INVALID_HANDLE_VALUE) return Kind::kUnreadable;
  Kind kind = KindOf(file);
  if (kind == Kind::kProgram && holding) {
    *held = file;
    return kind;
  }
  CloseHandle(file);
  // An image open for writing elsewhere: Windows would not start it.
  return kind == Kind::kProgram ? Kind::kUnreadable : kind;
}

// `wide` in UTF-8, refusing what is no valid UTF-16.
bool ToUtf8(const wchar_t* wide, char* out, size_t size) {
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out,
                             static_cast<int>(size), nullptr, nullptr) > 0;
}

// UTF-8 `text` in UTF-16.
bool FromUtf8(const char* text, wchar_t* out, size_t size) {
  return MultiByteToWideChar(CP_UTF8, 0, text, -1, out,
                             static_cast<int>(size)) > 0;
}

// `text`, in UTF-8, as the console shows the arguments, written to `out`
// (of `size` bytes, which it fills at most): in the ANSI code page where
// that is not UTF-8 (no manifest honoured), with no look-alikes: a
// character the code page lacks shows as '?'. For messages.
char* Shown(const char* text, char* out, size_t size) {
  static wchar_t wide[kCommandBufferSize];
  if (GetACP() == CP_UTF8 || !FromUtf8(text, wide, kCommandBufferSize) ||
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out,
                          static_cast<int>(size), nullptr, nullptr) == 0) {
    snprintf(out, size, "%s", text);
  }
  return out;
}

// Prints the message for `fault`, the line, the path and the arguments
// shown as the console shows them.
void Refuse(LineFault fault, const char* line, const char* path, int argc,
            char* const* argv) {
  if (fault == LineFault::kTooLong) {
    PrintTooLong();
    return;
  }
  // The line fits, and no argument takes more bytes in a code page than in
  // UTF-8, so neither do they.
  static char shown_line[kCommandBufferSize];
  static char shown_path[3 * kPathSize];
  static char text[kCommandBufferSize];
  static char* shown[kCommandBufferSize / 2 + 2];
  size_t used = 0;
  for (int i = 0; i < argc; ++i) {
    shown[i] = Shown(argv[i], text + used, sizeof text - used);
    used += strlen(shown[i]) + 1;
  }
  shown[argc] = nullptr;
  PrintLineFault(fault, Shown(line, shown_line, sizeof shown_line),
                 path ? Shown(path, shown_path, sizeof shown_path) : nullptr,
                 argc, shown);
}

// The command for a batch file's name: where the file found is a program,
// started by its path, held; else the line that has the system's cmd.exe
// run exactly that batch file. Prints why and returns false where nothing
// may run.
bool PrepareBatchFile(int argc, char** argv, Command* command) {
  // Both in UTF-8 for the line, and of Windows' longest.
  static char cmd[3 * kPathSize];
  static char path[3 * kPathSize];
  const UINT length = GetSystemDirectoryW(command->program, kPathSize - 8);
  if (!Fits(length, kPathSize - 8)) {
    PrintCannotRun(*command);
    return false;
  }
  wmemcpy(command->program + length, L"\\cmd.exe", 9);
  static wchar_t found[kPathSize];
  const Found kind = FindBatchFile(argv[1], found, &command->held);
  if (kind == Found::kProgram) {
    wmemcpy(command->program, found, kPathSize);
    return true;
  }
  if (kind == Found::kNothing || !ToUtf8(command->program, cmd, sizeof cmd) ||
      !ToUtf8(found, path, sizeof path)) {
    PrintCannotRun(*command);
    return false;
  }
  const LineFault fault = PrepareBatchLine(cmd, path, argc, argv, command->text,
                                           sizeof command->text);
  if (fault == LineFault::kNone) return true;
  Refuse(fault, command->text, path, argc, argv);
  return false;
}

// A job of the run's own, which accounts the CPU time of the child and of
// every process it starts. Not inheritable, and no limit set but one: no
// kill on close, so that what the command leaves running goes on after the
// timer. A process may leave it (CREATE_BREAKAWAY_FROM_JOB) where it could
// leave the job the timer runs in, or the timer runs in none: a command's
// request then succeeds or fails as it would untimed. Null where none can
// be had as such.
HANDLE CreateTreeJob() {
  BOOL in_job = FALSE;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  if (!IsProcessInJob(GetCurrentProcess(), nullptr, &in_job) ||
      (in_job &&
       !QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation,
                                  &limits, sizeof limits, nullptr))) {
    return nullptr;  // whether a command may leave cannot be told
  }
  const DWORD leaves =
      JOB_OBJECT_LIMIT_BREAKAWAY_OK | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  const bool may_leave =
      !in_job || (limits.BasicLimitInformation.LimitFlags & leaves) != 0;
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags =
      may_leave ? JOB_OBJECT_LIMIT_BREAKAWAY_OK : 0;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                              sizeof limits)) {
    return job;
  }
  CloseHandle(job);
  return nullptr;
}

FILETIME Larger(const FILETIME& a, const FILETIME& b) {
  return Ticks(a) >= Ticks(b) ? a : b;
}

}  // namespace

char** ArgumentsInUtf8(int argc, wchar_t** argv, FILE* out) {
  // Each argument takes at least its bytes and a space in the line, so
  // whatever does not fit here would not fit in the line either.
  static char text[kCommandBufferSize];
  static char* args[kCommandBufferSize / 2 + 2];
  static char timer[] = "tamsor";
  constexpr size_t kMost = sizeof args / sizeof *args - 1;
  if (argc < 0 || static_cast<size_t>(argc) > kMost) {
    PrintTooLong(out);
    return nullptr;
  }
  bool valid = true;
  size_t used = 0;
  if (argc > 0) args[0] = timer;
  for (int i = 1; i < argc; ++i) {
    args[i] = text + used;
    // No room at all would ask the conversion for the size it needs.
    const int room = static_cast<int>(sizeof text - used);
    int n = room == 0
                ? 0
                : WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, argv[i],
                                      -1, text + used, room, nullptr, nullptr);
    if (n == 0 && room > 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION) {
      // Kept, a lone surrogate as U+FFFD, only to show the command.
      valid = false;
      n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, text + used, room,
                              nullptr, nullptr);
    }
    if (n == 0) {
      PrintTooLong(out);
      return nullptr;
    }
    used += static_cast<size_t>(n);
  }
  args[argc] = nullptr;
  if (valid) return args;
  static char line[kCommandBufferSize];
  if (AssembleCommandLine(argc, args, line, sizeof line)) {
    static char shown[kCommandBufferSize];
    PrintCannotRun(Shown(line, shown, sizeof shown), out);
  } else {
    PrintTooLong(out);
  }
  return nullptr;
}

Found FindBatchFile(const char* utf8, wchar_t* path, HANDLE* held) {
  static wchar_t name[kPathSize];
  *held = nullptr;
  if (*utf8 == '\0' || !FromUtf8(utf8, name, kPathSize)) {
    return Found::kNothing;
  }
  Entry entry = Entry::kNone;
  if (TakenAsItStands(utf8)) {
    entry = EntryIn(L"", 0, name, path);
  } else {
    entry = FindAheadOfPath(name, path);
    if (entry == Entry::kNone) entry = FindOnPath(name, path);
  }
  const Kind kind =
      entry == Entry::kFile ? ReadKind(path, held) : Kind::kUnreadable;
  if (kind == Kind::kProgram) return Found::kProgram;
  return kind == Kind::kOther ? Found::kBatchFile : Found::kNothing;
}

Command* PrepareCommand(int argc, char** argv) {
  static Command command;
  command.program[0] = L'\0';
  command.held = nullptr;
  const LineFault fault =
      PrepareCommandLine(argc, argv, command.text, sizeof command.text);
  if (fault != LineFault::kNone) {
    Refuse(fault, command.text, nullptr, argc, argv);
    return nullptr;
  }
  if (RunsABatchFile(argc, argv) && !PrepareBatchFile(argc, argv, &command)) {
    return nullptr;
  }
  // The line in UTF-16, as the child would get it untimed.
  if (!FromUtf8(command.text, command.line, kCommandBufferSize)) {
    PrintTooLong();
    return nullptr;
  }
  return &command;
}

bool CreateSuspended(Command* command, PROCESS_INFORMATION* process) {
  ZeroMemory(process, sizeof *process);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  const bool created = CreateProcessW(
      command->program[0] ? command->program : nullptr, command->line, nullptr,
      nullptr, TRUE, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr, nullptr,
      &startup, process);
  if (command->held) {
    CloseHandle(command->held);
    command->held = nullptr;
  }
  return created;
}

bool RunInJob(const PROCESS_INFORMATION& process, HANDLE job, Child* child) {
  *child = Child{process.hProcess, nullptr, 0};
  // Not on Windows 7, say, where the timer itself runs in a job.
  if (job && AssignProcessToJobObject(job, process.hProcess)) {
    child->job = job;
  } else if (job) {
    CloseHandle(job);
  }
  // A child that cannot be resumed is ended: it must never be waited for
  // suspended.
  if (ResumeThread(process.hThread) != static_cast<DWORD>(-1)) return true;
  TerminateProcess(process.hProcess, 1);
  return false;
}

Child* StartChild(Command* command) {
  static Child child;
  const HANDLE job = CreateTreeJob();
  PROCESS_INFORMATION process;
  if (!CreateSuspended(command, &process)) {
    if (job) CloseHandle(job);
    return nullptr;
  }
  // Both handles stay open until the timer exits.
  return RunInJob(process, job, &child) ? &child : nullptr;
}

void PrintCannotRun(const Command& command) {
  static char shown[kCommandBufferSize];
  PrintCannotRun(Shown(command.text, shown, sizeof shown));
}

void TreeTimes(const ::FILETIME& own_kernel, const ::FILETIME& own_user,
               const JOBOBJECT_BASIC_ACCOUNTING_INFORMATION* tree,
               FILETIME* kernel, FILETIME* user) {
  *kernel = FromWindows(own_kernel);
  *user = FromWindows(own_user);
  if (!tree) return;
  *kernel = Larger(FromCount(tree->TotalKernelTime), *kernel);
  *user = Larger(FromCount(tree->TotalUserTime), *user);
}

int ConsoleBreakSignal() { return SIGBREAK; }

void WaitChild(Child* child) {
  WaitForSingleObject(child->process, INFINITE);
  GetExitCodeProcess(child->process, &child->exit_code);
}

void ChildTimes(const Child& child, FILETIME* kernel, FILETIME* user) {
  ::FILETIME creation{};
  ::FILETIME exit{};
  ::FILETIME own_kernel{};
  ::FILETIME own_user{};
  GetProcessTimes(child.process, &creation, &exit, &own_kernel, &own_user);
  // The job's totals count its processes still running up to now.
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION tree;
  const bool accounted =
      child.job &&
      QueryInformationJobObject(child.job, JobObjectBasicAccountingInformation,
                                &tree, sizeof tree, nullptr);
  TreeTimes(own_kernel, own_user, accounted ? &tree : nullptr, kernel, user);
}

int PassOnInterrupt(const Child& child) {
  // What Ctrl+C and Ctrl+Break end a console program with, and what a batch
  // file's %errorlevel% or PowerShell's $LASTEXITCODE shows untimed.
  return child.exit_code == STATUS_CONTROL_C_EXIT
             ? static_cast<int>(child.exit_code)
             : 0;
}

timeval ReadMonotonicClock() {
  LARGE_INTEGER frequency;
  LARGE_INTEGER counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  const int64_t ticks_per_second = frequency.QuadPart;
  const int64_t ticks = counter.QuadPart;
  return timeval{ticks / ticks_per_second,
                 (ticks % ticks_per_second) * 1000000 / ticks_per_second};
}

void InstallSignalHandler(int signum, void (*handler)(int), bool /*one_shot*/) {
  // The runtime resets a handler to the default once it has run. An ignore
  // set before the timer's own start-up stays.
  if (signal(signum, handler) == SIG_IGN) signal(signum, SIG_IGN);
}

}  // namespace tamsor

// Windows: the child is created from the assembled command line, which its
// own start-up splits back into arguments.
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

#include "command-line.h"
#include "platform.h"
#include "tamsor.h"

#if defined(__MINGW32__)
// Have MinGW's start-up expand wildcards in the arguments (MSVC links
// setargv.obj for that instead).
extern "C" {
int _dowildcard = -1;
}
#endif

namespace tamsor {

namespace {

FILETIME FromWindows(const ::FILETIME& time) {
  return FILETIME{time.dwLowDateTime, time.dwHighDateTime};
}

FILETIME FromCount(const LARGE_INTEGER& count) {
  return FILETIME{count.LowPart, static_cast<uint32_t>(count.HighPart)};
}

HANDLE ProcessHandle(const ChildProcess& child) {
  return reinterpret_cast<HANDLE>(child.id);
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

Kind ReadKind(const wchar_t* path) {
  const HANDLE file =
      CreateFileW(path, GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Kind::kUnreadable;
  unsigned char head[64] = {};  // the MZ header
  DWORD read = 0;
  Kind kind = Kind::kUnreadable;
  if (ReadFile(file, head, sizeof head, &read, nullptr)) {
    if (read < 2 || head[0] != 'M' || head[1] != 'Z') {
      kind = Kind::kOther;
    } else {
      kind = read == sizeof head && HasPeSignature(file, head)
                 ? Kind::kProgram
                 : Kind::kNoProgram;
    }
  }
  CloseHandle(file);
  return kind;
}

// `wide` in UTF-8, refusing what is no valid UTF-16.
bool ToUtf8(const wchar_t* wide, char* out, size_t size) {
  return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide, -1, out,
                             static_cast<int>(size), nullptr, nullptr) > 0;
}

// UTF-8 `text` in UTF-16, as process creation gets it from a UTF-8 code
// page.
bool FromUtf8(const char* text, wchar_t* out, size_t size) {
  return MultiByteToWideChar(CP_UTF8, 0, text, -1, out,
                             static_cast<int>(size)) > 0;
}

// Whether the arguments arrive in UTF-8 already: the manifest is honoured.
bool InUtf8() { return GetACP() == CP_UTF8; }

// Appends `arg` (ANSI code page) in UTF-8 to the `*used` bytes of `out`,
// which holds `size`; false where it does not fit.
bool AppendUtf8(const char* arg, char* out, size_t size, size_t* used) {
  static wchar_t wide[kCommandBufferSize];
  if (*used >= size ||
      MultiByteToWideChar(CP_ACP, 0, arg, -1, wide, kCommandBufferSize) == 0) {
    return false;
  }
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, out + *used,
                          static_cast<int>(size - *used), nullptr, nullptr);
  *used += static_cast<size_t>(n);
  return n > 0;
}

// A job of the run's own, which accounts the CPU time of the child and of
// every process it starts. Breakaway is allowed, as it is untimed, and no
// other limit is set: no kill on close, so that what the command leaves
// running goes on after the timer. Not inheritable. Null where none can be
// had as such.
HANDLE CreateTreeJob() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  if (!job) return nullptr;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                              sizeof limits)) {
    return job;
  }
  // A child that asked to leave it would fail to start.
  CloseHandle(job);
  return nullptr;
}

// Lets the suspended child run, in `job` where it can be assigned to it (not
// on Windows 7, say, where the timer itself runs in a job), so that not one
// instruction of it runs outside. Sets `tree` to the job it runs in. A child
// that cannot be resumed is ended: it must never be waited for suspended.
bool ResumeInJob(const PROCESS_INFORMATION& process, HANDLE job,
                 ChildProcess* child) {
  if (job && AssignProcessToJobObject(job, process.hProcess)) {
    child->tree = reinterpret_cast<intptr_t>(job);
  } else if (job) {
    CloseHandle(job);
  }
  if (ResumeThread(process.hThread) != static_cast<DWORD>(-1)) return true;
  TerminateProcess(process.hProcess, 1);
  return false;
}

}  // namespace

bool ChildTakesOneLine() { return true; }

int ConsoleBreakSignal() { return SIGBREAK; }

// The search CreateProcess makes for a program, so that the batch file that
// runs is the one Windows would run, not one cmd.exe finds by its own order.
Found FindBatchFile(const char* name, BatchFile* found) {
  static wchar_t wide_name[kPathSize];
  static wchar_t path[kPathSize];
  static wchar_t cmd[kPathSize];
  const UINT length = GetSystemDirectoryW(cmd, kPathSize - 8);
  if (!Fits(length, kPathSize - 8) || *name == '\0' ||
      !FromUtf8(name, wide_name, kPathSize)) {
    return Found::kNothing;
  }
  wmemcpy(cmd + length, L"\\cmd.exe", 9);
  Entry entry = Entry::kNone;
  if (TakenAsItStands(name)) {
    entry = EntryIn(L"", 0, wide_name, path);
  } else {
    entry = FindAheadOfPath(wide_name, path);
    if (entry == Entry::kNone) entry = FindOnPath(wide_name, path);
  }
  const Kind kind = entry == Entry::kFile ? ReadKind(path) : Kind::kUnreadable;
  if (kind == Kind::kUnreadable || kind == Kind::kNoProgram ||
      !ToUtf8(cmd, found->cmd, sizeof found->cmd) ||
      !ToUtf8(path, found->path, sizeof found->path)) {
    return Found::kNothing;
  }
  return kind == Kind::kProgram ? Found::kProgram : Found::kBatchFile;
}

char** ArgumentsInUtf8(int argc, char** argv) {
  if (InUtf8()) return argv;
  // Each argument takes at least its bytes and a space in the line, so
  // whatever does not fit here would not fit in the line either.
  static char text[kCommandBufferSize];
  static char* args[kCommandBufferSize / 2 + 2];
  constexpr size_t kMost = sizeof args / sizeof *args - 1;
  if (argc < 1) return argv;
  if (static_cast<size_t>(argc) > kMost) return nullptr;
  size_t used = 0;
  args[0] = argv[0];
  for (int i = 1; i < argc; ++i) {
    args[i] = text + used;
    if (!AppendUtf8(argv[i], text, sizeof text, &used)) return nullptr;
  }
  args[argc] = nullptr;
  return args;
}

const char* AsGiven(const char* text, char* out, size_t size) {
  static wchar_t wide[kPathSize];
  // No look-alikes: a character the code page lacks shows as '?'.
  if (InUtf8() || !FromUtf8(text, wide, kPathSize) ||
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out,
                          static_cast<int>(size), nullptr, nullptr) == 0) {
    return text;
  }
  return out;
}

bool CreateChild(const char* program, char* command_line, int /*argc*/,
                 char** /*argv*/, ChildProcess* child) {
  *child = ChildProcess{};
  // The line and the file in UTF-16, as the child would get them untimed.
  static wchar_t application[kPathSize];
  static wchar_t line[kCommandBufferSize];
  if ((program && !FromUtf8(program, application, kPathSize)) ||
      !FromUtf8(command_line, line, kCommandBufferSize)) {
    return false;
  }
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  // Suspended until it is in the job.
  const HANDLE job = CreateTreeJob();
  // Both handles stay open until the timer exits.
  if (!CreateProcessW(program ? application : nullptr, line, nullptr, nullptr,
                      TRUE, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &process)) {
    if (job) CloseHandle(job);
    return false;
  }
  child->id = reinterpret_cast<intptr_t>(process.hProcess);
  return ResumeInJob(process, job, child);
}

void WaitChild(ChildProcess* child) {
  WaitForSingleObject(ProcessHandle(*child), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(ProcessHandle(*child), &code);
  child->ending = static_cast<int>(code);
}

void ChildTimes(const ChildProcess& child, FILETIME* kernel, FILETIME* user) {
  ::FILETIME creation{};
  ::FILETIME exit{};
  ::FILETIME kernel_time{};
  ::FILETIME user_time{};
  GetProcessTimes(ProcessHandle(child), &creation, &exit, &kernel_time,
                  &user_time);
  *kernel = FromWindows(kernel_time);
  *user = FromWindows(user_time);
  // The job's totals count its processes still running up to now.
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION tree;
  if (child.tree &&
      QueryInformationJobObject(reinterpret_cast<HANDLE>(child.tree),
                                JobObjectBasicAccountingInformation, &tree,
                                sizeof tree, nullptr)) {
    *kernel = TreeTime(FromCount(tree.TotalKernelTime), *kernel);
    *user = TreeTime(FromCount(tree.TotalUserTime), *user);
  }
}

int PassOnInterrupt(const ChildProcess& child) {
  // What Ctrl+C and Ctrl+Break end a console program with, and what a batch
  // file's %errorlevel% or PowerShell's $LASTEXITCODE shows untimed.
  return static_cast<DWORD>(child.ending) == STATUS_CONTROL_C_EXIT
             ? child.ending
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

// Windows: the child is created from the assembled command line, which its
// own start-up splits back into arguments.
#include <signal.h>
#include <stdio.h>
#include <string.h>
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

#include "platform.h"

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

HANDLE ProcessHandle(const ChildProcess& child) {
  return reinterpret_cast<HANDLE>(child.id);
}

// Whether a Windows call that fills a buffer of `size` succeeded: it returns
// 0 on failure, and the size it needs when the buffer is too small.
bool Fits(DWORD length, DWORD size) { return length > 0 && length < size; }

// Whether `name` in `folder` is a file; if so, its full path in `path`.
bool FileIn(const char* folder, size_t folder_length, const char* name,
            char* path) {
  static char candidate[kPathSize];
  const size_t name_length = strlen(name);
  if (folder_length == 0 || folder_length + 1 + name_length >= kPathSize) {
    return false;
  }
  memcpy(candidate, folder, folder_length);
  size_t at = folder_length;
  if (folder[at - 1] != '\\' && folder[at - 1] != '/') candidate[at++] = '\\';
  memcpy(candidate + at, name, name_length + 1);
  const DWORD attributes = GetFileAttributesA(candidate);
  if (attributes == INVALID_FILE_ATTRIBUTES ||
      (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  return Fits(GetFullPathNameA(candidate, kPathSize, path, nullptr), kPathSize);
}

bool HasFolderPart(const char* name) {
  return strpbrk(name, "/\\") != nullptr || (name[0] != '\0' && name[1] == ':');
}

// The folders process creation searches ahead of PATH, in its order.
bool FindAheadOfPath(const char* name, char* path) {
  static char folder[kPathSize];
  DWORD length = GetModuleFileNameA(nullptr, folder, kPathSize);
  if (Fits(length, kPathSize)) {
    while (length > 0 && folder[length - 1] != '\\') --length;
    if (length > 0 && FileIn(folder, length - 1, name, path)) return true;
  }
  if (GetEnvironmentVariableA("NoDefaultCurrentDirectoryInExePath", nullptr,
                              0) == 0 &&
      FileIn(".", 1, name, path)) {
    return true;
  }
  length = GetSystemDirectoryA(folder, kPathSize);
  if (Fits(length, kPathSize) && FileIn(folder, length, name, path)) {
    return true;
  }
  length = GetWindowsDirectoryA(folder, kPathSize - 8);
  if (Fits(length, kPathSize - 8)) {
    memcpy(folder + length, "\\System", 8);
    if (FileIn(folder, length + 7, name, path)) return true;  // 16-bit
    if (FileIn(folder, length, name, path)) return true;
  }
  return false;
}

bool FindOnPath(const char* name, char* path) {
  static char list[kPathSize];
  if (!Fits(GetEnvironmentVariableA("PATH", list, kPathSize), kPathSize)) {
    return false;
  }
  for (const char* entry = list; *entry;) {
    const size_t length = strcspn(entry, ";");
    if (FileIn(entry, length, name, path)) return true;
    entry += length;
    if (*entry == ';') ++entry;
  }
  return false;
}

}  // namespace

bool ChildTakesOneLine() { return true; }

int ConsoleBreakSignal() { return SIGBREAK; }

// The search CreateProcess makes for a program, so that the batch file that
// runs is the one Windows would run, not one cmd.exe finds by its own order.
bool FindBatchFile(const char* name, BatchFile* found) {
  const DWORD length = GetSystemDirectoryA(found->cmd, kPathSize - 8);
  if (!Fits(length, kPathSize - 8)) return false;
  memcpy(found->cmd + length, "\\cmd.exe", 9);
  if (*name == '\0') return false;
  if (!HasFolderPart(name)) {
    return FindAheadOfPath(name, found->path) || FindOnPath(name, found->path);
  }
  if (!Fits(GetFullPathNameA(name, kPathSize, found->path, nullptr),
            kPathSize)) {
    return false;
  }
  const DWORD attributes = GetFileAttributesA(found->path);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateChild(const char* application, char* command_line, int /*argc*/,
                 char** /*argv*/, ChildProcess* child) {
  *child = ChildProcess{};
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // Both handles stay open until the timer exits.
  if (!CreateProcessA(application, command_line, nullptr, nullptr, TRUE,
                      NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                      &process)) {
    return false;
  }
  child->id = reinterpret_cast<intptr_t>(process.hProcess);
  return true;
}

void WaitChild(ChildProcess* child) {
  WaitForSingleObject(ProcessHandle(*child), INFINITE);
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

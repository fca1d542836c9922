// Windows: the child is created from the assembled command line, which its
// own start-up splits back into arguments.
#include <signal.h>
#include <stdio.h>
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

}  // namespace

bool ChildTakesOneLine() { return true; }

bool CreateChild(char* command_line, int /*argc*/, char** /*argv*/,
                 ChildProcess* child) {
  *child = ChildProcess{};
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  // Both handles stay open until the timer exits.
  if (!CreateProcessA(nullptr, command_line, nullptr, nullptr, TRUE,
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

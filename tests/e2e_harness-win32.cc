// The end-to-end harness on Windows: CreateProcessW, pipes and console
// control events, with UTF-8 at the harness's edge and UTF-16 inside.
#include <windows.h>

#include <cstdio>

#include "e2e_harness.h"

namespace tamsor_e2e {
namespace {

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size(), L'\0');
  wide.resize(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                  static_cast<int>(text.size()), &wide[0],
                                  static_cast<int>(wide.size())));
  return wide;
}

std::string Utf8(const std::wstring& wide) {
  std::string text(wide.size() * 3, '\0');
  text.resize(WideCharToMultiByte(
      CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &text[0],
      static_cast<int>(text.size()), nullptr, nullptr));
  return text;
}

// An argument as the C runtime's start-up splits it back out of the line:
// quoted where it is empty or holds a blank or a quote, with backslashes
// doubled only ahead of a quote. Bare otherwise, so that wildcards expand.
std::string Quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    return arg;
  }
  std::string out = "\"";
  size_t backslashes = 0;
  for (const char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    out += c;
    backslashes = 0;
  }
  return out.append(2 * backslashes, '\\') + "\"";
}

HANDLE Inheritable(HANDLE handle) {
  SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  return handle;
}

HANDLE OpenNul(DWORD access) {
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  return CreateFileW(L"NUL", access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inherit, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

bool GetEnv(const char* name, std::string* value) {
  const std::wstring key = Wide(name);
  const DWORD size = GetEnvironmentVariableW(key.c_str(), nullptr, 0);
  if (size == 0) return false;
  std::wstring wide(size, L'\0');
  wide.resize(GetEnvironmentVariableW(key.c_str(), &wide[0], size));
  *value = Utf8(wide);
  return true;
}

void SetEnv(const std::string& name, const char* value) {
  SetEnvironmentVariableW(Wide(name).c_str(),
                          value ? Wide(value).c_str() : nullptr);
}

bool Windows() { return true; }

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") !=
         nullptr;
}

const int kCannotRun = -1;

// The helper attaches to the timer's console, which only the timer and its
// child share, and raises the event there as a key press would.
bool Raise(ConsoleEvent event, long pid) {
  return RunProgram(Helper(),
                    {Helper(), "console-event",
                     event == ConsoleEvent::kInterrupt ? "c" : "break",
                     std::to_string(pid)})
             .exit_code == 0;
}

bool EndIfRunning(long pid) {
  const HANDLE process =
      OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION, FALSE,
                  static_cast<DWORD>(pid));
  DWORD code = 0;
  const bool running = process && GetExitCodeProcess(process, &code) &&
                       code == STILL_ACTIVE && TerminateProcess(process, 1);
  if (process) CloseHandle(process);
  return running;
}

Started Start(const std::string& /*program*/,
              const std::vector<std::string>& argv,
              const std::string& directory, bool /*own_group*/,
              const std::string& stdout_to, bool own_console) {
  std::string line;
  for (const std::string& arg : argv) {
    line += (line.empty() ? "" : " ") + Quoted(arg);
  }
  std::wstring wide_line = Wide(line);
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  CreatePipe(&read_end, &write_end, nullptr, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = OpenNul(GENERIC_READ);
  startup.hStdOutput = Inheritable(write_end);
  startup.hStdError = Inheritable(GetStdHandle(STD_ERROR_HANDLE));
  HANDLE other = nullptr;  // standard output where it is not read
  if (stdout_to == "|") {
    HANDLE unread = nullptr;
    CreatePipe(&unread, &other, nullptr, 0);
    CloseHandle(unread);
  } else if (!stdout_to.empty()) {
    other = OpenNul(GENERIC_READ);
  }
  if (other) {
    startup.hStdError = startup.hStdOutput;
    startup.hStdOutput = Inheritable(other);
  }
  // Interrupts go to a console of the timer's own, not to the suite's.
  const std::wstring folder = Wide(directory);
  PROCESS_INFORMATION process = {};
  const BOOL created = CreateProcessW(
      nullptr, &wide_line[0], nullptr, nullptr, TRUE,
      CREATE_UNICODE_ENVIRONMENT | (own_console ? CREATE_NEW_CONSOLE : 0),
      nullptr, directory.empty() ? nullptr : folder.c_str(), &startup,
      &process);
  const DWORD error = created ? 0 : GetLastError();
  for (HANDLE handle : {startup.hStdInput, write_end, other}) {
    if (handle) CloseHandle(handle);
  }
  Started started;
  if (!created) {
    std::fprintf(stderr, "CreateProcessW: error %lu\n", error);
    CloseHandle(read_end);
    return started;
  }
  CloseHandle(process.hThread);
  started.output = reinterpret_cast<intptr_t>(read_end);
  started.pid = static_cast<long>(process.dwProcessId);
  started.process = reinterpret_cast<intptr_t>(process.hProcess);
  return started;
}

bool ReadSome(Started* started, std::string* out) {
  const HANDLE pipe = reinterpret_cast<HANDLE>(started->output);
  DWORD available = 0;
  char chunk[4096];
  DWORD n = 0;
  if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
    CloseHandle(pipe);
    started->output = -1;
    return false;
  }
  if (available > 0 && ReadFile(pipe, chunk, sizeof chunk, &n, nullptr)) {
    out->append(chunk, n);
  } else {
    SleepFor(0.005);
  }
  return true;
}

bool Ended(Started* started, bool end, Outcome* outcome) {
  const HANDLE process = reinterpret_cast<HANDLE>(started->process);
  if (end && started->output != -1) {
    CloseHandle(reinterpret_cast<HANDLE>(started->output));
  }
  if (!process) return true;
  if (end) TerminateProcess(process, 1);
  if (WaitForSingleObject(process, end ? INFINITE : 0) != WAIT_OBJECT_0) {
    return false;
  }
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  outcome->exit_code = static_cast<int>(code);
  CloseHandle(process);
  started->process = 0;
  return true;
}

}  // namespace tamsor_e2e

// The end-to-end harness on Windows: CreateProcessW, pipes and console
// control events, with UTF-8 at the harness's edge and UTF-16 inside.
#include <windows.h>

#include <chrono>

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
  text.resize(WideCharToMultiByte(CP_UTF8, 0, wide.data(),
                                  static_cast<int>(wide.size()), &text[0],
                                  static_cast<int>(text.size()), nullptr,
                                  nullptr));
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

class Handle {
 public:
  explicit Handle(HANDLE handle = nullptr) : handle_(handle) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE* out() { return &handle_; }
  HANDLE get() const { return handle_; }
  void Close() {
    if (handle_ && handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_;
};

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

const int kCannotRun = -1;

std::string CannotRaise(ConsoleEvent event) {
  if (event == ConsoleEvent::kInterrupt && !Env("GITHUB_ACTIONS").empty()) {
    return "the CI runner starts its steps with Ctrl+C ignored, which the "
           "timer and its child inherit";
  }
  if (event == ConsoleEvent::kBreak &&
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
    return "Wine cannot raise Ctrl+Break: its GenerateConsoleCtrlEvent "
           "delivers Ctrl+C only";
  }
  return "";
}

// The helper attaches to the timer's console, which only the timer and its
// child share, and raises the event there as a key press would.
bool Raise(ConsoleEvent event, long pid) {
  const Outcome raised = RunProgram(
      Helper(), {Helper(), "console-event",
                 event == ConsoleEvent::kInterrupt ? "c" : "break",
                 std::to_string(pid)});
  return raised.exit_code == 0;
}

bool EndIfRunning(long pid) {
  Handle process(OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_INFORMATION,
                             FALSE, static_cast<DWORD>(pid)));
  DWORD code = 0;
  return process.get() && GetExitCodeProcess(process.get(), &code) &&
         code == STILL_ACTIVE && TerminateProcess(process.get(), 1);
}

Outcome RunProgram(const std::string& /*program*/,
                   const std::vector<std::string>& argv,
                   const Trigger& trigger, const std::string& directory,
                   bool /*own_group*/, const std::string& stdout_to) {
  Outcome outcome;
  std::string line;
  for (const std::string& arg : argv) line += (line.empty() ? "" : " ") + Quoted(arg);
  std::wstring wide_line = Wide(line);

  Handle read_end;
  Handle write_end;
  Handle unread;
  CreatePipe(read_end.out(), write_end.out(), nullptr, 0);
  Handle input(OpenNul(GENERIC_READ));
  Handle sink;  // where standard output or error goes that is not read
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = input.get();
  startup.hStdOutput = Inheritable(write_end.get());
  startup.hStdError = startup.hStdOutput;
  if (stdout_to.empty()) {
    // What the system itself prints stays out of what is compared.
    *sink.out() = OpenNul(GENERIC_WRITE);
    startup.hStdError = sink.get();
  } else if (stdout_to == "|") {
    CreatePipe(unread.out(), sink.out(), nullptr, 0);
    unread.Close();
    startup.hStdOutput = Inheritable(sink.get());
  } else {
    *sink.out() = OpenNul(GENERIC_READ);
    startup.hStdOutput = sink.get();
  }
  // Interrupts go to a console of the timer's own, not to the suite's.
  const DWORD flags =
      CREATE_UNICODE_ENVIRONMENT | (trigger.action ? CREATE_NEW_CONSOLE : 0);
  const std::wstring folder = Wide(directory);
  PROCESS_INFORMATION process = {};
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const BOOL started = CreateProcessW(
      nullptr, &wide_line[0], nullptr, nullptr, TRUE, flags, nullptr,
      directory.empty() ? nullptr : folder.c_str(), &startup, &process);
  write_end.Close();
  sink.Close();
  if (!started) {
    ADD_FAILURE() << "cannot start " << line.substr(0, 200) << ": error "
                  << GetLastError();
    return outcome;
  }
  Handle child(process.hProcess);
  CloseHandle(process.hThread);
  bool fired = !trigger.action;

  // Read until the program has ended and its output is closed; a hung
  // program fails the test instead of hanging the suite.
  const auto deadline = start + std::chrono::seconds(60);
  bool ended = false;
  bool open = true;
  while (!ended || open) {
    if (!ended && WaitForSingleObject(child.get(), 0) == WAIT_OBJECT_0) {
      ended = true;
      outcome.seconds =
          std::chrono::duration<double>(Clock::now() - start).count();
    }
    if (Clock::now() > deadline) {
      ADD_FAILURE() << "the timer did not finish in time";
      TerminateProcess(child.get(), 1);
      WaitForSingleObject(child.get(), INFINITE);
      break;
    }
    DWORD available = 0;
    open = open && PeekNamedPipe(read_end.get(), nullptr, 0, nullptr,
                                 &available, nullptr);
    char chunk[4096];
    DWORD n = 0;
    if (available > 0 && ReadFile(read_end.get(), chunk, sizeof chunk, &n,
                                  nullptr)) {
      outcome.out.append(chunk, n);
      if (!fired && outcome.out.find(trigger.text) != std::string::npos) {
        fired = true;
        trigger.action(static_cast<long>(process.dwProcessId));
      }
    } else {
      SleepFor(0.005);
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(child.get(), &code);
  outcome.exit_code = static_cast<int>(code);
  return outcome;
}

}  // namespace tamsor_e2e

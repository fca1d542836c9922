// The floor for timing a batch file on Windows: one CreateProcess of the
// system's cmd.exe with /d and the file's absolute path, and a wait. The
// benchmark sets tamsor's run of the same file beside it.
//
//   batch-probe FILE.bat
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  char cmd[MAX_PATH];
  char path[MAX_PATH];
  const UINT folder = GetSystemDirectoryA(cmd, MAX_PATH - 8);
  const DWORD full = GetFullPathNameA(argv[1], MAX_PATH, path, nullptr);
  if (folder == 0 || folder >= MAX_PATH - 8 || full == 0 || full >= MAX_PATH) {
    return 2;
  }
  lstrcatA(cmd, "\\cmd.exe");
  char line[MAX_PATH + 32];
  std::snprintf(line, sizeof line, "cmd.exe /d /s /c \"\"%s\"\"", path);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  if (!CreateProcessA(cmd, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    return 1;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(code);
}

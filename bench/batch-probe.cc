// The floor for timing a command on Windows: one CreateProcess and a wait.
// A batch file runs as the system's cmd.exe with /d and the file's absolute
// path; anything else as it stands. With --job, the child is created
// suspended, put in a job of its own (breakaway allowed) and resumed, as
// tamsor runs it, so that the job's own cost shows beside the plain start.
//
//   batch-probe [--job] FILE.bat | PROGRAM
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

HANDLE Job() {
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits,
                          sizeof limits);
  return job;
}

}  // namespace

int main(int argc, char** argv) {
  const bool in_job = argc == 3 && std::strcmp(argv[1], "--job") == 0;
  if (argc != (in_job ? 3 : 2)) return 2;
  const char* file = argv[in_job ? 2 : 1];
  char cmd[MAX_PATH];
  char path[MAX_PATH];
  const UINT folder = GetSystemDirectoryA(cmd, MAX_PATH - 8);
  const DWORD full = GetFullPathNameA(file, MAX_PATH, path, nullptr);
  if (folder == 0 || folder >= MAX_PATH - 8 || full == 0 || full >= MAX_PATH) {
    return 2;
  }
  lstrcatA(cmd, "\\cmd.exe");
  const size_t length = std::strlen(path);
  const bool batch = length > 4 && lstrcmpiA(path + length - 4, ".bat") == 0;
  char line[MAX_PATH + 32];
  std::snprintf(line, sizeof line,
                batch ? "cmd.exe /d /s /c \"\"%s\"\"" : "\"%s\"", path);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child;
  const HANDLE job = in_job ? Job() : nullptr;
  if (!CreateProcessA(batch ? cmd : path, line, nullptr, nullptr, TRUE,
                      in_job ? CREATE_SUSPENDED : 0, nullptr, nullptr,
                      &startup, &child)) {
    return 1;
  }
  if (in_job) {
    AssignProcessToJobObject(job, child.hProcess);
    ResumeThread(child.hThread);
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(child.hProcess, &code);
  if (in_job) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION times;
    QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &times,
                              sizeof times, nullptr);
    CloseHandle(job);
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return static_cast<int>(code);
}

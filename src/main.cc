// tamsor: runs a command as a child in the same console and reports its
// elapsed wall time and CPU times.
#include "command-line.h"
#include "platform.h"
#include "tamsor.h"

using tamsor::Tamsor;

namespace {

// Where the child takes one line (Windows): assembles it into `line`, and
// for a batch file finds the file and has the system's cmd.exe run exactly
// that, set in `batch`. A program under a batch file's name runs as any
// program. Prints why and returns false where nothing may run.
bool PrepareLine(int argc, char** argv, char* line, size_t size,
                 const tamsor::BatchFile** batch) {
  // A batch file's full path may run to Windows' longest.
  static tamsor::BatchFile found;
  tamsor::LineFault fault = tamsor::PrepareCommandLine(argc, argv, line, size);
  const char* path = nullptr;
  if (fault == tamsor::LineFault::kNone && tamsor::RunsABatchFile(argc, argv)) {
    switch (tamsor::FindBatchFile(argv[1], &found)) {
      case tamsor::Found::kNothing:
        tamsor::PrintCannotRun(line, argc, argv);
        return false;
      case tamsor::Found::kProgram:
        return true;
      case tamsor::Found::kBatchFile:
        break;
    }
    path = found.path;
    fault = tamsor::PrepareBatchLine(found.cmd, path, argc, argv, line, size);
    *batch = &found;
  }
  if (fault == tamsor::LineFault::kNone) return true;
  tamsor::PrintLineFault(fault, line, path, argc, argv);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 1) {
    tamsor::PrintHelp();
    return tamsor::FinishOutput() ? 0 : tamsor::kExitNotWritten;
  }
  tamsor::ProcessSignal();

  // Only a child that is handed one line needs it assembled, and to fit;
  // elsewhere the child gets the argument vector itself, of any length, and
  // the buffer's pages, being static, are never even touched.
  static char command_line[tamsor::kCommandBufferSize];
  const char* line = nullptr;
  const tamsor::BatchFile* batch = nullptr;
  if (tamsor::ChildTakesOneLine()) {
    line = command_line;
    if (!PrepareLine(argc, argv, command_line, sizeof command_line, &batch)) {
      return -1;
    }
  }

  Tamsor::Start();
  tamsor::ChildProcess child;
  if (!tamsor::CreateChild(batch, command_line, argc, argv, &child)) {
    tamsor::PrintCannotRun(line, argc, argv);
    return -1;
  }
  tamsor::WaitChild(&child);

  tamsor::FILETIME kernel;
  tamsor::FILETIME user;
  tamsor::ChildTimes(child, &kernel, &user);
  Tamsor::SetUSRTime(kernel, user);
  Tamsor::End();
  // The report in one write: whoever reads a pipe is woken once, and the
  // report cannot be split by another writer's output.
  setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
  Tamsor::Report();
  // A report that was never written must not pass for one that was.
  return tamsor::FinishOutput() ? 0 : tamsor::kExitNotWritten;
}

// tamsor: runs a command as a child in the same console and reports its
// elapsed wall time and CPU times.
#include "command-line.h"
#include "platform.h"
#include "tamsor.h"

using tamsor::Tamsor;

namespace {

// Messages show the line and the path found as the console shows the
// arguments, which they hold, and the arguments as given.
const char* ShownLine(const char* line) {
  static char shown[tamsor::kCommandBufferSize];
  return line ? tamsor::AsGiven(line, shown, sizeof shown) : nullptr;
}

const char* ShownPath(const char* path) {
  static char shown[sizeof tamsor::BatchFile::path];
  return path ? tamsor::AsGiven(path, shown, sizeof shown) : nullptr;
}

// Where the child takes one line (Windows): assembles it into `line` from
// `argv`, the arguments in UTF-8, and for a batch file finds the file and
// has the system's cmd.exe run exactly that. A program under a batch file's
// name runs as any program, started by the path examined. Sets the file to
// start in `*program`. Prints why and returns false where nothing may run.
bool PrepareLine(int argc, char** argv, char** given, char* line, size_t size,
                 const char** program) {
  // A batch file's full path may run to Windows' longest.
  static tamsor::BatchFile found;
  tamsor::LineFault fault = tamsor::PrepareCommandLine(argc, argv, line, size);
  const char* path = nullptr;
  if (fault == tamsor::LineFault::kNone && tamsor::RunsABatchFile(argc, argv)) {
    switch (tamsor::FindBatchFile(argv[1], &found)) {
      case tamsor::Found::kNothing:
        tamsor::PrintCannotRun(ShownLine(line), argc, given);
        return false;
      case tamsor::Found::kProgram:
        *program = found.path;
        return true;
      case tamsor::Found::kBatchFile:
        break;
    }
    path = found.path;
    fault = tamsor::PrepareBatchLine(found.cmd, path, argc, argv, line, size);
    *program = found.cmd;
  }
  if (fault == tamsor::LineFault::kNone) return true;
  tamsor::PrintLineFault(fault, ShownLine(line), ShownPath(path), argc, given);
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
  const char* program = nullptr;
  if (tamsor::ChildTakesOneLine()) {
    // Read as characters, whatever the code page: no byte of one may pass
    // for a \ or a quote.
    char** args = tamsor::ArgumentsInUtf8(argc, argv);
    if (!args) {
      tamsor::PrintTooLong();
      return -1;
    }
    line = command_line;
    if (!PrepareLine(argc, args, argv, command_line, sizeof command_line,
                     &program)) {
      return -1;
    }
  }

  Tamsor::Start();
  tamsor::ChildProcess child;
  if (!tamsor::CreateChild(program, command_line, argc, argv, &child)) {
    tamsor::PrintCannotRun(ShownLine(line), argc, argv);
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
  if (!tamsor::FinishOutput()) return tamsor::kExitNotWritten;
  return tamsor::PassOnInterrupt(child);
}

// tamsor: runs a command as a child in the same console and reports its
// elapsed wall time and CPU times.
#include "platform.h"
#include "tamsor.h"

using tamsor::Tamsor;

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
  if (tamsor::ChildTakesOneLine()) {
    line = command_line;
    const tamsor::LineFault fault = tamsor::PrepareCommandLine(
        argc, argv, command_line, sizeof command_line);
    if (fault != tamsor::LineFault::kNone) {
      tamsor::PrintLineFault(fault, line, argc, argv);
      return -1;
    }
  }

  Tamsor::Start();
  tamsor::ChildProcess child;
  if (!tamsor::CreateChild(command_line, argc, argv, &child)) {
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

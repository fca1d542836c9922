// tamsor: runs a command as a child in the same console and reports its
// elapsed wall time and CPU times.
#include "platform.h"
#include "tamsor.h"

using tamsor::Tamsor;

int main(int argc, char** argv) {
  if (argc == 1) {
    tamsor::PrintHelp();
    return 0;
  }
  tamsor::ProcessSignal();

  // Only a child that is handed one line needs it assembled, and to fit;
  // elsewhere the child gets the argument vector itself, of any length, and
  // the buffer's pages, being static, are never even touched.
  static char command_line[tamsor::kCommandBufferSize];
  if (tamsor::ChildTakesOneLine()) {
    // cmd.exe runs a batch file: what the caller quoted as data must not
    // reach it as command syntax.
    if (const char* unsafe = tamsor::UnsafeBatchArgument(argc, argv)) {
      tamsor::PrintUnsafeBatchArgument(unsafe);
      return -1;
    }
    if (!tamsor::AssembleCommandLine(argc, argv, command_line,
                                     sizeof command_line)) {
      tamsor::PrintTooLong();
      return -1;
    }
  }

  Tamsor::Start();
  tamsor::ChildProcess child;
  if (!tamsor::CreateChild(command_line, argc, argv, &child)) {
    tamsor::PrintCannotRun(argc, argv);
    return -1;
  }
  tamsor::WaitChild(&child);

  tamsor::FILETIME kernel;
  tamsor::FILETIME user;
  tamsor::ChildTimes(child, &kernel, &user);
  Tamsor::SetUSRTime(kernel, user);
  Tamsor::End();
  Tamsor::Report();
  return 0;
}

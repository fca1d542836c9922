// tamsor: runs a command as a child in the same console and reports its
// elapsed wall time and CPU times.
#include <stdio.h>

#include "platform.h"
#include "tamsor.h"

namespace tamsor {

int Main(int argc, char** argv) {
  if (argc == 1) {
    PrintHelp();
    return FinishOutput() ? 0 : kExitNotWritten;
  }
  ProcessSignal();
  Command* command = PrepareCommand(argc, argv);
  if (!command) return kExitCannotRun;

  Tamsor::Start();
  Child* child = StartChild(command);
  if (!child) {
    PrintCannotRun(*command);
    return kExitCannotRun;
  }
  WaitChild(child);
  FILETIME kernel;
  FILETIME user;
  ChildTimes(*child, &kernel, &user);
  Tamsor::SetUSRTime(kernel, user);
  Tamsor::End();

  // The report in one write: whoever reads a pipe is woken once, and the
  // report cannot be split by another writer's output.
  setvbuf(stdout, nullptr, _IOFBF, BUFSIZ);
  Tamsor::Report();
  // A report that was never written must not pass for one that was.
  if (!FinishOutput()) return kExitNotWritten;
  return PassOnInterrupt(*child);
}

}  // namespace tamsor

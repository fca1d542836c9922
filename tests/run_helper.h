// Runs the helper child through the platform layer, the way the timer does.
#ifndef TAMSOR_TESTS_RUN_HELPER_H_
#define TAMSOR_TESTS_RUN_HELPER_H_

#include <string>
#include <vector>

#include "argv.h"
#include "command-line.h"
#include "platform.h"
#include "tamsor.h"

namespace tamsor {

// Runs the helper with `ops`; false when it could not be started.
inline bool RunHelper(const std::vector<std::string>& ops, FILETIME* kernel,
                      FILETIME* user) {
  std::vector<std::string> args = {"tamsor", TAMSOR_HELPER};
  args.insert(args.end(), ops.begin(), ops.end());
  Argv argv(args);
  char line[kCommandBufferSize];
  if (!AssembleCommandLine(argv.argc(), argv.argv(), line, sizeof line)) {
    return false;
  }
  ChildProcess child;
  if (!CreateChild(nullptr, line, argv.argc(), argv.argv(), &child))
    return false;
  WaitChild(&child);
  ChildTimes(child, kernel, user);
  return true;
}

}  // namespace tamsor

#endif  // TAMSOR_TESTS_RUN_HELPER_H_

// Runs the helper child through the platform layer, the way the timer does.
#ifndef TAMSOR_TESTS_RUN_HELPER_H_
#define TAMSOR_TESTS_RUN_HELPER_H_

#include <string>
#include <vector>

#include "argv.h"
#include "platform.h"
#include "tamsor.h"

namespace tamsor {

// The CPU time a child that spun for `seconds` is charged at least: user and
// sys each lose less than a millisecond to truncation.
inline bool SpunFor(double seconds, const FILETIME& kernel,
                    const FILETIME& user) {
  const double charged =
      Tamsor::FILETIME2Second(kernel) + Tamsor::FILETIME2Second(user);
  return charged >= seconds - 0.0015;
}

// Runs the helper with `ops` as the timer runs a command; false when it
// could not be started.
inline bool RunHelper(const std::vector<std::string>& ops, FILETIME* kernel,
                      FILETIME* user) {
  std::vector<std::string> args = {"tamsor", TAMSOR_HELPER};
  args.insert(args.end(), ops.begin(), ops.end());
  Argv argv(args);
  Command* command = PrepareCommand(argv.argc(), argv.argv());
  Child* child = command ? StartChild(command) : nullptr;
  if (!child) return false;
  WaitChild(child);
  ChildTimes(*child, kernel, user);
  return true;
}

}  // namespace tamsor

#endif  // TAMSOR_TESTS_RUN_HELPER_H_

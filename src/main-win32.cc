// The entry point on Windows: the C runtime's wide start-up splits the
// command line and expands its wildcards in UTF-16, so that no character is
// lost to the ANSI code page, whatever the Windows version; the run reads
// the arguments in UTF-8.
#include "platform-win32.h"
#include "tamsor.h"

#if defined(__MINGW32__)
// Have MinGW's start-up expand wildcards in the arguments (MSVC links
// wsetargv.obj for that instead).
extern "C" {
int _dowildcard = -1;
}
#endif

extern "C" int wmain(int argc, wchar_t** argv) {
  char** utf8 = tamsor::ArgumentsInUtf8(argc, argv);
  return utf8 ? tamsor::Main(argc, utf8) : tamsor::kExitCannotRun;
}

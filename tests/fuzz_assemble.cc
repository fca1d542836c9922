// libFuzzer target: the Windows command line. A C runtime child must get
// back every argument; a line is refused for
// its length exactly where it would not fit, and is the same line whatever
// the buffer; every message is one line. Buffers of many sizes cross the
// limits often.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "tamsor.h"
#include "test_support.h"
#include "windows-command-line.h"

namespace {

using Args = std::vector<std::string>;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "command-line fault: %s\n", what);
    std::abort();
  }
}

bool Has(const std::string& text, const char* any) {
  return text.find_first_of(any) != std::string::npos;
}

// The Microsoft C runtime's split: the program up to the next quote or
// blank, then 2n backslashes and a quote give n and toggle quoting, 2n+1
// give n and a literal quote; "" inside quotes is a literal quote.
Args SplitLikeTheCRuntime(const std::string& line) {
  Args args(1);
  size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    for (++i; i < line.size() && line[i] != '"'; ++i) args[0] += line[i];
    ++i;
  } else {
    for (; i < line.size() && line[i] != ' ' && line[i] != '\t'; ++i) {
      args[0] += line[i];
    }
  }
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return args;
    std::string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
      size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
      if (i < line.size() && line[i] == '"') {
        arg.append(backslashes / 2, '\\');
        if (backslashes % 2) {
          arg += '"';
        } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
          arg += '"';
          ++i;
        } else {
          quoted = !quoted;
        }
        ++i;
      } else {
        arg.append(backslashes, '\\');
        if (i < line.size() &&
            (quoted || (line[i] != ' ' && line[i] != '\t'))) {
          arg += line[i++];
        }
      }
    }
    args.push_back(arg);
  }
}

// A C runtime child gets back every argument, whatever the program's name.
// (What cmd.exe makes of a batch file's line, only cmd.exe can tell.)
void CheckMeaning(const Args& args, const std::string& line) {
  Args expected(args.begin() + 1, args.end());
  Check(SplitLikeTheCRuntime(line) == expected,
        "the child gets other arguments");
}

// The line as `assemble` makes it in a buffer of room enough.
template <typename Assemble>
std::string Unbounded(const Args& args, const std::string& path,
                      Assemble assemble) {
  const size_t room =
      std::accumulate(args.begin(), args.end(), 2 * path.size() + 64,
                      [](size_t sum, const std::string& arg) {
                        return sum + 2 * arg.size() + 3;
                      });
  std::vector<char> buffer(room);
  Argv argv(args);
  Check(assemble(argv, buffer.data(), buffer.size()),
        "no room with room enough");
  return buffer.data();
}

const char kCmd[] = R"(C:\Windows\System32\cmd.exe)";

std::string PlainLine(const Args& args) {
  return Unbounded(args, "", [](Argv& argv, char* b, size_t n) {
    return tamsor::AssembleCommandLine(argv.argc(), argv.argv(), b, n);
  });
}

std::string BatchLine(const Args& args, const std::string& path) {
  return Unbounded(args, path, [&](Argv& argv, char* b, size_t n) {
    return tamsor::AssembleBatchLine(kCmd, path.c_str(), argv.argc(),
                                     argv.argv(), b, n);
  });
}

// A message is one line: no control character but the tab, one line end.
void CheckOneLine(const std::function<void(FILE*)>& print) {
  char* text = nullptr;
  size_t size = 0;
  FILE* out = open_memstream(&text, &size);
  print(out);
  std::fclose(out);
  for (size_t i = 0; i + 1 < size; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    Check(c == '\t' || (c >= 0x20 && c != 0x7F), "a message of two lines");
  }
  Check(size > 0 && text[size - 1] == '\n', "a message without its line end");
  std::free(text);
}

// Batch names the fuzzer would take long to spell.
const char* const kPrograms[] = {"t.bat",           R"(u.bat\.)",
                                 "./x.CMD/.",       R"(a,b\t.bat)",
                                 R"(x\..\y.cmd. )", "w.bat/x/.."};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  // Byte 0 picks a tiny buffer or the real one; byte 1 sizes the tiny one;
  // byte 2 may pick a program name.
  const size_t buffer_size =
      data[0] < 200 ? 1 + data[1] : tamsor::kCommandBufferSize;
  const size_t pick = data[2];
  Args args = {"tamsor"};
  if (pick < sizeof kPrograms / sizeof *kPrograms)
    args.push_back(kPrograms[pick]);
  std::string current;
  for (size_t i = 3; i < size; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  // The batch file, as if found; the name is all the fuzzer's.
  const std::string path = "C:\\found\\" + args[1];
  // Some batch inputs are padded to end right at cmd.exe's limit, where an
  // error of one shows: an argument of letters adds its length and a space.
  // (Long lines are slow to fuzz, so only these few.)
  const bool padded = data[0] == 255 && tamsor::IsBatchFile(args[1].c_str());
  if (padded) {
    const size_t length = BatchLine(args, path).size();
    const size_t target = tamsor::kMaxCmdLine - 2 + data[1] % 5;
    if (length + 1 < target) {
      args.push_back(std::string(target - length - 1, 'a'));
    }
  }

  Argv argv(args);
  // Exactly sized, so that AddressSanitizer sees any write past the end.
  std::unique_ptr<char[]> buffer(new char[buffer_size]);
  tamsor::LineFault fault = tamsor::PrepareCommandLine(
      argv.argc(), argv.argv(), buffer.get(), buffer_size);
  const std::string whole = PlainLine(args);
  const bool fits = whole.size() <= buffer_size - 1;
  Check((fault == tamsor::LineFault::kTooLong) == !fits,
        "refused other than at the buffer's exact size");
  if (fault == tamsor::LineFault::kTooLong) {
    Check(buffer[0] == '\0', "a refused line was left in the buffer");
  } else {
    Check(buffer.get() == whole, "the line depends on the buffer's size");
  }
  bool unsafe = Has(path, "\"%\r\n");
  for (size_t i = 2; i < args.size(); ++i) unsafe |= Has(args[i], "\"%\r\n");
  if (fault == tamsor::LineFault::kQuoteInProgram) {
    Check(Has(args[1], "\""), "a program name refused for nothing");
  }
  if (fault == tamsor::LineFault::kNone) {
    Check(!Has(args[1], "\""), "a program name with a quote was accepted");
    CheckMeaning(args, buffer.get());
  }

  // The batch file's line for cmd.exe.
  if (fault == tamsor::LineFault::kNone &&
      tamsor::RunsABatchFile(argv.argc(), argv.argv())) {
    fault = tamsor::PrepareBatchLine(kCmd, path.c_str(), argv.argc(),
                                     argv.argv(), buffer.get(), buffer_size);
    const std::string cmd_line = BatchLine(args, path);
    const size_t limit = std::min(buffer_size - 1, tamsor::kMaxCmdLine);
    const bool too_long = fault == tamsor::LineFault::kTooLong ||
                          fault == tamsor::LineFault::kTooLongForCmd;
    if (fault == tamsor::LineFault::kNone || too_long) {
      Check(too_long == (cmd_line.size() > limit),
            "a batch line refused other than at cmd.exe's exact limit");
    }
    Check((fault == tamsor::LineFault::kUnsafeBatchArgument) == unsafe,
          "an unsafe batch argument passed, or a safe one was refused");
    if (fault == tamsor::LineFault::kNone) {
      Check(buffer.get() == cmd_line, "the batch line depends on the size");
      // What cmd.exe runs once /s drops the outer quotes: a program that a
      // batch file hands %* on to gets every argument back.
      // "CMD" /d /s /c ""PATH"
      const size_t head = std::strlen(kCmd) + 15 + path.size();
      Args expected(args.begin() + 1, args.end());
      expected[0] = path;
      Check(SplitLikeTheCRuntime(cmd_line.substr(
                head - path.size() - 2,
                cmd_line.size() - head + path.size() + 1)) == expected,
            "a program behind a batch file gets other arguments");
    }
  }

  // Whatever the arguments, every message is one line.
  if (!padded) {
    CheckOneLine([&](FILE* out) {
      tamsor::PrintCannotRun(argv.argc(), argv.argv(), out);
    });
  }
  CheckOneLine([&](FILE* out) {
    tamsor::PrintLineFault(fault, buffer.get(), path.c_str(), argv.argc(),
                           argv.argv(), out);
    if (fault == tamsor::LineFault::kNone) std::fputc('\n', out);
  });
  return 0;
}

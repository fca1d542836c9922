// libFuzzer target: the Windows command line, judged by what its readers
// make of it. A C runtime child must get back every argument when none holds
// a double quote; for a batch file, cmd.exe must see no syntax and no %
// outside the quotes and one parameter for each argument. Buffers of many
// sizes cross the limits often.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "argv.h"
#include "tamsor.h"

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

// Windows' resolution of a program name: segments on a stack.
bool RunsThroughCmd(const std::string& program) {
  Args segments;
  std::string segment;
  for (size_t i = 0; i <= program.size(); ++i) {
    if (i < program.size() && program[i] != '/' && program[i] != '\\') {
      segment += program[i];
    } else if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      segment.clear();
    } else {
      if (!segment.empty() && segment != ".") segments.push_back(segment);
      segment.clear();
    }
  }
  if (segments.empty()) return false;
  std::string name = segments.back();
  name.erase(name.find_last_not_of(". ") + 1);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos) return false;
  std::string extension = name.substr(dot + 1, 3);
  // cppcheck-suppress useStlAlgorithm
  for (char& c : extension) c = static_cast<char>(c | 0x20);
  return extension == "bat" || extension == "cmd";
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

// cmd.exe's reading: the quote state toggles at every quote of the whole
// line; outside quotes these are syntax or split parameters.
Args SplitLikeCmd(const std::string& line) {
  Check(!Has(line, "%\r\n"), "cmd.exe would expand or cut the line");
  Args params;
  std::string param;
  bool quoted = false;
  for (char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted) {
      Check(!std::strchr("&|<>^()", c), "syntax outside quotes");
      if (std::strchr(" \t,;=\x0b\x0c\xff", c)) {
        if (!param.empty()) params.push_back(param);
        param.clear();
        continue;
      }
    }
    param += c;
  }
  Check(!quoted, "a quote left open");
  if (!param.empty()) params.push_back(param);
  return params;
}

std::string Quoted(const std::string& text) { return '"' + text + '"'; }

void CheckMeaning(const Args& args, const std::string& line) {
  Check(!Has(args[1], "\""), "a program name with a quote was accepted");
  if (RunsThroughCmd(args[1])) {
    Check(line.size() <= tamsor::kMaxBatchLine, "too long for cmd.exe");
    const Args params = SplitLikeCmd(line);
    Check(params.size() == args.size() - 1, "a parameter split or lost");
    Check(params[0] == Quoted(args[1]), "the batch file's path is not quoted");
    for (size_t i = 2; i < args.size(); ++i) {
      Check(params[i - 1] == args[i] || params[i - 1] == Quoted(args[i]),
            "a parameter changed");
    }
    return;
  }
  for (size_t i = 2; i < args.size(); ++i) {
    if (Has(args[i], "\"")) return;  // such an argument goes byte for byte
  }
  Args expected(args.begin() + 1, args.end());
  Check(SplitLikeTheCRuntime(line) == expected,
        "the child gets other arguments");
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

  Argv argv(args);
  // Exactly sized, so that AddressSanitizer sees any write past the end.
  std::unique_ptr<char[]> buffer(new char[buffer_size]);
  const tamsor::LineFault fault = tamsor::PrepareCommandLine(
      argv.argc(), argv.argv(), buffer.get(), buffer_size);
  // Where no line is assembled the message must cope with any arguments.
  static FILE* const sink = std::fopen("/dev/null", "w");
  tamsor::PrintCannotRun(nullptr, argv.argc(), argv.argv(), sink);

  size_t most = 0;  // the longest line the arguments could need
  for (size_t i = 1; i < args.size(); ++i) most += 2 * args[i].size() + 3;
  bool unsafe = false;
  for (size_t i = 1; i < args.size(); ++i) unsafe |= Has(args[i], "\"%\r\n");
  switch (fault) {
    case tamsor::LineFault::kNone:
      Check(std::strlen(buffer.get()) < buffer_size, "overran the buffer");
      CheckMeaning(args, buffer.get());
      break;
    case tamsor::LineFault::kTooLong:
      Check(most > buffer_size - 1, "a line that fits was refused");
      Check(buffer[0] == '\0', "a refused line was left in the buffer");
      break;
    case tamsor::LineFault::kQuoteInProgram:
      Check(Has(args[1], "\""), "a program name refused for nothing");
      break;
    case tamsor::LineFault::kUnsafeBatchArgument:
      Check(RunsThroughCmd(args[1]) && unsafe, "a safe batch line refused");
      break;
    case tamsor::LineFault::kTooLongForCmd:
      Check(RunsThroughCmd(args[1]) && most > tamsor::kMaxBatchLine,
            "a batch line that fits was refused");
      break;
  }
  return 0;
}

#include "windows-command-line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace tamsor {
namespace {

std::string Assembled(const std::vector<std::string>& args, size_t size,
                      bool* fits = nullptr) {
  Argv argv(args);
  std::vector<char> buffer(size, 'x');
  const bool ok =
      AssembleCommandLine(argv.argc(), argv.argv(), buffer.data(), size);
  if (fits) *fits = ok;
  return std::string(buffer.data());
}

struct AssemblyCase {
  const char* name;
  std::vector<std::string> args;  // args[0] is the timer's own name
  std::string line;
};

TEST(AssembleCommandLine, QuotesSoThatEachArgumentArrivesWhole) {
  const AssemblyCase cases[] = {
      {"plain", {"tamsor", "make", "all"}, R"("make" all )"},
      {"space is quoted",
       {"tamsor", "zip", "my file.zip"},
       R"("zip" "my file.zip" )"},
      {"leading and trailing spaces", {"tamsor", "p", " x "}, R"("p" " x " )"},
      {"tab is quoted", {"tamsor", "p", "a\tb"}, "\"p\" \"a\tb\" "},
      {"newline is not quoted", {"tamsor", "p", "a\nb"}, "\"p\" a\nb "},
      // A quote escaped, the backslashes ahead of it doubled.
      {"a define with a quoted value",
       {"tamsor", "cl", R"(-DVER="1.0")", "main.c"},
       R"("cl" -DVER=\"1.0\" main.c )"},
      {"quote and space", {"tamsor", "p", R"(a "b" c)"}, R"("p" "a \"b\" c" )"},
      {"one backslash and a quote",
       {"tamsor", "p", R"(x\"y)"},
       R"("p" x\\\"y )"},
      {"two backslashes and a quote",
       {"tamsor", "p", R"(\\")"},
       R"("p" \\\\\" )"},
      {"backslashes copied", {"tamsor", "p", R"(C:\dir\)"}, R"("p" C:\dir\ )"},
      {"backslashes before the closing quote doubled",
       {"tamsor", "p", R"(C:\my dir\\)", "next"},
       R"("p" "C:\my dir\\\\" next )"},
      {"empty argument", {"tamsor", "prog", "", "x"}, R"("prog" "" x )"},
      {"only an empty program", {"tamsor", ""}, R"("" )"},
      {"non-ASCII bytes",
       {"tamsor", "p", "\xc3\xa9t\xe9\xff"},
       "\"p\" \xc3\xa9t\xe9\xff "},
      {"option-like", {"tamsor", "-h"}, R"("-h" )"},
      {"program with a space, its backslash kept",
       {"tamsor", R"(C:\my tools\)", "x"},
       R"("C:\my tools\" x )"},
      {"timer's name alone", {"tamsor"}, ""},
      {"cmd.exe gets shell syntax",
       {"tamsor", "cmd.exe", "/c", "a&b"},
       R"("cmd.exe" /c a&b )"},
      {"not a batch: .bat not at the end",
       {"tamsor", "t.bat.exe", "a&b"},
       R"("t.bat.exe" a&b )"},
      {"not a batch: a later argument",
       {"tamsor", "prog", "x.bat", "a&b"},
       R"("prog" x.bat a&b )"},
      {"not a batch: resolves to the folder",
       {"tamsor", R"(u.bat\..)", "a&b"},
       R"("u.bat\.." a&b )"},
      // A batch file's name: a program's line, for a program under that name
      // (cmd.exe gets a line of its own).
      {"batch: a program's line",
       {"tamsor", "t.bat", "a&b", "q r"},
       R"("t.bat" a&b "q r" )"},
      {"batch: trailing dots and spaces dropped",
       {"tamsor", "run.bat. .", "a|b"},
       R"("run.bat. ." a|b )"},
      {"batch: .. segments collapsed",
       {"tamsor", "x\\..\\v.cmd", "a&b"},
       R"("x\..\v.cmd" a&b )"},
      {"not a batch: an extension that starts with bat",
       {"tamsor", "h.batx", R"(C:\dir with space\)", "next"},
       R"("h.batx" "C:\dir with space\\" next )"},
      {"not a batch: .cmd before the extension",
       {"tamsor", "x.cmd_", "a&b"},
       R"("x.cmd_" a&b )"},
      {"batch: in a folder with syntax",
       {"tamsor", R"(a,b\R&D\t.Bat)", "x"},
       R"("a,b\R&D\t.Bat" x )"},
  };
  for (const AssemblyCase& c : cases) {
    bool fits = false;
    EXPECT_EQ(Assembled(c.args, kCommandBufferSize, &fits), c.line) << c.name;
    EXPECT_TRUE(fits) << c.name;
    Argv argv(c.args);
    EXPECT_EQ(RunsABatchFile(argv.argc(), argv.argv()),
              std::string(c.name).rfind("batch", 0) == 0)
        << c.name;
  }
}

TEST(PrepareCommandLine, RefusesWhatCannotBeHandedOverExactly) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    LineFault fault;
  } cases[] = {
      // Not refused yet: a program under a batch file's name takes them.
      {"a batch file's name, its arguments unread until the file is",
       {"tamsor", "t.bat", R"(a"b)", "%X%", "a\rb\n"},
       LineFault::kNone},
      {"quoted program name",
       {"tamsor", R"("x.bat")", "a&b"},
       LineFault::kQuoteInProgram},
      {"a stream of a batch file",
       {"tamsor", "t.bat:x", "a"},
       LineFault::kStreamInProgram},
      {"a stream of an ordinary program",
       {"tamsor", "p.exe:s"},
       LineFault::kStreamInProgram},
      {"a drive is no stream", {"tamsor", "C:t.bat", "x"}, LineFault::kNone},
      {"quote and syntax for others",
       {"tamsor", "p", R"(a"&b)", "%x%", "a\nb"},
       LineFault::kNone},
  };
  for (const auto& c : cases) {
    Argv argv(c.args);
    std::vector<char> line(kCommandBufferSize);
    EXPECT_EQ(
        PrepareCommandLine(argv.argc(), argv.argv(), line.data(), line.size()),
        c.fault)
        << c.name;
  }
}

TEST(PrepareBatchLine, RunsTheFoundFileThroughCmdOrRefuses) {
  const std::string head = R"("C:\W\cmd.exe" /d /s /c ")";
  // cmd.exe's limit counts the whole line: 37 characters besides the fill.
  const std::string fill(kMaxCmdLine - 37, 'a');
  const struct {
    std::string path;
    std::string arg;
    LineFault fault;
    std::string line;  // where it runs
  } cases[] = {
      {R"(C:\p\t.bat)", "a b", LineFault::kNone,
       head + R"("C:\p\t.bat" "a b")" + "\""},
      // All but a small safe set quoted; a \ ahead of the closing quote
      // doubled, as the C runtime of a program the batch file starts reads
      // it.
      {R"(C:\t.cmd)", "a,b&(c)^!=", LineFault::kNone,
       head + R"("C:\t.cmd" "a,b&(c)^!=")" + "\""},
      {R"(C:\t.cmd)", R"(aZ09#$*+-./:?@\_)", LineFault::kNone,
       head + R"("C:\t.cmd" aZ09#$*+-./:?@\_)" + "\""},
      {R"(C:\t.cmd)", R"(C:\a b\\)", LineFault::kNone,
       head + R"("C:\t.cmd" "C:\a b\\\\")" + "\""},
      {R"(C:\t.cmd)", R"(x\)", LineFault::kNone,
       head + R"("C:\t.cmd" "x\\")" + "\""},
      {R"(C:\t.cmd)", "", LineFault::kNone, head + R"("C:\t.cmd" "")" + "\""},
      {R"(C:\t.bat)", R"(a"b)", LineFault::kUnsafeBatchArgument, ""},
      {R"(C:\t.bat)", "%X%", LineFault::kUnsafeBatchArgument, ""},
      {R"(C:\t.bat)", "a\rb", LineFault::kUnsafeBatchArgument, ""},
      {R"(C:\t.bat)", "a\nb", LineFault::kUnsafeBatchArgument, ""},
      {R"(\\srv\share\R&D (1)\t.CMD)", "1", LineFault::kNone,
       head + R"("\\srv\share\R&D (1)\t.CMD" 1)" + "\""},
      {R"(C:\t.bat)", fill, LineFault::kNone,
       head + R"("C:\t.bat" )" + fill + "\""},
      {R"(C:\t.bat)", fill + "a", LineFault::kTooLongForCmd, ""},
      {R"(C:\a%X%b\t.bat)", "x", LineFault::kUnsafeBatchArgument, ""},
      {R"(\\?\C:\t.bat)", "x", LineFault::kUnclearBatchPath, ""},
      {R"(C:\t.bat. .)", "x", LineFault::kUnclearBatchPath, ""},
      {R"(C:\t.exe)", "x", LineFault::kUnclearBatchPath, ""},
      {R"(t.bat)", "x", LineFault::kUnclearBatchPath, ""},
      {R"(C:\t.cmd)", "a;b", LineFault::kNone,
       head + R"("C:\t.cmd" "a;b")" + "\""},
  };
  for (const auto& c : cases) {
    Argv argv({"tamsor", "t.bat", c.arg});
    std::vector<char> line(kCommandBufferSize, 'x');
    EXPECT_EQ(PrepareBatchLine(R"(C:\W\cmd.exe)", c.path.c_str(), argv.argc(),
                               argv.argv(), line.data(), line.size()),
              c.fault)
        << c.path;
    if (c.fault == LineFault::kNone) {
      EXPECT_EQ(line.data(), c.line) << c.path;
    }
  }
  EXPECT_EQ(cases[11].line.size(), kMaxCmdLine);
}

TEST(AssembleCommandLine, NoArgumentVectorGivesAnEmptyLine) {
  char buffer[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  EXPECT_TRUE(AssembleCommandLine(0, nullptr, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
}

struct LimitCase {
  const char* name;
  std::vector<std::string> args;
  bool fits;
};

TEST(AssembleCommandLine, RefusesLinesOverTheLimitWithoutOverrunning) {
  const size_t max = kMaxCommandLine;
  const std::string half(max / 2, 'b');
  const LimitCase cases[] = {
      // The program's name is quoted: two more characters.
      {"exactly at the limit", {"tamsor", std::string(max - 3, 'a')}, true},
      {"one over", {"tamsor", std::string(max - 2, 'a')}, false},
      {"quoted, at the limit",
       {"tamsor", "p", " " + std::string(max - 8, 'a')},
       true},
      {"quoted, one over",
       {"tamsor", "p", " " + std::string(max - 7, 'a')},
       false},
      {"many arguments, at the limit",
       {"tamsor", "p", std::string((max - 6) / 2, 'a'),
        std::string((max - 6) / 2, 'b')},
       true},
      {"many arguments, over", {"tamsor", half, half, "c"}, false},
      {"huge", {"tamsor", std::string(1000000, 'z')}, false},
  };
  for (const LimitCase& c : cases) {
    // Guard bytes after the buffer catch any write past its end.
    Argv argv(c.args);
    std::vector<char> memory(kCommandBufferSize + 64, '\x5a');
    const bool fits = AssembleCommandLine(argv.argc(), argv.argv(),
                                          memory.data(), kCommandBufferSize);
    EXPECT_EQ(fits, c.fits) << c.name;
    for (size_t i = kCommandBufferSize; i < memory.size(); ++i) {
      ASSERT_EQ(memory[i], '\x5a') << c.name << ": wrote past the buffer";
    }
    EXPECT_EQ(memory[kCommandBufferSize - 1], '\0') << c.name;
    const size_t length = std::string(memory.data()).size();
    if (c.fits) {
      EXPECT_EQ(length, max) << c.name;
    } else {
      EXPECT_EQ(length, 0u) << c.name << ": a refused line must not linger";
    }
  }
}

// Every refusal is one line that says why, whatever the argument holds.
TEST(PrintLineFault, SaysWhyOnOneLine) {
  const std::string given = "%\n\nwall\r\x01\x1b[2J\x7f\xc3\xa9";
  const std::string shown = "%\\n\\nwall\\r\\x01\\x1B[2J\\x7F\xc3\xa9";
  Argv unsafe({"tamsor", "t.bat", "a\"&b" + given});
  Argv stream({"tamsor", "p:\r"});
  const struct {
    LineFault fault;
    Argv* argv;
    const char* path;
    std::string message;
  } faults[] = {
      {LineFault::kUnsafeBatchArgument, &unsafe, nullptr,
       "Cannot run the command: a batch file cannot be given this argument "
       "safely: a\"&b" +
           shown},
      {LineFault::kTooLong, &stream, nullptr,
       "Cannot run the command: its command line is longer than 32766 "
       "characters"},
      {LineFault::kTooLongForCmd, &stream, nullptr,
       "Cannot run the command: a batch file's command line is longer than "
       "8191 characters, the most cmd.exe takes"},
      {LineFault::kStreamInProgram, &stream, nullptr,
       "Cannot run the command: a program name with a ':' names a stream, not "
       "a file: p:\\r"},
      {LineFault::kUnclearBatchPath, &stream, "\\\\?\\\n",
       "Cannot run the command: cmd.exe may not read the path of the batch "
       "file found as Windows does: \\\\?\\\\n"},
      {LineFault::kQuoteInProgram, &stream, nullptr,
       "Cannot run the command [ \"\"x\"\"  ]"},
  };
  for (const auto& c : faults) {
    EXPECT_EQ(Captured([&](FILE* f) {
                PrintLineFault(c.fault, "\"\"x\"\" ", c.path, c.argv->argc(),
                               c.argv->argv(), f);
              }),
              c.message + "\n");
  }
}

}  // namespace
}  // namespace tamsor

#include "tamsor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "argv.h"

namespace tamsor {
namespace {

// Everything a function wrote to a FILE*, read back byte for byte.
template <typename Writer>
std::string Captured(Writer write) {
  FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  write(file);
  std::rewind(file);
  std::string text;
  for (int c; (c = std::fgetc(file)) != EOF;)
    text.push_back(static_cast<char>(c));
  std::fclose(file);
  return text;
}

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

TEST(AssembleCommandLine, JoinsArgumentsAsTheyStand) {
  const AssemblyCase cases[] = {
      {"plain", {"tamsor", "make", "all"}, "make all "},
      {"space is quoted",
       {"tamsor", "zip", "my file.zip"},
       R"(zip "my file.zip" )"},
      {"leading and trailing spaces", {"tamsor", " x "}, R"(" x " )"},
      {"lone space", {"tamsor", " "}, R"(" " )"},
      {"tab is not quoted", {"tamsor", "a\tb"}, "a\tb "},
      {"newline is not quoted", {"tamsor", "a\nb"}, "a\nb "},
      {"double quote copied", {"tamsor", R"(say"hi")"}, R"(say"hi" )"},
      {"quote and space", {"tamsor", R"(a "b" c)"}, R"("a "b" c" )"},
      {"backslashes copied", {"tamsor", R"(C:\dir\)"}, R"(C:\dir\ )"},
      {"backslash before closing quote",
       {"tamsor", R"(C:\my dir\)"},
       R"("C:\my dir\" )"},
      {"empty argument", {"tamsor", "prog", "", "x"}, "prog  x "},
      {"only an empty argument", {"tamsor", ""}, " "},
      {"non-ASCII bytes",
       {"tamsor", "\xc3\xa9t\xe9\xff"},
       "\xc3\xa9t\xe9\xff "},
      {"option-like", {"tamsor", "-h"}, "-h "},
      {"timer's name alone", {"tamsor"}, ""},
      // cmd.exe runs a batch file: its syntax is quoted to stay data.
      {"batch: & | < > ^ quoted",
       {"tamsor", "t.bat", "a&b", "c|d", "e<f", "g>h", "i^j"},
       R"(t.bat "a&b" "c|d" "e<f" "g>h" "i^j" )"},
      {"batch: plain arguments unchanged",
       {"tamsor", "t.bat", "plain", "%x%", "a\"b"},
       "t.bat plain %x% a\"b "},
      {"batch: .CMD in capitals",
       {"tamsor", "T.CMD", "a&b"},
       R"(T.CMD "a&b" )"},
      {"batch: trailing dots and spaces dropped",
       {"tamsor", "run.bat. .", "a|b"},
       R"("run.bat. ." "a|b" )"},
      {"batch: in a folder with syntax",
       {"tamsor", R"(C:\R&D\t.Bat)", "x"},
       R"("C:\R&D\t.Bat" x )"},
      {"batch: quote and space only",
       {"tamsor", "t.bat", R"(a "b" c)"},
       R"(t.bat "a "b" c" )"},
      {"not a batch: cmd.exe gets shell syntax",
       {"tamsor", "cmd.exe", "/c", "a&b"},
       "cmd.exe /c a&b "},
      {"not a batch: .bat not at the end",
       {"tamsor", "t.bat.exe", "a&b"},
       "t.bat.exe a&b "},
      {"not a batch: a later argument",
       {"tamsor", "prog", "x.bat", "a&b"},
       "prog x.bat a&b "},
      {"not a batch: too short", {"tamsor", "bat", "a&b"}, "bat a&b "},
  };
  for (const AssemblyCase& c : cases) {
    bool fits = false;
    EXPECT_EQ(Assembled(c.args, kCommandBufferSize, &fits), c.line) << c.name;
    EXPECT_TRUE(fits) << c.name;
    // The failure message shows the very line the child would get.
    Argv argv(c.args);
    EXPECT_EQ(
        Captured([&](FILE* f) { PrintCannotRun(argv.argc(), argv.argv(), f); }),
        "Cannot run the command [ " + c.line + " ]\n")
        << c.name;
  }
}

TEST(UnsafeBatchArgument, IsWhatCmdWouldReadAsSyntaxWhateverTheQuotes) {
  const struct {
    const char* name;
    std::vector<std::string> args;
    const char* unsafe;
  } cases[] = {
      {"quote and &", {"tamsor", "t.bat", "ok", R"(a"&b)"}, R"(a"&b)"},
      {"quote and ^", {"tamsor", "t.cmd", R"(^")"}, R"(^")"},
      {"line feed", {"tamsor", "t.cmd", "a\nb"}, "a\nb"},
      {"carriage return", {"tamsor", "T.BAT", "a\rb"}, "a\rb"},
      {"quote alone", {"tamsor", "t.bat", R"(say"hi")"}, nullptr},
      {"& alone", {"tamsor", "t.bat", "a&b"}, nullptr},
      {"not a batch file", {"tamsor", "prog.exe", R"(a"&b)", "a\nb"}, nullptr},
      {"nothing to run", {"tamsor"}, nullptr},
  };
  for (const auto& c : cases) {
    Argv argv(c.args);
    EXPECT_STREQ(UnsafeBatchArgument(argv.argc(), argv.argv()), c.unsafe)
        << c.name;
  }
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
      {"exactly at the limit", {"tamsor", std::string(max - 1, 'a')}, true},
      {"one over", {"tamsor", std::string(max, 'a')}, false},
      {"quoted, at the limit",
       {"tamsor", " " + std::string(max - 4, 'a')},
       true},
      {"quoted, one over", {"tamsor", " " + std::string(max - 3, 'a')}, false},
      {"many arguments, at the limit",
       {"tamsor", std::string(max / 2 - 1, 'a'), std::string(max / 2 - 1, 'b')},
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

FILETIME Ticks(uint64_t count) {
  return FILETIME{static_cast<uint32_t>(count),
                  static_cast<uint32_t>(count >> 32)};
}

std::string ThreeDecimals(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

TEST(FILETIME2Second, TruncatesToWholeMillisecondsAndKeepsDays) {
  const struct {
    uint64_t ticks;
    const char* seconds;
  } cases[] = {
      {0, "0.000"},
      {9999, "0.000"},  // just under a millisecond
      {10000, "0.001"},
      {15000000, "1.500"},
      {12345678, "1.234"},  // truncated, not rounded
      {19999999, "1.999"},
      {uint64_t{4294967296}, "429.496"},                 // uses the high half
      {uint64_t{864000000000} + 15000000, "86401.500"},  // 24 h + 1.5 s
      {uint64_t{10} * 864000000000 + 10000, "864000.001"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThreeDecimals(Tamsor::FILETIME2Second(Ticks(c.ticks))), c.seconds)
        << c.ticks;
  }
}

TEST(SetUSRTime, TakesKernelFirstAndAddsUpReal) {
  Tamsor::SetUSRTime(Ticks(3000000), Ticks(12000000));
  EXPECT_EQ(ThreeDecimals(Tamsor::systime), "0.300");
  EXPECT_EQ(ThreeDecimals(Tamsor::usertime), "1.200");
  EXPECT_EQ(ThreeDecimals(Tamsor::realtime), "1.500");
}

TEST(SetUSRTime, PrintedRealIsPrintedUserPlusSys) {
  const uint64_t milliseconds[] = {0,     1,        3,        7,        99,
                                   100,   333,      999,      1001,     4095,
                                   65535, 86399999, 86400001, 123456789};
  for (uint64_t user : milliseconds) {
    for (uint64_t sys : milliseconds) {
      Tamsor::SetUSRTime(Ticks(sys * 10000 + 9999), Ticks(user * 10000 + 5));
      const double printed_user = std::stod(ThreeDecimals(Tamsor::usertime));
      const double printed_sys = std::stod(ThreeDecimals(Tamsor::systime));
      EXPECT_EQ(ThreeDecimals(Tamsor::realtime),
                ThreeDecimals(printed_user + printed_sys))
          << user << " + " << sys;
    }
  }
}

TEST(ElapsedSeconds, CombinesSecondsAndMicroseconds) {
  const struct {
    timeval early;
    timeval late;
    const char* seconds;
  } cases[] = {
      {{10, 900000}, {12, 100000}, "1.200"},  // negative microseconds part
      {{10, 100000}, {12, 900000}, "2.800"}, {{7, 250}, {7, 250}, "0.000"},
      {{0, 0}, {0, 999}, "0.001"},           {{100, 0}, {3700, 1}, "3600.000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ThreeDecimals(Tamsor::ElapsedSeconds(c.early, c.late)),
              c.seconds);
  }
}

TEST(Report, PrintsALineBreakAndFourAlignedLines) {
  const struct {
    double wall;
    uint64_t kernel_ticks;
    uint64_t user_ticks;
    std::string text;
  } cases[] = {
      {2.5, 3000000, 12000000,
       "\nwall   2.500 s\nreal   1.500 s\nuser   1.200 s\nsys    0.300 s\n"},
      {0.0625, 0, 0,  // an exact tie rounds to the even digit
       "\nwall   0.062 s\nreal   0.000 s\nuser   0.000 s\nsys    0.000 s\n"},
      {0.1875, 0, 10000,
       "\nwall   0.188 s\nreal   0.001 s\nuser   0.001 s\nsys    0.000 s\n"},
      {12345.6789, uint64_t{864000000000}, 150000000,  // wide values
       "\nwall   12345.679 s\nreal   86415.000 s\nuser   15.000 s\n"
       "sys    86400.000 s\n"},
  };
  for (const auto& c : cases) {
    Tamsor::walltime = c.wall;
    Tamsor::SetUSRTime(Ticks(c.kernel_ticks), Ticks(c.user_ticks));
    EXPECT_EQ(Captured([](FILE* f) { Tamsor::Report(f); }), c.text);
  }
}

TEST(Texts, HelpIsThreeLinesLaidOutInColumns) {
  const std::string help = Captured([](FILE* f) { PrintHelp(f); });
  const std::string first =
      "tamsor: A \"Linux-time\"-like program for Windows.\n";
  const std::string last = "Usage:   tamsor [program arguments]\n";
  ASSERT_GT(help.size(), first.size() + last.size());
  EXPECT_EQ(help.substr(0, first.size()), first);
  EXPECT_EQ(help.substr(help.size() - last.size()), last);

  const std::string second =
      help.substr(first.size(), help.size() - first.size() - last.size());
  const size_t colon = second.find(':');
  ASSERT_NE(colon, std::string::npos);
  EXPECT_LE(colon, 8u) << "label of at most eight characters";
  EXPECT_EQ(second.find_first_not_of(' ', colon + 1), 9u)
      << "text starts in the tenth column";
  EXPECT_EQ(second.find('\n'), second.size() - 1) << "one line";
}

TEST(Texts, FailureMessages) {
  EXPECT_EQ(Captured([](FILE* f) { PrintCannotRun(0, nullptr, f); }),
            "Cannot run the command [  ]\n");
  const std::string long_arg(100000, 'x');  // past any buffer of the timer
  Argv argv({"tamsor", long_arg, "a b"});
  EXPECT_EQ(
      Captured([&](FILE* f) { PrintCannotRun(argv.argc(), argv.argv(), f); }),
      "Cannot run the command [ " + long_arg + " \"a b\"  ]\n");
  EXPECT_EQ(Captured([](FILE* f) { PrintUnsafeBatchArgument("a\"&b", f); }),
            "Cannot run the command: a batch file cannot be given this "
            "argument safely: a\"&b\n");
  EXPECT_EQ(Captured([](FILE* f) { PrintTooLong(f); }),
            "Cannot run the command: its command line is longer than 32766 "
            "characters\n");
}

}  // namespace
}  // namespace tamsor

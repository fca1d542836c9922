#include "tamsor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "test_support.h"

namespace tamsor {
namespace {

FILETIME FromTicks(uint64_t count) {
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
    EXPECT_EQ(ThreeDecimals(Tamsor::FILETIME2Second(FromTicks(c.ticks))),
              c.seconds)
        << c.ticks;
  }
}

TEST(SetUSRTime, PrintedRealIsPrintedUserPlusSys) {
  const uint64_t milliseconds[] = {0,     1,        3,        7,        99,
                                   100,   333,      999,      1001,     4095,
                                   65535, 86399999, 86400001, 123456789};
  for (uint64_t user : milliseconds) {
    for (uint64_t sys : milliseconds) {
      Tamsor::SetUSRTime(FromTicks(sys * 10000 + 9999),
                         FromTicks(user * 10000 + 5));
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
    Tamsor::SetUSRTime(FromTicks(c.kernel_ticks), FromTicks(c.user_ticks));
    EXPECT_EQ(Captured([](FILE* f) { Tamsor::Report(f); }), c.text);
  }
}

TEST(Texts, FailureMessages) {
  EXPECT_EQ(Captured([](FILE* f) { PrintCannotRun(0, nullptr, f); }),
            "Cannot run the command [  ]\n");
  const std::string long_arg(100000, 'x');  // past any buffer of the timer
  // A vector, each argument as a user would quote it. Every message is one
  // line: control characters shown, tab and non-ASCII kept, so nothing
  // after it can pass for a report.
  const std::string given = "%\n\nwall\r\x01\x1b[2J\x7f\xc3\xa9";
  const std::string shown = "%\\n\\nwall\\r\\x01\\x1B[2J\\x7F\xc3\xa9";
  Argv argv({"tamsor", long_arg, "a b", "", "t.bat", "x&y", given});
  EXPECT_EQ(
      Captured([&](FILE* f) { PrintCannotRun(argv.argc(), argv.argv(), f); }),
      "Cannot run the command [ " + long_arg + " \"a b\" \"\" t.bat x&y " +
          shown + "  ]\n");
  EXPECT_EQ(Captured([](FILE* f) { PrintCannotRun("\"p\" x\n\t ", f); }),
            "Cannot run the command [ \"p\" x\\n\t  ]\n");
}

}  // namespace
}  // namespace tamsor

// End-to-end: the Windows line (how the child's command line is assembled,
// read and expanded), run against the Windows build under Wine only.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace tamsor_e2e {
namespace {

const char kRefusal[] =
    "Cannot run the command: its command line is longer than 32766 "
    "characters\n";

TEST(EndToEndWindows, ChildGetsTheAssembledLineByteForByte) {
  // Not for POSIX: a POSIX child gets a vector, not a line.
  const Outcome outcome = RunTamsor({Helper(), "args", "two words", "",
                                     "tab\there", "q\"uote", "back\\slash\\"});
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << outcome.out;
  EXPECT_EQ(outcome.exit_code, 0);
  const std::string tail =
      "\" args \"two words\" \"\" \"tab\there\" q\"uote back\\slash\\ >";
  const size_t at = report.before.find("line=<");
  ASSERT_NE(at, std::string::npos) << report.before;
  const std::string line =
      report.before.substr(at, report.before.find("\r\n", at) - at);
  EXPECT_EQ(line, "line=<\"" + Helper() + tail);
}

// A Unicode program reads the line as UTF-16: bare and timed it must see
// the same arguments, none of them split, lost or turned into '?'.
TEST(EndToEndWindows, UnicodeArgumentsReachTheChildIntact) {
  // Not for POSIX: a POSIX child gets the bytes themselves.
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> files;  // in the folder the timer runs in
    std::string units;
  } cases[] = {
      {"Japanese", {"日本語"}, {}, "<65e5 672c 8a9e>"},
      {"accented Latin",
       {"Ünïcödé"},
       {},
       "<00dc 006e 00ef 0063 00f6 0064 00e9>"},
      {"Greek", {"Ελληνικά"}, {}, "<0395 03bb 03bb 03b7 03bd 03b9 03ba 03ac>"},
      {"an emoji outside the BMP", {"😀"}, {}, "<d83d de00>"},
      {"with a space", {"two 日本"}, {}, "<0074 0077 006f 0020 65e5 672c>"},
      {"a wildcard matching a non-ASCII name",
       {"*.txt"},
       {"日本.txt", "other.dat"},
       "<65e5 672c 002e 0074 0078 0074>"},
      {"empty, a tab, a quoted trailing backslash",
       {"", "a\tb", "C:\\a b\\", "after"},
       {},
       "<>\n<0061 0009 0062>\n<0043 003a 005c 0061 0020 0062 005c>\n"
       "<0061 0066 0074 0065 0072>"},
  };
  for (const auto& c : cases) {
    const ScratchFolder folder(c.files);
    std::vector<std::string> args = {Helper(), "wargs"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const std::string expected = Eol(c.units + "\n");
    ExpectReportOnly(RunTamsor(args, {}, folder.path()), expected, c.name);
    // Started directly, the helper expands no wildcards.
    if (c.files.empty()) {
      EXPECT_EQ(RunCommand(Launched(args)).out, expected) << c.name << ", bare";
    }
  }
}

TEST(EndToEndWindows, WildcardExpansionPastTheLimitIsRefused) {
  // Not for POSIX: the shell expands wildcards here.
  std::vector<std::string> names;
  for (int i = 0; i < 400; ++i) {
    names.push_back(std::to_string(1000 + i) + std::string(90, 'n') + ".txt");
  }
  const ScratchFolder folder(names);
  const Outcome outcome =
      RunTamsor({Helper(), "println", "RAN", "*.txt"}, {}, folder.path());
  EXPECT_EQ(outcome.out, Eol(kRefusal));
  EXPECT_EQ(outcome.exit_code, 255);
}

// `path` as Wine's Windows programs see it.
std::string WindowsPath(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return "Z:" + path;
}

// A program copied into `folder` under `name`; returns its path.
std::string CopyProgram(const std::string& from, ScratchFolder* folder,
                        const std::string& name) {
  const std::string to = folder->Add(name, "", true);
  std::ifstream in(from, std::ios::binary);
  std::ofstream(to, std::ios::binary) << in.rdbuf();
  return to;
}

// A folder of its own holding a copy of the timer, as installed: Windows
// looks there first for a program. The suite runs the copy while this lives.
class TimerFolder : public ScratchFolder {
 public:
  TimerFolder() : ScratchFolder({}), timer_(Env("TAMSOR_EXE")) {
    setenv("TAMSOR_EXE", CopyProgram(timer_, this, "tamsor.exe").c_str(), 1);
  }
  ~TimerFolder() { setenv("TAMSOR_EXE", timer_.c_str(), 1); }

 private:
  const std::string timer_;
};

TEST(EndToEndWindows, BatchFilesTakeTheirArgumentsAsData) {
  ScratchFolder folder({});
  // The timer runs from a folder of its own, which Windows searches first,
  // and a folder on PATH. The current folder is searched only as PATH's
  // empty entry, kept out of its own place.
  TimerFolder app;
  ScratchFolder on_path({});
  setenv("WINEPATH", (";" + WindowsPath(on_path.path())).c_str(), 1);
  setenv("NoDefaultCurrentDirectoryInExePath", "1", 1);
  for (const char* name : {"both.bat", "beside.bat", "sub/s.bat"}) {
    app.Add(name, std::string("@echo app\\") + name + " [%1]\r\n", false);
  }
  app.Add("d.bat/keep", "", false);  // a folder
  for (const char* name : {"both.bat", "sub/s.bat", "d.bat"}) {
    folder.Add(name, "@echo cwd\r\n", false);
  }
  on_path.Add("p.bat", "@echo path [%1]\r\n", false);
  on_path.Add("sub/u.bat", "@echo path\\sub\\u.bat\r\n", false);
  CopyProgram(Helper(), &folder, "h.batx");
  // A program under a batch file's name, with commands in its DOS header.
  std::fstream(CopyProgram(Helper(), &folder, "poly.bat"),
               std::ios::binary | std::ios::in | std::ios::out)
      .seekp(2)
      .write("\r\n&echo INJECTED&exit /b 9\r\n", 28);
  std::vector<OutcomeCase> cases;
  // cmd.exe runs these: whatever the arguments, that batch file and
  // nothing else, each argument one parameter, or a refusal.
  const std::string script = "@echo off\r\nif 1==1 (echo [%1] [%2])\r\n";
  for (const char* name : {"t.bat", "a,b/t.bat", "my tool.bat"}) {
    folder.Add(name, script, false);
  }
  folder.Add("a.bat", "echo WRONG\r\n", false);
  folder.Add("r.bat", "@echo ran\r\n", false);
  setenv("X", "q&echo.INJECTED", 1);
  const std::string unsafe =
      "Cannot run the command: a batch file cannot "
      "be given this argument safely: ";
  const std::string inject = "a&echo.INJECTED";
  // cmd.exe's limit counts its whole line, as the timer builds it.
  const std::string cmd_line_head =
      R"("C:\windows\system32\cmd.exe" /d /s /c "")" +
      WindowsPath(folder.path() + "/r.bat") + "\" ";
  const std::string fill(8191 - cmd_line_head.size() - 1, 'a');
  const std::string report = "\n\nwall   0.100 s\nreal   0.000 s";
  cases.insert(
      cases.end(),
      {{"a plain argument", {"t.bat", "plain"}, "[plain] []\r\n", true, true},
       {"& in a batch argument",
        {"t.bat", inject},
        "[\"a&echo.INJECTED\"] []\r\n",
        true,
        true},
       {"quote state across arguments",
        {"t.bat", "a\"b", "c&echo.INJECTED"},
        unsafe + "a\"b\n",
        false,
        true},
       {"% expanded first", {"t.bat", "%X%"}, unsafe + "%X%\n", false, true},
       {"a parenthesised block closed",
        {"t.bat", "x)else(echo.INJECTED"},
        "[\"x)else(echo.INJECTED\"] []\r\n",
        true,
        true},
       {"= and , split",
        {"t.bat", "CONFIG=Release", "a,b"},
        "[\"CONFIG=Release\"] [\"a,b\"]\r\n",
        true,
        true},
       {"a name Windows tidies",
        {"t.bat\\.", inject},
        "[\"a&echo.INJECTED\"] []\r\n",
        true,
        true},
       {"a name Windows tidies, with slashes",
        {"./T.BAT/.", inject},
        "[\"a&echo.INJECTED\"] []\r\n",
        true,
        true},
       {"a path with syntax", {"a,b\\t.bat", "x"}, "[x] []\r\n", true, true},
       {"a line one over cmd.exe's limit",
        {"r.bat", fill + "a"},
        "Cannot run the command: a batch file's command line is longer than "
        "8191 characters, the most cmd.exe takes\n",
        false,
        true},
       {"a line at cmd.exe's limit", {"r.bat", fill}, "ran\r\n", true, true},
       {"a quoted program name",
        {"\"t.bat\"", inject},
        "Cannot run the command [ \"\"t.bat\"\" a&echo.INJECTED  ]\n",
        false,
        true},
       {"tamsor's folder before the current one",
        {"both.bat", "x"},
        "app\\both.bat [x]\r\n",
        true,
        true},
       {"a name from .\\ not searched", {".\\both.bat"}, "cwd\r\n", true, true},
       {"a relative name searched",
        {"sub\\s.bat", "x"},
        "app\\sub/s.bat [x]\r\n",
        true,
        true},
       {"a relative name found on PATH",
        {"sub/u.bat"},
        "path\\sub\\u.bat\r\n",
        true,
        true},
       {"a folder of that name first",
        {"d.bat", "x"},
        "Cannot run the command [ \"d.bat\" x  ]\n",
        false,
        true},
       {"a program under a batch file's name",
        {"poly.bat", "println", "100%"},
        "100%\r\n",
        true,
        true},
       {"only beside tamsor",
        {"beside.bat", "x"},
        "app\\beside.bat [x]\r\n",
        true,
        true},
       {"only beside tamsor, a name Windows tidies",
        {"beside.bat. .", "x"},
        "app\\beside.bat [x]\r\n",
        true,
        true},
       {"only on PATH", {"p.bat", "x"}, "path [x]\r\n", true, true},
       {"found nowhere",
        {"nowhere.bat", "x"},
        "Cannot run the command [ \"nowhere.bat\" x  ]\n",
        false,
        true},
       {"an extension that only starts with bat",
        {"h.batx", "args", "C:\\dir with space\\", "next"},
        "argc=4\r\nline=<\"h.batx\" args \"C:\\dir with space\\\\\" next "
        ">\r\n<C:\\dir with space\\>\r\n<next>\r\n",
        true,
        true},
       {"a refusal whose argument holds line breaks",
        {"t.bat", "%" + report},
        unsafe + R"(%\n\nwall   0.100 s\nreal   0.000 s)" + "\n",
        false,
        true},
       {"a name with a space, unquoted",
        {"my", "tool.bat", inject},
        "Cannot run the command [ \"my\" tool.bat a&echo.INJECTED  ]\n",
        false,
        true}});
  ExpectOutcomes(cases, folder.path());
  // Where Windows reads paths in the ANSI code page (no UTF-8 manifest), a
  // lookup that read them so would take the folder ａ (U+FF41) for a.
  ScratchFolder ansi({});
  ansi.Add("\uff41/t.bat", "@echo right [%1]\r\n", false);
  ansi.Add("a/t.bat", "@echo WRONG\r\n", false);
  ExpectReportOnly(RunCommand(Launched({Env("TAMSOR_ANSI_EXE"), "t.bat", "x"}),
                              {}, ansi.path() + "/\uff41"),
                   "right [x]\r\n", "the timer without its manifest");
  unsetenv("WINEPATH");
  unsetenv("NoDefaultCurrentDirectoryInExePath");
}

// Random argument lists: what cmd.exe or the C runtime read as syntax, line
// breaks, non-ASCII letters, empty arguments and long runs.
class ArgumentLists {
 public:
  explicit ArgumentLists(uint32_t seed) : random_(seed) {}
  std::vector<std::string> Next() {
    static const char* const kTokens[] = {
        " ", "\t", "\"", "\\", "%",  "!", "^", "&",  "|", "<",
        ">", "(",  ")",  ",",  ";",  "=", "a", "Z",  "0", "-",
        ".", ":",  "_",  "\n", "\r", "é", "ß", "日", "😀"};
    std::vector<std::string> list(Below(7));
    for (std::string& arg : list) {
      for (size_t pieces = Below(9); pieces > 0; --pieces) {
        const char* token = kTokens[Below(std::size(kTokens))];
        const size_t odds = Below(100);
        size_t run = odds < 1 ? Below(4000) : odds < 20 ? 2 + Below(40) : 1;
        while (run-- > 0) arg += token;
      }
    }
    return list;
  }

 private:
  size_t Below(size_t n) { return random_() % n; }
  std::mt19937 random_;
};

// The UTF-16 units of UTF-8 `text`.
std::vector<uint16_t> Utf16(const std::string& text) {
  std::vector<uint16_t> units;
  for (size_t i = 0; i < text.size();) {
    const unsigned lead = static_cast<unsigned char>(text[i]);
    const size_t length = lead < 0x80   ? 1
                          : lead < 0xe0 ? 2
                          : lead < 0xf0 ? 3
                                        : 4;
    uint32_t point = length == 1 ? lead : lead & (0x7fu >> length);
    for (size_t k = 1; k < length; ++k) {
      point = point << 6 | (static_cast<unsigned char>(text[i + k]) & 0x3fu);
    }
    i += length;
    if (point >= 0x10000) {
      units.push_back(
          static_cast<uint16_t>(0xd800 + ((point - 0x10000) >> 10)));
      point = 0xdc00 + (point & 0x3ff);
    }
    units.push_back(static_cast<uint16_t>(point));
  }
  return units;
}

// An argument as the helper's wargs prints it.
std::string WideUnits(const std::string& arg) {
  std::string out = "<";
  for (const uint16_t unit : Utf16(arg)) {
    char hex[8];
    std::snprintf(hex, sizeof hex, out.size() > 1 ? " %04x" : "%04x", unit);
    out += hex;
  }
  return out + ">\r\n";
}

// Text as cmd.exe echoes it into a pipe: in the ANSI code page, 1252 under
// the suite's locale, so Latin-1 letters stay and the others become '?'.
std::string AnsiPrinted(const std::string& text) {
  std::string out;
  for (const uint16_t unit : Utf16(text)) {
    out += unit < 0x100 ? static_cast<char>(unit) : '?';
  }
  return out;
}

// The batch file's own lines: each parameter, as the text or the text
// quoted, then END.
bool BatchReceived(const std::vector<std::string>& list, std::string printed) {
  for (const std::string& arg : list) {
    const std::string text = AnsiPrinted(arg);
    bool found = false;
    for (const std::string& line :
         {"[" + text + "]\r\n", "[\"" + text + "\"]\r\n"}) {
      if (!found && printed.rfind(line, 0) == 0) {
        printed.erase(0, line.size());
        found = true;
      }
    }
    if (!found) return false;
  }
  return printed == "END\r\n";
}

// "" when the run was refused (exit 255, one line, nothing from the child),
// unless it `must_run`, or the child printed what `arrived` accepts ahead of
// a report.
std::string Judge(const char* child, const Outcome& outcome,
                  const std::function<bool(const std::string&)>& arrived,
                  bool must_run, int* ran) {
  const size_t end = outcome.out.find_first_of("\r\n");
  if (!must_run && outcome.exit_code == 255 && end != std::string::npos &&
      end > 0 && outcome.out.substr(end) == Eol("\n")) {
    return "";
  }
  const Report report = ParseReport(outcome.out);
  if (outcome.exit_code == 0 && report.found && arrived(report.before)) {
    ++*ran;
    return "";
  }
  return std::string(child) + ", exit " + std::to_string(outcome.exit_code) +
         ", printed:\n" + outcome.out.substr(0, 3000) + "\n";
}

// Each list through the timer to a batch file and to the helper, which print
// the parameters they received: every argument arrives as given, or the
// timer refuses the run. TAMSOR_SEED sets the seed to run a failure again.
TEST(EndToEndWindows, RandomArgumentsArriveWholeOrAreRefused) {
  const char* given = std::getenv("TAMSOR_SEED");
  const auto seed =
      static_cast<uint32_t>(given ? std::strtoul(given, nullptr, 10) : 15);
  ScratchFolder folder({});
  // The timer in a folder of its own, beside the batch file, which Windows
  // finds first; cmd.exe, left to search, would run the current folder's.
  TimerFolder app;
  app.Add("p.bat",
          "@echo off\r\n:next\r\nif [%1]==[] goto end\r\necho [%1]\r\n"
          "shift\r\ngoto next\r\n:end\r\necho END\r\n",
          false);
  folder.Add("p.bat", "@echo WRONG\r\n", false);
  // Every other list goes to a copy of the helper whose extension only
  // starts like a batch file's.
  const std::string programs[] = {Helper(),
                                  CopyProgram(Helper(), &folder, "h.batx")};
  // The faults of one list's two runs, counting in `ran` the children that
  // ran it.
  const auto judge = [&](const std::vector<std::string>& list, int count,
                         int* ran) {
    std::vector<std::string> batch = {"p.bat"};
    std::vector<std::string> helper = {programs[count % 2], "println", "RAN",
                                       "wargs"};
    batch.insert(batch.end(), list.begin(), list.end());
    helper.insert(helper.end(), list.begin(), list.end());
    // The C runtime reads a quote in an argument its own way; a batch file
    // may be refused one, a % or a line break, and either child a long line.
    const auto holding = [&list](const char* set) {
      return std::any_of(list.begin(), list.end(), [set](auto& arg) {
        return arg.find_first_of(set) != std::string::npos;
      });
    };
    const size_t length =
        std::accumulate(list.begin(), list.end(), size_t{0},
                        [](size_t sum, const std::string& arg) {
                          return sum + arg.size() + 3;
                        });
    const bool quoted = holding("\"");
    const bool short_line = length < 4000;
    std::string expected = "RAN\r\n";
    for (const std::string& arg : list) expected += WideUnits(arg);
    return Judge(
               "batch file", RunTamsor(batch, {}, folder.path()),
               [&](const std::string& printed) {
                 return BatchReceived(list, printed);
               },
               short_line && !holding("\"%\r\n"), &ran[0]) +
           Judge(
               "helper", RunTamsor(helper, {}, folder.path()),
               [&](const std::string& printed) {
                 return quoted ? printed.rfind(expected.substr(0, 5), 0) == 0
                               : printed == expected;
               },
               short_line, &ran[1]);
  };
  ArgumentLists lists(seed);
  const auto start = std::chrono::steady_clock::now();
  int count = 0;
  int ran[2] = {0, 0};  // lists not refused, for each child
  int again = 0;        // lists judged a second time
  for (; count < 2000 &&
         std::chrono::steady_clock::now() - start < std::chrono::seconds(60);
       ++count) {
    const std::vector<std::string> list = lists.Next();
    // Under load Wine now and then fails a start outright (status 1 and no
    // output, or no process at all). The timer's own faults show again on
    // the same list, so a list fails the test only the second time.
    int first[2] = {0, 0};
    std::string faults = judge(list, count, first);
    if (faults.empty()) {
      ran[0] += first[0];
      ran[1] += first[1];
    } else {
      ++again;
      faults = judge(list, count, ran);
    }
    if (!faults.empty()) {
      ADD_FAILURE() << faults << "seed " << seed << ", list " << count
                    << ", twice: " << testing::PrintToString(list);
      break;
    }
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  std::printf(
      "%d lists in %.0f s, seed %u; run, not refused: %d by the "
      "batch file, %d by the helper; judged twice: %d\n",
      count, took.count(), seed, ran[0], ran[1], again);
}

}  // namespace
}  // namespace tamsor_e2e

// End-to-end: the Windows line (how the child's command line is assembled,
// read and expanded), run against the Windows build under Wine only.
#include <signal.h>

#include <fstream>
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

TEST(EndToEndWindows, BatchFilesTakeTheirArgumentsAsData) {
  ScratchFolder folder({});
  // The timer runs from a folder of its own, as installed, which Windows
  // searches first, and a folder on PATH.
  ScratchFolder app({});
  ScratchFolder on_path({});
  setenv("TAMSOR_EXE",
         CopyProgram(Env("TAMSOR_EXE"), &app, "tamsor.exe").c_str(), 1);
  setenv("WINEPATH", WindowsPath(on_path.path()).c_str(), 1);
  for (const char* name : {"both.bat", "beside.bat"}) {
    app.Add(name, std::string("@echo app\\") + name + " [%1]\r\n", false);
  }
  folder.Add("both.bat", "@echo WRONG\r\n", false);
  on_path.Add("p.bat", "@echo path [%1]\r\n", false);
  CopyProgram(Helper(), &folder, "h.batx");
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
  unsetenv("WINEPATH");
}

}  // namespace
}  // namespace tamsor_e2e

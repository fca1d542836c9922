// End-to-end: the Windows line (how the child's command line is assembled,
// read and expanded) and the console, built for Windows only.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
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

// An argument (UTF-8) as the helper's wargs prints it: its UTF-16 units.
std::string WideUnits(const std::string& arg) {
  std::vector<wchar_t> wide(arg.size());
  wide.resize(static_cast<size_t>(
      MultiByteToWideChar(CP_UTF8, 0, arg.data(), static_cast<int>(arg.size()),
                          wide.data(), static_cast<int>(wide.size()))));
  std::string out = "<";
  for (const wchar_t unit : wide) {
    char hex[8];
    std::snprintf(hex, sizeof hex, out.size() > 1 ? " %04x" : "%04x",
                  static_cast<unsigned>(unit));
    out += hex;
  }
  return out + ">\r\n";
}

// A Unicode program reads the line as UTF-16: bare and timed it must see
// the same arguments, none of them split, lost or turned into '?'.
TEST(EndToEndWindows, ArgumentsReachAProgramWhole) {
  // Not for POSIX: a POSIX child gets the bytes themselves.
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> files;  // in the folder the timer runs in
    std::string units;               // where not each argument's own
    bool in_932 = false;             // also in code page 932, see below
  } cases[] = {
      // A quote reaches the program whole, however many backslashes stand
      // ahead of it.
      {"quotes and backslashes",
       {"-DVER=\"1.0\"", "file\" --delete-all \"x", "x\\\"y", "\\\\\"",
        "back\\slash\\"},
       {},
       ""},
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
      // The ANSI code page would make it "a"b c", two arguments.
      {"a full-width quote", {"ａ＂b c"}, {}, "<ff41 ff02 0062 0020 0063>"},
      // In code page 932 the second byte of both letters is a \.
      {"double-byte letters, a real trailing backslash, cmd.exe syntax",
       {"表", "a 表", "能\\", "a&echo.INJECTED"},
       {},
       "<8868>\n<0061 0020 8868>\n<80fd 005c>\n<0061 0026 0065 0063 0068 006f "
       "002e 0049 004e 004a 0045 0043 0054 0045 0044>",
       true},
  };
  // The timer without its manifest, as Windows before 10 1903 runs it in
  // the ANSI code page, reads its arguments as the timer does. Where that
  // is 932 (a run of its own under Wine, in Wine's ja_JP locale), it hands
  // them on to a %* shim under a name Windows tidies to x.bat too.
  const bool dbcs = GetACP() == 932;
  if (Env("TAMSOR_CODE_PAGE") == "932") {
    ASSERT_TRUE(dbcs) << "code page " << GetACP();
  }
  ScratchFolder shim({});
  shim.Add("x.bat", "@\"" + Helper() + "\" wargs %*\r\n", false);
  for (const auto& c : cases) {
    const ScratchFolder folder(c.files);
    std::vector<std::string> args = {Helper(), "wargs"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string expected = Eol(c.units + "\n");
    if (c.units.empty()) {
      expected.clear();
      for (const std::string& arg : c.args) expected += WideUnits(arg);
    }
    ExpectReportOnly(RunTamsor(args, {}, folder.path()), expected, c.name);
    // Started directly, the helper expands no wildcards.
    if (c.files.empty()) {
      EXPECT_EQ(RunCommand(args).out, expected) << c.name << ", bare";
    }
    args.insert(args.begin(), Env("TAMSOR_ANSI_EXE"));
    ExpectReportOnly(RunCommand(args, {}, folder.path()), expected,
                     (c.name + std::string(", no manifest")).c_str());
    if (!c.in_932 || !dbcs) continue;
    args.erase(args.begin() + 1, args.begin() + 3);
    args.insert(args.begin() + 1, "x.bat\\表..\\..");
    ExpectReportOnly(RunCommand(args, {}, shim.path()), expected, "932 shim");
  }
  if (!dbcs) return;
  // In 932 the ANSI form of ¥ is the byte of \: another file.
  shim.Add("sub/x.bat", "@echo WRONG\r\n", false);
  shim.Add("sub¥x.bat", "@echo right\r\n", false);
  ExpectReportOnly(
      RunCommand({Env("TAMSOR_ANSI_EXE"), "sub¥x.bat"}, {}, shim.path()),
      "right\r\n", "¥ in 932");
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
  EXPECT_EQ(outcome.exit_code, kCannotRun);
}

// The system folder, where the timer takes cmd.exe from.
std::string SystemFolder() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  std::string text(3 * length, '\0');
  text.resize(static_cast<size_t>(WideCharToMultiByte(
      CP_UTF8, 0, folder, static_cast<int>(length), &text[0],
      static_cast<int>(text.size()), nullptr, nullptr)));
  return text;
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
  TimerFolder()
      : ScratchFolder({}),
        timer_("TAMSOR_EXE",
               CopyProgram(Env("TAMSOR_EXE"), this, "tamsor.exe").c_str()) {}

 private:
  const ScopedEnv timer_;
};

TEST(EndToEndWindows, BatchFilesTakeTheirArgumentsAsData) {
  ScratchFolder folder({});
  // The timer runs from a folder of its own, which Windows searches first,
  // and a folder on PATH. The current folder is searched only as PATH's
  // empty entry, kept out of its own place.
  TimerFolder app;
  ScratchFolder on_path({});
  const ScopedEnv path("PATH",
                       (";" + on_path.path() + ";" + Env("PATH")).c_str());
  const ScopedEnv no_current("NoDefaultCurrentDirectoryInExePath", "1");
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
  folder.Add("t.batx", "@echo INJECTED\r\n", false);
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
  // Windows looks in the current folder for a name holding a \ whatever
  // NoDefaultCurrentDirectoryInExePath says.
  folder.Add("sub/z.bat", script, false);
  CopyProgram(Helper(), &on_path, "sub/z.bat");
  folder.Add("mzt.bat", "MZ\r\n@echo [%1]\r\n", false);
  const std::string no_cwd = Env("PATH").substr(1);  // PATH but its ";"
  folder.Add("m.bat", "MKDIR out\r\n", false);       // "M", but no "MZ"
  folder.Add("r.bat", "@echo ran\r\n", false);
  SetEnv("X", "q&echo.INJECTED");
  const std::string unsafe =
      "Cannot run the command: a batch file cannot "
      "be given this argument safely: ";
  const std::string inject = "a&echo.INJECTED";
  // cmd.exe's limit counts its whole line, as the timer builds it.
  const std::string cmd_line_head = "\"" + SystemFolder() +
                                    R"(\cmd.exe" /d /s /c "")" + folder.path() +
                                    "\\r.bat\" ";
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
       {"; splits", {"t.bat", "a;b"}, "[\"a;b\"] []\r\n", true, true},
       {"a batch file that starts with M",
        {"m.bat", "%X%"},
        unsafe + "%X%\n",
        false,
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
       {".\\ not searched", {".\\both.bat"}, "cwd\r\n", true, true},
       {"sub\\ searched", {"sub\\s.bat"}, "app\\sub/s.bat []\r\n", true, true},
       {"sub/ on PATH", {"sub/u.bat"}, "path\\sub\\u.bat\r\n", true, true},
       {"a folder first",
        {"d.bat"},
        "Cannot run the command [ \"d.bat\"  ]\n",
        false,
        true},
       {"a program", {"poly.bat", "println", "100%"}, "100%\r\n", true, true},
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
       {"sub\\: a batch file in the current folder, a program on PATH",
        {"sub\\z.bat", inject},
        "[\"a&echo.INJECTED\"] []\r\n",
        true,
        true,
        "",
        kCannotRun,
        no_cwd},
       {"a text file that starts with MZ",
        {"mzt.bat", inject},
        "Cannot run the command [ \"mzt.bat\" a&echo.INJECTED  ]\n",
        false,
        true},
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
       {"a text file whose extension only starts with bat",
        {"t.batx"},
        "Cannot run the command [ \"t.batx\"  ]\n",
        false,
        true},
       {"a refusal whose argument holds line breaks",
        {"t.bat", "%" + report},
        unsafe + R"(%\n\nwall   0.100 s\nreal   0.000 s)" + "\n",
        false,
        true},
       // Typed in cmd.exe as `cmd /c echo \"hi\"`, which starts cmd.exe with
       // that very line: echo prints what follows it as it stands (timed, up
       // to the space that ends the timer's line).
       {"cmd.exe, which reads its line its own way",
        {"cmd", "/c", "echo", "\"hi\""},
        "\\\"hi\\\" \r\n",
        true},
       {"a name with a space, unquoted",
        {"my", "tool.bat", inject},
        "Cannot run the command [ \"my\" tool.bat a&echo.INJECTED  ]\n",
        false,
        true}});
  ExpectOutcomes(cases, folder.path());
  // The search passes the 16-bit system folder, which real Windows has,
  // on its way to PATH.
  EXPECT_TRUE(std::filesystem::is_directory(
      std::filesystem::u8path(SystemFolder()).parent_path() / "System"));
  // Taken as it stands, never searched: searched for, from a timer in a
  // folder below its own, it would be found above that first.
  folder.Add("up.bat", "@echo up\r\n", false);
  app.Add("up.bat", "@echo WRONG\r\n", false);
  const ScopedEnv deeper(
      "TAMSOR_EXE",
      CopyProgram(Env("TAMSOR_EXE"), &app, "deeper/tamsor.exe").c_str());
  ExpectOutcomes({{"..\\ not searched", {"..\\up.bat"}, "up\r\n", true, true}},
                 folder.path() + "\\sub");
  // Where Windows reads paths in the ANSI code page (no UTF-8 manifest), a
  // lookup that read them so would take the folder ａ (U+FF41) for a, and
  // arguments so read would take ｘ.bat for x.bat (1252 here).
  ScratchFolder ansi({});
  ansi.Add("\uff41/t.bat", "@echo right [%1]\r\n", false);
  ansi.Add("a/t.bat", "@echo WRONG\r\n", false);
  ansi.Add("\uff41/\uff58.bat", "@echo full-width\r\n", false);
  ansi.Add("\uff41/x.bat", "@echo WRONG\r\n", false);
  ExpectReportOnly(RunCommand({Env("TAMSOR_ANSI_EXE"), "\uff58.bat"}, {},
                              ansi.path() + "/\uff41"),
                   "full-width\r\n", "a full-width name");
  ExpectReportOnly(RunCommand({Env("TAMSOR_ANSI_EXE"), "t.bat", "é"}, {},
                              ansi.path() + "/\uff41"),
                   "right [\"\xe9\"]\r\n", "the timer without its manifest");
  ansi.Add("\uff41/\u00e9.bat", "@echo e-acute\r\n", false);
  ExpectReportOnly(RunCommand({Env("TAMSOR_ANSI_EXE"), "\u00e9.bat"}, {},
                              ansi.path() + "/\uff41"),
                   "e-acute\r\n", "a batch file's name in the ANSI code page");
  // Its messages show the arguments in that code page.
  EXPECT_EQ(RunCommand({Env("TAMSOR_ANSI_EXE"), "nowhere.bat", "é"}).out,
            Eol("Cannot run the command [ \"nowhere.bat\" \xe9  ]\n"));
  EXPECT_EQ(RunCommand({Env("TAMSOR_ANSI_EXE"), "t.bat", "é%"}, {},
                       ansi.path() + "/\uff41")
                .out,
            Eol(unsafe + "\xe9%\n"));
}

// The command and what it starts run in the timer's job, which they may
// leave as they may untimed.
TEST(EndToEndWindows, TheCommandsProcessesRunInAJobTheyMayLeave) {
  ScratchFolder folder({});
  folder.Add("j.bat", "@\"" + Helper() + "\" in-job run in-job\r\n", false);
  const std::vector<std::string> leaving = {Helper(), "run-breakaway",
                                            "in-job"};
  const std::string both = "in_job=yes\r\nin_job=yes\r\n";
  const struct {
    const char* name;
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {"a program and its child", {Helper(), "in-job", "run", "in-job"}, both},
      {"a batch file and its child", {"j.bat"}, both},
      {"a child that leaves, as it may untimed", leaving,
       RunCommand(leaving).out},
  };
  for (const auto& c : cases) {
    ExpectReportOnly(RunTamsor(c.args, {}, folder.path()), c.out, c.name);
  }
  // Where the timer itself runs in a job that forbids leaving it (a CI
  // runner's, a service's), the command's request fails as it would
  // untimed: the timer's job does not let it leave that one.
  const auto in_strict_job = [](std::vector<std::string> command) {
    command.insert(command.begin(), {Helper(), "no-breakaway-job"});
    return command;
  };
  const std::string refused = RunCommand(in_strict_job(leaving)).out;
  EXPECT_EQ(refused, Eol("cannot run: error 5\n"));
  ExpectReportOnly(RunCommand(in_strict_job(TamsorCommand(leaving))), refused,
                   "a child that leaves a job that forbids it");
}

// Random argument lists: what cmd.exe or the C runtime read as syntax, line
// breaks, non-ASCII letters, empty arguments, long runs and trailing
// backslashes.
class ArgumentLists {
 public:
  explicit ArgumentLists(uint32_t seed) : random_(seed) {}
  std::vector<std::string> Next() {
    // The last four, refused to batch files, in one list in four.
    static const char* const kTokens[] = {
        " ", "\t", "\\", "!",  "^", "&", "|",  "<",  ">", "(",
        ")", ",",  ";",  "=",  "a", "Z", "0",  "-",  ".", ":",
        "_", "é",  "ß",  "日", "😀", "%", "\"", "\n", "\r"};
    const size_t tokens = std::size(kTokens) - (Below(4) == 0 ? 0 : 4);
    std::vector<std::string> list(Below(7));
    for (std::string& arg : list) {
      for (size_t pieces = Below(9); pieces > 0; --pieces) {
        const char* token = kTokens[Below(tokens)];
        const size_t odds = Below(100);
        size_t run = odds < 1 ? Below(4000) : odds < 20 ? 2 + Below(40) : 1;
        while (run-- > 0) arg += token;
      }
      if (Below(3) == 0) arg.append(1 + Below(3), '\\');
    }
    return list;
  }

 private:
  size_t Below(size_t n) { return random_() % n; }
  std::mt19937 random_;
};

// "" when the run was refused with one of `refusals` (exit -1, nothing
// from the child), or the child printed what `arrived` accepts ahead of a
// report.
std::string Judge(const char* child, const Outcome& outcome,
                  const std::function<bool(const std::string&)>& arrived,
                  const std::vector<std::string>& refusals, int* ran) {
  if (outcome.exit_code == kCannotRun &&
      std::any_of(refusals.begin(), refusals.end(), [&](const std::string& r) {
        return outcome.out == Eol(r);
      })) {
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

// Each list through the timer to a .cmd shim that hands %* on to the helper,
// and to the helper itself, which print the UTF-16 units of each argument:
// every argument arrives as given, or the timer refuses the run, naming the
// argument a batch file cannot take. The shim is put at one place of
// Windows' search order, by a bare or a relative name, with decoys at every
// later place; now and then the helper is there under a batch file's name,
// and runs as a program. TAMSOR_SEED sets the seed to run a failure again.
TEST(EndToEndWindows, RandomArgumentsArriveWholeOrAreRefused) {
  const char* given = std::getenv("TAMSOR_SEED");
  const auto seed =
      static_cast<uint32_t>(given ? std::strtoul(given, nullptr, 10) : 15);
  ScratchFolder folder({});
  // The search order: the timer's folder, the current one, two on PATH.
  TimerFolder app;
  ScratchFolder on_path({});
  ScratchFolder late({});
  const std::string path = on_path.path() + ";" + late.path();
  const ScopedEnv search("PATH", (path + ";" + Env("PATH")).c_str());
  ScratchFolder* const places[] = {&app, &folder, &on_path, &late};
  const std::string shim = "@\"" + CopyProgram(Helper(), &folder, "h.exe") +
                           "\" println RAN wargs %*\r\n";
  // pK.cmd and mK.bat are at place K, decoys after it.
  for (size_t k = 0; k < 3; ++k) {
    for (const std::string sub : {"", "sub/"}) {
      const std::string name = sub + "p" + std::to_string(k) + ".cmd";
      const std::string mz = sub + "m" + std::to_string(k) + ".bat";
      places[k]->Add(name, shim, false);
      CopyProgram(Helper(), places[k], mz);
      for (size_t later = k + 1; later < std::size(places); ++later) {
        places[later]->Add(name, "@echo WRONG\r\n", false);
        places[later]->Add(mz, "@echo WRONG\r\n", false);
      }
    }
  }
  // Every other list goes to a copy of the helper whose extension only
  // starts like a batch file's.
  const std::string programs[] = {Helper(),
                                  CopyProgram(Helper(), &folder, "h.batx")};
  // Under load Wine now and then fails the timer's own start of an existing
  // child too, which it then reports: that run, and nothing else, is made
  // again. A fault of the timer's would show on every try.
  int restarts = 0;
  const auto run = [&](const std::vector<std::string>& args) {
    Outcome outcome = RunTamsor(args, {}, folder.path());
    for (int tries = 0; tries < 3 && outcome.exit_code == kCannotRun &&
                        outcome.out.rfind("Cannot run the command [ ", 0) == 0;
         ++tries, ++restarts) {
      outcome = RunTamsor(args, {}, folder.path());
    }
    return outcome;
  };
  // The faults of one list's two runs, counting in `ran` the lists that
  // reached cmd.exe, a program under a batch name and the helper.
  const auto judge = [&](const std::vector<std::string>& list, int count,
                         int* ran) {
    const bool mz = count % 5 == 0;
    const std::string program = std::string(count / 3 % 2 ? "sub\\" : "") +
                                (mz ? "m" : "p") + std::to_string(count % 3) +
                                (mz ? ".bat" : ".cmd");
    std::vector<std::string> helper = {programs[count % 2], "println", "RAN",
                                       "wargs"};
    helper.insert(helper.end(), list.begin(), list.end());
    // The shim prints RAN itself.
    std::vector<std::string> batch = helper;
    batch[0] = program;
    if (!mz) batch.erase(batch.begin() + 1, batch.begin() + 4);
    const size_t length =
        std::accumulate(list.begin(), list.end(), size_t{0},
                        [](size_t sum, const std::string& arg) {
                          return sum + arg.size() + 3;
                        });
    // A batch file is refused a quote, a % or a line break, and either child
    // a long line.
    const auto unsafe = std::find_if(list.begin(), list.end(), [](auto& arg) {
      return arg.find_first_of("\"%\r\n") != std::string::npos;
    });
    std::vector<std::string> refusals;
    if (length >= 4000) {
      refusals = {kRefusal,
                  "Cannot run the command: a batch file's command line is "
                  "longer than 8191 characters, the most cmd.exe takes\n"};
    }
    const std::vector<std::string> program_refusals = refusals;
    if (unsafe != list.end() && !mz) {
      std::string shown;
      for (const char c : *unsafe) {
        shown += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
      }
      refusals.push_back(
          "Cannot run the command: a batch file cannot be given this "
          "argument safely: " +
          shown + "\n");
    }
    std::string expected = "RAN\r\n";
    for (const std::string& arg : list) expected += WideUnits(arg);
    const auto arrived = [&](const std::string& printed) {
      return printed == expected;
    };
    return Judge(mz ? "a program under a batch name" : "the shim", run(batch),
                 arrived, refusals, &ran[mz ? 1 : 0]) +
           Judge("helper", run(helper), arrived, program_refusals, &ran[2]);
  };
  // As many as take about a minute on a quiet machine; the same lists
  // however fast the machine is.
  const int kLists = 200;
  ArgumentLists lists(seed);
  const auto start = std::chrono::steady_clock::now();
  int count = 0;
  int ran[3] = {0, 0, 0};  // lists not refused, for each child
  for (; count < kLists; ++count) {
    const std::vector<std::string> list = lists.Next();
    const std::string faults = judge(list, count, ran);
    if (!faults.empty()) {
      ADD_FAILURE() << faults << "seed " << seed << ", list " << count << ": "
                    << testing::PrintToString(list);
      break;
    }
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  const int shims = count - (count + 4) / 5;
  std::printf(
      "%d lists in %.0f s, seed %u; to the shim: %d, of which %d reached "
      "cmd.exe and %d were refused; run as a program under a batch name: %d "
      "of %d; by the helper: %d; child starts Wine failed: %d\n",
      count, took.count(), seed, shims, ran[0], shims - ran[0], ran[1],
      count - shims, ran[2], restarts);
}

}  // namespace
}  // namespace tamsor_e2e

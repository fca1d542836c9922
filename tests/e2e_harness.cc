// The end-to-end harness's portable part: see e2e_harness.h.
#include "e2e_harness.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <utility>

namespace tamsor_e2e {

std::string Env(const char* name) {
  std::string value;
  if (GetEnv(name, &value)) return value;
  const std::string key = name;
  if (key == "TAMSOR_EXE") value = TAMSOR_EXE;
  if (key == "TAMSOR_HELPER") value = TAMSOR_HELPER;
  if (key == "TAMSOR_ANSI_EXE") value = TAMSOR_ANSI_EXE;
  // The build names its programs with forward slashes.
  if (Windows()) std::replace(value.begin(), value.end(), '/', '\\');
  return value;
}

ScopedEnv::ScopedEnv(std::string name, const char* value)
    : name_(std::move(name)), had_(GetEnv(name_.c_str(), &old_)) {
  SetEnv(name_, value);
}

ScopedEnv::~ScopedEnv() { SetEnv(name_, had_ ? old_.c_str() : nullptr); }

std::string Eol(std::string text) {
  if (!Windows()) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Helper() { return Env("TAMSOR_HELPER"); }

std::string Program(const std::string& name) {
  return Windows() ? "\"" + name + "\"" : name;
}

void SleepFor(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

std::vector<std::string> TamsorCommand(const std::vector<std::string>& args) {
  std::vector<std::string> command = {Env("TAMSOR_EXE")};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

Outcome RunProgram(const std::string& program,
                   const std::vector<std::string>& argv, const Trigger& trigger,
                   const std::string& directory, bool own_group,
                   const std::string& stdout_to) {
  using Clock = std::chrono::steady_clock;
  Outcome outcome;
  const auto start = Clock::now();
  // Under load Wine now and then fails a start outright: that start, and
  // nothing else, is made again.
  Started started;
  for (int tries = 0; started.pid == 0 && tries < 3; ++tries) {
    started = Start(program, argv, directory, own_group, stdout_to,
                    trigger.action != nullptr);
  }
  if (started.pid == 0) {
    std::fprintf(stderr, "cannot start %s\n", program.c_str());
    return outcome;
  }
  bool fired = !trigger.action;
  // Read until the program has ended and its output is closed; a hung
  // program fails the test instead of hanging the suite.
  bool ended = false;
  bool open = true;
  while (!ended || open) {
    if (!ended && (ended = Ended(&started, false, &outcome))) {
      outcome.seconds =
          std::chrono::duration<double>(Clock::now() - start).count();
    }
    if (Clock::now() > start + std::chrono::seconds(60)) {
      ADD_FAILURE() << "the timer did not finish in time";
      Ended(&started, true, &outcome);
      break;
    }
    if (open) {
      open = ReadSome(&started, &outcome.out);
    } else {
      SleepFor(0.005);
    }
    if (!fired && outcome.out.find(trigger.text) != std::string::npos) {
      fired = true;
      trigger.action(started.pid);
    }
  }
  return outcome;
}

Outcome RunCommand(const std::vector<std::string>& command,
                   const Trigger& trigger, const std::string& directory,
                   bool own_group, const std::string& stdout_to) {
  return RunProgram(command[0], command, trigger, directory, own_group,
                    stdout_to);
}

Outcome RunTamsor(const std::vector<std::string>& args, const Trigger& trigger,
                  const std::string& directory, const std::string& stdout_to) {
  return RunCommand(TamsorCommand(args), trigger, directory, true, stdout_to);
}

namespace {

// Reads one report line, "label", spaces to six characters, then a figure
// with exactly three decimals and " s", at `pos`; advances past it.
bool ReadReportLine(const std::string& text, const std::string& label,
                    const std::string& nl, size_t* pos, long* milliseconds) {
  std::string head = label;
  head.resize(7, ' ');
  if (text.compare(*pos, head.size(), head) != 0) return false;
  size_t at = *pos + head.size();
  const size_t digits = text.find_first_not_of("0123456789", at);
  if (digits == std::string::npos || digits == at || text[digits] != '.') {
    return false;
  }
  const std::string whole = text.substr(at, digits - at);
  const std::string decimals = text.substr(digits + 1, 3);
  if (decimals.size() != 3 ||
      decimals.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  at = digits + 4;
  const std::string end = " s" + nl;
  if (text.compare(at, end.size(), end) != 0) return false;
  *pos = at + end.size();
  *milliseconds = std::stol(whole) * 1000 + std::stol(decimals);
  return true;
}

}  // namespace

Report ParseReport(const std::string& out) {
  const std::string nl = Windows() ? "\r\n" : "\n";
  Report report;
  const size_t at = out.rfind(nl + "wall   ");
  if (at == std::string::npos) return report;
  size_t pos = at + nl.size();
  long wall_ms = 0;
  if (!ReadReportLine(out, "wall", nl, &pos, &wall_ms) ||
      !ReadReportLine(out, "real", nl, &pos, &report.real_ms) ||
      !ReadReportLine(out, "user", nl, &pos, &report.user_ms) ||
      !ReadReportLine(out, "sys ", nl, &pos, &report.sys_ms) ||
      pos != out.size()) {
    return report;
  }
  report.found = true;
  report.before = out.substr(0, at);
  report.wall = wall_ms / 1000.0;
  return report;
}

void ExpectReportOnly(const Outcome& outcome, const std::string& child_output,
                      const char* what, const Ending& ending) {
  EXPECT_EQ(outcome.exit_code, ending.exit_code) << what;
  EXPECT_EQ(outcome.signal, ending.signal)
      << what << ": the signal that ended the timer";
  const Report report = ParseReport(outcome.out);
  ASSERT_TRUE(report.found) << what << ": no report in:\n" << outcome.out;
  EXPECT_EQ(report.before, child_output) << what;
  EXPECT_EQ(report.real_ms, report.user_ms + report.sys_ms) << what;
}

void ExpectConsoleEventEndsTheChild(ConsoleEvent event) {
  if (Windows() && event == ConsoleEvent::kInterrupt &&
      !Env("GITHUB_ACTIONS").empty()) {
    GTEST_SKIP() << "the CI runner starts its steps with Ctrl+C ignored, "
                    "which the timer and its child inherit";
  }
  const char* name = event == ConsoleEvent::kBreak ? "Ctrl+Break" : "Ctrl+C";
  const std::vector<std::string> child = {Helper(), "println", "started",
                                          "sleep", "5"};
  Outcome untimed;
  Outcome timed;
  for (const bool timing : {false, true}) {
    bool raised = false;
    const Trigger press = {"started", [event, &raised](long pid) {
                             SleepFor(0.2);
                             raised = Raise(event, pid);
                           }};
    (timing ? timed : untimed) =
        timing ? RunTamsor(child, press) : RunCommand(child, press);
    ASSERT_TRUE(raised || UnderWine()) << name << " could not be raised";
    if (!raised) GTEST_SKIP() << "Wine cannot raise " << name;
  }
  ExpectReportOnly(timed, Eol("started\n"), name,
                   {untimed.exit_code, untimed.signal});
  EXPECT_LT(ParseReport(timed.out).wall, 4.5)
      << name << ": the child should have died";
}

void ExpectOutcomes(const std::vector<OutcomeCase>& cases,
                    const std::string& folder) {
  for (const OutcomeCase& c : cases) {
    std::string caller;
    const bool had_path = GetEnv("PATH", &caller);
    const char* path = c.path.empty() ? (had_path ? caller.c_str() : nullptr)
                       : c.path == kNoPath ? nullptr
                                           : c.path.c_str();
    const ScopedEnv timer_path("PATH", path);
    const Outcome outcome =
        RunTamsor(c.args, {}, c.in_folder ? folder : "", c.stdout_to);
    if (c.runs) {
      ExpectReportOnly(outcome, c.out, c.name);
    } else {
      EXPECT_EQ(outcome.out, Eol(c.out)) << c.name;
      EXPECT_EQ(outcome.exit_code, c.status) << c.name;
    }
  }
}

}  // namespace tamsor_e2e

// Runs a command many times and measures each run from the outside with the
// monotonic clock; optionally reads the figure a timer reported.
//
//   spawn-time [--runs N] [--grab LABEL] [--sweep BASE STEP] -- COMMAND...
//              [-- COMMAND...]...
//
// Several commands run in turn, one run of each in every round, so that a
// change in the machine's load falls on all of them alike; each round starts
// with the next command, so that none always runs first.
// The command's standard output and error are read through a pipe. With
// --grab, the last line that begins with LABEL gives the reported figure
// (the first number after the label, in seconds). With --sweep, an argument
// "{}" becomes BASE + (run % 10) * STEP, so that durations spread over a
// millisecond and the rounding of three-decimal figures averages out.
// Prints one line of key=value pairs per command, times in milliseconds;
// after the first command, cost= is the median over the rounds of each run
// minus the first command's run of the same round.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

extern char** environ;

namespace {

double Now() {
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

// Runs the command once; returns the outside wall time and its output.
double RunOnce(char** argv, std::string* output) {
  int out[2];
  if (pipe(out) != 0) std::exit(2);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  posix_spawn_file_actions_addclose(&actions, out[1]);
  pid_t pid;
  const double start = Now();
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv, environ) != 0) {
    std::fprintf(stderr, "spawn-time: cannot run %s\n", argv[0]);
    std::exit(2);
  }
  close(out[1]);
  char chunk[4096];
  output->clear();
  for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) {
    output->append(chunk, static_cast<size_t>(n));
  }
  int status;
  waitpid(pid, &status, 0);
  const double seconds = Now() - start;
  close(out[0]);
  posix_spawn_file_actions_destroy(&actions);
  return seconds;
}

// The number after the last line starting with `label`, or -1.
double Grab(const std::string& output, const std::string& label) {
  double figure = -1;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\n', at);
    if (end == std::string::npos) end = output.size();
    const std::string line = output.substr(at, end - at);
    if (line.compare(0, label.size(), label) == 0) {
      const char* rest = line.c_str() + label.size();
      rest += std::strcspn(rest, "0123456789");
      if (*rest) figure = std::atof(rest);
    }
    at = end + 1;
  }
  return figure;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The figures of one command over all its runs.
struct Series {
  char** command;
  std::vector<int> placeholders;
  std::vector<double> outside;
  std::vector<double> reported;
  std::vector<double> offsets;
};

void PrintSeries(const Series& s, const Series* baseline, bool grabbed) {
  std::vector<double> reported = s.reported;
  std::printf("runs=%zu median=%.3f min=%.3f max=%.3f", s.outside.size(),
              Median(s.outside),
              *std::min_element(s.outside.begin(), s.outside.end()),
              *std::max_element(s.outside.begin(), s.outside.end()));
  if (baseline) {
    std::vector<double> costs;
    for (size_t run = 0; run < s.outside.size(); ++run) {
      costs.push_back(s.outside[run] - baseline->outside[run]);
    }
    std::printf(" cost=%.3f", Median(costs));
  }
  if (grabbed) {
    const double reported_median = Median(reported);
    std::sort(reported.begin(), reported.end());
    const size_t distinct =
        std::unique(reported.begin(), reported.end()) - reported.begin();
    reported.resize(distinct);
    const double offset_sum =
        std::accumulate(s.offsets.begin(), s.offsets.end(), 0.0);
    std::printf(
        " reported_median=%.3f offset_mean=%.3f offset_median=%.3f "
        "offset_min=%.3f offset_max=%.3f distinct=%zu lowest=%.3f "
        "highest=%.3f",
        reported_median, offset_sum / s.offsets.size(), Median(s.offsets),
        *std::min_element(s.offsets.begin(), s.offsets.end()),
        *std::max_element(s.offsets.begin(), s.offsets.end()), distinct,
        reported.front(), reported.back());
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 100;
  std::string label;
  double sweep_base = -1;
  double sweep_step = 0;
  int i = 1;
  for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (!std::strcmp(argv[i], "--grab") && i + 1 < argc) {
      label = argv[++i];
    } else if (!std::strcmp(argv[i], "--sweep") && i + 2 < argc) {
      sweep_base = std::atof(argv[++i]);
      sweep_step = std::atof(argv[++i]);
    }
  }
  // Each "--" ends the previous command and starts the next.
  std::vector<Series> series;
  for (; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--")) {
      argv[i] = nullptr;
      if (i + 1 < argc && std::strcmp(argv[i + 1], "--") != 0) {
        series.push_back(Series{argv + i + 1, {}, {}, {}, {}});
      }
    } else if (sweep_base >= 0 && !std::strcmp(argv[i], "{}")) {
      series.back().placeholders.push_back(i);
    }
  }
  if (series.empty() || runs < 1) {
    std::fprintf(stderr,
                 "usage: spawn-time [--runs N] [--grab LABEL] [--sweep BASE "
                 "STEP] -- COMMAND... [-- COMMAND...]...\n");
    return 2;
  }
  char swept[32] = "";

  std::string output;
  for (int run = -1; run < runs; ++run) {  // run -1 warms the caches
    std::snprintf(swept, sizeof swept, "%.4f",
                  sweep_base + ((run + 10) % 10) * sweep_step);
    for (size_t k = 0; k < series.size(); ++k) {
      Series& s = series[(run + 1 + k) % series.size()];
      for (int arg : s.placeholders) argv[arg] = swept;
      const double seconds = RunOnce(s.command, &output);
      if (run < 0) continue;
      s.outside.push_back(seconds * 1000);
      if (label.empty()) continue;
      const double figure = Grab(output, label);
      if (figure < 0) {
        std::fprintf(stderr, "spawn-time: no '%s' in:\n%s", label.c_str(),
                     output.c_str());
        return 1;
      }
      s.reported.push_back(figure * 1000);
      s.offsets.push_back(figure * 1000 - seconds * 1000);
    }
  }
  for (const Series& s : series) {
    PrintSeries(s, &s == &series[0] ? nullptr : &series[0], !label.empty());
  }
  return 0;
}

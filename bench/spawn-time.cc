// Runs a command many times and measures each run from the outside with the
// monotonic clock; optionally reads the figure a timer reported.
//
//   spawn-time [--runs N] [--grab LABEL] [--sweep BASE STEP] -- COMMAND...
//
// The command's standard output and error are read through a pipe. With
// --grab, the last line that begins with LABEL gives the reported figure
// (the first number after the label, in seconds). With --sweep, an argument
// "{}" becomes BASE + (run % 10) * STEP, so that durations spread over a
// millisecond and the rounding of three-decimal figures averages out.
// Prints one line of key=value pairs, times in milliseconds.
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
  if (i + 1 >= argc || runs < 1) {
    std::fprintf(stderr,
                 "usage: spawn-time [--runs N] [--grab LABEL] -- COMMAND...\n");
    return 2;
  }
  char** command = argv + i + 1;
  std::vector<int> placeholders;
  for (int arg = 0; command[arg]; ++arg) {
    if (sweep_base >= 0 && !std::strcmp(command[arg], "{}")) {
      placeholders.push_back(arg);
    }
  }
  char swept[32] = "";

  std::string output;
  std::vector<double> outside;
  std::vector<double> reported;
  std::vector<double> offsets;
  for (int run = -1; run < runs; ++run) {  // run -1 warms the caches
    std::snprintf(swept, sizeof swept, "%.4f",
                  sweep_base + ((run + 10) % 10) * sweep_step);
    for (int arg : placeholders) command[arg] = swept;
    const double seconds = RunOnce(command, &output);
    if (run < 0) continue;
    outside.push_back(seconds * 1000);
    if (!label.empty()) {
      const double figure = Grab(output, label);
      if (figure < 0) {
        std::fprintf(stderr, "spawn-time: no '%s' in:\n%s", label.c_str(),
                     output.c_str());
        return 1;
      }
      reported.push_back(figure * 1000);
      offsets.push_back(figure * 1000 - seconds * 1000);
    }
  }
  std::printf("runs=%d median=%.3f min=%.3f max=%.3f", runs, Median(outside),
              *std::min_element(outside.begin(), outside.end()),
              *std::max_element(outside.begin(), outside.end()));
  if (!label.empty()) {
    const double reported_median = Median(reported);
    std::sort(reported.begin(), reported.end());
    const size_t distinct =
        std::unique(reported.begin(), reported.end()) - reported.begin();
    reported.resize(distinct);
    const double offset_sum =
        std::accumulate(offsets.begin(), offsets.end(), 0.0);
    std::printf(
        " reported_median=%.3f offset_mean=%.3f offset_median=%.3f "
        "offset_min=%.3f offset_max=%.3f distinct=%zu lowest=%.3f "
        "highest=%.3f",
        reported_median, offset_sum / offsets.size(), Median(offsets),
        *std::min_element(offsets.begin(), offsets.end()),
        *std::max_element(offsets.begin(), offsets.end()), distinct,
        reported.front(), reported.back());
  }
  std::printf("\n");
  return 0;
}

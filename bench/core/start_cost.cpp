// Measures what the runtime's start sequence costs, step by step. Each run is a fresh process
// started as the game is started, by exec (the steps are meant to run once per process); it times
// every step and the whole sequence, and the report gives the medians over the runs. A few more
// runs count the page faults each step takes (on a virtual machine the first touch of a page is a
// good part of a step's cost); they are separate runs, so reading the counters costs the timed
// runs nothing.
//
// With "fork" the children are only forked, not started afresh: every page of the parent that a
// step writes is then a copy-on-write fault that a started game never takes, so that mode shows
// how much of a figure is the measurement's own.
//
// Not a test: it prints figures and asserts nothing. Usage: start_cost [runs] [fork]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "runtime/core/core.h"

void zn::ProgramBody() {}

namespace {

constexpr char kChildFlag[] = "--child";

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

double PageFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_minflt + usage.ru_majflt);
}

// Runs the start sequence and writes each step's figure, then the whole sequence's, to `out`:
// microseconds, or page faults when `count_faults`.
void RunSteps(bool count_faults, int out) {
  using Clock = std::chrono::steady_clock;
  const auto micros = [](Clock::duration span) {
    return std::chrono::duration<double, std::micro>(span).count();
  };
  const auto steps = zn::RuntimeStartSequence();
  std::vector<double> figures(steps.size() + 1);
  const double first_faults = count_faults ? PageFaults() : 0;
  const auto start = Clock::now();
  for (size_t i = 0; i < steps.size(); ++i) {
    if (count_faults) {
      const double before = PageFaults();
      steps[i].run();
      figures[i] = PageFaults() - before;
    } else {
      const auto before = Clock::now();
      steps[i].run();
      figures[i] = micros(Clock::now() - before);
    }
  }
  figures.back() = count_faults ? PageFaults() - first_faults : micros(Clock::now() - start);
  // Well below the pipe's atomic size: one write, read whole by the parent.
  const auto bytes = static_cast<ssize_t>(figures.size() * sizeof(double));
  if (write(out, figures.data(), static_cast<size_t>(bytes)) != bytes) {
    _exit(1);
  }
  zn::RuntimeShutdown();
}

// One run in a child process; false when the child gave no figures.
bool RunChild(const char* self, bool fork_only, bool count_faults, std::span<double> figures) {
  int channel[2];
  if (pipe(channel) != 0) {
    return false;
  }
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    if (fork_only) {
      RunSteps(count_faults, channel[1]);
      _exit(0);
    }
    const std::string out = std::to_string(channel[1]);
    execl(self, self, kChildFlag, out.c_str(), count_faults ? "faults" : "times", nullptr);
    _exit(127);
  }
  close(channel[1]);
  const auto wanted = static_cast<ssize_t>(figures.size_bytes());
  const ssize_t got = read(channel[0], figures.data(), figures.size_bytes());
  close(channel[0]);
  int status = 0;
  waitpid(child, &status, 0);
  return got == wanted;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kChildFlag) == 0) {
    RunSteps(std::strcmp(argv[3], "faults") == 0, std::atoi(argv[2]));
    return 0;
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const bool fork_only = argc > 2 && std::strcmp(argv[2], "fork") == 0;
  const int fault_runs = std::max(runs / 10, 5);
  const auto steps = zn::RuntimeStartSequence();
  const size_t slots = steps.size() + 1;
  std::vector<double> figures(slots);
  std::vector<std::vector<double>> times(slots);
  std::vector<std::vector<double>> faults(slots);
  for (int run = 0; run < runs + fault_runs; ++run) {
    const bool count_faults = run >= runs;
    if (!RunChild("/proc/self/exe", fork_only, count_faults, figures)) {
      std::fprintf(stderr, "start_cost: a child gave no figures\n");
      return 1;
    }
    for (size_t i = 0; i < slots; ++i) {
      (count_faults ? faults : times)[i].push_back(figures[i]);
    }
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    std::printf("step %2d %-18s median %8.1f us %5.0f page faults\n", steps[i].number,
                steps[i].library, Median(times[i]), Median(faults[i]));
  }
  std::printf(
      "whole start sequence    median %8.1f us %5.0f page faults over %d runs, %s "
      "(target at most 250 us)\n",
      Median(times[steps.size()]), Median(faults[steps.size()]), runs,
      fork_only ? "forked children" : "fresh processes");
  return 0;
}

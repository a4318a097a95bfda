// Measures what the runtime's start sequence costs, step by step: each run is a fresh child
// process (the steps are meant to run once per process), timed around every step; the report
// gives the median of each step and of the whole sequence over the runs. Not a test: it prints
// figures and asserts nothing. Usage: start_cost [runs]
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "runtime/core/core.h"

void zn::ProgramBody() {}

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 200;
  const auto steps = zn::RuntimeStartSequence();
  const size_t slots = steps.size() + 1;
  // The children write their timings here; the parent reads them after each run.
  auto* shared = static_cast<double*>(mmap(nullptr, slots * sizeof(double), PROT_READ | PROT_WRITE,
                                           MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  if (shared == MAP_FAILED) {
    return 1;
  }
  std::vector<std::vector<double>> samples(slots);
  for (int run = 0; run < runs; ++run) {
    const pid_t child = fork();
    if (child == 0) {
      using Clock = std::chrono::steady_clock;
      const auto start = Clock::now();
      for (size_t i = 0; i < steps.size(); ++i) {
        const auto before = Clock::now();
        steps[i].run();
        shared[i] = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
      }
      shared[steps.size()] =
          std::chrono::duration<double, std::micro>(Clock::now() - start).count();
      zn::RuntimeShutdown();
      _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    for (size_t i = 0; i < slots; ++i) {
      samples[i].push_back(shared[i]);
    }
  }
  for (size_t i = 0; i < steps.size(); ++i) {
    std::printf("step %2d %-18s median %8.1f us\n", steps[i].number, steps[i].library,
                Median(samples[i]));
  }
  std::printf("whole start sequence    median %8.1f us over %d runs (target at most 1000 us)\n",
              Median(samples[steps.size()]), runs);
  return 0;
}

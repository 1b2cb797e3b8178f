// Cost of one engine start: RunChildProcess of a program that does nothing.
// Prints the median and 90th percentile in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "pipeline/child_runner.h"

int main(int argc, char** argv) {
  const std::string line = argc > 1 ? argv[1] : "\"/bin/true\"";
  constexpr int kRuns = 200;
  std::vector<double> millis;
  millis.reserve(kRuns);
  for (int i = 0; i < kRuns; ++i) {
    std::string captured;
    const auto start = std::chrono::steady_clock::now();
    const int result = RunChildProcess(line, captured);
    const auto end = std::chrono::steady_clock::now();
    if (result == 0) {
      std::fprintf(stderr, "cannot start %s\n", line.c_str());
      return 1;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(end - start).count());
  }
  std::sort(millis.begin(), millis.end());
  std::printf("RunChildProcess %s, %d runs: median %.3f ms, p90 %.3f ms\n", line.c_str(), kRuns,
              millis[kRuns / 2], millis[kRuns * 9 / 10]);
  return 0;
}

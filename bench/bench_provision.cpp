// Start-up cost of engine provisioning: rebuilding the three stored engines (joining,
// unscrambling, inflating) and creating them as in-memory files, as every run does.
// Needs the program's engine data linked in; prints medians in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "provision/provision.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main() {
  const StoredToolSet* stored = TwBuiltInStoredTools ? TwBuiltInStoredTools() : nullptr;
  if (stored == nullptr) {
    std::fprintf(stderr, "bench_provision: built without the engine data\n");
    return 1;
  }
  constexpr int kRebuilds = 30;
  for (int tool = 0; tool < kToolCount; ++tool) {
    std::vector<double> times;
    std::size_t size = 0;
    for (int i = 0; i < kRebuilds; ++i) {
      std::vector<std::uint8_t> image;
      const auto start = Clock::now();
      size = AssembleStoredTool(stored->tools[tool], image);
      times.push_back(Millis(start, Clock::now()));
    }
    std::printf("rebuild %-9s %2zu pieces -> %8zu bytes: median %.2f ms\n",
                kStoredToolNames[tool], stored->tools[tool].count, size, Median(times));
  }
  // Whole provisioning, in-memory files included; each round beside a different
  // (non-existent) program folder, so every round really creates its files.
  constexpr int kProvisions = 5;
  std::vector<double> times;
  for (int i = 0; i < kProvisions; ++i) {
    const std::string program = "/nonexistent-tracewright-bench/" + std::to_string(i) + "/tw";
    const auto start = Clock::now();
    const int result = ProvisionEnginesFrom(*stored, program);
    times.push_back(Millis(start, Clock::now()));
    if (result != 1) {
      std::fprintf(stderr, "bench_provision: provisioning failed\n");
      return 1;
    }
  }
  std::printf("ProvisionEngines, %d runs: median %.2f ms, first %.2f ms\n", kProvisions,
              Median(times), times.front());
  return 0;
}

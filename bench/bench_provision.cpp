// Cost of the stored engines: provisioning at start-up (which only registers the tool paths),
// and making one engine available when a job first starts it (rebuilding it straight into an
// in-memory file), against the floor of writing the same bytes into an in-memory file once.
// Needs the program's engine data linked in; prints medians in milliseconds.
#include <sys/mman.h>
#include <unistd.h>

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

bool WriteAll(int fd, const void* data, std::size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Time to fill a fresh in-memory file by `fill`, closing it included.
template <typename Fill>
double TimeIntoMemFd(const Fill& fill) {
  const auto start = Clock::now();
  const int fd = ::memfd_create("bench", MFD_CLOEXEC);
  if (fd < 0) return -1;
  fill(fd);
  ::close(fd);
  return Millis(start, Clock::now());
}

}  // namespace

int main() {
  const StoredToolSet* stored = TwBuiltInStoredTools ? TwBuiltInStoredTools() : nullptr;
  if (stored == nullptr) {
    std::fprintf(stderr, "bench_provision: built without the engine data\n");
    return 1;
  }
  constexpr int kRounds = 30;
  for (int tool = 0; tool < kToolCount; ++tool) {
    const StoredToolPieces& pieces = stored->tools[tool];
    std::vector<std::uint8_t> image;
    const std::size_t size = AssembleStoredTool(pieces, image);
    std::size_t storedBytes = 0;
    for (std::size_t i = 0; i < pieces.count; ++i) storedBytes += pieces.pieces[i].size;
    std::vector<double> onDemand;
    std::vector<double> plainWrite;
    for (int i = 0; i < kRounds; ++i) {
      onDemand.push_back(TimeIntoMemFd([&](int fd) {
        StreamStoredTool(pieces, [fd](const void* d, std::size_t n) { return WriteAll(fd, d, n); });
      }));
      plainWrite.push_back(TimeIntoMemFd([&](int fd) { WriteAll(fd, image.data(), image.size()); }));
    }
    std::printf("%-9s %8zu bytes (stored %8zu): made on demand %.2f ms, plain write %.2f ms\n",
                kStoredToolNames[tool], size, storedBytes, Median(onDemand), Median(plainWrite));
  }
  // Start-up: the three tool paths registered, nothing rebuilt; each round beside a
  // different (non-existent) program folder, so every round really registers them.
  constexpr int kProvisions = 30;
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
  std::printf("ProvisionEngines at start-up, %d runs: median %.3f ms\n", kProvisions, Median(times));
  return 0;
}

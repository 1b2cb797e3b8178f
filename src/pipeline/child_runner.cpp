#include "pipeline/child_runner.h"

#include <cstdlib>

namespace {

constexpr int kDefaultEngineTimeout = 600;

int ReadEngineTimeout() {
  const char* text = std::getenv("TRACEWRIGHT_ENGINE_TIMEOUT");
  if (text == nullptr || *text == '\0') return kDefaultEngineTimeout;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value < 0 || value > 1000000000L) return kDefaultEngineTimeout;
  return static_cast<int>(value);
}

}  // namespace

int EngineTimeoutSeconds() {
  static const int seconds = ReadEngineTimeout();
  return seconds;
}

ProcessResult RunEngine(const std::string& commandLine, std::string& captured) {
  return RunProcess(SplitCommandLine(commandLine), captured, EngineTimeoutSeconds());
}

int RunChildProcess(const std::string& commandLine, std::string& captured) {
  return RunEngine(commandLine, captured).started ? 1 : 0;
}

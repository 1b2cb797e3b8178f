#include "pipeline/diagnostics.h"

#include <cstdio>
#include <cstring>

#include "platform/process.h"

void ReportFailure(const std::string& subject, const std::string& reason) {
  std::fprintf(stderr, "tracewright: %s: %s\n", subject.c_str(), reason.c_str());
  std::fflush(stderr);
}

std::string LastLine(const std::string& captured, const std::string& engine) {
  std::size_t end = captured.find_last_not_of(" \t\r\n");
  if (end == std::string::npos) return "";
  std::size_t start = captured.find_last_of('\n', end);
  start = start == std::string::npos ? 0 : start + 1;
  std::string line = captured.substr(start, end + 1 - start);
  // "potrace: x.bmp: file format not recognized" keeps what follows the program's name.
  if (!engine.empty() && line.compare(0, engine.size() + 2, engine + ": ") == 0) {
    line.erase(0, engine.size() + 2);
  }
  const std::size_t first = line.find_first_not_of(" \t");
  return first == std::string::npos ? "" : line.substr(first);
}

int Fail(std::string* why, const std::string& reason) {
  if (why != nullptr) *why = reason;
  return 0;
}

std::string SystemError(int error) { return std::strerror(error); }

std::string EngineFailure(const char* engine, const ProcessResult& run, const std::string& captured,
                          int timeoutSeconds) {
  const std::string name = engine;
  if (!run.started) {
    return run.error.empty() ? "cannot start " + name : run.error;
  }
  std::string reason;
  if (run.timedOut) {
    reason = name + " ran longer than " + std::to_string(timeoutSeconds) + " s and was stopped";
  } else if (run.signal != 0) {
    reason = name + " was ended by signal " + std::to_string(run.signal) + " (" + strsignal(run.signal) + ")";
  } else if (run.exitStatus != 0) {
    reason = name + " failed with status " + std::to_string(run.exitStatus);
  } else {
    return "";
  }
  const std::string said = LastLine(captured, name);
  if (!said.empty() && !run.timedOut) reason += ": " + said;
  return reason;
}

#include "pipeline/child_runner.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "engine_locations.h"
#include "platform/files.h"
#include "platform/path.h"
#include "settings/environment.h"

int EngineTimeoutSeconds() {
  return Environment().engineTimeout;
}

ProcessResult RunEngine(const std::string& commandLine, std::string& captured, const ChildStreams& streams) {
  return RunProcess(SplitCommandLine(commandLine), captured, EngineTimeoutSeconds(), streams);
}

int RunChildProcess(const std::string& commandLine, std::string& captured) {
  return RunEngine(commandLine, captured).started ? 1 : 0;
}

std::string ToolPath(const char* toolName) {
  if (std::string installed = InstalledToolPath(toolName); !installed.empty()) return installed;
  const std::string self = OwnExecutablePath();
  if (self.empty()) return "";
  const PathParts parts = SplitPath(self);
  return MakePath(parts.drive, parts.dir, toolName, "");
}

bool AppendBounded(std::string& buffer, const std::string& text, std::size_t capacity) {
  if (buffer.size() + text.size() >= capacity) return false;
  buffer += text;
  return true;
}

bool FindTracer(const char* engine, const std::string& imagePath, std::string& tool, std::string& why) {
  if (!FileExists(imagePath)) {
    // A temporary image that could not be written for want of room says so.
    const PathParts image = SplitPath(imagePath);
    why = FileSystemFull(image.dir.empty() ? "." : image.dir) ? std::strerror(ENOSPC) : "the image to trace is missing";
    return false;
  }
  tool = ToolPath(engine);
  if (tool.empty() || !FileExists(tool)) {
    why = std::string(engine) + " is not available";
    return false;
  }
  return true;
}

bool RunTracer(const char* engine, const std::string& commandLine, std::size_t capacity, std::string& why,
               const ChildStreams& streams) {
  std::string command;
  if (!AppendBounded(command, commandLine, capacity)) {
    why = std::string(engine) + " command line too long";
    return false;
  }
  std::string captured;
  const ProcessResult run = RunEngine(command, captured, streams);
  why = EngineFailure(engine, run, captured);
  return why.empty();
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

std::string EngineFailure(const char* engine, const ProcessResult& run, const std::string& captured) {
  const std::string name = engine;
  if (!run.started) {
    return run.error.empty() ? "cannot start " + name : run.error;
  }
  std::string reason;
  if (run.timedOut) {
    reason = name + " ran longer than " + std::to_string(EngineTimeoutSeconds()) + " s and was stopped";
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

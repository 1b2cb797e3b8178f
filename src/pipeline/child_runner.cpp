#include "pipeline/child_runner.h"

#include "platform/process.h"

int RunChildProcess(const std::string& commandLine, std::string& captured) {
  const ProcessResult result = RunProcess(SplitCommandLine(commandLine), captured);
  return result.started ? 1 : 0;
}

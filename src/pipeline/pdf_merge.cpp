#include "pipeline/pdf_merge.h"

#include "pipeline/child_runner.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/temp_files.h"

namespace {

// Files named on one command line of pagerip: a long document is merged in rounds, each
// round's result the first input of the next, so that no command line grows without bound.
constexpr std::size_t kInputsPerRun = 256;

bool RunMerge(const std::string& tool, const std::vector<std::string>& inputs, const std::string& output,
              std::string& why) {
  std::vector<std::string> argv = {tool, "-merge", output};
  argv.insert(argv.end(), inputs.begin(), inputs.end());
  std::string captured;
  const ProcessResult run = RunProcess(argv, captured, EngineTimeoutSeconds());
  why = EngineFailure("pagerip", run, captured);
  if (why.empty() && !FileExists(output)) why = "pagerip wrote no merged file";
  return why.empty();
}

}  // namespace

bool MergePdfFiles(const std::vector<std::string>& inputs, const std::string& output, std::string& why) {
  const std::string tool = ToolPath("pagerip");
  if (tool.empty() || !FileExists(tool)) {
    why = "pagerip is not available";
    return false;
  }
  if (inputs.empty()) {
    why = "no file to merge";
    return false;
  }
  std::string merged;  // what the rounds so far gathered, "" before the first
  std::size_t next = 0;
  bool ok = true;
  while (ok && next < inputs.size()) {
    std::vector<std::string> round;
    if (!merged.empty()) round.push_back(merged);
    while (next < inputs.size() && round.size() < kInputsPerRun) round.push_back(inputs[next++]);
    std::string target = output;
    if (next < inputs.size() && !MakeTempPath(".pdf", target, why)) {
      ok = false;
    } else {
      ok = RunMerge(tool, round, target, why);
    }
    if (!merged.empty()) DeleteFilePath(merged);
    merged = target;
  }
  return ok;
}

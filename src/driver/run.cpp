#include "driver/run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/batch.h"
#include "driver/input_expansion.h"
#include "settings/output_names.h"
#include "frontend/options.h"
#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"
#include "provision/provision.h"

namespace {

// The input argument as a pattern: a folder stands for every file directly in it.
bool MakeInputPattern(const std::string& input, std::string& pattern) {
  pattern = input;
  if (FolderExists(input)) {
    if (pattern.empty() || pattern.back() != '/') pattern += '/';
    pattern += "*.*";
  }
  if (pattern.size() >= kPathLimit) {
    ReportFailure(input, "the path is too long");
    return false;
  }
  return true;
}

}  // namespace

int RunTracewright(int argc, char** argv) {
  static ConversionSettings settings;  // large; kept off the stack, zero-filled by static storage
  settings = ConversionSettings{};
  if (ParseCommandLine(settings, argc, argv) == 0) return -2;

  InstallInterruptCleanup();
  ProvisionEngines();

  std::string pattern;
  if (!MakeInputPattern(settings.inputPath, pattern)) return -2;

  std::vector<FilePair> jobs;
  if (SplitPath(pattern).fname.find('*') != std::string::npos) {
    ExpandInputPattern(pattern, jobs);
  } else {
    jobs.push_back(FilePair{pattern, settings.outputPath});
  }
  if (jobs.empty()) return -2;
  AssignOutputNames(settings.outputPath, jobs);

  const BatchOutcome outcome = RunBatch(settings, jobs, BatchWorkers());
  DeleteTempFiles();
  if (jobs.size() > 1 && outcome.failedJobs > 0) {
    std::fprintf(stderr, "tracewright: %d of %zu jobs failed\n", outcome.failedJobs, jobs.size());
    std::fflush(stderr);
  }
  return outcome.result;
}

#include "driver/run.h"

#include <cstdio>
#include <string>
#include <vector>

#include "driver/input_expansion.h"
#include "frontend/options.h"
#include "pipeline/convert.h"
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
    std::fprintf(stderr, "tracewright: %s: the path is too long\n", input.c_str());
    return false;
  }
  return true;
}

// Converting a file onto itself reads from a temporary copy, so the original survives and
// the output takes the next free numbered name. The copy keeps the input's own extension so
// that it takes the same conversion route as the original.
int ConvertOntoItself(const ConversionSettings& settings, const FilePair& job, bool& failed) {
  char copy[kPathLimit] = "";
  const std::string extension = SplitPath(job.input).ext;
  if (MakeTempFileName(sizeof(copy), copy, extension.c_str()) == 0 ||
      !CopyFileOverwrite(job.input, copy)) {
    ReportFailure(job.input, "cannot make a temporary copy of the input");
    failed = true;
    return 0;
  }
  return ConvertFile(settings, copy, job.output.c_str(), &job.input, &failed);
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

  int result = 0;
  int failedJobs = 0;
  for (const FilePair& job : jobs) {
    std::printf("%s ==> %s\n", job.input.c_str(), job.output.c_str());
    std::fflush(stdout);
    bool failed = false;
    if (job.output.empty()) {
      ReportFailure(job.input, "no output name: the path would be too long");
      failed = true;
      result = 0;
    } else if (IsSameFile(job.input, job.output)) {
      result = ConvertOntoItself(settings, job, failed);
    } else {
      result = ConvertFile(settings, job.input.c_str(), job.output.c_str(), &job.input, &failed);
    }
    if (failed || result == 0) ++failedJobs;
  }
  DeleteTempFiles();
  if (jobs.size() > 1 && failedJobs > 0) {
    std::fprintf(stderr, "tracewright: %d of %zu jobs failed\n", failedJobs, jobs.size());
  }
  return result;
}

#include "driver/run.h"

#include <cstdio>
#include <new>
#include <time.h>
#include <string>
#include <vector>

#include <unistd.h>

#include "driver/batch.h"
#include "driver/batch_report.h"
#include "driver/input_expansion.h"
#include "driver/standard_streams.h"
#include "settings/output_names.h"
#include "frontend/options.h"
#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"
#include "platform/temp_files.h"
#include "provision/provision.h"
#include "settings/environment.h"

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

// The run's one output for "-" or "FORMAT:-": a private file, copied out after the batch.
bool NameStandardOutput(const std::string& format, std::vector<FilePair>& jobs, std::string& privateOutput) {
  if (jobs.size() > 1) {
    ReportFailure(jobs.front().input, std::to_string(jobs.size()) +
                                          " files match, but standard output takes one: name an output folder");
    return false;
  }
  std::string why;
  if (!MakeTempPath(("-stdout." + format).c_str(), privateOutput, why)) {
    ReportFailure(jobs.front().input, why);
    return false;
  }
  jobs.front().output = privateOutput;
  return true;
}

// The exit status for a run that converted nothing because of the command line, the
// environment or an empty pattern.
int RefusedStatus(const EnvironmentSettings& environment) { return environment.posixExit ? 2 : -2; }

// The exit status of a run that failed before or after its jobs.
int FailedStatus(const EnvironmentSettings& environment) { return environment.posixExit ? 1 : 0; }

// The exit status once the jobs have run: the last job's result, or under
// TRACEWRIGHT_EXIT=posix 0 when every job and image succeeded, else 1.
int FinishedStatus(const EnvironmentSettings& environment, const BatchOutcome& outcome) {
  if (!environment.posixExit) return outcome.result;
  return outcome.failedJobs > 0 || outcome.failedImages > 0 ? 1 : 0;
}

// A refusal before any work: "tracewright: TRACEWRIGHT_JOBS: <reason>".
void ReportRefusal(const std::string& line) {
  std::fprintf(stderr, "tracewright: %s\n", line.c_str());
  std::fflush(stderr);
}

// The run's settings: large, so kept off the stack; zero-filled by static storage.
ConversionSettings& RunSettings() {
  static ConversionSettings settings;
  return settings;
}

// The run's steps, from the environment to the last job (see RunTracewright).
int RunSteps(int argc, char** argv, EnvironmentSettings& environment) {
  timespec runStart{};
  clock_gettime(CLOCK_REALTIME, &runStart);
  std::string why;
  if (!ReadEnvironment(environment, why)) {
    ReportRefusal(why);
    return RefusedStatus(environment);
  }
  ConversionSettings& settings = RunSettings();
  settings = ConversionSettings{};
  if (ParseCommandLine(settings, argc, argv) == 0) return RefusedStatus(environment);

  BatchOptions options = BatchOptionsFromEnvironment();
  options.runStart = runStart;
  if (!OpenBatchReport(environment.report, options.reportFd, why)) {
    ReportRefusal("TRACEWRIGHT_REPORT: " + why);
    return RefusedStatus(environment);
  }

  InstallInterruptCleanup();
  ProvisionEngines();

  if (IsStandardStreamWord(settings.inputPath) && !StageStandardInput(why)) {
    ReportFailure(settings.inputPath, why);
    DeleteTempFiles();
    return FailedStatus(environment);
  }
  std::string pattern;
  if (!MakeInputPattern(settings.inputPath, pattern)) return RefusedStatus(environment);

  std::vector<FilePair> jobs;
  std::vector<std::string> subfolders;
  if (environment.recursive && FolderExists(settings.inputPath)) {
    const std::string outputFolder =
        FolderExists(settings.outputPath) ? settings.outputPath : SplitPath(settings.outputPath).dir;
    ExpandFolderTree(settings.inputPath, outputFolder.empty() ? "." : outputFolder, jobs, subfolders);
  } else if (SplitPath(pattern).fname.find('*') != std::string::npos) {
    ExpandInputPattern(pattern, jobs);
  } else {
    // Into a folder, the output is named by the batch rule.
    jobs.push_back(FilePair{pattern, NamesOutputFolder(settings.outputPath) ? "" : settings.outputPath});
  }
  if (jobs.empty()) {
    // An unreadable folder has been reported with its reason already.
    if (PatternFolderError(pattern) == 0) {
      ReportFailure(settings.inputPath, FolderExists(settings.inputPath) ? "the folder holds no file"
                                                                         : "no file matches this pattern");
    }
    return RefusedStatus(environment);
  }
  std::string format;
  std::string privateOutput;
  const bool toStandardOutput = IsStandardOutputWord(settings.outputPath, &format);
  if (toStandardOutput && !NameStandardOutput(format, jobs, privateOutput)) {
    DeleteTempFiles();
    return RefusedStatus(environment);
  }
  AssignOutputNames(settings.outputPath, jobs);
  MirrorSubfolders(subfolders, jobs);

  // Standard output is to hold the file alone: the job and progress lines go to standard error.
  const int fileOutput = toStandardOutput ? DivertStandardOutput() : -1;
  if (toStandardOutput && fileOutput < 0) {
    ReportFailure(jobs.front().input, "cannot keep standard output for the file");
    DeleteTempFiles();
    return FailedStatus(environment);
  }
  if (toStandardOutput) options.standardOutput = settings.outputPath;
  BatchOutcome outcome = RunBatch(settings, jobs, BatchWorkers(), options);
  if (toStandardOutput) {
    std::fflush(stdout);
    const int written = WriteStandardOutput(jobs.front().input, privateOutput, format, fileOutput);
    if (outcome.result == 1 || written == 0) outcome.result = written;
    if (written == 0) ++outcome.failedJobs;
    ::close(fileOutput);
  }
  DeleteTempFiles();
  if (jobs.size() > 1 && outcome.failedJobs > 0) {
    std::fprintf(stderr, "tracewright: %d of %zu jobs failed\n", outcome.failedJobs, jobs.size());
    std::fflush(stderr);
  }
  return FinishedStatus(environment, outcome);
}

}  // namespace

int RunTracewright(int argc, char** argv) {
  EnvironmentSettings environment;
  try {
    return RunSteps(argc, argv, environment);
  } catch (...) {
    // Work items fail their own image or job; this is for a fault between them. The line is
    // written without allocating: memory may be what ran out.
    const char* reason = "an unexpected fault";
    try {
      throw;
    } catch (const std::bad_alloc&) {
      reason = "out of memory";
    } catch (...) {
    }
    std::fprintf(stderr, "tracewright: %s: %s\n", RunSettings().inputPath[0] != '\0' ? RunSettings().inputPath : "-",
                 reason);
    std::fflush(stderr);
    DeleteTempFiles();
    return FailedStatus(environment);
  }
}

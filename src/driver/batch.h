#pragma once
// The job loop. Every job of a batch takes one path: its images are made and traced by work
// items of one pool of up to N engines (a PDF's page renderers among them), and the jobs are
// then taken in order on the calling thread, which alone prints the job line, the progress
// lines and the failure lines, and delivers the outputs. So standard output, the output
// names and the result are those of a run one job after another, whatever N is; with N = 1
// the work runs on the calling thread itself, exactly one job after another.
#include <time.h>
#include <string>
#include <vector>

#include "settings/conversion_settings.h"
#include "settings/environment.h"
#include "settings/output_names.h"

struct BatchOutcome {
  int result = 0;      // the last job's: 1 when its last image was delivered
  int failedJobs = 0;  // jobs that printed a failure line or delivered nothing
  int images = 0;      // images and job failures, as the report counts them
  int failedImages = 0;
};

// What the environment asks of a batch beyond its conversions.
struct BatchOptions {
  ExistingOutputs existing = ExistingOutputs::kNumber;
  int reportFd = -1;      // where the report goes, -1 nowhere
  int progress = 0;       // the progress line: 0 never, 1 always, -1 on a terminal
  timespec runStart{};  // private files older than this may be a killed run's
  // Standard output as the output: the word as typed ("-", "pdf:-"), named on the job line
  // and in the report in place of the private file the output is traced into.
  std::string standardOutput;
};

// TRACEWRIGHT_EXISTING and TRACEWRIGHT_PROGRESS; no report.
BatchOptions BatchOptionsFromEnvironment();

// How many engines may run at once: TRACEWRIGHT_JOBS when it is set, else the number of
// online processors (at most 256 either way).
int BatchWorkers();

// Runs every job, printing "<input> ==> <output>" before each, with up to `workers` engines
// at once. With TRACEWRIGHT_EXISTING=skip or replace, image i of a job is named as in a run
// into an empty folder (the output name, then stem000, stem001, ...); skip leaves an existing
// output alone (and first deletes the private files of killed runs), replace puts the new
// one over it. A file this run wrote is never taken as an input.
BatchOutcome RunBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers,
                      const BatchOptions& options = BatchOptions{});

// Converts one (input, output) pair through the same loop, one engine at a time, without its
// job line: "Processing i of n..." for each image, a failure line for each failure. Returns 1
// when the last image was delivered, else 0.
int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath);

#pragma once
// Running the jobs of a batch: one at a time, or with up to N engines at once while the next
// images are prepared. Either way standard output, the output names and the result are those
// of a run one job after another.
#include <string>
#include <vector>

#include "driver/input_expansion.h"
#include "settings/conversion_settings.h"

struct BatchOutcome {
  int result = 0;      // the last job's: 1 when its last image was delivered
  int failedJobs = 0;  // jobs that printed a failure line
};

// How many engines may run at once: TRACEWRIGHT_JOBS when it is a whole number from 1, else
// the number of online processors (at most 256 either way).
int BatchWorkers();

BatchOutcome RunBatch(const ConversionSettings& settings, const std::vector<FilePair>& jobs, int workers);

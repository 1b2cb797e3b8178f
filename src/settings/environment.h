#pragma once
// Every TRACEWRIGHT_* setting of the environment, read and checked in one place. The run
// checks them once before any work and refuses a bad value; the rest of the program reads
// the record instead of the environment. (TRACEWRIGHT_PDF_PASSWORD is the page renderer's
// own: it reads it from its environment.)
#include <string>

enum class ExistingOutputs { kNumber, kSkip, kReplace };

struct EnvironmentSettings {
  int jobs = 0;                // TRACEWRIGHT_JOBS, 1..256; 0: the number of online processors
  int engineTimeout = 600;     // TRACEWRIGHT_ENGINE_TIMEOUT, seconds, 0 = no limit
  bool enginesOnDisk = false;  // TRACEWRIGHT_ENGINES_ON_DISK=1
  ExistingOutputs existing = ExistingOutputs::kNumber;  // TRACEWRIGHT_EXISTING
  std::string report;          // TRACEWRIGHT_REPORT: a file, "-" (standard error) or a descriptor
  bool posixExit = false;      // TRACEWRIGHT_EXIT=posix
  int progress = -1;           // TRACEWRIGHT_PROGRESS: 0 off, 1 on, -1 on a terminal
  bool recursive = false;      // TRACEWRIGHT_RECURSIVE=1
};

// Reads every variable into `settings`. False at the first bad value, with `why` as
// "TRACEWRIGHT_JOBS: <reason>"; the settings read before it are kept, the rest stay default.
// An unset or empty variable takes its default.
bool ReadEnvironment(EnvironmentSettings& settings, std::string& why);

// The run's settings, read on first use (a bad value there leaves its default).
const EnvironmentSettings& Environment();

#pragma once
#include <string>

#include "platform/process.h"

// Runs a complete command line (tool path first, in double quotes), appending what the tool
// prints on standard output and error to `captured`. Returns 0 when the tool could not be
// started, non-zero once it has ended.
int RunChildProcess(const std::string& commandLine, std::string& captured);

// The same, with the whole outcome, under the engine time limit.
ProcessResult RunEngine(const std::string& commandLine, std::string& captured);

// Seconds an engine run may take: TRACEWRIGHT_ENGINE_TIMEOUT when it is a whole number (0:
// no limit), else 600.
int EngineTimeoutSeconds();

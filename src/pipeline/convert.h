#pragma once
#include <string>

#include "frontend/settings.h"

// Converts one (input, output) pair; 1 when the tracer run for the last page or frame image
// delivered its output, else 0. Every failure, of the job or of one of its pages or frames,
// adds a line "tracewright: <shown input>: <reason>" on standard error; `shownInput` defaults
// to the input path, and `anyFailure`, when given, is set when such a line was printed.
int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath,
                const std::string* shownInput = nullptr, bool* anyFailure = nullptr);

// Rewrites path to the first of path, stem000, stem001, ... at which nothing exists, or that
// names a device or pipe (written in place).
std::string& MakeUniqueOutputName(std::string& path);

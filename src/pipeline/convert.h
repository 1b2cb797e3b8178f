#pragma once
#include <string>

#include "frontend/settings.h"

// Converts one (input, output) pair; 1 when the tracer run for the last page or frame
// image produced its output file, else 0.
int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath);

// Rewrites path to the first of path, stem000, stem001, ... at which no file exists.
std::string& MakeUniqueOutputName(std::string& path);

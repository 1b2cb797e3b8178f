#pragma once
#include <string>

#include "frontend/settings.h"

// Traces one raster image into one vector file with potrace. Returns 1 when the output
// file exists afterwards, else 0.
int RunOutlineTracer(const ConversionSettings& settings, const std::string& imagePath,
                     const std::string& outputPath);

// potrace's options for these settings and output extension: the backend switch first,
// then the mapped options in a fixed order, then the extra engine arguments. False when the
// text would not fit its 4,096-byte buffer.
bool BuildOutlineOptions(const ConversionSettings& settings, const std::string& extension,
                         std::string& options);

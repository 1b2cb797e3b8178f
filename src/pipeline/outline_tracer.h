#pragma once
#include <string>

#include "settings/conversion_settings.h"
#include "pipeline/delivery.h"

// Traces one raster image into one vector file with potrace, delivered whole under
// outputPath or, when another run took that name meanwhile, the next free name numbered from
// baseOutput (default: outputPath). A ".png" output is potrace's rendering of the traced
// curves. Returns 1 when the output was delivered, else 0 with the reason in `why`.
int RunOutlineTracer(const ConversionSettings& settings, const std::string& imagePath,
                     const std::string& outputPath, const std::string* baseOutput = nullptr,
                     std::string* why = nullptr);

// potrace's options for these settings and output extension: the backend switch first,
// then the mapped options in a fixed order, then the extra engine arguments. False when the
// text would not fit its 4,096-byte buffer.
bool BuildOutlineOptions(const ConversionSettings& settings, const std::string& extension,
                         std::string& options);

// The engine run alone: the output is left, whole, in pending's private file beside outputPath
// for DeliverOutput to put under its name. 1 on success, else 0 with the reason in `why`.
// With `readyBitmap`, imagePath is already the bitonal bitmap potrace reads.
int TraceOutline(const ConversionSettings& settings, const std::string& imagePath,
                 const std::string& outputPath, PendingOutput& pending, std::string* why,
                 bool readyBitmap = false);

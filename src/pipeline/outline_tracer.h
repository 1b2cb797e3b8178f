#pragma once
// The outline tracer, potrace: its options for the settings, and one run of it.
#include <string>

#include "settings/conversion_settings.h"
#include "pipeline/delivery.h"

// potrace's options for these settings and output extension: the backend switch first,
// then the mapped options in a fixed order, then the extra engine arguments. False when the
// text would not fit its 4,096-byte buffer.
bool BuildOutlineOptions(const ConversionSettings& settings, const std::string& extension,
                         std::string& options);

// Traces one image for outputPath into pending's private file beside it, left whole there
// for PublishOutput. With `readyBitmap`, imagePath is already the bitonal bitmap potrace
// reads; otherwise it is reduced to one first. A ".png" output is potrace's rendering of the
// traced curves. False, with the reason, on failure; nothing is left behind then.
bool TraceOutline(const ConversionSettings& settings, const std::string& imagePath, bool readyBitmap,
                  const std::string& outputPath, PendingOutput& pending, std::string& why);

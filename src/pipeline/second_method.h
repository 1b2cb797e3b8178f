#pragma once
// The second-method tracer, autotrace: its options for the settings, and one run of it.
#include <string>

#include "settings/conversion_settings.h"
#include "pipeline/delivery.h"

// The second-method options: background colour (without a leading '#'), centre-line, extra
// engine arguments. False when the text would not fit its 4,096-byte buffer.
bool BuildSecondMethodOptions(const ConversionSettings& settings, std::string& options);

// Traces one image (a PNG) for outputPath into pending's private file beside it, left whole
// there for PublishOutput; the output format is outputPath's extension as written. False,
// with the reason, on failure; nothing is left behind then.
bool TraceSecondMethod(const ConversionSettings& settings, const std::string& imagePath,
                       const std::string& outputPath, PendingOutput& pending, std::string& why);

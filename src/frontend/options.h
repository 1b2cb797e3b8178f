#pragma once
#include "frontend/option_table.h"
#include "settings/conversion_settings.h"

// The program's option table; built on the first call, whose settings record the targets
// point into. Later calls return the same table.
const OptionDescriptor* BuildOptionTable(ConversionSettings& settings);

void PrintHelp(const OptionDescriptor* table, const char* programDisplayName);

// Parses main's arguments into settings (argv is rewritten in place). Returns 1 when the run
// is to go on with inputPath and outputPath filled, 0 when it is to stop (the help screen
// has been printed, or the input argument is empty).
int ParseCommandLine(ConversionSettings& settings, int& argc, char** argv);

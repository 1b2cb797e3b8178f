#pragma once
// Why a command line is refused, and which options of an accepted one have no effect. Every
// text here goes to standard error; the help screen on standard output stays as it is.
#include <string>
#include <vector>

#include "frontend/option_table.h"
#include "settings/conversion_settings.h"

// Walks the words as ParseOptions will and names the first mistake among them: an unknown
// option (with the nearest known one), a missing or bad value. A word after "--", and "-"
// alone, are file names. True when there is none.
bool CheckOptionWords(const OptionDescriptor* table, int argc, char** argv, std::string& reason);

// The known option nearest to `word` in spelling, "" when none is near enough.
std::string NearestOption(const OptionDescriptor* table, const std::string& word);

// Why one or two file names were expected and `words` came instead; with several, names
// the pattern the shell most likely expanded, quoted.
std::string FileCountReason(const std::vector<std::string>& words);

// Prints "tracewright: <reason>" on standard error.
void PrintRefusal(const std::string& reason);

// Names, once each, the given options that the chosen tracer ignores.
void ReportIgnoredOptions(const ConversionSettings& settings);

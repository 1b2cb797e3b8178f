#pragma once
#include <string>

// Runs a complete command line (tool path first, in double quotes), appending what the tool
// prints on standard output and error to `captured`. Returns 0 when the tool could not be
// started, non-zero once it has ended. Callers judge success by the files the tool wrote.
int RunChildProcess(const std::string& commandLine, std::string& captured);

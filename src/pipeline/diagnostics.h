#pragma once
// The one line on standard error that every failure adds: "tracewright: <input>: <reason>".
#include <string>

// Prints "tracewright: <subject>: <reason>".
void ReportFailure(const std::string& subject, const std::string& reason);

// The system's text for an errno value.
std::string SystemError(int error);

#pragma once
// The one line on standard error that every failure adds: "tracewright: <input>: <reason>".
#include <string>

struct ProcessResult;

// Prints "tracewright: <subject>: <reason>".
void ReportFailure(const std::string& subject, const std::string& reason);

// The last non-empty line of what an engine printed, without the engine's name in front
// ("potrace: ") and surrounding blanks.
std::string LastLine(const std::string& captured, const std::string& engine);

// Why an engine run failed: it could not start, ran past its time limit, was ended by a
// signal or exited with a failure status; its own last line is added where it said one.
// "" when the run ended with status 0.
std::string EngineFailure(const char* engine, const ProcessResult& run, const std::string& captured,
                          int timeoutSeconds);

// For the steps that return 1 or 0: stores the reason where `why` points (when it does) and
// returns 0.
int Fail(std::string* why, const std::string& reason);

// The system's text for an errno value.
std::string SystemError(int error);

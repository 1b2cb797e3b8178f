#pragma once
// Running the engines: where each one is, its command line within a bounded buffer, the run
// itself under the engine time limit, and why a run failed.
#include <cstddef>
#include <string>

#include "platform/path.h"
#include "platform/process.h"

// Most bytes a tracer's options take on its command line.
inline constexpr std::size_t kTracerOptionsCapacity = 4096;
// Room for a tracer's whole command line: its options and three paths (the tool, its output,
// its input), each as long as the system takes and quoted, which at most doubles it.
inline constexpr std::size_t kTracerCommandCapacity = kTracerOptionsCapacity + 3 * (2 * kPathLimit + 3) + 64;

// Runs a complete command line (tool path first, in double quotes), appending what the tool
// prints on standard output and error to `captured`. Returns 0 when the tool could not be
// started, non-zero once it has ended.
int RunChildProcess(const std::string& commandLine, std::string& captured);

// The same, with the whole outcome, under the engine time limit; standard input and output
// as `streams` say.
ProcessResult RunEngine(const std::string& commandLine, std::string& captured, const ChildStreams& streams = {});

// Seconds an engine run may take: TRACEWRIGHT_ENGINE_TIMEOUT (0: no limit; default 600).
int EngineTimeoutSeconds();

// Path of an engine beside the program's own executable ("" when that is unknown).
std::string ToolPath(const char* toolName);

// Appends text to a command buffer of the given capacity (terminating zero included);
// false, leaving the buffer unchanged, when it would not fit.
bool AppendBounded(std::string& buffer, const std::string& text, std::size_t capacity);

// The tracer `engine` beside the program, for an image that must exist: false, with the
// reason, when either is missing.
bool FindTracer(const char* engine, const std::string& imagePath, std::string& tool, std::string& why);

// Runs a tracer's command line, built within `capacity` bytes, standard input and output as
// `streams` say. False, with the reason, when the line does not fit or the run failed (see
// EngineFailure).
bool RunTracer(const char* engine, const std::string& commandLine, std::size_t capacity, std::string& why,
               const ChildStreams& streams = {});

// Why an engine run failed: it could not start, ran past its time limit, was ended by a
// signal or exited with a failure status; its own last line is added where it said one.
// "" when the run ended with status 0.
std::string EngineFailure(const char* engine, const ProcessResult& run, const std::string& captured);

// The last non-empty line of what an engine printed, without the engine's name in front
// ("potrace: ") and surrounding blanks.
std::string LastLine(const std::string& captured, const std::string& engine);

#pragma once
#include <string>

// Path of an engine beside the program's own executable ("" when that is unknown), or where a
// packaged build installed it.
std::string ToolPath(const char* toolName);

// The output path's extension without its leading dot, as written.
std::string OutputExtension(const std::string& outputPath);

// Appends text to a command buffer of the given capacity (terminating zero included);
// false, leaving the buffer unchanged, when it would not fit.
bool AppendBounded(std::string& buffer, const std::string& text, std::size_t capacity);

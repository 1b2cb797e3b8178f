#pragma once
// In-memory files registered under real-looking paths (the provisioned engines). File
// queries and process start ask here before they touch the disk, so the engines can sit
// "beside" the program in a folder that is read-only or shared, with nothing written there.
#include <cstddef>
#include <string>

// Starts the layer. Until then nothing can be created. Repeated calls are harmless.
void StartMemFileLayer();

// How many times StartMemFileLayer has run in this process.
int MemFileLayerStartCount();

enum MemFileLayerOption : int {
  kMemFileAnswerQueries = 2,  // registered files count as existing files
  kMemFileStartable = 3,      // registered files can be started as programs
};

// Switches an option on (non-zero) or off. Unknown options are ignored.
void SetMemFileLayerOption(int option, int value);

// Creates an in-memory file at `path` with create-new semantics: fails (returns -1) when the
// layer is not started, the path is empty, something on disk already has that path, or an
// in-memory file was created there before. Otherwise returns a handle for writing.
int CreateMemFile(const std::string& path);

// Appends bytes to a file that is still open for writing.
bool WriteMemFile(int handle, const void* data, std::size_t size);

// Ends writing: the contents are sealed, the file becomes read-only and visible at its path
// for the rest of the run.
bool CloseMemFile(int handle);

// True when `path` names a closed in-memory file and queries are answered.
bool IsMemFile(const std::string& path);

// True, with a read-only close-on-exec descriptor of the file, when `path` names a closed
// in-memory file that may be started. The descriptor stays owned by the layer.
bool LookupMemFile(const std::string& path, int& fd);

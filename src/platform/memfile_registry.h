#pragma once
// In-memory files registered under real-looking paths (the provisioned engines). File
// queries and process start ask here before they touch the disk, so the engines can sit
// "beside" the program in a folder that is read-only or shared, with nothing written there.
#include <cstddef>
#include <functional>
#include <string>

// Starts the layer. Until then nothing can be created. Repeated calls are harmless.
void StartMemFileLayer();

// How many times StartMemFileLayer has run in this process.
int MemFileLayerStartCount();

enum MemFileLayerOption : int {
  kMemFileAnswerQueries = 2,  // registered files count as existing files
  kMemFileStartable = 3,      // registered files can be started as programs
  kMemFileStartFromDisk = 4,  // started from a copy in the run's temporary folder instead
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

// Takes one stretch of a file's contents; false when it cannot be kept.
using MemFileSink = std::function<bool(const void* data, std::size_t size)>;

// Hands a file's whole contents to the sink, in order; false when they cannot be made.
using MemFileProducer = std::function<bool(const MemFileSink& sink)>;

// Registers `path` under the same rules as CreateMemFile, with contents that are made only
// when the file is first needed (looked up or started). Until then the path counts as an
// existing file and costs nothing. The producer is called at most once per form the file
// takes (in memory, on disk) and must stay usable for the rest of the run. False when the
// path cannot be taken.
bool RegisterMemFileOnDemand(const std::string& path, MemFileProducer producer);

// How to start the program at a path.
struct MemFileStart {
  bool registered = false;  // false: not ours; start the path itself
  int fd = -1;              // >= 0: start this descriptor (owned by the layer)
  std::string diskPath;     // else, when not empty: start this copy on disk
  std::string error;        // else: why it cannot be started
};

// Makes the file at `path` ready to start. In memory when the system lets in-memory files
// run; otherwise (or with kMemFileStartFromDisk) as a copy in the run's private temporary
// folder, deleted with the run's other temporary files.
MemFileStart PrepareMemFileStart(const std::string& path);

// For a start through the descriptor that the system refused: from now on every file of the
// layer starts from its copy on disk. Returns how to start `path` that way.
MemFileStart MemFileStartRefused(const std::string& path);

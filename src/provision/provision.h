#pragma once
// Engine provisioning: the stored engine executables are put at their tool paths beside the
// program as in-memory files, each rebuilt only when a job first starts it.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "provision/stored_tools.h"

// Provisions the engines built into the program beside its own executable: from here on the
// three tool paths exist; each engine is rebuilt when it is first started. Returns 1 when all
// three are in place, 0 when one's store is missing or damaged (the ones after it are left
// out). TRACEWRIGHT_ENGINES_ON_DISK=1 starts them from copies in the temporary folder.
// A build with an installed engine folder puts nothing anywhere: it returns 1 when the three
// installed engines exist.
int ProvisionEngines();

// The same from a given store, beside the program at `programPath`. The store must stay in
// place for the rest of the run.
int ProvisionEnginesFrom(const StoredToolSet& stored, const std::string& programPath);

// True when the tool's first piece holds what it claims and begins with a zlib header: what
// can be checked without touching the rest of the store, which is large and mostly never
// read in a run. The other pieces are checked when the tool is rebuilt.
bool StoredToolLooksSound(const StoredToolPieces& tool);

// Takes the rebuilt executable a stretch at a time; false stops the rebuilding.
using ToolSink = std::function<bool(const void* data, std::size_t size)>;

// Rebuilds a tool straight into `sink`, unscrambling and inflating a stretch at a time, so the
// image is never held whole. Returns the number of bytes handed over; 0 when a piece is
// damaged or the sink refused a stretch.
std::size_t StreamStoredTool(const StoredToolPieces& tool, const ToolSink& sink);

// Joins a tool's pieces in order, removes the scrambling and inflates the result into
// `image`. Returns the image's length; 0 when nothing could be rebuilt.
std::size_t AssembleStoredTool(const StoredToolPieces& tool, std::vector<std::uint8_t>& image);

// Inflates a zlib stream into `image` (emptied first) and returns the number of bytes. A
// stream that breaks off or goes bad keeps what was inflated before that point.
std::size_t InflateToolImage(const std::vector<std::uint8_t>& stream,
                             std::vector<std::uint8_t>& image);

#pragma once
// Engine provisioning: the stored engine executables are rebuilt at start-up and created as
// in-memory files at their tool paths beside the program.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "provision/stored_tools.h"

// Provisions the engines built into the program beside its own executable. Returns 1 when
// all three were rebuilt, 0 when one came out empty (the ones after it are left out).
int ProvisionEngines();

// The same from a given store, beside the program at `programPath`.
int ProvisionEnginesFrom(const StoredToolSet& stored, const std::string& programPath);

// Joins a tool's pieces in order, removes the scrambling and inflates the result into
// `image`. Returns the image's length; 0 when nothing could be rebuilt.
std::size_t AssembleStoredTool(const StoredToolPieces& tool, std::vector<std::uint8_t>& image);

// Inflates a zlib stream into `image` (emptied first) and returns the number of bytes. A
// stream that breaks off or goes bad keeps what was inflated before that point.
std::size_t InflateToolImage(const std::vector<std::uint8_t>& stream,
                             std::vector<std::uint8_t>& image);

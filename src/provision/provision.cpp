#include "provision/provision.h"

#include <cstdlib>
#include <cstring>

#include "engine_locations.h"
#include "platform/files.h"
#include "platform/memfile_registry.h"
#include "platform/path.h"
#include "settings/environment.h"

namespace {

bool g_memFileLayerReady = false;

void StartLayerOnce() {
  if (g_memFileLayerReady) return;
  StartMemFileLayer();
  SetMemFileLayerOption(kMemFileAnswerQueries, 1);
  SetMemFileLayerOption(kMemFileStartable, 1);
  if (Environment().enginesOnDisk) SetMemFileLayerOption(kMemFileStartFromDisk, 1);
  g_memFileLayerReady = true;
}

}  // namespace

int ProvisionEnginesFrom(const StoredToolSet& stored, const std::string& programPath) {
  StartLayerOnce();
  const PathParts parts = SplitPath(programPath);
  // Without the program's own path there is no folder to put the tools in.
  if (parts.dir.empty()) return 0;
  for (int tool = 0; tool < kToolCount; ++tool) {
    const StoredToolPieces pieces = stored.tools[tool];
    if (!StoredToolLooksSound(pieces)) return 0;
    // Registration is not checked: a path that is already taken keeps whatever is there,
    // and later conversions run that.
    RegisterMemFileOnDemand(MakePath(parts.drive, parts.dir, kStoredToolNames[tool], ""),
                            [pieces](const MemFileSink& sink) {
                              return StreamStoredTool(pieces, sink) > 0;
                            });
  }
  return 1;
}

// A packaged build provisions nothing: its engines are installed files, and they are in place
// when every one exists.
int InstalledEnginesPresent() {
  for (const char* tool : kStoredToolNames) {
    if (!FileExists(InstalledToolPath(tool))) return 0;
  }
  return 1;
}

int ProvisionEngines() {
  if (!kEngineFolder.empty()) return InstalledEnginesPresent();
  static const StoredToolSet kNothingStored{};
  const StoredToolSet* stored = TwBuiltInStoredTools ? TwBuiltInStoredTools() : nullptr;
  return ProvisionEnginesFrom(stored ? *stored : kNothingStored, OwnExecutablePath());
}

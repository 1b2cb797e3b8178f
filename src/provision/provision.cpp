#include "provision/provision.h"

#include "platform/files.h"
#include "platform/memfile_registry.h"
#include "platform/path.h"

namespace {

bool g_memFileLayerReady = false;

void StartLayerOnce() {
  if (g_memFileLayerReady) return;
  StartMemFileLayer();
  SetMemFileLayerOption(kMemFileAnswerQueries, 1);
  SetMemFileLayerOption(kMemFileStartable, 1);
  g_memFileLayerReady = true;
}

// Neither creation nor writing is checked: a path that is already taken keeps whatever is
// there, and later conversions run that.
void CreateTool(const std::string& path, const std::vector<std::uint8_t>& image) {
  const int handle = CreateMemFile(path);
  if (handle < 0) return;
  WriteMemFile(handle, image.data(), image.size());
  CloseMemFile(handle);
}

}  // namespace

int ProvisionEnginesFrom(const StoredToolSet& stored, const std::string& programPath) {
  StartLayerOnce();
  const PathParts parts = SplitPath(programPath);
  // Without the program's own path there is no folder to put the tools in.
  if (parts.dir.empty()) return 0;
  for (int tool = 0; tool < kToolCount; ++tool) {
    std::vector<std::uint8_t> image;
    if (AssembleStoredTool(stored.tools[tool], image) == 0) return 0;
    CreateTool(MakePath(parts.drive, parts.dir, kStoredToolNames[tool], ""), image);
  }
  return 1;
}

int ProvisionEngines() {
  static const StoredToolSet kNothingStored{};
  const StoredToolSet* stored = TwBuiltInStoredTools ? TwBuiltInStoredTools() : nullptr;
  return ProvisionEnginesFrom(stored ? *stored : kNothingStored, OwnExecutablePath());
}

#include "pipeline/engine_paths.h"

#include "engine_locations.h"
#include "platform/files.h"
#include "platform/path.h"

std::string ToolPath(const char* toolName) {
  if (std::string installed = InstalledToolPath(toolName); !installed.empty()) return installed;
  const std::string self = OwnExecutablePath();
  if (self.empty()) return "";
  const PathParts parts = SplitPath(self);
  return MakePath(parts.drive, parts.dir, toolName, "");
}

std::string OutputExtension(const std::string& outputPath) {
  std::string ext = SplitPath(outputPath).ext;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  return ext;
}

bool AppendBounded(std::string& buffer, const std::string& text, std::size_t capacity) {
  if (buffer.size() + text.size() >= capacity) return false;
  buffer += text;
  return true;
}

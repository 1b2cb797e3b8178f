#include "pipeline/second_method.h"

#include <cstdio>

#include "pipeline/child_runner.h"
#include "pipeline/engine_paths.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"
#include "platform/process.h"

namespace {

constexpr std::size_t kTracerCommandCapacity = 4096;
// Room for two full paths: a long PDF path must not be refused for want of buffer.
constexpr std::size_t kRendererCommandCapacity = 2 * kPathLimit + 64;

}  // namespace

bool BuildSecondMethodOptions(const ConversionSettings& s, std::string& options) {
  std::string text;
  if (s.fillColor[0] != '\0') {
    const char* colour = s.fillColor[0] == '#' ? s.fillColor + 1 : s.fillColor;
    text += std::string("-background-color ") + colour;
  }
  if (s.centerline) text += " -centerline";
  if (s.extraEngineArgs[0] != '\0') text += std::string(" ") + s.extraEngineArgs;
  if (text.size() >= kTracerCommandCapacity) return false;
  options = std::move(text);
  return true;
}

int RunSecondMethodTracer(const ConversionSettings& settings, const std::string& imagePath,
                          const std::string& outputPath) {
  if (!FileExists(imagePath)) return 0;
  const std::string tool = ToolPath("autotrace");
  if (tool.empty() || !FileExists(tool)) return 0;

  std::string options;
  std::string command;
  if (!BuildSecondMethodOptions(settings, options) ||
      !AppendBounded(command,
                     QuoteArgument(tool) + " " + options + " -output-file " + QuoteArgument(outputPath) +
                         " -output-format " + QuoteArgument(OutputExtension(outputPath)) + " " +
                         QuoteArgument(imagePath),
                     kTracerCommandCapacity)) {
    std::fprintf(stderr, "autotrace command line too long for %s\n", outputPath.c_str());
    return 0;
  }
  std::string captured;
  RunChildProcess(command, captured);
  return FileExists(outputPath) ? 1 : 0;
}

int CollectMatchingFiles(const std::string& pattern, std::vector<std::string>& list) {
  const PathParts parts = SplitPath(pattern);
  for (const std::string& name : FindMatchingNames(pattern)) {
    const PathParts found = SplitPath(name);
    const std::string path = MakePath(parts.drive, parts.dir, found.fname, found.ext);
    const FileAttributes attributes = QueryFileAttributes(path);
    if (!attributes.exists || attributes.isFolder) continue;
    list.push_back(path);
  }
  return static_cast<int>(list.size());
}

int RenderPdfPages(const std::string& pdfPath, const std::string& baseName,
                   std::vector<std::string>& pages, int pdfResolution) {
  if (!FileExists(pdfPath)) return 0;
  const std::string tool = ToolPath("pagerip");
  if (tool.empty() || !FileExists(tool)) return 0;

  const int resolution = pdfResolution > 0 ? pdfResolution : 150;
  std::string command;
  if (!AppendBounded(command,
                     QuoteArgument(tool) + " -r " + std::to_string(resolution) + " " +
                         QuoteArgument(pdfPath) + " " + QuoteArgument(baseName),
                     kRendererCommandCapacity)) {
    std::fprintf(stderr, "pagerip command line too long for %s\n", pdfPath.c_str());
    return 0;
  }
  std::string captured;
  RunChildProcess(command, captured);

  const PathParts base = SplitPath(baseName);
  CollectMatchingFiles(MakePath(base.drive, base.dir, base.fname + "*", base.ext), pages);
  return pages.empty() ? 0 : 1;
}

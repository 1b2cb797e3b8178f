#include "pipeline/second_method.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "pipeline/child_runner.h"
#include "pipeline/delivery.h"
#include "pipeline/diagnostics.h"
#include "pipeline/engine_paths.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"
#include "platform/process.h"
#include "settings/conversion_settings.h"

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

int TraceSecondMethod(const ConversionSettings& settings, const std::string& imagePath,
                      const std::string& outputPath, PendingOutput& pending, std::string* why) {
  std::string reason;
  if (!FileExists(imagePath)) return Fail(why, "the image to trace is missing");
  const std::string tool = ToolPath("autotrace");
  if (tool.empty() || !FileExists(tool)) return Fail(why, "autotrace is not available");

  std::string options;
  if (!BuildSecondMethodOptions(settings, options)) return Fail(why, "autotrace options too long");
  if (!BeginOutput(outputPath, pending, reason)) return Fail(why, reason);
  std::string command;
  if (!AppendBounded(command,
                     QuoteArgument(tool) + " " + options + " -output-file " + QuoteArgument(pending.target) +
                         " -output-format " + QuoteArgument(OutputExtension(outputPath)) + " " +
                         QuoteArgument(imagePath),
                     kTracerCommandCapacity)) {
    AbandonOutput(pending);
    return Fail(why, "autotrace command line too long");
  }
  std::string captured;
  const ProcessResult run = RunEngine(command, captured);
  reason = EngineFailure("autotrace", run, captured, EngineTimeoutSeconds());
  if (!reason.empty()) {
    AbandonOutput(pending);
    return Fail(why, reason);
  }
  return 1;
}

int RunSecondMethodTracer(const ConversionSettings& settings, const std::string& imagePath,
                          const std::string& outputPath, const std::string* baseOutput,
                          std::string* why) {
  PendingOutput pending;
  if (TraceSecondMethod(settings, imagePath, outputPath, pending, why) == 0) return 0;
  return DeliverOutput(pending, outputPath, baseOutput != nullptr ? *baseOutput : outputPath, why);
}

int CollectMatchingFiles(const std::string& pattern, std::vector<std::string>& list) {
  for (std::string& path : FindMatchingFiles(pattern)) list.push_back(std::move(path));
  return static_cast<int>(list.size());
}

namespace {

// Reads the renderer's "pagerip: page 5 of 8 skipped: <reason>" lines and its last word.
void ReadRenderReport(const std::string& captured, const ProcessResult& run, RenderReport& report) {
  static const std::string kSkipped = "pagerip: page ";
  std::size_t start = 0;
  while (start < captured.size()) {
    std::size_t end = captured.find('\n', start);
    if (end == std::string::npos) end = captured.size();
    const std::string line = captured.substr(start, end - start);
    start = end + 1;
    if (line.compare(0, kSkipped.size(), kSkipped) != 0) continue;
    int page = 0;
    int count = 0;
    int used = 0;
    if (std::sscanf(line.c_str() + kSkipped.size(), "%d of %d skipped: %n", &page, &count, &used) < 2 ||
        used == 0) {
      continue;
    }
    report.pageCount = count;
    report.skippedPages.push_back("page " + std::to_string(page) + " of " + std::to_string(count) + ": " +
                                  line.substr(kSkipped.size() + static_cast<std::size_t>(used)));
  }
  report.failure = EngineFailure("pagerip", run, captured, EngineTimeoutSeconds());
}

}  // namespace

int RenderPdfPages(const std::string& pdfPath, const std::string& baseName,
                   std::vector<std::string>& pages, int pdfResolution, RenderReport* report,
                   int renderers) {
  RenderReport local;
  RenderReport& said = report != nullptr ? *report : local;
  if (!FileExists(pdfPath)) return 0;
  const std::string tool = ToolPath("pagerip");
  if (tool.empty() || !FileExists(tool)) {
    said.failure = "pagerip is not available";
    return 0;
  }

  const int resolution = EffectivePdfResolution(pdfResolution);
  const int parts = renderers > 1 ? renderers : 1;
  std::vector<std::string> commands;
  for (int part = 1; part <= parts; ++part) {
    std::string command;
    const std::string share = parts > 1 ? " -part " + std::to_string(part) + "/" + std::to_string(parts) : "";
    if (!AppendBounded(command,
                       QuoteArgument(tool) + " -r " + std::to_string(resolution) + share + " " +
                           QuoteArgument(pdfPath) + " " + QuoteArgument(baseName),
                       kRendererCommandCapacity)) {
      said.failure = "pagerip command line too long";
      return 0;
    }
    commands.push_back(std::move(command));
  }
  std::vector<RenderReport> partReports(commands.size());
  const auto render = [&](std::size_t i) {
    std::string captured;
    const ProcessResult run = RunEngine(commands[i], captured);
    ReadRenderReport(captured, run, partReports[i]);
  };
  std::vector<std::thread> others;
  for (std::size_t i = 1; i < commands.size(); ++i) others.emplace_back(render, i);
  render(0);
  for (std::thread& other : others) other.join();
  for (RenderReport& part : partReports) {
    said.skippedPages.insert(said.skippedPages.end(), part.skippedPages.begin(), part.skippedPages.end());
    if (part.pageCount > 0) said.pageCount = part.pageCount;
    if (said.failure.empty()) said.failure = part.failure;
  }
  // In page order, as one renderer reports them.
  std::stable_sort(said.skippedPages.begin(), said.skippedPages.end(), [](const std::string& a, const std::string& b) {
    return std::atoi(a.c_str() + 5) < std::atoi(b.c_str() + 5);
  });

  const PathParts base = SplitPath(baseName);
  CollectMatchingFiles(MakePath(base.drive, base.dir, base.fname + "*", base.ext), pages);
  return pages.empty() ? 0 : 1;
}

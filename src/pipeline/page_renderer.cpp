#include "pipeline/page_renderer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "pipeline/child_runner.h"
#include "platform/files.h"
#include "platform/folder_search.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

// Room for two full paths: a long PDF path must not be refused for want of buffer.
constexpr std::size_t kRendererCommandCapacity = 2 * kPathLimit + 64;

// Reads the renderer's "pagerip: page 5 of 8 skipped: <reason>" lines and its last word.
RenderReport ReadRenderReport(const std::string& captured, const ProcessResult& run) {
  static const std::string kSkipped = "pagerip: page ";
  RenderReport report;
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
  report.failure = EngineFailure("pagerip", run, captured);
  return report;
}

}  // namespace

bool PlanPageRender(const std::string& pdfPath, int dpi, int renderers, PageRender& render,
                    std::string& why) {
  const std::string tool = ToolPath("pagerip");
  if (tool.empty() || !FileExists(tool)) {
    why = "pagerip is not available";
    return false;
  }
  std::string base;
  if (!MakeTempPath(".png", base, why)) return false;
  const int parts = renderers > 1 ? renderers : 1;
  render = PageRender{base, {}, {}};
  for (int part = 1; part <= parts; ++part) {
    const std::string share = parts > 1 ? " -part " + std::to_string(part) + "/" + std::to_string(parts) : "";
    std::string command;
    if (!AppendBounded(command,
                       QuoteArgument(tool) + " -r " + std::to_string(dpi) + share + " " +
                           QuoteArgument(pdfPath) + " " + QuoteArgument(base),
                       kRendererCommandCapacity)) {
      why = "pagerip command line too long";
      return false;
    }
    render.commands.push_back(std::move(command));
  }
  render.reports.resize(render.commands.size());
  return true;
}

void RenderPagePart(PageRender& render, std::size_t part) {
  std::string captured;
  const ProcessResult run = RunEngine(render.commands[part], captured);
  render.reports[part] = ReadRenderReport(captured, run);
}

RenderedPages CollectRenderedPages(const PageRender& render) {
  RenderedPages pages;
  std::string failure;
  for (const RenderReport& part : render.reports) {
    pages.skippedPages.insert(pages.skippedPages.end(), part.skippedPages.begin(), part.skippedPages.end());
    if (part.pageCount > 0) pages.pageCount = part.pageCount;
    if (failure.empty()) failure = part.failure;
  }
  // In page order, as one renderer reports them.
  std::stable_sort(pages.skippedPages.begin(), pages.skippedPages.end(),
                   [](const std::string& a, const std::string& b) {
                     return std::atoi(a.c_str() + 5) < std::atoi(b.c_str() + 5);
                   });
  const PathParts base = SplitPath(render.baseName);
  CollectMatchingFiles(MakePath(base.drive, base.dir, base.fname + "*", base.ext), pages.paths);
  for (const std::string& page : pages.paths) RegisterTempFile(page.c_str());
  if (pages.paths.empty() && pages.skippedPages.empty()) {
    pages.failure = failure.empty() ? "the renderer wrote no page" : failure;
  }
  return pages;
}

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

// The page number after "page " at `at` in a line ("page 5 of 8 ..."), with its count and
// the offset of what follows them; false when the line does not go on so.
bool ReadPageOfCount(const std::string& line, std::size_t at, int& page, int& count, std::size_t& rest) {
  int used = 0;
  if (std::sscanf(line.c_str() + at, "page %d of %d%n", &page, &count, &used) < 2 || used == 0) return false;
  rest = at + static_cast<std::size_t>(used);
  return page >= 1 && count >= page;
}

std::string PageLine(int page, int count, const std::string& reason) {
  return "page " + std::to_string(page) + " of " + std::to_string(count) + ": " + reason;
}

// Reads the renderer's "pagerip: N pages" line, its "pagerip: page 5 of 8 skipped: <reason>"
// lines, its "pagerip: warning: page 5 of 8 <reason>" lines about pages that drew nothing,
// and its last word. The count line is no reason and is left out of it.
RenderReport ReadRenderReport(const std::string& captured, const ProcessResult& run) {
  static const std::string kPrefix = "pagerip: ";
  static const std::string kWarning = "pagerip: warning: ";
  RenderReport report;
  std::string said;
  std::size_t start = 0;
  while (start < captured.size()) {
    std::size_t end = captured.find('\n', start);
    if (end == std::string::npos) end = captured.size();
    const std::string line = captured.substr(start, end - start);
    start = end + 1;
    int page = 0;
    int count = 0;
    int used = 0;
    std::size_t rest = 0;
    if (std::sscanf(line.c_str(), "pagerip: %d pages%n", &count, &used) == 1 && used > 0 &&
        static_cast<std::size_t>(used) == line.size()) {
      report.pageCount = count;
      continue;
    }
    said += line + "\n";
    if (line.compare(0, kWarning.size(), kWarning) == 0 && ReadPageOfCount(line, kWarning.size(), page, count, rest)) {
      const std::size_t reason = line.find_first_not_of(": ", rest);
      if (reason != std::string::npos) report.skippedPages.push_back(PageLine(page, count, line.substr(reason)));
      continue;
    }
    if (line.compare(0, kPrefix.size(), kPrefix) != 0 || !ReadPageOfCount(line, kPrefix.size(), page, count, rest) ||
        line.compare(rest, 10, " skipped: ") != 0) {
      continue;
    }
    report.pageCount = count;
    report.skippedPages.push_back(PageLine(page, count, line.substr(rest + 10)));
    report.reportedPages.push_back(page);
  }
  report.failure = EngineFailure("pagerip", run, said);
  return report;
}

// A renderer that failed before its share was done (stopped at the time limit, killed,
// crashed): every page of its share that is neither written nor reported gets a line with
// the reason, or, when it did not even say the page count, the reason stands alone.
void ReportLostPages(const PageRender& render, const std::vector<std::string>& written, int pageCount,
                     std::vector<std::string>& lines) {
  std::vector<bool> accounted(static_cast<std::size_t>(pageCount) + 1, false);
  for (const std::string& path : written) {
    const int page = PageNumberOfImage(path);
    if (page >= 1 && page <= pageCount) accounted[static_cast<std::size_t>(page)] = true;
  }
  for (const RenderReport& part : render.reports) {
    for (int page : part.reportedPages) {
      if (page >= 1 && page <= pageCount) accounted[static_cast<std::size_t>(page)] = true;
    }
  }
  const int parts = static_cast<int>(render.reports.size());
  for (int k = 0; k < parts; ++k) {
    const RenderReport& part = render.reports[static_cast<std::size_t>(k)];
    if (part.failure.empty()) continue;
    if (pageCount <= 0) {
      if (!written.empty() && std::find(lines.begin(), lines.end(), part.failure) == lines.end()) {
        lines.push_back(part.failure);
      }
      continue;
    }
    for (int page = k + 1; page <= pageCount; page += parts) {
      if (!accounted[static_cast<std::size_t>(page)]) lines.push_back(PageLine(page, pageCount, part.failure));
    }
  }
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
  const PathParts base = SplitPath(render.baseName);
  CollectMatchingFiles(MakePath(base.drive, base.dir, base.fname + "*", base.ext), pages.paths);
  for (const std::string& page : pages.paths) RegisterTempFile(page.c_str());
  ReportLostPages(render, pages.paths, pages.pageCount, pages.skippedPages);
  // In page order, as one renderer reports them.
  std::stable_sort(pages.skippedPages.begin(), pages.skippedPages.end(),
                   [](const std::string& a, const std::string& b) {
                     return std::atoi(a.c_str() + 5) < std::atoi(b.c_str() + 5);
                   });
  if (pages.paths.empty() && pages.skippedPages.empty()) {
    pages.failure = failure.empty() ? "the renderer wrote no page" : failure;
  }
  return pages;
}

int PageNumberOfImage(const std::string& path) {
  const std::string stem = SplitPath(path).fname;
  const std::size_t dash = stem.find_last_of('-');
  if (dash == std::string::npos || dash + 1 >= stem.size()) return 0;
  int number = 0;
  for (std::size_t i = dash + 1; i < stem.size(); ++i) {
    if (stem[i] < '0' || stem[i] > '9' || number > 100000000) return 0;
    number = number * 10 + (stem[i] - '0');
  }
  return number;
}

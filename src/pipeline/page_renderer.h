#pragma once
// A PDF's pages as images, rendered by pagerip. Several renderers may share one document,
// each writing every M-th page; each share is a separate engine run, so that the batch can
// run the shares side by side with its other engines.
#include <cstddef>
#include <string>
#include <vector>

// What one renderer said: the pages it could not write ("page 5 of 8: <reason>") and why it
// failed, if it did.
struct RenderReport {
  std::vector<std::string> skippedPages;
  std::vector<int> reportedPages;  // the pages it said it skipped
  std::string failure;
  int pageCount = 0;  // as the renderer counted them; 0 when it did not say
};

// One document on its way to page images: the base name the pages are written beside, one
// command line per renderer and, once it has run, what each renderer said.
struct PageRender {
  std::string baseName;
  std::vector<std::string> commands;
  std::vector<RenderReport> reports;
};

// Prepares `renderers` (at least 1) renderer runs for the PDF at `dpi` into a fresh base name
// in the temporary folder.
// With one renderer its command line is pagerip's plain one; with M, renderer K gets
// "-part K/M". False, with the reason, when pagerip is missing or no base name can be made.
bool PlanPageRender(const std::string& pdfPath, int dpi, int renderers, PageRender& render,
                    std::string& why);

// Runs renderer `part` of the plan and records what it said in render.reports[part].
void RenderPagePart(PageRender& render, std::size_t part);

// Once every renderer has run: the page images written, in page order and listed for
// deletion at the end of the run, the skipped pages in page order (with every page a failed
// renderer did not write, and the pages that drew nothing), the document's page
// count, and why there is no page at all ("" when there are pages or skipped pages).
struct RenderedPages {
  std::vector<std::string> paths;
  std::vector<std::string> skippedPages;
  int pageCount = 0;
  std::string failure;
};
RenderedPages CollectRenderedPages(const PageRender& render);

// The page number the renderer put into a page image's name ("...-0005.png"), else 0.
int PageNumberOfImage(const std::string& path);

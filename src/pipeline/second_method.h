#pragma once
#include <string>
#include <vector>

#include "settings/conversion_settings.h"
#include "pipeline/delivery.h"

// Traces one image with the second-method tracer (autotrace), delivered as
// RunOutlineTracer delivers. Returns 1 when the output was delivered, else 0 with the reason
// in `why`.
int RunSecondMethodTracer(const ConversionSettings& settings, const std::string& imagePath,
                          const std::string& outputPath, const std::string* baseOutput = nullptr,
                          std::string* why = nullptr);

// The second-method options: background colour (without a leading '#'), centre-line, extra
// engine arguments. False when the text would not fit its 4,096-byte buffer.
bool BuildSecondMethodOptions(const ConversionSettings& settings, std::string& options);

// What the page renderer said about pages it could not write ("page 5 of 8: <reason>"), and
// why it wrote none at all.
struct RenderReport {
  std::vector<std::string> skippedPages;
  std::string failure;
  int pageCount = 0;  // as the renderer counted them; 0 when it did not say
};

// Renders every page of a PDF with pagerip into PNGs beside baseName and appends their
// paths in name (page) order. Returns 1 when the list holds at least one entry. With
// `renderers` above 1, that many renderers share the pages, each taking every renderers-th.
int RenderPdfPages(const std::string& pdfPath, const std::string& baseName,
                   std::vector<std::string>& pages, int pdfResolution,
                   RenderReport* report = nullptr, int renderers = 1);

// Appends the full path of every file (not folder) matching the pattern's last component,
// in name order; returns the size of the list afterwards.
int CollectMatchingFiles(const std::string& pattern, std::vector<std::string>& list);

// The engine run alone: the output is left, whole, in pending's private file beside outputPath
// for DeliverOutput to put under its name. 1 on success, else 0 with the reason in `why`.
int TraceSecondMethod(const ConversionSettings& settings, const std::string& imagePath,
                      const std::string& outputPath, PendingOutput& pending, std::string* why);

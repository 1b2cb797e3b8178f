#pragma once
// The steps of one job, from its input to its delivered outputs: the images it is traced
// from (the input itself when it is a PNG, its frames, or a PDF's rendered pages), the trace
// of each image with the chosen engine, and the delivery of each output under its name. The
// batch runs these steps, side by side where it may, in one job loop.
#include <string>
#include <vector>

#include "pipeline/delivery.h"
#include "pipeline/page_renderer.h"
#include "settings/conversion_settings.h"

// The images one job is traced from.
struct PageImages {
  std::vector<std::string> paths;
  bool pages = false;    // PDF pages rather than frames
  bool bitonal = false;  // frames already reduced to the outline tracer's bitmaps
  int pageCount = 0;     // the document's own count, when the renderer said it
  bool skippedAny = false;  // the renderer skipped pages (reported on their own lines)
  // Why a frame's temporary image could not be written ("No space left on device ..."):
  // its entry has no file, and its tracing fails with this reason.
  std::string unwritten;
};

// True when the input is a PDF, whose pages a renderer makes (RenderedPages); every other
// input is made into images by MakeImages.
bool IsPdfInput(const std::string& input);

// False, with the reason ("No such file or directory"), when the input cannot be read or is
// a pipe, device or socket rather than a file.
bool InputReadable(const std::string& input, std::string& why);

// The images of an input other than a PDF: a PNG is traced as it is; the frames of any other
// picture are written as temporary images (reduced to potrace's bitmaps already when potrace
// traces them). False, with the reason, when there is no image at all; a frame whose image
// could not be written fails on its own with `unwritten`.
bool MakeImages(const ConversionSettings& settings, const std::string& input, PageImages& images,
                std::string& why);

// A PDF's images, from what its renderers wrote. False, with the reason, when there is no
// page and no page was skipped either (skipped pages have lines of their own).
bool TakeRenderedPages(const RenderedPages& pages, PageImages& images, std::string& why);

// "page 5 of 8: " or "frame 2 of 3: " to put in front of the reason image `index` failed,
// "" for a job of one image.
std::string ImageLabel(const PageImages& images, int index);

// Traces image `index` of a job with the chosen engine into pending's private file beside
// outputPath. False, with the reason, on failure.
bool TraceImage(const ConversionSettings& settings, const PageImages& images, int index,
                const std::string& outputPath, PendingOutput& pending, std::string& why);

// Delivers a traced image under the first free name numbered from outputPath. False, with
// the reason, when it cannot be put there.
bool DeliverImage(PendingOutput& pending, const std::string& outputPath, std::string& why);

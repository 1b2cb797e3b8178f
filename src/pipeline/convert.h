#pragma once
#include <string>
#include <vector>

#include "settings/conversion_settings.h"
#include "pipeline/delivery.h"

// Converts one (input, output) pair; 1 when the tracer run for the last page or frame image
// delivered its output, else 0. Every failure, of the job or of one of its pages or frames,
// adds a line "tracewright: <shown input>: <reason>" on standard error; `shownInput` defaults
// to the input path, and `anyFailure`, when given, is set when such a line was printed.
int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath,
                const std::string* shownInput = nullptr, bool* anyFailure = nullptr);


// The images one job is traced from, and what went wrong while making them.
struct PageImages {
  std::vector<std::string> paths;
  std::vector<std::string> skipped;  // "page 5 of 8: <reason>" from the renderer
  std::string failure;               // why there is no image at all
  bool pages = false;                // PDF pages rather than frames
  bool bitonal = false;              // frames already reduced to the outline tracer's bitmaps
  int pageCount = 0;                 // the document's own count, when the renderer said it
};

// The ordered list of PNG images one job is traced from: the input itself, its rendered
// pages or its frames written as temporary PNGs. A PDF's pages are shared among `renderers`
// page renderers running at once.
PageImages BuildPageImageList(const ConversionSettings& settings, const std::string& input,
                              int renderers = 1);

// "page 5 of 8: " or "frame 2 of 3: " to put in front of the reason image `index` failed,
// "" for a job of one image.
std::string ImageLabel(const PageImages& images, int index);

// Why the input cannot be read ("No such file or directory"), "" when it can.
std::string InputProblem(const char* inputPath);

// Traces image `index` of a job with the chosen engine into pending's private file beside
// outputPath; 1 on success, else 0 with the reason in `why`. DeliverOutput then puts it under
// its name.
int TraceImage(const ConversionSettings& settings, const PageImages& images, int index,
               const std::string& outputPath, PendingOutput& pending, std::string* why);

// Everything before tracing: the job's images, and the failure lines that making them gave
// (an unreadable input, skipped pages, no image at all).
std::vector<std::string> PrepareJob(const ConversionSettings& settings, const char* inputPath, int renderers,
                                    PageImages& images);

// Delivers image `index` of a job once its engine has run (`traced` is TraceImage's result),
// under the first free name numbered from outputPath. Returns 1, or 0 with the failure line's
// text (the image's label and the reason) in `failure`.
int DeliverImage(int traced, PendingOutput& pending, const std::string& outputPath, const PageImages& images,
                 int index, std::string why, std::string& failure);

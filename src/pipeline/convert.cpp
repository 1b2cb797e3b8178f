#include "pipeline/convert.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "image/image_prepare.h"
#include "pipeline/diagnostics.h"
#include "pipeline/outline_tracer.h"
#include "pipeline/second_method.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

constexpr int kMaxCounter = 999999;

// The images of one job and what went wrong while making them.
struct PageImages {
  std::vector<std::string> paths;
  std::vector<std::string> skipped;  // "page 5 of 8: <reason>" from the renderer
  std::string failure;               // why there is no image at all
  bool pages = false;                // PDF pages rather than frames
  int pageCount = 0;                 // the document's own count, when the renderer said it
};

// The ordered list of PNG images one job is traced from.
PageImages BuildPageImageList(const ConversionSettings& settings, const std::string& input) {
  PageImages images;
  const std::string extension = SplitPath(input).ext;
  if (EqualNoCase(extension, ".png")) {
    images.paths.push_back(input);
  } else if (EqualNoCase(extension, ".pdf")) {
    images.pages = true;
    char base[kPathLimit] = "";
    if (MakeTempFileName(sizeof(base), base, ".png") == 0) {
      images.failure = "cannot make a temporary file";
      return images;
    }
    RenderReport report;
    RenderPdfPages(input, base, images.paths, EffectivePdfResolution(settings), &report);
    for (const std::string& page : images.paths) RegisterTempFile(page.c_str());
    images.skipped = std::move(report.skippedPages);
    images.pageCount = report.pageCount;
    if (images.paths.empty() && images.skipped.empty()) {
      images.failure = report.failure.empty() ? "the renderer wrote no page" : report.failure;
    }
  } else {
    SplitIntoFrames(input, ".png", images.paths, &images.failure);
    if (!images.paths.empty()) images.failure.clear();
    if (images.paths.empty() && images.failure.empty()) images.failure = "not a picture this program reads";
  }
  return images;
}

// The page number the renderer put into a page image's name ("...-0005.png"), else 0.
int PageNumberOf(const std::string& path) {
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

// "page 5 of 8: " or "frame 2 of 3: " in front of a reason, nothing for a single image.
std::string ImageLabel(const PageImages& images, int index) {
  const int count = static_cast<int>(images.paths.size());
  if (images.pages) {
    const int page = PageNumberOf(images.paths[static_cast<std::size_t>(index)]);
    const int total = images.pageCount > 0 ? images.pageCount : count;
    if (total <= 1 && images.skipped.empty()) return "";
    return "page " + std::to_string(page > 0 ? page : index + 1) + " of " + std::to_string(total) + ": ";
  }
  if (count <= 1) return "";
  return "frame " + std::to_string(index + 1) + " of " + std::to_string(count) + ": ";
}

// Why the input cannot be read, "" when it can.
std::string InputProblem(const char* inputPath) {
  const FileAttributes input = QueryFileAttributes(inputPath);
  if (!input.exists) return SystemError(ENOENT);
  if (input.isFolder) return SystemError(EISDIR);
  const int fd = ::open(inputPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemError(errno);
  ::close(fd);
  return "";
}

}  // namespace

std::string& MakeUniqueOutputName(std::string& path) {
  if (!FileExists(path) || IsSpecialFile(path)) return path;
  const PathParts parts = SplitPath(path);
  char number[16];
  for (int counter = 0; counter <= kMaxCounter; ++counter) {
    std::snprintf(number, sizeof(number), "%03d", counter);
    path = MakePath(parts.drive, parts.dir, parts.fname + number, parts.ext);
    if (!FileExists(path)) break;
  }
  return path;
}

int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath,
                const std::string* shownInput, bool* anyFailure) {
  const std::string shown = shownInput != nullptr ? *shownInput : std::string(inputPath);
  const auto report = [&](const std::string& reason) {
    ReportFailure(shown, reason);
    if (anyFailure != nullptr) *anyFailure = true;
  };
  const std::string problem = InputProblem(inputPath);
  if (!problem.empty()) {
    report(problem);
    return 0;
  }

  const PageImages images = BuildPageImageList(settings, inputPath);
  for (const std::string& skipped : images.skipped) report(skipped);
  if (!images.failure.empty()) report(images.failure);
  const int count = static_cast<int>(images.paths.size());
  const std::string base = outputPath;
  int result = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("Processing %d of %d...\n", i + 1, count);
    std::fflush(stdout);
    std::string output = outputPath;
    MakeUniqueOutputName(output);
    std::string why;
    result = settings.secondMethod ? RunSecondMethodTracer(settings, images.paths[i], output, &base, &why)
                                   : RunOutlineTracer(settings, images.paths[i], output, &base, &why);
    if (result == 0) report(ImageLabel(images, i) + (why.empty() ? "no output was written" : why));
  }
  return result;
}

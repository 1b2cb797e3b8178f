#include "pipeline/convert.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "image/prepare.h"
#include "pipeline/diagnostics.h"
#include "pipeline/outline_tracer.h"
#include "pipeline/second_method.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"
#include "settings/output_names.h"

namespace {

}  // namespace

PageImages BuildPageImageList(const ConversionSettings& settings, const std::string& input,
                              int renderers) {
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
    RenderPdfPages(input, base, images.paths, EffectivePdfResolution(settings), &report, renderers);
    for (const std::string& page : images.paths) RegisterTempFile(page.c_str());
    images.skipped = std::move(report.skippedPages);
    images.pageCount = report.pageCount;
    if (images.paths.empty() && images.skipped.empty()) {
      images.failure = report.failure.empty() ? "the renderer wrote no page" : report.failure;
    }
  } else if (!settings.secondMethod) {
    // Only potrace reads the frames, as bitmaps: they are reduced in memory, not through a
    // PNG file of each.
    images.bitonal = true;
    SplitIntoBitonalFrames(input, ".bmp", images.paths, EffectiveThreshold(settings), &images.failure);
    if (!images.paths.empty()) images.failure.clear();
    if (images.paths.empty() && images.failure.empty()) images.failure = "not a picture this program reads";
  } else {
    SplitIntoFrames(input, ".png", images.paths, &images.failure);
    if (!images.paths.empty()) images.failure.clear();
    if (images.paths.empty() && images.failure.empty()) images.failure = "not a picture this program reads";
  }
  return images;
}

namespace {

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

}  // namespace

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

std::string InputProblem(const char* inputPath) {
  const FileAttributes input = QueryFileAttributes(inputPath);
  if (!input.exists) return SystemError(ENOENT);
  if (input.isFolder) return SystemError(EISDIR);
  const int fd = ::open(inputPath, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return SystemError(errno);
  ::close(fd);
  return "";
}

int TraceImage(const ConversionSettings& settings, const PageImages& images, int index,
               const std::string& outputPath, PendingOutput& pending, std::string* why) {
  const std::string& image = images.paths[static_cast<std::size_t>(index)];
  return settings.secondMethod ? TraceSecondMethod(settings, image, outputPath, pending, why)
                               : TraceOutline(settings, image, outputPath, pending, why, images.bitonal);
}

std::vector<std::string> PrepareJob(const ConversionSettings& settings, const char* inputPath, int renderers,
                                    PageImages& images) {
  const std::string problem = InputProblem(inputPath);
  if (!problem.empty()) return {problem};
  images = BuildPageImageList(settings, inputPath, renderers);
  std::vector<std::string> failures = images.skipped;
  if (!images.failure.empty()) failures.push_back(images.failure);
  return failures;
}

int DeliverImage(int traced, PendingOutput& pending, const std::string& outputPath, const PageImages& images,
                 int index, std::string why, std::string& failure) {
  if (traced != 0) {
    std::string chosen = outputPath;
    MakeUniqueOutputName(chosen);
    if (DeliverOutput(pending, chosen, outputPath, &why) != 0) return 1;
  }
  failure = ImageLabel(images, index) + (why.empty() ? "no output was written" : why);
  return 0;
}

int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath,
                const std::string* shownInput, bool* anyFailure) {
  const std::string shown = shownInput != nullptr ? *shownInput : std::string(inputPath);
  const auto report = [&](const std::string& reason) {
    ReportFailure(shown, reason);
    if (anyFailure != nullptr) *anyFailure = true;
  };
  PageImages images;
  for (const std::string& failure : PrepareJob(settings, inputPath, 1, images)) report(failure);
  const int count = static_cast<int>(images.paths.size());
  int result = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("Processing %d of %d...\n", i + 1, count);
    std::fflush(stdout);
    std::string why;
    std::string failure;
    PendingOutput pending;
    const int traced = TraceImage(settings, images, i, outputPath, pending, &why);
    result = DeliverImage(traced, pending, outputPath, images, i, why, failure);
    if (result == 0) report(failure);
  }
  return result;
}

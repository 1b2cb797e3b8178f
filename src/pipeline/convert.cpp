#include "pipeline/convert.h"

#include <cstdio>
#include <vector>

#include "image/prepare.h"
#include "pipeline/outline_tracer.h"
#include "pipeline/second_method.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

constexpr int kMaxCounter = 999999;

// The ordered list of PNG images one job is traced from.
std::vector<std::string> BuildPageImageList(const ConversionSettings& settings, const std::string& input) {
  std::vector<std::string> images;
  const std::string extension = SplitPath(input).ext;
  if (EqualNoCase(extension, ".png")) {
    images.push_back(input);
  } else if (EqualNoCase(extension, ".pdf")) {
    char base[kPathLimit] = "";
    if (MakeTempFileName(sizeof(base), base, ".png") == 0) return images;
    RenderPdfPages(input, base, images, settings.pdfResolution);
    for (const std::string& page : images) RegisterTempFile(page.c_str());
  } else {
    SplitIntoFrames(input, ".png", images);
  }
  return images;
}

}  // namespace

std::string& MakeUniqueOutputName(std::string& path) {
  if (!FileExists(path)) return path;
  const PathParts parts = SplitPath(path);
  char number[16];
  for (int counter = 0; counter <= kMaxCounter; ++counter) {
    std::snprintf(number, sizeof(number), "%03d", counter);
    path = MakePath(parts.drive, parts.dir, parts.fname + number, parts.ext);
    if (!FileExists(path)) break;
  }
  return path;
}

int ConvertFile(const ConversionSettings& settings, const char* inputPath, const char* outputPath) {
  const FileAttributes input = QueryFileAttributes(inputPath);
  if (!input.exists || input.isFolder) return 0;

  const std::vector<std::string> images = BuildPageImageList(settings, inputPath);
  const int count = static_cast<int>(images.size());
  int result = 0;
  for (int i = 0; i < count; ++i) {
    std::printf("Processing %d of %d...\n", i + 1, count);
    std::fflush(stdout);
    std::string output = outputPath;
    MakeUniqueOutputName(output);
    result = settings.secondMethod ? RunSecondMethodTracer(settings, images[i], output)
                                   : RunOutlineTracer(settings, images[i], output);
  }
  return result;
}

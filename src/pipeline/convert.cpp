#include "pipeline/convert.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "image/io/format.h"
#include "image/prepare.h"
#include "pipeline/diagnostics.h"
#include "pipeline/outline_tracer.h"
#include "pipeline/page_renderer.h"
#include "pipeline/second_method.h"
#include "platform/files.h"
#include "platform/path.h"
#include "settings/output_names.h"

bool IsPdfInput(const std::string& input) { return EqualNoCase(ExtensionOf(input), "pdf"); }

bool InputReadable(const std::string& input, std::string& why) {
  const FileAttributes attributes = QueryFileAttributes(input);
  int error = !attributes.exists ? ENOENT : attributes.isFolder ? EISDIR : 0;
  if (error == 0) {
    const int fd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) error = errno;
    if (fd >= 0) ::close(fd);
  }
  if (error != 0) why = SystemError(error);
  // A pipe or device could keep the batch waiting for ever: only files are read.
  if (error == 0 && IsSpecialFile(input)) {
    why = "not a regular file (pipes and devices are not read)";
    return false;
  }
  return error == 0;
}

bool MakeImages(const ConversionSettings& settings, const std::string& input, PageImages& images,
                std::string& why) {
  images = PageImages{};
  if (EqualNoCase(ExtensionOf(input), "png")) {
    images.paths.push_back(input);
    return true;
  }
  std::string reason;
  if (!settings.secondMethod) {
    // Only potrace reads the frames, as bitmaps: they are reduced in memory, not through a
    // PNG file of each.
    images.bitonal = true;
    SplitIntoBitonalFrames(input, ".bmp", images.paths, EffectiveThreshold(settings), &reason);
  } else {
    SplitIntoFrames(input, ".png", images.paths, &reason);
  }
  if (!images.paths.empty()) {
    images.unwritten = reason;
    return true;
  }
  why = reason.empty() ? "not a picture this program reads" : reason;
  return false;
}

bool TakeRenderedPages(const RenderedPages& pages, PageImages& images, std::string& why) {
  images = PageImages{};
  images.pages = true;
  images.paths = pages.paths;
  images.pageCount = pages.pageCount;
  images.skippedAny = !pages.skippedPages.empty();
  if (!pages.failure.empty()) why = pages.failure;
  return pages.failure.empty();
}

std::string ImageLabel(const PageImages& images, int index) {
  const int count = static_cast<int>(images.paths.size());
  if (images.pages) {
    const int page = PageNumberOfImage(images.paths[static_cast<std::size_t>(index)]);
    const int total = images.pageCount > 0 ? images.pageCount : count;
    if (total <= 1 && !images.skippedAny) return "";
    return "page " + std::to_string(page > 0 ? page : index + 1) + " of " + std::to_string(total) + ": ";
  }
  if (count <= 1) return "";
  return "frame " + std::to_string(index + 1) + " of " + std::to_string(count) + ": ";
}

bool TraceImage(const ConversionSettings& settings, const PageImages& images, int index,
                const std::string& outputPath, PendingOutput& pending, std::string& why) {
  const std::string& image = images.paths[static_cast<std::size_t>(index)];
  if (!images.unwritten.empty() && !FileExists(image)) {
    why = images.unwritten;
    return false;
  }
  return settings.secondMethod ? TraceSecondMethod(settings, image, outputPath, pending, why)
                               : TraceOutline(settings, image, images.bitonal, outputPath, pending, why);
}

bool DeliverImage(PendingOutput& pending, const std::string& outputPath, std::string& why) {
  pending.base = outputPath;
  pending.chosen = outputPath;
  MakeUniqueOutputName(pending.chosen);
  return PublishOutput(pending, why);
}

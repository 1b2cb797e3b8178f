#include "pipeline/outline_tracer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "image/io/format.h"
#include "image/prepare.h"
#include "pipeline/child_runner.h"
#include "pipeline/delivery.h"
#include "pipeline/diagnostics.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"
#include "platform/process.h"

namespace {

struct BackendSwitch {
  const char* extension;
  const char* text;
};

constexpr BackendSwitch kBackends[] = {
    {"pdf", "-b pdf"}, {"eps", "-e"},          {"ps", "-p"},
    {"svg", "-s"},     {"pgm", "-g"},          {"pdfpage", "-b pdfpage"},
    {"dxf", "-b dxf"}, {"gimppath", "-b gimppath"}, {"xfig", "-b xfig"},
};

const char* BackendFor(const std::string& extension) {
  for (const BackendSwitch& backend : kBackends) {
    if (EqualNoCase(extension, backend.extension)) return backend.text;
  }
  return "";
}

}  // namespace

bool BuildOutlineOptions(const ConversionSettings& s, const std::string& extension, std::string& options) {
  struct TextOption {
    const char* flag;
    const char* value;
  };
  const TextOption texts[] = {
      {" -P ", s.pageSize},     {" -W ", s.width},         {" -H ", s.height},
      {" -r ", s.resolution},   {" -A ", s.rotation},      {" -M ", s.margin},
      {" -L ", s.leftMargin},   {" -R ", s.rightMargin},   {" -T ", s.topMargin},
      {" -B ", s.bottomMargin},
  };
  std::string text = BackendFor(extension);
  if (s.speckleSize > 0) text += " -t " + std::to_string(s.speckleSize);
  for (const TextOption& option : texts) {
    if (option.value[0] != '\0') text += std::string(option.flag) + option.value;
  }
  if (s.tight) text += " --tight";
  if (s.lineColor[0] != '\0') text += std::string(" --color ") + s.lineColor;
  if (s.fillColor[0] != '\0') text += std::string(" --fillcolor ") + s.fillColor;
  if (s.opaque) text += " --opaque";
  if (s.svgGroup) text += " --group";
  if (s.svgFlat) text += " --flat";
  if (s.invert) text += " --invert";
  if (s.extraEngineArgs[0] != '\0') text += std::string(" ") + s.extraEngineArgs;
  if (text.size() >= kTracerOptionsCapacity) return false;
  options = std::move(text);
  return true;
}

namespace {

// Extensions of formats potrace has no backend for: writing its default EPS under such a name
// would only mislabel the file.
constexpr const char* kForeignExtensions[] = {"emf", "bmp", "gif", "jpg", "jpeg", "tif", "tiff",
                                              "tga", "pcx", "pbm", "ppm", "pnm", "jp2", "j2k", "webp"};

bool IsForeignExtension(const std::string& extension) {
  for (const char* foreign : kForeignExtensions) {
    if (EqualNoCase(extension, foreign)) return true;
  }
  return false;
}

// Runs potrace on the bitmap into `target`. potrace reads a bitmap held in memory on its
// standard input ("-"), one on disk by its path, and writes through its standard output
// ("-o -") into the target, which it therefore neither makes nor truncates.
bool RunOutlineEngine(const std::string& tool, const std::string& options, const std::string& bitmap,
                      const std::string& target, std::string& why) {
  ChildStreams streams;
  std::string input = QuoteArgument(bitmap);
  const int held = MemoryTempFile(bitmap);
  if (held >= 0 && ::lseek(held, 0, SEEK_SET) == 0) {
    streams.input = held;
    input = "-";
  }
  streams.output = ::open(target.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (streams.output < 0) {
    why = "cannot write " + target + ": " + SystemError(errno);
    return false;
  }
  const bool ok = RunTracer("potrace", QuoteArgument(tool) + " " + options + " -o - " + input,
                            kTracerCommandCapacity, why, streams);
  ::close(streams.output);
  return ok;
}

}  // namespace

bool TraceOutline(const ConversionSettings& settings, const std::string& imagePath, bool readyBitmap,
                  const std::string& outputPath, PendingOutput& pending, std::string& why) {
  std::string tool;
  if (!FindTracer("potrace", imagePath, tool, why)) return false;
  const std::string extension = ExtensionOf(outputPath);
  if (IsForeignExtension(extension)) {
    why = "potrace cannot write ." + extension + " files (-method2 writes emf)";
    return false;
  }
  // A PNG is potrace's own rendering of the curves, which we then encode as PNG.
  const bool png = EqualNoCase(extension, "png");
  const std::string backend = png ? "pgm" : extension;
  std::string options;
  if (!BuildOutlineOptions(settings, backend, options)) {
    why = "potrace options too long";
    return false;
  }
  std::vector<std::string> bitmaps;
  if (readyBitmap) {
    bitmaps.push_back(imagePath);
  } else {
    std::string reason;
    PrepareBitonal(imagePath, ".bmp", bitmaps, EffectiveThreshold(settings), &reason);
    if (bitmaps.empty()) {
      why = reason.empty() ? "the image could not be prepared" : reason;
      return false;
    }
  }
  const bool begun = BeginOutput(outputPath, pending, why);
  bool ok = begun && RunOutlineEngine(tool, options, bitmaps.front(), pending.target, why);
  // The bitmaps have served (only the first frame is traced); a long batch should not keep
  // every one of them until its end.
  for (const std::string& bitmap : bitmaps) ReleaseTempFile(bitmap);
  if (!begun) return false;
  if (ok && !pending.inPlace) {
    ok = OutputLooksWhole(pending, backend, why) && (!png || RewritePnmAsPng(pending.target, pending.target, &why));
  }
  if (!ok) AbandonOutput(pending);
  return ok;
}

#include "pipeline/outline_tracer.h"

#include <cstdio>
#include <string>
#include <vector>

#include "image/prepare.h"
#include "pipeline/child_runner.h"
#include "pipeline/engine_paths.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/process.h"

namespace {

constexpr std::size_t kCommandCapacity = 4096;

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
  if (text.size() >= kCommandCapacity) return false;
  options = std::move(text);
  return true;
}

int RunOutlineTracer(const ConversionSettings& settings, const std::string& imagePath,
                     const std::string& outputPath) {
  if (!FileExists(imagePath)) return 0;
  const std::string tool = ToolPath("potrace");
  if (tool.empty() || !FileExists(tool)) return 0;

  std::string options;
  if (!BuildOutlineOptions(settings, OutputExtension(outputPath), options)) {
    std::fprintf(stderr, "potrace options too long for %s\n", outputPath.c_str());
    return 0;
  }

  std::vector<std::string> bitmaps;
  PrepareBitonal(imagePath, ".bmp", bitmaps, EffectiveThreshold(settings));
  if (bitmaps.empty()) return 0;

  std::string command;
  if (!AppendBounded(command, QuoteArgument(tool) + " " + options + " -o " + QuoteArgument(outputPath) +
                                  " " + QuoteArgument(bitmaps.front()),
                     kCommandCapacity)) {
    std::fprintf(stderr, "potrace command line too long for %s\n", outputPath.c_str());
    return 0;
  }
  std::string captured;
  RunChildProcess(command, captured);
  return FileExists(outputPath) ? 1 : 0;
}

#include "pipeline/second_method.h"

#include "image/io/format.h"
#include "pipeline/child_runner.h"
#include "platform/process.h"

bool BuildSecondMethodOptions(const ConversionSettings& s, std::string& options) {
  std::string text;
  if (s.fillColor[0] != '\0') {
    const char* colour = s.fillColor[0] == '#' ? s.fillColor + 1 : s.fillColor;
    text += std::string("-background-color ") + colour;
  }
  if (s.centerline) text += " -centerline";
  if (s.extraEngineArgs[0] != '\0') text += std::string(" ") + s.extraEngineArgs;
  if (text.size() >= kTracerOptionsCapacity) return false;
  options = std::move(text);
  return true;
}

bool TraceSecondMethod(const ConversionSettings& settings, const std::string& imagePath,
                       const std::string& outputPath, PendingOutput& pending, std::string& why) {
  std::string tool;
  if (!FindTracer("autotrace", imagePath, tool, why)) return false;
  std::string options;
  if (!BuildSecondMethodOptions(settings, options)) {
    why = "autotrace options too long";
    return false;
  }
  if (!BeginOutput(outputPath, pending, why)) return false;
  if (!RunTracer("autotrace",
                 QuoteArgument(tool) + " " + options + " -output-file " + QuoteArgument(pending.target) +
                     " -output-format " + QuoteArgument(ExtensionOf(outputPath)) + " " + QuoteArgument(imagePath),
                 kTracerCommandCapacity, why)) {
    AbandonOutput(pending);
    return false;
  }
  return true;
}

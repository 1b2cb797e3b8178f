#include "pipeline/second_method.h"

#include "image/io/format.h"
#include "pipeline/child_runner.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

constexpr std::size_t kTracerCommandCapacity = 4096;

}  // namespace

bool BuildSecondMethodOptions(const ConversionSettings& s, std::string& options) {
  std::string text;
  if (s.fillColor[0] != '\0') {
    const char* colour = s.fillColor[0] == '#' ? s.fillColor + 1 : s.fillColor;
    text += std::string("-background-color ") + colour;
  }
  if (s.centerline) text += " -centerline";
  if (s.extraEngineArgs[0] != '\0') text += std::string(" ") + s.extraEngineArgs;
  if (text.size() >= kTracerCommandCapacity) return false;
  options = std::move(text);
  return true;
}

bool TraceSecondMethod(const ConversionSettings& settings, const std::string& imagePath,
                       const std::string& outputPath, PendingOutput& pending, std::string& why) {
  if (!FileExists(imagePath)) {
    why = "the image to trace is missing";
    return false;
  }
  const std::string tool = ToolPath("autotrace");
  if (tool.empty() || !FileExists(tool)) {
    why = "autotrace is not available";
    return false;
  }
  std::string options;
  if (!BuildSecondMethodOptions(settings, options)) {
    why = "autotrace options too long";
    return false;
  }
  if (!BeginOutput(outputPath, pending, why)) return false;
  std::string command;
  if (!AppendBounded(command,
                     QuoteArgument(tool) + " " + options + " -output-file " + QuoteArgument(pending.target) +
                         " -output-format " + QuoteArgument(ExtensionOf(outputPath)) + " " +
                         QuoteArgument(imagePath),
                     kTracerCommandCapacity)) {
    AbandonOutput(pending);
    why = "autotrace command line too long";
    return false;
  }
  std::string captured;
  const ProcessResult run = RunEngine(command, captured);
  const std::string reason = EngineFailure("autotrace", run, captured);
  if (!reason.empty()) {
    AbandonOutput(pending);
    why = reason;
    return false;
  }
  return true;
}

#pragma once
// The tracer's command line.
#include <string>
#include <vector>

#include "types.h"

namespace at {

struct Options {
  std::string inputFile;
  std::string outputFile;    // "" = standard output
  std::string outputFormat;  // as given; "" = from the output file's suffix, else eps
  std::string inputFormat;   // as given; "" = from the file's contents
  bool hasBackground = false;
  Rgb background;
  bool centerline = false;
  int colorCount = 0;  // 0 = no reduction
  int despeckleLevel = 0;
  double despeckleTightness = 2.0;
  double cornerThreshold = 100.0;       // degrees
  double cornerAlwaysThreshold = 60.0;  // degrees
  int cornerSurround = 4;
  double errorThreshold = 2.0;  // pixels
  int filterIterations = 4;
  double lineReversionThreshold = 0.01;
  double lineThreshold = 1.0;  // pixels
  bool removeAdjacentCorners = false;
  int tangentSurround = 3;
  bool preserveWidth = false;
  double widthWeightFactor = 6.0;
  double noiseRemoval = 0.99;
  double dpi = 72.0;
  bool log = false;
  bool reportProgress = false;
  bool version = false;
  bool help = false;
  bool listOutputFormats = false;
  bool listInputFormats = false;
};

// Fills `options` from the arguments (program name excluded). Options take one or two dashes
// and may be shortened to any unambiguous prefix; a value follows after a blank or '='.
// Returns false with a message in `error` on an unknown, ambiguous or malformed option.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// "RRGGBB" with or without a leading '#'.
bool ParseColor(const std::string& text, Rgb& color);

std::string UsageText();

}  // namespace at

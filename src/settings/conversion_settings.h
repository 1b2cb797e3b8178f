#pragma once
// Everything the command line says about one run. Zero-filled before parsing, filled once
// by ParseCommandLine and read-only afterwards. Texts are kept as the user typed them and
// handed unchanged to the engines; defaults are applied where the values are used.
#include <cstdint>

#include "platform/path.h"

struct ConversionSettings {
  // As long as the system takes a path (kPathLimit, its terminating zero included).
  char inputPath[kPathLimit];
  char outputPath[kPathLimit];
  int32_t showVersion;
  int32_t showHelp;
  int32_t speckleSize;
  char pageSize[1024];
  char width[4096];
  char height[4096];
  char resolution[1000];
  char rotation[1000];
  char margin[1024];
  char leftMargin[1024];
  char rightMargin[1024];
  char topMargin[1024];
  char bottomMargin[1024];
  int32_t tight;
  char lineColor[1024];
  char fillColor[1024];
  int32_t opaque;
  int32_t svgGroup;
  int32_t svgFlat;
  int32_t invert;
  char extraEngineArgs[1024];
  int32_t secondMethod;
  int32_t centerline;
  int32_t bwThreshold;
  int32_t pdfResolution;
};

// The values the options stand for, where the record keeps them as typed; computed here and
// nowhere else.
// Threshold actually used: bwThreshold when from 11 to 254, else 240.
int EffectiveThreshold(const ConversionSettings& settings);
// PDF rendering resolution actually used: pdfResolution when above 0, else 150.
int EffectivePdfResolution(const ConversionSettings& settings);

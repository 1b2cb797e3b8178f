#include "settings/conversion_settings.h"

namespace {

constexpr int kDefaultThreshold = 240;
constexpr int kDefaultPdfResolution = 150;

}  // namespace

int EffectiveThreshold(const ConversionSettings& settings) {
  return (settings.bwThreshold >= 11 && settings.bwThreshold <= 254) ? settings.bwThreshold : kDefaultThreshold;
}

int EffectivePdfResolution(const ConversionSettings& settings) {
  return settings.pdfResolution > 0 ? settings.pdfResolution : kDefaultPdfResolution;
}

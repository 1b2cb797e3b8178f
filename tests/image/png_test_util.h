#pragma once
// Helpers of the PNG and JPEG codec tests: decoding from bytes, a comparison that leaves out
// fully transparent pixels, and a small PNG writer that uses libpng directly (so the tests
// of our decoder do not rest on our encoder).
#include <cstdint>
#include <vector>

#include "image/core/image.h"
#include "image/io/stream.h"
#include "image/ref_png.h"

namespace pngjpgtest {

template <typename Codec>
bool DecodeBytes(const std::vector<uint8_t>& bytes, Codec& image, int32_t escape = 0) {
  CxMemStream stream(bytes.data(), bytes.size());
  image.SetEscape(escape);
  return image.Decode(&stream);
}

// Whether the decoded pixel (x, y from the bottom) is marked fully transparent.
bool IsFullyTransparent(const CxImage& image, uint32_t x, uint32_t y);

// Like imagetest::CountPixelDifferences, but pixels marked fully transparent are skipped.
int64_t CountOpaqueDifferences(const CxImage& image, const imagetest::RefImage& ref,
                               int tolerance);

struct PngSpec {
  uint32_t width = 1;
  uint32_t height = 1;
  int bitDepth = 8;
  int colourType = 0;  // PNG_COLOR_TYPE_*
  bool interlaced = false;
  std::vector<uint8_t> paletteRgb;  // R,G,B triples
  std::vector<uint8_t> paletteAlpha;
  bool hasKey = false;              // tRNS for grey / RGB
  uint16_t keyGrey = 0, keyRed = 0, keyGreen = 0, keyBlue = 0;
  bool hasPhys = false;
  uint32_t physX = 0, physY = 0;
  int physUnit = 0;
  int filters = 0;  // PNG_FILTER_* the writer may choose from; 0 leaves it to libpng
};

// rows: top row first, each in PNG's packed sample layout (16-bit samples big-endian).
std::vector<uint8_t> MakePng(const PngSpec& layout, const std::vector<std::vector<uint8_t>>& rows);

}  // namespace pngjpgtest

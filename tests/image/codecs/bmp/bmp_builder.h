#pragma once
// Builds BMP files of every header variant for the tests.
#include <cstdint>
#include <vector>

#include "image/core/image.h"

namespace imagetest {

struct BmpLayout {
  uint32_t headerSize = 40;  // 12 (core), 40, 64, 108, 124, or anything for rejection tests
  int32_t width = 1;
  int32_t height = 1;
  uint16_t planes = 1;
  uint16_t bitCount = 8;
  uint32_t compression = 0;
  uint32_t sizeImage = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  std::vector<RgbQuad> palette;     // written as 3-byte entries for the core header
  std::vector<uint32_t> masks;      // after a 40-byte header, or inside a longer one
  std::vector<uint8_t> pixels;      // written as given
  bool fileHeader = true;
  int64_t offBitsOverride = -1;     // -1: computed
};

std::vector<uint8_t> BuildBmp(const BmpLayout& layout);

// Rows of `stride` bytes each, zero padded, from per-row byte lists (first list = first row
// in the file).
std::vector<uint8_t> PadRows(const std::vector<std::vector<uint8_t>>& rows, uint32_t stride);

}  // namespace imagetest

#pragma once
// Centre-lines of strokes, first steps: noise removal, distance transform and thinning to
// lines one pixel wide.
#include <cstdint>
#include <vector>

#include "types.h"

namespace at {

// A picture of colour indices; kNoStroke marks the background. Strokes of different
// colours are separate strokes even where they touch.
constexpr uint32_t kNoStroke = 0xFFFFFFFFu;

struct Mask {
  int width = 0, height = 0;
  std::vector<uint32_t> bits;
  uint32_t At(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return kNoStroke;
    return bits[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

// Fills specks of background enclosed by strokes (edge-connected, clear of the picture's
// border, at most maxArea pixels) with the stroke colour around them: a pinhole in a stroke
// would otherwise thin into a small loop.
void FillPinholes(Mask& mask, size_t maxArea);

// Gives each pixel that agrees with fewer than (1 - level) of its eight neighbours the
// value most of them have.
void RemoveNoise(Mask& mask, double level);

// About the distance from each stroke pixel's centre to the nearest pixel centre of another
// colour or the background (0 on the background). One pass for all colours: the distance to
// the nearest pixel on any colour boundary, plus one.
std::vector<float> DistanceToBackground(const Mask& mask);

// Thins the strokes to 8-connected lines one pixel wide.
void Thin(Mask& mask);

}  // namespace at

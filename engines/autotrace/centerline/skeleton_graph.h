#pragma once
// The skeleton graph of a thinned mask: its lines as paths between ends and junctions,
// with spurs pruned and close junctions merged.
#include <cstdint>
#include <vector>

#include "centerline/thin.h"
#include "types.h"

namespace at {

struct SkeletonPath {
  std::vector<Point> points;  // pixel-centre coordinates of the mask
  bool closed = false;
  double width = 1.0;         // measured stroke width in pixels
  uint32_t color = 0;
};

// The lines of a thinned mask as paths between ends and junctions, closed loops, and dots.
// Branches from an end to a junction shorter than the stroke width there are dropped, and
// junctions closer together than the stroke width are merged into one.
std::vector<SkeletonPath> ExtractPaths(const Mask& skeleton, const std::vector<float>& distance,
                                       double widthWeightFactor);

}  // namespace at

#pragma once
// From an indexed image to a drawing: outlines of colour regions, or centre-lines of strokes.
#include <cstdint>
#include <vector>

#include "fit.h"
#include "types.h"

namespace at {

struct CenterlineParams {
  bool preserveWidth = false;
  double widthWeightFactor = 6.0;
  double noiseRemoval = 0.99;
};

// Every region not of the background colour becomes a filled shape. Shapes come largest
// first, so that a region painted over a hole of its neighbour lies on top of it.
// With `shades` (the picture the image was indexed from), boundaries follow the picture's
// anti-aliased ramps between pixels instead of the pixel edges.
Drawing TraceOutlines(const IndexedImage& image, const FitParams& params, const Image* shades = nullptr);
// The same for a picture LabelRegionsInPlace has labelled (`regionColor` is what it
// returned); the picture is used up.
Drawing TraceLabelledOutlines(IndexedImage&& labelled, const std::vector<uint32_t>& regionColor,
                              const FitParams& params, const Image* shades = nullptr);

// Every colour but the background is thinned to one-pixel lines that become stroked paths.
Drawing TraceCenterlines(const IndexedImage& image, const FitParams& fit, const CenterlineParams& params);

}  // namespace at

#include "centerline/thin.h"
#include "trace.h"

namespace at {

// All colours are thinned together in one picture: a stroke pixel only ever looks at
// neighbours of its own colour, so the colours do not disturb each other, and the work is
// linear in the picture's size however the colours are scattered.
Drawing TraceCenterlines(const IndexedImage& image, const FitParams& fit, const CenterlineParams& params) {
  Drawing drawing;
  drawing.width = image.width;
  drawing.height = image.height;
  Mask mask;
  mask.width = image.width;
  mask.height = image.height;
  mask.bits = image.index;
  for (uint32_t& c : mask.bits)
    if (static_cast<int>(c) == image.background) c = kNoStroke;
  if (params.noiseRemoval < 1.0) RemoveNoise(mask, params.noiseRemoval);
  const std::vector<float> distance = DistanceToBackground(mask);
  Thin(mask);
  for (SkeletonPath& path : ExtractPaths(mask, distance, params.widthWeightFactor)) {
    Shape shape;
    shape.color = image.palette[path.color];
    shape.stroked = true;
    shape.width = params.preserveWidth ? path.width : 1.0;
    Contour contour = FitPoints(path.points, path.closed, fit);
    contour.closed = path.closed;
    shape.contours.push_back(std::move(contour));
    drawing.shapes.push_back(std::move(shape));
  }
  return drawing;
}

}  // namespace at

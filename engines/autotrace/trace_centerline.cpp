#include <algorithm>

#include "centerline/thin.h"
#include "trace.h"

namespace at {

Drawing TraceCenterlines(const IndexedImage& image, const FitParams& fit, const CenterlineParams& params) {
  Drawing drawing;
  drawing.width = image.width;
  drawing.height = image.height;
  const size_t colors = image.palette.size();
  // Each colour is thinned on its own, inside its bounding box with a blank margin.
  struct Box {
    int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  };
  std::vector<Box> boxes(colors);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      Box& b = boxes[image.At(x, y)];
      b.x0 = std::min(b.x0, x);
      b.y0 = std::min(b.y0, y);
      b.x1 = std::max(b.x1, x);
      b.y1 = std::max(b.y1, y);
    }
  }
  for (size_t c = 0; c < colors; ++c) {
    const Box& b = boxes[c];
    if (static_cast<int>(c) == image.background || b.x1 < 0) continue;
    Mask mask;
    mask.width = b.x1 - b.x0 + 3;
    mask.height = b.y1 - b.y0 + 3;
    mask.bits.assign(static_cast<size_t>(mask.width) * static_cast<size_t>(mask.height), 0);
    for (int y = b.y0; y <= b.y1; ++y)
      for (int x = b.x0; x <= b.x1; ++x)
        if (image.At(x, y) == c)
          mask.bits[static_cast<size_t>(y - b.y0 + 1) * static_cast<size_t>(mask.width) + static_cast<size_t>(x - b.x0 + 1)] = 1;
    if (params.noiseRemoval < 1.0) RemoveNoise(mask, params.noiseRemoval);
    const std::vector<float> distance = DistanceToBackground(mask);
    Thin(mask);
    const double dx = b.x0 - 1, dy = b.y0 - 1;
    for (SkeletonPath& path : ExtractPaths(mask, distance, params.widthWeightFactor)) {
      for (Point& p : path.points) {
        p.x += dx;
        p.y += dy;
      }
      Shape shape;
      shape.color = image.palette[c];
      shape.stroked = true;
      shape.width = params.preserveWidth ? path.width : 1.0;
      Contour contour = FitPoints(path.points, path.closed, fit);
      contour.closed = path.closed;
      shape.contours.push_back(std::move(contour));
      drawing.shapes.push_back(std::move(shape));
    }
  }
  return drawing;
}

}  // namespace at

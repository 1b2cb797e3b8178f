#pragma once
// Cubic Beziers as polylines, for formats without curves.
#include <algorithm>
#include <cmath>
#include <vector>

#include "types.h"

namespace at {

// Appends the points of the contour after its start, curves split finely enough that no
// chord is more than about `tolerance` from its curve.
inline void FlattenContour(const Contour& c, double tolerance, std::vector<Point>& out) {
  out.push_back(c.start);
  Point p0 = c.start;
  for (const Segment& s : c.segs) {
    if (!s.line) {
      const double ax = p0.x - 2 * s.c1.x + s.c2.x, ay = p0.y - 2 * s.c1.y + s.c2.y;
      const double bx = s.c1.x - 2 * s.c2.x + s.end.x, by = s.c1.y - 2 * s.c2.y + s.end.y;
      const double dd = std::sqrt(std::max(ax * ax + ay * ay, bx * bx + by * by));
      const int n = std::clamp(static_cast<int>(std::ceil(std::sqrt(0.75 * dd / tolerance))), 1, 256);
      for (int k = 1; k < n; ++k) {
        const double t = static_cast<double>(k) / n, u = 1 - t;
        out.push_back(Point{u * u * u * p0.x + 3 * u * u * t * s.c1.x + 3 * u * t * t * s.c2.x + t * t * t * s.end.x,
                            u * u * u * p0.y + 3 * u * u * t * s.c1.y + 3 * u * t * t * s.c2.y + t * t * t * s.end.y});
      }
    }
    out.push_back(s.end);
    p0 = s.end;
  }
}

}  // namespace at

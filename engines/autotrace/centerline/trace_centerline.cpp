#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

#include "centerline/thin.h"
#include "centerline/skeleton_graph.h"
#include "trace.h"

namespace at {
namespace {

// Background specks up to this many pixels inside a stroke are pinholes, not holes.
constexpr size_t kMaxPinhole = 8;

bool Near(Point a, Point b, double d) { return std::hypot(a.x - b.x, a.y - b.y) <= d; }

// Thinning eats a stroke back from its free ends by about half its width. A free end (no
// other path ends near it) is carried on in the direction the path arrives in, up to the
// last stroke pixel in that direction: the stroke's tip.
void ExtendFreeEnds(std::vector<SkeletonPath>& paths, const std::vector<float>& distance, int w, int h) {
  auto stroke = [&](Point p) {
    const int x = static_cast<int>(std::floor(p.x)), y = static_cast<int>(std::floor(p.y));
    return x >= 0 && y >= 0 && x < w && y < h && distance[static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x)] > 0;
  };
  for (size_t i = 0; i < paths.size(); ++i) {
    SkeletonPath& path = paths[i];
    if (path.closed || path.points.size() < 2) continue;
    for (int end = 0; end < 2; ++end) {
      std::vector<Point>& pts = path.points;
      const Point tip = end == 0 ? pts.front() : pts.back();
      bool free = true;
      for (size_t j = 0; j < paths.size() && free; ++j) {
        if (j == i || paths[j].points.empty()) continue;
        free = !Near(paths[j].points.front(), tip, 2.0) && !Near(paths[j].points.back(), tip, 2.0);
      }
      if (!free) continue;
      // The direction over the last stretch of about a stroke width.
      const double reach = std::max(3.0, path.width);
      Point from = tip;
      double run = 0;
      for (size_t k = 1; k < pts.size() && run < reach; ++k) {
        const Point q = end == 0 ? pts[k] : pts[pts.size() - 1 - k];
        run += std::hypot(q.x - from.x, q.y - from.y);
        from = q;
      }
      const double len = std::hypot(tip.x - from.x, tip.y - from.y);
      if (len < 1e-9) continue;
      const Point dir{(tip.x - from.x) / len, (tip.y - from.y) / len};
      double step = 0;
      const double limit = path.width + 2;
      while (step + 0.5 <= limit && stroke(Point{tip.x + dir.x * (step + 0.5), tip.y + dir.y * (step + 0.5)})) step += 0.5;
      if (step < 1.0) continue;
      // Stop half a pixel short of the edge: the pixel centre, not beyond it.
      const Point out{tip.x + dir.x * step, tip.y + dir.y * step};
      if (end == 0) pts.insert(pts.begin(), out);
      else pts.push_back(out);
    }
  }
}

// A stroke that crosses another (an X) or runs past a branch (a T) leaves its skeleton in
// pieces that meet at the junction. At each junction the pairs of pieces that carry straight
// on (leaving it in nearly opposite directions) are joined, so each stroke is one path.
void JoinThroughJunctions(std::vector<SkeletonPath>& paths) {
  const size_t n = paths.size();
  auto open = [&](size_t p) { return !paths[p].closed && paths[p].points.size() >= 2; };
  // End 2p is path p's first point, 2p + 1 its last.
  auto point = [&](size_t e) { return e % 2 ? paths[e / 2].points.back() : paths[e / 2].points.front(); };
  auto leaving = [&](size_t e) {  // the direction away from the junction, over a few pixels
    const std::vector<Point>& pts = paths[e / 2].points;
    const Point from = point(e);
    const double reach = std::max(4.0, 2 * paths[e / 2].width);
    Point to = from;
    for (size_t k = 1; k < pts.size(); ++k) {
      to = e % 2 ? pts[pts.size() - 1 - k] : pts[k];
      if (std::hypot(to.x - from.x, to.y - from.y) >= reach) break;
    }
    const double len = std::hypot(to.x - from.x, to.y - from.y);
    return len > 1e-9 ? Point{(to.x - from.x) / len, (to.y - from.y) / len} : Point{0, 0};
  };
  std::map<std::tuple<long long, long long, uint32_t>, std::vector<size_t>> junctions;
  for (size_t p = 0; p < n; ++p)
    if (open(p))
      for (size_t e : {2 * p, 2 * p + 1})
        junctions[{std::llround(point(e).x * 2), std::llround(point(e).y * 2), paths[p].color}].push_back(e);
  std::vector<int64_t> link(2 * n, -1);
  bool any = false;
  for (const auto& [where, ends] : junctions) {
    if (ends.size() < 3) continue;  // a free end, or where a bend was cut
    std::vector<std::tuple<double, size_t, size_t>> pairs;
    for (size_t i = 0; i < ends.size(); ++i)
      for (size_t j = i + 1; j < ends.size(); ++j) {
        if (ends[i] / 2 == ends[j] / 2) continue;
        const Point a = leaving(ends[i]), b = leaving(ends[j]);
        const double c = a.x * b.x + a.y * b.y;
        if (c < -0.85) pairs.emplace_back(c, ends[i], ends[j]);  // about 150 degrees apart at least
      }
    std::sort(pairs.begin(), pairs.end());
    for (const auto& [c, ea, eb] : pairs)
      if (link[ea] < 0 && link[eb] < 0) {
        link[ea] = static_cast<int64_t>(eb);
        link[eb] = static_cast<int64_t>(ea);
        any = true;
      }
  }
  if (!any) return;
  // Walk each chain of linked pieces from an unlinked end (or anywhere, round a cycle).
  std::vector<SkeletonPath> out;
  std::vector<bool> used(n, false);
  auto walk = [&](size_t start, size_t startEnd) {
    SkeletonPath joined = paths[start];
    joined.points.clear();
    double widthSum = 0;
    size_t pieces = 0, p = start, in = startEnd;
    while (true) {
      used[p] = true;
      std::vector<Point> pts = paths[p].points;
      if (in % 2) std::reverse(pts.begin(), pts.end());
      if (joined.points.empty()) {
        joined.points = std::move(pts);
      } else {
        // The junction sits where the pieces' skeletons met, pulled towards any branch
        // that leaves there: the stroke bridges the junction's width in a straight line.
        const Point at = pts.front();
        const double r = 0.75 * std::max(paths[p].width, joined.width);
        while (joined.points.size() > 1 && Near(joined.points.back(), at, r)) joined.points.pop_back();
        size_t skip = 1;
        while (skip + 1 < pts.size() && Near(pts[skip], at, r)) ++skip;
        joined.points.insert(joined.points.end(), pts.begin() + static_cast<std::ptrdiff_t>(skip), pts.end());
      }
      widthSum += paths[p].width;
      ++pieces;
      const size_t outEnd = in ^ 1;
      if (link[outEnd] < 0) break;
      const size_t next = static_cast<size_t>(link[outEnd]);
      if (used[next / 2]) {
        joined.closed = next / 2 == start;
        if (joined.closed) joined.points.pop_back();
        break;
      }
      p = next / 2;
      in = next;
    }
    joined.width = widthSum / static_cast<double>(pieces);
    out.push_back(std::move(joined));
  };
  for (size_t p = 0; p < n; ++p) {
    if (used[p]) continue;
    if (!open(p)) {
      used[p] = true;
      out.push_back(paths[p]);
    } else if (link[2 * p] < 0) {
      walk(p, 2 * p);
    } else if (link[2 * p + 1] < 0) {
      walk(p, 2 * p + 1);
    }
  }
  for (size_t p = 0; p < n; ++p)
    if (!used[p]) walk(p, 2 * p);  // what is left are cycles
  paths.swap(out);
}

}  // namespace

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
  FillPinholes(mask, kMaxPinhole);
  if (params.noiseRemoval < 1.0) RemoveNoise(mask, params.noiseRemoval);
  const std::vector<float> distance = DistanceToBackground(mask);
  Thin(mask);
  std::vector<SkeletonPath> paths = ExtractPaths(mask, distance, params.widthWeightFactor);
  JoinThroughJunctions(paths);
  ExtendFreeEnds(paths, distance, mask.width, mask.height);
  for (SkeletonPath& path : paths) {
    Shape shape;
    shape.color = image.palette[path.color];
    shape.stroked = true;
    shape.width = params.preserveWidth ? path.width : 1.0;
    // Thinning rounds a sharp bend over about the stroke's width: corners are looked for,
    // and put back where the two sides meet, on that scale.
    FitParams bend = fit;
    bend.cornerSurround = std::max(fit.cornerSurround, static_cast<int>(std::lround(0.75 * path.width)));
    bend.cornerReach = std::max(fit.cornerReach, 1.5 * path.width);
    Contour contour = FitPoints(path.points, path.closed, bend);
    contour.closed = path.closed;
    shape.contours.push_back(std::move(contour));
    drawing.shapes.push_back(std::move(shape));
  }
  return drawing;
}

}  // namespace at

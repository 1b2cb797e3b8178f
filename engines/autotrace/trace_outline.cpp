#include <algorithm>
#include <cstdint>
#include <cstring>
#include <numeric>

#include "regions/boundary.h"
#include "trace.h"

namespace at {
namespace {

void Append(Contour& out, const Contour& piece, bool reversed) {
  if (!reversed) {
    out.segs.insert(out.segs.end(), piece.segs.begin(), piece.segs.end());
    return;
  }
  for (size_t i = piece.segs.size(); i-- > 0;) {
    const Segment& s = piece.segs[i];
    Segment r = s;
    r.c1 = s.c2;
    r.c2 = s.c1;
    r.end = i > 0 ? piece.segs[i - 1].end : piece.start;
    out.segs.push_back(r);
  }
}

// How much of colour `a` a pixel of colour p holds, as a mix of a and b (0..1).
double Coverage(const uint8_t* p, Rgb a, Rgb b) {
  const double d[3] = {double(a.r) - b.r, double(a.g) - b.g, double(a.b) - b.b};
  const double q[3] = {double(p[0]) - b.r, double(p[1]) - b.g, double(p[2]) - b.b};
  const double dd = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
  if (dd <= 0) return 0.5;
  return std::clamp((q[0] * d[0] + q[1] * d[1] + q[2] * d[2]) / dd, 0.0, 1.0);
}

// Colours closer than this (RGB) make too shallow a ramp to locate an edge in.
constexpr double kMinRamp = 40.0;

// The boundary between pixels at sub-pixel precision. Each pixel edge of the chain gives
// one point, its midpoint moved across the edge to where the two colours would meet if
// the two pixels beside it were exact mixes of them: the left colour fills the far
// (fL + fR) of the two pixels. Ends stay on their pixel corners, where other chains meet
// them, so neighbouring regions still share every point.
void SubPixelPoints(const Chain& chain, Rgb left, Rgb right, const Image& shades, std::vector<Point>& pts) {
  const std::vector<LatticePoint>& v = chain.points;
  const size_t n = v.size();
  const double dr = double(left.r) - right.r, dg = double(left.g) - right.g, db = double(left.b) - right.b;
  const bool ramp = chain.left != kOutside && chain.right != kOutside && dr * dr + dg * dg + db * db >= kMinRamp * kMinRamp;
  const int w = shades.width, h = shades.height;
  const bool grey = shades.channels == 1;
  pts.clear();
  if (!chain.closed) pts.push_back(Point{double(v[0].x), double(v[0].y)});
  const size_t edges = chain.closed ? n : n - 1;
  for (size_t i = 0; i < edges; ++i) {
    const LatticePoint a = v[i], b = v[(i + 1) % n];
    const int dx = b.x - a.x, dy = b.y - a.y;
    Point mid{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    // The pixel on each side of the edge a -> b (y points down).
    const int lx = dx > 0 ? a.x : dx < 0 ? a.x - 1 : dy > 0 ? a.x : a.x - 1;
    const int ly = dx > 0 ? a.y - 1 : dx < 0 ? a.y : dy > 0 ? a.y : a.y - 1;
    const int rx = lx - dy, ry = ly + dx;
    if (ramp && lx >= 0 && ly >= 0 && lx < w && ly < h && rx >= 0 && ry >= 0 && rx < w && ry < h) {
      const size_t il = static_cast<size_t>(ly) * static_cast<size_t>(w) + static_cast<size_t>(lx);
      const size_t ir = static_cast<size_t>(ry) * static_cast<size_t>(w) + static_cast<size_t>(rx);
      uint8_t greyL[3], greyR[3];
      if (grey) {
        std::memset(greyL, shades.rgb[il], 3);
        std::memset(greyR, shades.rgb[ir], 3);
      }
      const uint8_t* pl = grey ? greyL : &shades.rgb[il * 3];
      const uint8_t* pr = grey ? greyR : &shades.rgb[ir * 3];
      const double s = std::clamp(1.0 - Coverage(pl, left, right) - Coverage(pr, left, right), -0.5, 0.5);
      mid.x += dy * s;
      mid.y -= dx * s;
    }
    pts.push_back(mid);
  }
  if (!chain.closed) pts.push_back(Point{double(v[n - 1].x), double(v[n - 1].y)});
}

Point StartOf(const Contour& piece, bool reversed) {
  return reversed && !piece.segs.empty() ? piece.segs.back().end : piece.start;
}

}  // namespace

Drawing TraceOutlines(const IndexedImage& image, const FitParams& params, const Image* shades) {
  IndexedImage labelled = image;
  const std::vector<uint32_t> color = LabelRegionsInPlace(labelled);
  return TraceLabelledOutlines(std::move(labelled), color, params, shades);
}

Drawing TraceLabelledOutlines(IndexedImage&& labelled, const std::vector<uint32_t>& regionColor,
                              const FitParams& options, const Image* shades) {
  FitParams params = options;
  params.pixelEdges = shades == nullptr;
  Drawing drawing;
  drawing.width = labelled.width;
  drawing.height = labelled.height;
  const std::vector<Rgb> palette = labelled.palette;
  RegionMap map = BuildRegions(std::move(labelled), regionColor);
  std::vector<uint32_t>().swap(map.label);  // the chains are all that is needed from here

  std::vector<Contour> fitted(map.chains.size());
  std::vector<Point> pts;
  for (size_t c = 0; c < map.chains.size(); ++c) {
    Chain& chain = map.chains[c];
    if (shades != nullptr) {
      const Rgb left = chain.left == kOutside ? Rgb{} : palette[map.regions[chain.left].color];
      const Rgb right = chain.right == kOutside ? Rgb{} : palette[map.regions[chain.right].color];
      SubPixelPoints(chain, left, right, *shades, pts);
    } else {
      pts.clear();
      for (const LatticePoint& p : chain.points) pts.push_back(Point{double(p.x), double(p.y)});
    }
    fitted[c] = FitPoints(pts, chain.closed, params);
    std::vector<LatticePoint>().swap(chain.points);
  }

  std::vector<uint32_t> order;
  for (uint32_t r = 0; r < map.regions.size(); ++r)
    if (map.regions[r].traced && !map.regions[r].cycles.empty()) order.push_back(r);
  std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
    return map.regions[a].outerArea > map.regions[b].outerArea;
  });
  // Where two traced regions meet, the one drawn first also strokes the shared boundary
  // in its own colour (the underlay), so that the later one's anti-aliased edge blends
  // into that colour rather than into the paper: no pale seam between neighbours.
  std::vector<uint32_t> rank(map.regions.size(), kOutside);
  for (uint32_t i = 0; i < order.size(); ++i) rank[order[i]] = i;
  for (uint32_t r : order) {
    const Region& region = map.regions[r];
    Shape shape;
    shape.color = palette[region.color];
    for (const Cycle& cycle : region.cycles) {
      if (cycle.hole && !cycle.cut) {
        shape.overlaps = true;
        continue;
      }
      Contour contour;
      contour.closed = true;
      contour.start = StartOf(fitted[cycle.chains[0].chain], cycle.chains[0].reversed);
      Contour under;
      under.closed = false;
      bool open = false;
      for (const ChainRef& ref : cycle.chains) {
        Append(contour, fitted[ref.chain], ref.reversed);
        const Chain& chain = map.chains[ref.chain];
        const uint32_t other = chain.left == r ? chain.right : chain.left;
        if (other == kOutside || rank[other] == kOutside || rank[other] < rank[r]) {
          open = false;
          continue;
        }
        if (!open) {
          if (!under.segs.empty()) shape.underlay.push_back(std::move(under));
          under = Contour{};
          under.closed = false;
          under.start = StartOf(fitted[ref.chain], ref.reversed);
          open = true;
        }
        Append(under, fitted[ref.chain], ref.reversed);
      }
      if (!under.segs.empty()) shape.underlay.push_back(std::move(under));
      if (!contour.segs.empty()) shape.contours.push_back(std::move(contour));
    }
    if (!shape.contours.empty()) drawing.shapes.push_back(std::move(shape));
  }
  return drawing;
}

}  // namespace at

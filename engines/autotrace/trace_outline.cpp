#include <algorithm>
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

Point StartOf(const Contour& piece, bool reversed) {
  return reversed && !piece.segs.empty() ? piece.segs.back().end : piece.start;
}

}  // namespace

Drawing TraceOutlines(const IndexedImage& image, const FitParams& params) {
  IndexedImage labelled = image;
  const std::vector<uint32_t> color = LabelRegionsInPlace(labelled);
  return TraceLabelledOutlines(std::move(labelled), color, params);
}

Drawing TraceLabelledOutlines(IndexedImage&& labelled, const std::vector<uint32_t>& regionColor,
                              const FitParams& options) {
  FitParams params = options;
  params.pixelEdges = true;
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
    pts.clear();
    for (const LatticePoint& p : chain.points) pts.push_back(Point{double(p.x), double(p.y)});
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

#include "trace_drawing.h"

#include <cmath>

#include "noise_removal.h"
#include "large_array.h"
#include "quantize.h"
#include "regions/boundary.h"
#include "trace.h"

namespace at {
namespace {

FitParams FitFrom(const Options& o) {
  FitParams p;
  p.cornerThreshold = o.cornerThreshold;
  p.cornerAlwaysThreshold = o.cornerAlwaysThreshold;
  p.cornerSurround = o.cornerSurround;
  // Measured in eighths of a pixel, so that the customary default of 2.0 keeps curves
  // within a quarter pixel of the outline: enough that rendering back gives the input.
  p.errorThreshold = o.errorThreshold / 8.0;
  p.lineThreshold = o.lineThreshold;
  p.lineReversionThreshold = o.lineReversionThreshold;
  p.filterIterations = o.filterIterations;
  p.removeAdjacentCorners = o.removeAdjacentCorners;
  p.tangentSurround = o.tangentSurround;
  return p;
}

// Enough decimals that rounding moves a point by at most a quarter of the fitting
// tolerance: coordinates any finer would only add bytes.
int DecimalsFor(double tolerance) {
  int d = 0;
  while (d < 4 && 0.5 * std::pow(10.0, -d) > tolerance / 4) ++d;
  return d;
}

size_t CountNodes(const Drawing& d) {
  size_t n = 0;
  for (const Shape& s : d.shapes)
    for (const Contour& c : s.contours) n += c.segs.size() + 1;
  return n;
}

// Many colours, as a photograph has once reduced.
bool ContinuousTone(const IndexedImage& indexed) { return indexed.palette.size() > 12; }

bool TooManyRegions(size_t regions, std::string& error) {
  if (regions <= kMaxRegions) return false;
  error = "the picture falls into " + std::to_string(regions) + " separate regions, more than " +
          std::to_string(kMaxRegions) + "; reduce it with -color-count or -despeckle-level";
  return true;
}

// The colours asked for, or without a count the colours a person sees. `shaded` tells
// whether the picture's edges are ramps to follow between pixels.
IndexedImage ChooseColors(const Image& image, const Options& o, bool& shaded) {
  const Rgb white{255, 255, 255};
  const Rgb* background = o.hasBackground ? &o.background : (o.centerline ? &white : nullptr);
  shaded = false;
  if (o.colorCount > 0) return IndexColors(image, o.colorCount, background);
  IndexedImage indexed;
  // The white that centre-lines take as the ground by default stands for the paper, which in
  // a scan is seldom white.
  shaded = IndexSeenColors(image, background, indexed, o.hasBackground ? 8.0 : 25.0);
  return indexed;
}

bool TraceCenterlineDrawing(const IndexedImage& indexed, const Options& o, Drawing& drawing, std::string& error) {
  std::vector<uint32_t> label;
  if (TooManyRegions(LabelRegions(indexed, label), error)) return false;
  std::vector<uint32_t>().swap(label);
  CenterlineParams cp;
  cp.preserveWidth = o.preserveWidth;
  cp.widthWeightFactor = o.widthWeightFactor;
  cp.noiseRemoval = o.noiseRemoval;
  drawing = TraceCenterlines(indexed, FitFrom(o), cp);
  return true;
}

bool TraceOutlineDrawing(IndexedImage&& indexed, const Options& o, const Image* shades, Drawing& drawing,
                         std::string& error) {
  // Outlines need the colours only region by region: the labels take the index's place.
  const std::vector<uint32_t> regionColor = LabelRegionsInPlace(indexed);
  if (TooManyRegions(regionColor.size(), error)) return false;
  FitParams fit = FitFrom(o);
  // Boundaries found between pixels are already smooth to a tenth of a pixel or so; the
  // curves may stray a little further from them than from a staircase of pixel corners,
  // and further still between the many close tones of a photograph, where no boundary is
  // an edge anyone sees.
  if (shades != nullptr) fit.errorThreshold = o.errorThreshold / (ContinuousTone(indexed) ? 5.0 : 6.5);
  drawing = TraceLabelledOutlines(std::move(indexed), regionColor, fit, shades);
  return true;
}

// A grey picture whose shades are kept for following edges between pixels needs one byte
// a pixel of them, not three: a page of type keeps a third of the memory.
void KeepGreyPlane(Image& image) {
  const size_t n = image.rgb.size() / 3;
  uint8_t* p = image.rgb.data();
  for (size_t i = 0; i < n; ++i)
    if (p[3 * i] != p[3 * i + 1] || p[3 * i] != p[3 * i + 2]) return;
  for (size_t i = 0; i < n; ++i) p[i] = p[3 * i];
  ShrinkLarge(image.rgb, n);
  image.channels = 1;
}

}  // namespace

bool TraceDrawing(Image image, const Options& o, Drawing& drawing, std::string& error, const ProgressFn& progress) {
  auto step = [&](int percent, const std::string& what) {
    if (progress) progress(percent, what);
  };
  bool shaded = false;
  IndexedImage indexed = ChooseColors(image, o, shaded);
  if (!shaded || o.centerline) std::vector<uint8_t>().swap(image.rgb);
  else KeepGreyPlane(image);
  step(25, std::to_string(indexed.palette.size()) + " colours");
  if (shaded) {
    // Specks of a few pixels in a shaded picture are grain, dust or texture, not details
    // (a dot of 3 pixels across covers 7): up to 4 pixels go, and in continuous tone
    // (many colours, as a photo has) up to 25.
    if (ContinuousTone(indexed)) Despeckle(indexed, 5, 2.0);
    else MergeTinySpecks(indexed, 4, 2.0);
  }
  if (o.despeckleLevel > 0) {
    Despeckle(indexed, o.despeckleLevel, o.despeckleTightness);
    step(35, "despeckled");
  }
  const bool traced = o.centerline ? TraceCenterlineDrawing(indexed, o, drawing, error)
                                   : TraceOutlineDrawing(std::move(indexed), o, image.rgb.empty() ? nullptr : &image, drawing, error);
  if (!traced) return false;
  drawing.dpi = o.dpi;
  drawing.decimals = DecimalsFor(o.errorThreshold / 8.0);
  step(85, "traced " + std::to_string(drawing.shapes.size()) + " shapes, " + std::to_string(CountNodes(drawing)) +
               " nodes");
  return true;
}

}  // namespace at

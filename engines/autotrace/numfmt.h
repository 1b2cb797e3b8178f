#pragma once
// Compact, locale-independent number text for the writers, and contours on a grid of
// fixed decimals.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "types.h"

namespace at {

// Appends v with at most `decimals` decimals and no trailing zeros.
inline void AppendNumber(std::string& out, double v, int decimals = 3) {
  if (!std::isfinite(v)) v = 0;
  const double scale = std::pow(10.0, decimals);
  v = std::round(v * scale) / scale;
  if (v == 0) v = 0;  // no "-0"
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  char* end = res.ptr;
  if (decimals > 0) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  out.append(buf, end);
}

// Pixel coordinates as integers on a grid of 10^-decimals pixels. Writers that step from
// point to point write differences of grid values, so rounding never accumulates along a path.
struct CoordGrid {
  explicit CoordGrid(int d) : decimals(std::clamp(d, 0, 6)), scale(std::pow(10.0, decimals)) {}
  int64_t operator()(double v) const {
    if (!std::isfinite(v)) return 0;
    return static_cast<int64_t>(std::llround(std::clamp(v * scale, -1e15, 1e15)));
  }
  int decimals;
  double scale;
};

// Appends k / 10^decimals with no trailing zeros; `bare` also drops the zero before the
// point ("-.5"), as SVG path data allows.
inline void AppendFixed(std::string& out, int64_t k, int decimals, bool bare = false) {
  if (k < 0) out += '-';
  const uint64_t u = k < 0 ? 0 - static_cast<uint64_t>(k) : static_cast<uint64_t>(k);
  uint64_t unit = 1;
  for (int i = 0; i < decimals; ++i) unit *= 10;
  const uint64_t whole = u / unit, frac = u % unit;
  char buf[24];
  if (!(bare && whole == 0 && frac != 0)) out.append(buf, std::to_chars(buf, buf + sizeof buf, whole).ptr);
  if (frac == 0) return;
  out += '.';
  uint64_t f = frac, digits = decimals;
  while (f % 10 == 0) {
    f /= 10;
    --digits;
  }
  char* end = std::to_chars(buf, buf + sizeof buf, f).ptr;
  const size_t len = static_cast<size_t>(end - buf);
  out.append(static_cast<size_t>(digits) - len, '0');
  out.append(buf, end);
}

inline std::string Num(double v, int decimals = 3) {
  std::string s;
  AppendNumber(s, v, decimals);
  return s;
}

// A segment in grid units: the end point, and for a curve its two control points.
struct GridSegment {
  bool line = true;
  int64_t x1 = 0, y1 = 0, x2 = 0, y2 = 0;  // curves only
  int64_t x = 0, y = 0;
};

// Calls draw(const GridSegment&) for each segment of the contour that a writer draws: the
// last straight side of a closed contour, back to its start, is left to the closing command.
template <typename Draw>
void ForEachDrawnSegment(const Contour& c, const CoordGrid& grid, Draw&& draw) {
  size_t count = c.segs.size();
  if (c.closed && count > 1 && c.segs.back().line && grid(c.segs.back().end.x) == grid(c.start.x) &&
      grid(c.segs.back().end.y) == grid(c.start.y))
    --count;
  for (size_t i = 0; i < count; ++i) {
    const Segment& s = c.segs[i];
    GridSegment g;
    g.line = s.line;
    if (!s.line) {
      g.x1 = grid(s.c1.x);
      g.y1 = grid(s.c1.y);
      g.x2 = grid(s.c2.x);
      g.y2 = grid(s.c2.y);
    }
    g.x = grid(s.end.x);
    g.y = grid(s.end.y);
    draw(g);
  }
}

}  // namespace at

#include "fit.h"

#include <algorithm>
#include <cmath>
#include <span>

namespace at {
namespace {

Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(Point a, double s) { return {a.x * s, a.y * s}; }
double Dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double Cross(Point a, Point b) { return a.x * b.y - a.y * b.x; }
double Len(Point a) { return std::sqrt(Dot(a, a)); }
Point Unit(Point a) {
  const double l = Len(a);
  return l > 1e-12 ? a * (1.0 / l) : Point{0, 0};
}
bool Same(Point a, Point b) { return a.x == b.x && a.y == b.y; }

// Distance from p to the line through a and b (to a when a == b).
double LineDistance(Point p, Point a, Point b) {
  const Point ab = b - a;
  const double l = Len(ab);
  if (l < 1e-12) return Len(p - a);
  return std::fabs(Cross(ab, p - a)) / l;
}

double AngleAt(const std::vector<Point>& pts, size_t i, size_t before, size_t after) {
  const Point a = pts[before] - pts[i], b = pts[after] - pts[i];
  const double la = Len(a), lb = Len(b);
  if (la < 1e-12 || lb < 1e-12) return 180.0;
  const double c = std::clamp(Dot(a, b) / (la * lb), -1.0, 1.0);
  return std::acos(c) * 180.0 / M_PI;
}

struct Bezier {
  Point p0, p1, p2, p3;
  Point At(double t) const {
    const double s = 1 - t;
    return p0 * (s * s * s) + p1 * (3 * s * s * t) + p2 * (3 * s * t * t) + p3 * (t * t * t);
  }
  Point D1(double t) const {
    const double s = 1 - t;
    return (p1 - p0) * (3 * s * s) + (p2 - p1) * (6 * s * t) + (p3 - p2) * (3 * t * t);
  }
  Point D2(double t) const { return (p2 - p1 * 2 + p0) * (6 * (1 - t)) + (p3 - p2 * 2 + p1) * (6 * t); }
};

// Weighted averaging of each point with its neighbours; the ends of an open list stay put.
void Smooth(std::vector<Point>& pts, bool closed, int iterations) {
  const size_t n = pts.size();
  if (n < 3) return;
  std::vector<Point> next(n);
  for (int it = 0; it < iterations; ++it) {
    for (size_t i = 0; i < n; ++i) {
      if (!closed && (i == 0 || i == n - 1)) {
        next[i] = pts[i];
        continue;
      }
      const Point a = pts[(i + n - 1) % n], b = pts[(i + 1) % n];
      next[i] = (a + b + pts[i] * 2) * 0.25;
    }
    pts.swap(next);
  }
}

using Span = std::span<const Point>;

// Rounds of re-placing the points along a curve before giving up on it and splitting. On
// pixel outlines two get nearly all there is to get: five cost a fifth more run time for
// 3% fewer bytes.
constexpr int kNewtonRounds = 5, kPixelNewtonRounds = 2;

// Points on each side that estimate a tangent. Pixel corners are a point a pixel, and the
// direction between two a few pixels apart still wobbles with the stair steps by several
// degrees, enough to pull a long curve a pixel off; a chord across a longer stretch is
// steady, and on an arc still exactly parallel to the tangent at its middle.
size_t TangentReach(const FitParams& params, size_t n) {
  const size_t k = static_cast<size_t>(std::max(1, params.tangentSurround));
  if (!params.pixelEdges) return k;
  return std::max(k, std::min(4 * k, n / 8));
}

class Fitter {
 public:
  Fitter(const FitParams& params, Contour& out) : params_(params), out_(out) {}

  // Fits pts[0..m] from pts[0] to pts[m] with unit tangents t0 (leaving the start) and t1
  // (leaving the end backwards); a zero tangent is estimated from the points. `raw`, when
  // not empty, holds the same points before smoothing: the pixel corners of an outline.
  void Fit(Span pts, Span raw, Point t0, Point t1, int depth = 0) {
    const size_t m = pts.size() - 1;
    if (m == 0) return;
    // Within a smooth run of a pixel outline (a tangent is given) a short straight stretch
    // is a flat run of pixels on a curve: it stays a curve, which keeps the run's tangent
    // continuous. A curve that comes out flat is written as a line anyway.
    const bool mayBeLine = raw.empty() || (Len(t0) == 0 && Len(t1) == 0) || m >= 16;
    if (m == 1 || (mayBeLine && IsLine(pts, raw))) {
      AddLine(pts[m]);
      return;
    }
    std::vector<double> u = ChordParams(pts);
    if (Len(t0) == 0 || Len(t1) == 0) {
      // A free end (a corner, or the end of an open line) takes the direction the best
      // unconstrained curve through the points leaves it in: on a pixel staircase that is
      // far steadier than the direction of the first few points.
      const Bezier free = FreeFit(pts, u);
      if (Len(t0) == 0) t0 = Unit(free.p1 - free.p0);
      if (Len(t1) == 0) t1 = Unit(free.p2 - free.p3);
      if (Len(t0) == 0) t0 = StartTangent(pts);
      if (Len(t1) == 0) t1 = EndTangent(pts);
    }
    Bezier bez = Generate(pts, u, t0, t1);
    size_t split = 0;
    const double limit = params_.errorThreshold;
    double err = Error(pts, raw, u, bez, split);
    for (int i = 0; i < (raw.empty() ? kNewtonRounds : kPixelNewtonRounds) && err > limit && err < 4 * limit + 2; ++i) {
      Reparameterize(pts, u, bez);
      bez = Generate(pts, u, t0, t1);
      err = Error(pts, raw, u, bez, split);
    }
    if (err <= limit || m < 4 || depth > 40) {
      AddCurve(bez);
      return;
    }
    // Far off, the worst point of a smooth run tends to sit near an end, where the fixed
    // tangent pulls hardest; splitting there leaves most of the run as hard as before.
    // On pixel outlines a split right by an end leaves a stub of a pixel or two.
    if (!raw.empty()) {
      const size_t margin = err > 2 * limit ? m / 4 : std::min<size_t>(4, m / 2);
      split = std::clamp<size_t>(split, margin, m - margin);
    }
    split = std::clamp<size_t>(split, 2, m - 2);
    const Point tc = CenterTangent(pts, split);
    Fit(pts.first(split + 1), raw.empty() ? raw : raw.first(split + 1), t0, tc * -1.0, depth + 1);
    Fit(pts.subspan(split), raw.empty() ? raw : raw.subspan(split), tc, t1, depth + 1);
  }

 private:
  double Error(Span pts, Span raw, const std::vector<double>& u, const Bezier& bez, size_t& worst) const {
    return raw.empty() ? MaxError(pts, u, bez, worst) : EdgeError(raw, u, bez, worst);
  }

  // Each unit edge of a pixel outline has a pixel of the region on one side and a pixel of
  // another region on the other, their centres half a pixel from the edge's middle. The
  // offset of an edge is the distance, measured across it, from its middle to the path.
  // Even the true outline of the shape is up to half a pixel off single edges (the pixels
  // only sample it), so the limits are a little over that: the error threshold plus 0.35
  // pixels for single offsets, and plus 0.25 for offsets averaged over a few neighbouring
  // edges, which is what moves the rendered edge.
  double EdgeError(Span raw, const std::vector<double>& u, const Bezier& bez, size_t& worst, bool singles = true) const {
    const size_t n = raw.size();
    worst = n / 2;
    if (n < 2) return 0;
    offsets_.resize(n - 1);
    const Point a = bez.p1 - bez.p0, b = bez.p2 - bez.p1, c = bez.p3 - bez.p2;
    for (size_t i = 0; i + 1 < n; ++i) {
      offsets_[i] = 0;
      const Point e = raw[i + 1] - raw[i];
      const double le = Len(e);
      if (le < 1e-9) continue;
      const Point mid = (raw[i] + raw[i + 1]) * 0.5;
      const double t = 0.5 * (u[i] + u[i + 1]), s = 1 - t;
      const Point q = bez.p0 * (s * s * s) + bez.p1 * (3 * s * s * t) + bez.p2 * (3 * s * t * t) + bez.p3 * (t * t * t);
      Point dir = a * (3 * s * s) + b * (6 * s * t) + c * (3 * t * t);  // the derivative
      double dl = Len(dir);
      if (dl < 1e-12) {
        dir = e;
        dl = le;
      }
      // Edges running across the path (the risers of its stair steps) have both pixel
      // centres close to it whatever the path does; the edges along it decide.
      const double along = std::max(std::fabs(Dot(dir, e)) / (dl * le), 0.7);
      offsets_[i] = Cross(dir, mid - q) / (dl * along);
    }
    const double mean = params_.errorThreshold + 0.25, single = params_.errorThreshold + 0.35;
    constexpr size_t kReach = 3;
    double best = 0, sum = 0;
    size_t lo = 0, hi = 0;  // the window [lo, hi)
    for (size_t i = 0; i < offsets_.size(); ++i) {
      while (hi < offsets_.size() && hi <= i + kReach) sum += offsets_[hi++];
      while (lo + kReach < i) sum -= offsets_[lo++];
      // Scaled so that the error threshold is the limit for both.
      const double d = params_.errorThreshold * std::max(singles ? std::fabs(offsets_[i]) / single : 0.0,
                                                         std::fabs(sum / static_cast<double>(hi - lo)) / mean);
      if (d > best) {
        best = d;
        worst = i + 2 < n ? i + 1 : i;
      }
    }
    return best;
  }

  bool IsLine(Span pts, Span raw) const {
    const Point a = pts.front(), b = pts.back();
    if (Len(b - a) < 1e-9) return false;
    // Close to the chord, and not bowed to one side: a gentle arc stays within the line
    // threshold of its chord yet would be visibly flattened.
    const Point ab = b - a;
    const double len = Len(ab);
    double sum = 0;
    for (const Point& p : pts) {
      const double d = Cross(ab, p - a) / len;
      if (std::fabs(d) > params_.lineThreshold) return false;
      sum += d;
    }
    if (std::fabs(sum / static_cast<double>(pts.size())) > params_.errorThreshold / 2) return false;
    if (raw.empty()) return true;
    std::vector<double> u = ChordParams(pts);
    size_t worst = 0;
    // A straight side may lean a little within its pixels wherever its ends fall; only the
    // averaged offsets hold it.
    return EdgeError(raw, u, Bezier{a, a + (b - a) * (1.0 / 3), a + (b - a) * (2.0 / 3), b}, worst, false) <=
           params_.errorThreshold;
  }

  Point StartTangent(Span pts) const {
    const size_t k = std::min<size_t>(static_cast<size_t>(params_.tangentSurround), pts.size() - 1);
    Point sum{0, 0};
    for (size_t i = 1; i <= k; ++i) sum = sum + Unit(pts[i] - pts[0]);
    const Point t = Unit(sum);
    return Len(t) > 0 ? t : Unit(pts.back() - pts.front());
  }
  Point EndTangent(Span pts) const {
    const size_t n = pts.size(), k = std::min<size_t>(static_cast<size_t>(params_.tangentSurround), n - 1);
    Point sum{0, 0};
    for (size_t i = 1; i <= k; ++i) sum = sum + Unit(pts[n - 1 - i] - pts[n - 1]);
    const Point t = Unit(sum);
    return Len(t) > 0 ? t : Unit(pts.front() - pts.back());
  }
  Point CenterTangent(Span pts, size_t i) const {
    const size_t k = TangentReach(params_, pts.size());
    const size_t lo = i >= k ? i - k : 0, hi = std::min(pts.size() - 1, i + k);
    const Point t = Unit(pts[hi] - pts[lo]);
    return Len(t) > 0 ? t : Unit(pts[i + 1] - pts[i - 1]);
  }

  static std::vector<double> ChordParams(Span pts) {
    std::vector<double> u(pts.size(), 0.0);
    for (size_t i = 1; i < pts.size(); ++i) u[i] = u[i - 1] + Len(pts[i] - pts[i - 1]);
    const double total = u.back();
    for (double& v : u) v = total > 0 ? v / total : 0;
    return u;
  }

  // Least-squares inner control points with no constraint on their directions.
  static Bezier FreeFit(Span pts, const std::vector<double>& u) {
    const Point p0 = pts.front(), p3 = pts.back();
    double a11 = 0, a12 = 0, a22 = 0;
    Point r1{0, 0}, r2{0, 0};
    for (size_t i = 0; i < pts.size(); ++i) {
      const double t = u[i], s = 1 - t;
      const double b0 = s * s * s, b1 = 3 * s * s * t, b2 = 3 * s * t * t, b3 = t * t * t;
      const Point rest = pts[i] - (p0 * b0 + p3 * b3);
      a11 += b1 * b1;
      a12 += b1 * b2;
      a22 += b2 * b2;
      r1 = r1 + rest * b1;
      r2 = r2 + rest * b2;
    }
    const double det = a11 * a22 - a12 * a12;
    if (std::fabs(det) < 1e-12) return Bezier{p0, p0, p3, p3};
    return Bezier{p0, (r1 * a22 - r2 * a12) * (1.0 / det), (r2 * a11 - r1 * a12) * (1.0 / det), p3};
  }

  // Least-squares placement of the inner control points along the end tangents.
  static Bezier Generate(Span pts, const std::vector<double>& u, Point t0, Point t1) {
    const Point p0 = pts.front(), p3 = pts.back();
    double c00 = 0, c01 = 0, c11 = 0, x0 = 0, x1 = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
      const double t = u[i], s = 1 - t;
      const double b0 = s * s * s, b1 = 3 * s * s * t, b2 = 3 * s * t * t, b3 = t * t * t;
      const Point a0 = t0 * b1, a1 = t1 * b2;
      c00 += Dot(a0, a0);
      c01 += Dot(a0, a1);
      c11 += Dot(a1, a1);
      const Point rest = pts[i] - (p0 * (b0 + b1) + p3 * (b2 + b3));
      x0 += Dot(a0, rest);
      x1 += Dot(a1, rest);
    }
    const double det = c00 * c11 - c01 * c01;
    const double chord = Len(p3 - p0);
    double al = 0, ar = 0;
    if (std::fabs(det) > 1e-12) {
      al = (x0 * c11 - x1 * c01) / det;
      ar = (c00 * x1 - c01 * x0) / det;
    }
    const double eps = 1e-6 * std::max(chord, 1.0);
    if (!(al > eps) || !(ar > eps) || al > 4 * chord + 4 || ar > 4 * chord + 4) al = ar = chord / 3;
    return Bezier{p0, p0 + t0 * al, p3 + t1 * ar, p3};
  }

  static double MaxError(Span pts, const std::vector<double>& u, const Bezier& bez, size_t& worst) {
    double best = 0;
    worst = pts.size() / 2;
    for (size_t i = 1; i + 1 < pts.size(); ++i) {
      const double d = Len(bez.At(u[i]) - pts[i]);
      if (d > best) {
        best = d;
        worst = i;
      }
    }
    return best;
  }

  static void Reparameterize(Span pts, std::vector<double>& u, const Bezier& bez) {
    for (size_t i = 1; i + 1 < pts.size(); ++i) {
      const Point d = bez.At(u[i]) - pts[i], d1 = bez.D1(u[i]), d2 = bez.D2(u[i]);
      const double den = Dot(d1, d1) + Dot(d, d2);
      if (std::fabs(den) > 1e-12) u[i] = std::clamp(u[i] - Dot(d, d1) / den, 0.0, 1.0);
    }
  }

  void AddLine(Point end) {
    Segment s;
    s.line = true;
    s.end = end;
    out_.segs.push_back(s);
  }

  void AddCurve(const Bezier& b) {
    const double chord = Len(b.p3 - b.p0);
    const double bulge = std::max(LineDistance(b.p1, b.p0, b.p3), LineDistance(b.p2, b.p0, b.p3));
    const bool forward = Dot(b.p1 - b.p0, b.p3 - b.p0) >= 0 && Dot(b.p2 - b.p3, b.p0 - b.p3) >= 0;
    if (chord > 0 && forward && bulge < params_.lineReversionThreshold * chord) {
      AddLine(b.p3);
      return;
    }
    Segment s;
    s.line = false;
    s.c1 = b.p1;
    s.c2 = b.p2;
    s.end = b.p3;
    out_.segs.push_back(s);
  }

  const FitParams& params_;
  Contour& out_;
  mutable std::vector<double> offsets_;
};

std::vector<Point> Slice(const std::vector<Point>& pts, size_t from, size_t to, bool wrap) {
  std::vector<Point> out;
  const size_t n = pts.size();
  if (!wrap) {
    out.assign(pts.begin() + static_cast<std::ptrdiff_t>(from), pts.begin() + static_cast<std::ptrdiff_t>(to) + 1);
  } else {
    for (size_t i = from;; i = (i + 1) % n) {
      out.push_back(pts[i]);
      if (i == to && out.size() > 1) break;
    }
  }
  return out;
}

struct Line {
  Point p, d;  // a point and a unit direction; d = 0 when undefined
};

// Least-squares line through pts[from, to).
Line FitLine(const std::vector<Point>& pts, size_t from, size_t to) {
  Point c{0, 0};
  const double n = static_cast<double>(to - from);
  for (size_t i = from; i < to; ++i) c = c + pts[i];
  c = c * (1.0 / n);
  double sxx = 0, sxy = 0, syy = 0;
  for (size_t i = from; i < to; ++i) {
    const Point q = pts[i] - c;
    sxx += q.x * q.x;
    sxy += q.x * q.y;
    syy += q.y * q.y;
  }
  const double angle = 0.5 * std::atan2(2 * sxy, sxx - syy);
  if (sxx + syy < 1e-12) return Line{c, {0, 0}};
  return Line{c, {std::cos(angle), std::sin(angle)}};
}

// The line along one side of a piece near its start (or end): the whole piece when it is
// straight, else its first (last) `span` points.
Line SideLine(const std::vector<Point>& piece, bool atStart, size_t span) {
  const size_t n = piece.size();
  if (n < 3) return Line{piece.front(), {0, 0}};
  const Line whole = FitLine(piece, 0, n);
  bool straight = Len(whole.d) > 0;
  for (size_t i = 0; i < n && straight; ++i)
    straight = std::fabs(Cross(whole.d, piece[i] - whole.p)) <= 0.75;
  if (straight) return whole;
  const size_t k = std::min(n, span);
  return atStart ? FitLine(piece, 0, k) : FitLine(piece, n - k, n);
}

Point MeetingPoint(const Line& a, const Line& b, Point fallback, double reach) {
  const double cr = Cross(a.d, b.d);
  if (Len(a.d) == 0 || Len(b.d) == 0 || std::fabs(cr) < std::sin(20.0 * M_PI / 180.0)) return fallback;
  const double t = Cross(b.p - a.p, b.d) / cr;
  const Point meet = a.p + a.d * t;
  return Len(meet - fallback) <= reach ? meet : fallback;
}

// Stair steps next to a corner can make a second, false corner a few pixels along a
// straight side, which would split the side in two. Consecutive straight pieces (lines, or
// curves whose control points lie within a fifth of a pixel of their chord) whose joint
// lies within `tolerance` of the line past it become one line.
void JoinStraightRuns(Contour& c, double tolerance) {
  auto flat = [&](Point from, const Segment& s) {
    return s.line || (LineDistance(s.c1, from, s.end) <= 0.2 && LineDistance(s.c2, from, s.end) <= 0.2);
  };
  std::vector<Segment> kept;
  kept.reserve(c.segs.size());
  Point before = c.start;  // where the last kept segment starts
  for (const Segment& s : c.segs) {
    if (!kept.empty()) {
      const Point joint = kept.back().end;
      if (flat(before, kept.back()) && flat(joint, s) && LineDistance(joint, before, s.end) <= tolerance &&
          Dot(joint - before, s.end - joint) > 0) {
        kept.back() = Segment{true, {}, {}, s.end};
        continue;
      }
      before = joint;
    }
    kept.push_back(s);
  }
  c.segs.swap(kept);
}

}  // namespace

std::vector<size_t> FindCorners(const std::vector<Point>& pts, bool closed, const FitParams& params) {
  const size_t n = pts.size();
  std::vector<size_t> corners;
  if (n < 5) return corners;
  size_t k = static_cast<size_t>(std::max(1, params.cornerSurround));
  if (closed) k = std::min(k, (n - 1) / 2);
  std::vector<double> angle(n, 180.0);
  for (size_t i = 0; i < n; ++i) {
    size_t kk = k;
    if (!closed) {
      kk = std::min({k, i, n - 1 - i});
      if (kk < std::min<size_t>(k, 2)) continue;
    }
    angle[i] = AngleAt(pts, i, (i + n - kk) % n, (i + kk) % n);
  }
  for (size_t i = 0; i < n; ++i) {
    if (angle[i] >= params.cornerThreshold) continue;
    bool keep = true;
    if (angle[i] >= params.cornerAlwaysThreshold) {
      for (size_t j = 1; j <= k && keep; ++j) {
        const bool hasBefore = closed || i >= j, hasAfter = closed || i + j < n;
        if (hasBefore && angle[(i + n - j) % n] < angle[i]) keep = false;
        if (hasAfter && angle[(i + j) % n] <= angle[i]) keep = false;
      }
    }
    if (keep) corners.push_back(i);
  }
  if (params.removeAdjacentCorners && corners.size() > 1) {
    std::vector<size_t> kept;
    for (size_t c = 0; c < corners.size(); ++c) {
      const size_t i = corners[c];
      const size_t prev = corners[(c + corners.size() - 1) % corners.size()];
      const size_t next = corners[(c + 1) % corners.size()];
      auto adjacent = [&](size_t j) { return j != i && ((j + 1) % n == i || (i + 1) % n == j); };
      bool drop = false;
      if (adjacent(prev) && angle[prev] <= angle[i]) drop = true;
      if (adjacent(next) && angle[next] < angle[i]) drop = true;
      if (!drop) kept.push_back(i);
    }
    corners.swap(kept);
  }
  return corners;
}

Contour FitPoints(std::vector<Point> pts, bool closed, const FitParams& params) {
  // Repeated points carry no direction and would upset the angle and tangent estimates.
  std::vector<Point> clean;
  for (const Point& p : pts)
    if (clean.empty() || !Same(clean.back(), p)) clean.push_back(p);
  if (closed && clean.size() > 1 && Same(clean.front(), clean.back())) clean.pop_back();
  pts.swap(clean);

  Contour out;
  out.closed = closed;
  if (pts.empty()) return out;
  out.start = pts[0];
  Fitter fitter(params, out);
  const size_t n = pts.size();
  if (n == 1) return out;
  if (closed && n < 4) {
    for (size_t i = 1; i <= n; ++i) {
      const Point two[2] = {pts[i - 1], pts[i % n]};
      fitter.Fit(two, {}, {}, {});
    }
    return out;
  }

  std::vector<size_t> corners = FindCorners(pts, closed, params);
  if (!closed) {
    corners.insert(corners.begin(), 0);
    corners.push_back(n - 1);
  }
  if (closed && corners.empty()) {
    // A smooth loop: smooth all round, then fit quarters (halves of a short loop) that meet
    // with equal tangents; a cubic follows a quarter turn closely, a half turn poorly.
    const std::vector<Point> raw = params.pixelEdges ? pts : std::vector<Point>{};
    Smooth(pts, true, params.filterIterations);
    const size_t parts = n >= 32 ? 4 : 2;
    auto tangentAt = [&](size_t i) {
      const size_t k = TangentReach(params, n);
      const Point t = Unit(pts[(i + k) % n] - pts[(i + n - k) % n]);
      return Len(t) > 0 ? t : Unit(pts[(i + 1) % n] - pts[i]);
    };
    out.start = pts[0];
    const bool edges = !raw.empty();
    for (size_t q = 0; q < parts; ++q) {
      const size_t from = n * q / parts, to = n * (q + 1) / parts % n;
      const bool wrap = to <= from;
      fitter.Fit(Slice(pts, from, to, wrap), edges ? Slice(raw, from, to, wrap) : raw, tangentAt(from),
                 tangentAt(to) * -1.0);
    }
    return out;
  }
  // Corners sit on pixel corners, up to a pixel off the true corner of the shape; move each
  // to where the lines fitted to its two sides meet, so straight sides come out true.
  const size_t pieces = closed ? corners.size() : corners.size() - 1;
  std::vector<std::vector<Point>> parts;
  for (size_t c = 0; c < pieces; ++c)
    parts.push_back(Slice(pts, corners[c], corners[(c + 1) % corners.size()], closed));
  std::vector<Point> at(corners.size());
  for (size_t c = 0; c < corners.size(); ++c) at[c] = pts[corners[c]];
  const size_t span = static_cast<size_t>(std::max(4, 2 * params.cornerSurround));
  for (size_t c = 0; c < corners.size(); ++c) {
    if (!closed && (c == 0 || c + 1 == corners.size())) continue;
    const std::vector<Point>& in = parts[(c + parts.size() - 1) % parts.size()];
    const std::vector<Point>& outPart = parts[c % parts.size()];
    at[c] = MeetingPoint(SideLine(in, false, span), SideLine(outPart, true, span), at[c], params.cornerReach);
  }
  out.start = at[0];
  for (size_t c = 0; c < pieces; ++c) {
    std::vector<Point>& piece = parts[c];
    piece.front() = at[c];
    piece.back() = at[(c + 1) % corners.size()];
    const std::vector<Point> raw = params.pixelEdges ? piece : std::vector<Point>{};
    Smooth(piece, false, params.filterIterations);
    fitter.Fit(piece, raw, {}, {});
  }
  if (params.pixelEdges) JoinStraightRuns(out, params.errorThreshold + 0.3);
  return out;
}

Contour Reverse(const Contour& contour) {
  Contour out;
  out.closed = contour.closed;
  if (contour.segs.empty()) {
    out.start = contour.start;
    return out;
  }
  out.start = contour.segs.back().end;
  for (size_t i = contour.segs.size(); i-- > 0;) {
    const Segment& s = contour.segs[i];
    Segment r;
    r.line = s.line;
    r.c1 = s.c2;
    r.c2 = s.c1;
    r.end = i > 0 ? contour.segs[i - 1].end : contour.start;
    out.segs.push_back(r);
  }
  return out;
}

}  // namespace at

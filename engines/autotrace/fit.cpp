#include "fit.h"

#include <algorithm>
#include <cmath>

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

class Fitter {
 public:
  Fitter(const FitParams& params, Contour& out) : params_(params), out_(out) {}

  // Fits pts[0..m] from pts[0] to pts[m] with unit tangents t0 (leaving the start) and t1
  // (leaving the end backwards); a zero tangent is estimated from the points.
  void Fit(const std::vector<Point>& pts, Point t0, Point t1, int depth = 0) {
    const size_t m = pts.size() - 1;
    if (m == 0) return;
    if (m == 1 || IsLine(pts)) {
      AddLine(pts[m]);
      return;
    }
    if (Len(t0) == 0) t0 = StartTangent(pts);
    if (Len(t1) == 0) t1 = EndTangent(pts);
    std::vector<double> u = ChordParams(pts);
    Bezier bez = Generate(pts, u, t0, t1);
    size_t split = 0;
    double err = MaxError(pts, u, bez, split);
    for (int i = 0; i < 5 && err > params_.errorThreshold && err < 4 * params_.errorThreshold + 2; ++i) {
      Reparameterize(pts, u, bez);
      bez = Generate(pts, u, t0, t1);
      err = MaxError(pts, u, bez, split);
    }
    if (err <= params_.errorThreshold || m < 4 || depth > 40) {
      AddCurve(bez);
      return;
    }
    split = std::clamp<size_t>(split, 2, m - 2);
    const Point tc = CenterTangent(pts, split);
    std::vector<Point> left(pts.begin(), pts.begin() + static_cast<std::ptrdiff_t>(split) + 1);
    std::vector<Point> right(pts.begin() + static_cast<std::ptrdiff_t>(split), pts.end());
    Fit(left, t0, tc * -1.0, depth + 1);
    Fit(right, tc, t1, depth + 1);
  }

 private:
  bool IsLine(const std::vector<Point>& pts) const {
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
    return std::fabs(sum / static_cast<double>(pts.size())) <= params_.errorThreshold / 2;
  }

  Point StartTangent(const std::vector<Point>& pts) const {
    const size_t k = std::min<size_t>(static_cast<size_t>(params_.tangentSurround), pts.size() - 1);
    Point sum{0, 0};
    for (size_t i = 1; i <= k; ++i) sum = sum + Unit(pts[i] - pts[0]);
    const Point t = Unit(sum);
    return Len(t) > 0 ? t : Unit(pts.back() - pts.front());
  }
  Point EndTangent(const std::vector<Point>& pts) const {
    std::vector<Point> rev(pts.rbegin(), pts.rend());
    return StartTangent(rev);
  }
  Point CenterTangent(const std::vector<Point>& pts, size_t i) const {
    const size_t k = static_cast<size_t>(std::max(1, params_.tangentSurround));
    const size_t lo = i >= k ? i - k : 0, hi = std::min(pts.size() - 1, i + k);
    const Point t = Unit(pts[hi] - pts[lo]);
    return Len(t) > 0 ? t : Unit(pts[i + 1] - pts[i - 1]);
  }

  static std::vector<double> ChordParams(const std::vector<Point>& pts) {
    std::vector<double> u(pts.size(), 0.0);
    for (size_t i = 1; i < pts.size(); ++i) u[i] = u[i - 1] + Len(pts[i] - pts[i - 1]);
    const double total = u.back();
    for (double& v : u) v = total > 0 ? v / total : 0;
    return u;
  }

  // Least-squares placement of the inner control points along the end tangents.
  static Bezier Generate(const std::vector<Point>& pts, const std::vector<double>& u, Point t0, Point t1) {
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

  static double MaxError(const std::vector<Point>& pts, const std::vector<double>& u, const Bezier& bez, size_t& worst) {
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

  static void Reparameterize(const std::vector<Point>& pts, std::vector<double>& u, const Bezier& bez) {
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

Point MeetingPoint(const Line& a, const Line& b, Point fallback) {
  const double cr = Cross(a.d, b.d);
  if (Len(a.d) == 0 || Len(b.d) == 0 || std::fabs(cr) < std::sin(20.0 * M_PI / 180.0)) return fallback;
  const double t = Cross(b.p - a.p, b.d) / cr;
  const Point meet = a.p + a.d * t;
  return Len(meet - fallback) <= 3.0 ? meet : fallback;
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
    for (size_t i = 1; i <= n; ++i) fitter.Fit({pts[i - 1], pts[i % n]}, {}, {});
    return out;
  }

  std::vector<size_t> corners = FindCorners(pts, closed, params);
  if (!closed) {
    corners.insert(corners.begin(), 0);
    corners.push_back(n - 1);
  }
  if (closed && corners.empty()) {
    // A smooth loop: smooth all round, then fit two halves that meet with equal tangents.
    Smooth(pts, true, params.filterIterations);
    const size_t half = n / 2;
    auto tangentAt = [&](size_t i) {
      const size_t k = static_cast<size_t>(std::max(1, params.tangentSurround));
      const Point t = Unit(pts[(i + k) % n] - pts[(i + n - k) % n]);
      return Len(t) > 0 ? t : Unit(pts[(i + 1) % n] - pts[i]);
    };
    const Point ta = tangentAt(0), tb = tangentAt(half);
    out.start = pts[0];
    fitter.Fit(Slice(pts, 0, half, false), ta, tb * -1.0);
    fitter.Fit(Slice(pts, half, 0, true), tb, ta * -1.0);
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
    at[c] = MeetingPoint(SideLine(in, false, span), SideLine(outPart, true, span), at[c]);
  }
  out.start = at[0];
  for (size_t c = 0; c < pieces; ++c) {
    std::vector<Point>& piece = parts[c];
    piece.front() = at[c];
    piece.back() = at[(c + 1) % corners.size()];
    Smooth(piece, false, params.filterIterations);
    fitter.Fit(piece, {}, {});
  }
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

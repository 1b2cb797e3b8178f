#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "output.h"

namespace at {
namespace {

// Record types of the enhanced metafile format.
enum : uint32_t {
  kHeader = 1,
  kPolyBezierTo = 5,
  kPolylineTo = 6,
  kSetWindowExtEx = 9,
  kSetWindowOrgEx = 10,
  kSetViewportExtEx = 11,
  kSetViewportOrgEx = 12,
  kEof = 14,
  kSetMapMode = 17,
  kSetBkMode = 18,
  kSetPolyFillMode = 19,
  kMoveToEx = 27,
  kSelectObject = 37,
  kCreatePen = 38,
  kCreateBrushIndirect = 39,
  kDeleteObject = 40,
  kBeginPath = 59,
  kEndPath = 60,
  kCloseFigure = 61,
  kFillPath = 62,
  kStrokePath = 64,
};
constexpr uint32_t kNullBrush = 0x80000005u;
constexpr uint32_t kNullPen = 0x80000008u;
constexpr int kSubdivision = 16;  // logical units per pixel

struct Rect {
  int32_t left = INT32_MAX, top = INT32_MAX, right = INT32_MIN, bottom = INT32_MIN;
};

class EmfBuilder {
 public:
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) data_.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U16(uint16_t v) {
    data_.push_back(static_cast<char>(v & 0xFF));
    data_.push_back(static_cast<char>(v >> 8));
  }
  void RectOut(const Rect& r) {
    I32(r.left);
    I32(r.top);
    I32(r.right);
    I32(r.bottom);
  }
  void Begin(uint32_t type, uint32_t size) {
    U32(type);
    U32(size);
    ++records_;
  }
  void Simple(uint32_t type, std::initializer_list<uint32_t> args) {
    Begin(type, 8 + 4 * static_cast<uint32_t>(args.size()));
    for (uint32_t a : args) U32(a);
  }
  std::string& data() { return data_; }
  uint32_t records() const { return records_; }

 private:
  std::string data_;
  uint32_t records_ = 0;
};

int32_t Logical(double v) {
  const double scaled = std::round(v * kSubdivision);
  return static_cast<int32_t>(std::clamp(scaled, -2147483647.0, 2147483647.0));
}

uint32_t ColorRef(Rgb c) { return uint32_t{c.r} | uint32_t{c.g} << 8 | uint32_t{c.b} << 16; }

// Device-unit bounds of points given in logical units.
void Grow(Rect& r, int32_t x, int32_t y) {
  r.left = std::min(r.left, x / kSubdivision);
  r.top = std::min(r.top, y / kSubdivision);
  r.right = std::max(r.right, x / kSubdivision + 1);
  r.bottom = std::max(r.bottom, y / kSubdivision + 1);
}

struct LPoint {
  int32_t x, y;
};

void PointRun(EmfBuilder& b, uint32_t type, const std::vector<LPoint>& pts) {
  Rect bounds;
  for (const LPoint& p : pts) Grow(bounds, p.x, p.y);
  b.Begin(type, 28 + 8 * static_cast<uint32_t>(pts.size()));
  b.RectOut(bounds);
  b.U32(static_cast<uint32_t>(pts.size()));
  for (const LPoint& p : pts) {
    b.I32(p.x);
    b.I32(p.y);
  }
}

// One path: each contour a figure of 32-bit Bezier and line runs.
Rect PathOut(EmfBuilder& b, const Shape& shape) {
  Rect bounds;
  b.Simple(kBeginPath, {});
  for (const Contour& c : shape.contours) {
    const int32_t sx = Logical(c.start.x), sy = Logical(c.start.y);
    Grow(bounds, sx, sy);
    b.Simple(kMoveToEx, {static_cast<uint32_t>(sx), static_cast<uint32_t>(sy)});
    std::vector<LPoint> run;
    bool runIsLine = false;
    auto flush = [&]() {
      if (!run.empty()) PointRun(b, runIsLine ? kPolylineTo : kPolyBezierTo, run);
      run.clear();
    };
    for (const Segment& s : c.segs) {
      if (!run.empty() && runIsLine != s.line) flush();
      runIsLine = s.line;
      if (!s.line) {
        run.push_back(LPoint{Logical(s.c1.x), Logical(s.c1.y)});
        run.push_back(LPoint{Logical(s.c2.x), Logical(s.c2.y)});
      }
      run.push_back(LPoint{Logical(s.end.x), Logical(s.end.y)});
      for (const LPoint& p : run) Grow(bounds, p.x, p.y);
    }
    if (c.segs.empty()) {
      runIsLine = true;
      run.push_back(LPoint{sx, sy});
    }
    flush();
    if (c.closed) b.Simple(kCloseFigure, {});
  }
  b.Simple(kEndPath, {});
  return bounds;
}

}  // namespace

// An enhanced metafile whose reference device has the drawing's resolution, so that one
// device unit is one pixel. Drawing is in logical units of 1/16 pixel (anisotropic mapping)
// with 32-bit coordinates throughout, so large pictures keep their precision.
std::string WriteEmf(const Drawing& drawing) {
  EmfBuilder b;
  const int32_t w = std::max(1, drawing.width), h = std::max(1, drawing.height);
  const int32_t deviceUnits = std::max<int32_t>(1, static_cast<int32_t>(std::lround(drawing.dpi * 10)));
  const double hundredthsMm = 2540.0 / drawing.dpi;  // per pixel

  // Header (108 bytes, no description); sizes and counts are patched at the end.
  b.Begin(kHeader, 108);
  b.RectOut(Rect{0, 0, w, h});
  b.RectOut(Rect{0, 0, static_cast<int32_t>(std::lround(w * hundredthsMm)),
                 static_cast<int32_t>(std::lround(h * hundredthsMm))});
  b.U32(0x464D4520u);  // " EMF"
  b.U32(0x00010000u);
  b.U32(0);  // bytes, patched
  b.U32(0);  // records, patched
  b.U16(3);  // handles: the reserved one, a brush and a pen
  b.U16(0);
  b.U32(0);  // description length
  b.U32(0);  // description offset
  b.U32(0);  // palette entries
  b.I32(deviceUnits);
  b.I32(deviceUnits);
  b.I32(254);
  b.I32(254);
  b.U32(0);  // pixel format size
  b.U32(0);  // pixel format offset
  b.U32(0);  // no OpenGL
  b.I32(254000);
  b.I32(254000);

  b.Simple(kSetMapMode, {8});  // anisotropic
  b.Simple(kSetWindowOrgEx, {0, 0});
  b.Simple(kSetWindowExtEx, {static_cast<uint32_t>(w * kSubdivision), static_cast<uint32_t>(h * kSubdivision)});
  b.Simple(kSetViewportOrgEx, {0, 0});
  b.Simple(kSetViewportExtEx, {static_cast<uint32_t>(w), static_cast<uint32_t>(h)});
  b.Simple(kSetBkMode, {1});        // transparent
  b.Simple(kSetPolyFillMode, {1});  // alternate (even-odd)

  for (const Shape& shape : drawing.shapes) {
    if (shape.stroked) {
      b.Simple(kCreatePen, {2, 0, static_cast<uint32_t>(Logical(shape.width)), 0, ColorRef(shape.color)});
      b.Simple(kSelectObject, {2});
      b.Simple(kSelectObject, {kNullBrush});
    } else {
      b.Simple(kCreateBrushIndirect, {1, 0, ColorRef(shape.color), 0});
      b.Simple(kSelectObject, {1});
      b.Simple(kSelectObject, {kNullPen});
    }
    const Rect bounds = PathOut(b, shape);
    b.Begin(shape.stroked ? kStrokePath : kFillPath, 24);
    b.RectOut(bounds);
    if (shape.stroked) {
      b.Simple(kSelectObject, {kNullPen});
      b.Simple(kDeleteObject, {2});
    } else {
      b.Simple(kSelectObject, {kNullBrush});
      b.Simple(kDeleteObject, {1});
    }
  }
  b.Simple(kEof, {0, 16, 20});

  std::string& out = b.data();
  auto patch = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  patch(48, static_cast<uint32_t>(out.size()));
  patch(52, b.records());
  return out;
}

}  // namespace at

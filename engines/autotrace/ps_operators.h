#pragma once
// Path and colour operators that PostScript and PDF content streams share (m, l, c and
// three colour components); only the closing and colour-setting operators differ.
#include <string>
#include <vector>

#include "numfmt.h"
#include "types.h"

namespace at {

// Writes contours as "x y m", "x y l", "x1 y1 x2 y2 x y c" and closeOp. With `relative`
// (our EPS prologue) l and c take steps from the current point, and h and v take a single
// step along x or y; PDF has no relative operators and gets absolute coordinates.
class PsPathWriter {
 public:
  PsPathWriter(std::string& out, const CoordGrid& grid, const char* closeOp, bool relative)
      : out_(out), grid_(grid), closeOp_(closeOp), relative_(relative) {}

  void Contours(const std::vector<Contour>& contours) {
    for (const at::Contour& c : contours) One(c);
  }

 private:
  void One(const at::Contour& c) {
    const int64_t sx = grid_(c.start.x), sy = grid_(c.start.y);
    x_ = y_ = 0;
    Pair(sx, sy);
    out_ += "m\n";
    x_ = sx;
    y_ = sy;
    const size_t count = SegmentsToDraw(c, grid_);
    for (size_t i = 0; i < count; ++i) {
      const Segment& s = c.segs[i];
      const int64_t ex = grid_(s.end.x), ey = grid_(s.end.y);
      if (!s.line) {
        Pair(grid_(s.c1.x), grid_(s.c1.y));
        Pair(grid_(s.c2.x), grid_(s.c2.y));
        Pair(ex, ey);
        out_ += "c\n";
      } else if (relative_ && ey == y_ && ex != x_) {
        Number(ex - x_);
        out_ += "h\n";
      } else if (relative_ && ex == x_ && ey != y_) {
        Number(ey - y_);
        out_ += "v\n";
      } else {
        Pair(ex, ey);
        out_ += "l\n";
      }
      x_ = ex;
      y_ = ey;
    }
    if (c.segs.empty()) {  // a dot: a zero-length line still shows its round caps
      Pair(sx, sy);
      out_ += "l\n";
    }
    if (c.closed) {
      out_ += closeOp_;
      out_ += '\n';
    }
  }
  void Number(int64_t k) {
    AppendFixed(out_, k, grid_.decimals);
    out_ += ' ';
  }
  void Pair(int64_t x, int64_t y) {
    Number(relative_ ? x - x_ : x);
    Number(relative_ ? y - y_ : y);
  }

  std::string& out_;
  const CoordGrid& grid_;
  const char* closeOp_;
  bool relative_;
  int64_t x_ = 0, y_ = 0;
};

// The colour as three fractions followed by op (" rgb\n", " rg\n", " RG\n").
inline void AppendRgb(std::string& out, Rgb c, const char* op) {
  AppendNumber(out, c.r / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.g / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.b / 255.0, 4);
  out += op;
}

}  // namespace at

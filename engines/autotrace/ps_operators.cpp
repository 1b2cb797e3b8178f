#include "ps_operators.h"

#include <vector>

#include "numfmt.h"
#include "output.h"

namespace at {
namespace {

// Writes contours as "x y m", "x y l", "x1 y1 x2 y2 x y c" and closeOp, with the dialect's
// relative steps where it has them.
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
    ForEachDrawnSegment(c, grid_, [&](const GridSegment& s) {
      if (!s.line) {
        Pair(s.x1, s.y1);
        Pair(s.x2, s.y2);
        Pair(s.x, s.y);
        out_ += "c\n";
      } else if (relative_ && s.y == y_ && s.x != x_) {
        Number(s.x - x_);
        out_ += "h\n";
      } else if (relative_ && s.x == x_ && s.y != y_) {
        Number(s.y - y_);
        out_ += "v\n";
      } else {
        Pair(s.x, s.y);
        out_ += "l\n";
      }
      x_ = s.x;
      y_ = s.y;
    });
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

// The colour as three fractions followed by op; nothing without an op.
void AppendRgb(std::string& out, Rgb c, const char* op) {
  if (op == nullptr) return;
  AppendNumber(out, c.r / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.g / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.b / 255.0, 4);
  out += op;
}

}  // namespace

void AppendPaintOperators(std::string& out, const Drawing& drawing, const PsDialect& dialect) {
  const CoordGrid grid(drawing.decimals);
  PsPathWriter path(out, grid, dialect.closePath, dialect.relative);
  for (const PaintRun& run : PaintRuns(drawing)) {
    const Shape& first = drawing.shapes[run.begin];
    AppendRgb(out, first.color, dialect.runColour);
    if (!first.stroked && HasUnderlay(drawing, run)) {
      out += dialect.newPath;
      AppendRgb(out, first.color, dialect.strokeColour);
      for (size_t i = run.begin; i < run.end; ++i) path.Contours(drawing.shapes[i].underlay);
      AppendNumber(out, kUnderlayWidth);
      out += dialect.strokeUnderlay;
    }
    out += dialect.newPath;
    AppendRgb(out, first.color, first.stroked ? dialect.strokeColour : dialect.fillColour);
    for (size_t i = run.begin; i < run.end; ++i) path.Contours(drawing.shapes[i].contours);
    if (first.stroked) {
      AppendNumber(out, first.width);
      out += dialect.stroke;
    } else {
      out += dialect.fill;
    }
  }
}

}  // namespace at

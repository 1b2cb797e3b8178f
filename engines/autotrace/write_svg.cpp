#include <cstdio>

#include "numfmt.h"
#include "output.h"

namespace at {
namespace {

std::string Hex(Rgb c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", c.r, c.g, c.b);
  return buf;
}

// Path data in its shortest common form: relative commands, a command letter only when
// it changes, and a separator only where the next number could not start without one.
class SvgPathData {
 public:
  explicit SvgPathData(const CoordGrid& grid) : grid_(grid) {}

  void Add(const Contour& c) {
    const int64_t sx = grid_(c.start.x), sy = grid_(c.start.y);
    Command('m');
    Pair(sx - x_, sy - y_);
    x_ = sx;
    y_ = sy;
    ForEachDrawnSegment(c, grid_, [&](const GridSegment& s) {
      if (s.line) {
        if (s.y == y_ && s.x != x_) {
          Command('h');
          Number(s.x - x_);
        } else if (s.x == x_) {
          Command('v');
          Number(s.y - y_);
        } else {
          Command('l');
          Pair(s.x - x_, s.y - y_);
        }
      } else {
        Command('c');
        Pair(s.x1 - x_, s.y1 - y_);
        Pair(s.x2 - x_, s.y2 - y_);
        Pair(s.x - x_, s.y - y_);
      }
      x_ = s.x;
      y_ = s.y;
    });
    if (c.segs.empty()) {  // a dot: a zero-length line still shows its round caps
      Command('h');
      Number(0);
    }
    if (c.closed) {
      Command('z');
      last_ = 0;  // a command after z always names itself
      x_ = sx;
      y_ = sy;
    }
  }
  const std::string& text() const { return d_; }

 private:
  void Command(char c) {
    if (c != last_) {
      d_ += c;
      afterNumber_ = false;
    }
    last_ = c;
  }
  void Pair(int64_t a, int64_t b) {
    Number(a);
    Number(b);
  }
  void Number(int64_t k) {
    num_.clear();
    AppendFixed(num_, k, grid_.decimals, true);
    const bool dot = num_.find('.') != std::string::npos;
    if (afterNumber_ && num_[0] != '-' && !(num_[0] == '.' && lastHadDot_)) d_ += ' ';
    d_ += num_;
    afterNumber_ = true;
    lastHadDot_ = dot;
  }

  const CoordGrid& grid_;
  std::string d_, num_;
  int64_t x_ = 0, y_ = 0;
  char last_ = 0;
  bool afterNumber_ = false, lastHadDot_ = false;
};

}  // namespace

// Sizes are plain pixels, the picture's own; -dpi only matters to formats measured in points.
std::string WriteSvg(const Drawing& drawing) {
  const CoordGrid grid(drawing.decimals);
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
  const std::string w = std::to_string(drawing.width), h = std::to_string(drawing.height);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + w + "\" height=\"" + h +
         "\" viewBox=\"0 0 " + w + " " + h + "\">\n";
  for (const PaintRun& run : PaintRuns(drawing)) {
    const Shape& first = drawing.shapes[run.begin];
    SvgPathData d(grid), under(grid);
    for (size_t i = run.begin; i < run.end; ++i) {
      for (const Contour& c : drawing.shapes[i].contours) d.Add(c);
      for (const Contour& c : drawing.shapes[i].underlay) under.Add(c);
    }
    const std::string color = Hex(first.color);
    if (first.stroked) {
      out += "<path fill=\"none\" stroke=\"" + color + "\" stroke-width=\"" + Num(first.width) +
             "\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"" + d.text() + "\"/>\n";
      continue;
    }
    if (!under.text().empty())
      out += "<path fill=\"none\" stroke=\"" + color + "\" stroke-width=\"" + Num(kUnderlayWidth) +
             "\" stroke-linejoin=\"round\" d=\"" +
             under.text() + "\"/>\n";
    out += "<path fill=\"" + color + "\" fill-rule=\"evenodd\" d=\"" + d.text() + "\"/>\n";
  }
  out += "</svg>\n";
  return out;
}

}  // namespace at

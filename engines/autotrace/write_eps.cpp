#include <cmath>

#include "numfmt.h"
#include "output.h"

namespace at {
namespace {

void AppendPoint(std::string& out, Point p) {
  AppendNumber(out, p.x);
  out += ' ';
  AppendNumber(out, p.y);
  out += ' ';
}

void AppendPath(std::string& out, const Shape& shape) {
  for (const Contour& c : shape.contours) {
    AppendPoint(out, c.start);
    out += "m\n";
    for (const Segment& s : c.segs) {
      if (!s.line) {
        AppendPoint(out, s.c1);
        AppendPoint(out, s.c2);
      }
      AppendPoint(out, s.end);
      out += s.line ? "l\n" : "c\n";
    }
    if (c.segs.empty()) {
      AppendPoint(out, c.start);
      out += "l\n";
    }
    if (c.closed) out += "cp\n";
  }
}

void AppendColor(std::string& out, Rgb c) {
  AppendNumber(out, c.r / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.g / 255.0, 4);
  out += ' ';
  AppendNumber(out, c.b / 255.0, 4);
  out += " rgb\n";
}

}  // namespace

// One pixel is 72/dpi points; the picture is drawn in pixel units under a matrix that
// flips y, so that the coordinates are the tracer's own.
std::string WriteEps(const Drawing& drawing, bool document) {
  const double s = 72.0 / drawing.dpi;
  const double w = drawing.width * s, h = drawing.height * s;
  const std::string bw = std::to_string(static_cast<long long>(std::ceil(w - 1e-9)));
  const std::string bh = std::to_string(static_cast<long long>(std::ceil(h - 1e-9)));
  std::string out = document ? "%!PS-Adobe-3.0\n" : "%!PS-Adobe-3.0 EPSF-3.0\n";
  out += "%%Creator: autotrace (Tracewright)\n";
  out += "%%BoundingBox: 0 0 " + bw + " " + bh + "\n";
  out += "%%HiResBoundingBox: 0 0 " + Num(w) + " " + Num(h) + "\n";
  out += "%%LanguageLevel: 2\n";
  if (document) out += "%%Pages: 1\n";
  out += "%%EndComments\n%%BeginProlog\n";
  out += "/m {moveto} bind def /l {lineto} bind def /c {curveto} bind def /cp {closepath} bind def\n";
  out += "/rgb {setrgbcolor} bind def\n%%EndProlog\n";
  if (document) {
    out += "%%BeginSetup\n<< /PageSize [" + Num(w) + " " + Num(h) + "] >> setpagedevice\n%%EndSetup\n";
    out += "%%Page: 1 1\n";
  }
  out += "gsave\n0 " + Num(h) + " translate " + Num(s, 6) + " " + Num(-s, 6) + " scale\n";
  out += "1 setlinecap 1 setlinejoin\n";
  for (const Shape& shape : drawing.shapes) {
    AppendColor(out, shape.color);
    out += "newpath\n";
    AppendPath(out, shape);
    if (shape.stroked) {
      AppendNumber(out, shape.width);
      out += " setlinewidth stroke\n";
    } else {
      out += "eofill\n";
    }
  }
  out += "grestore\n";
  if (document) out += "showpage\n%%Trailer\n";
  out += "%%EOF\n";
  return out;
}

}  // namespace at

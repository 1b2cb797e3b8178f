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

void AppendPoint(std::string& d, Point p) {
  AppendNumber(d, p.x);
  d += ' ';
  AppendNumber(d, p.y);
}

void AppendContour(std::string& d, const Contour& c) {
  d += 'M';
  AppendPoint(d, c.start);
  char last = 'M';
  for (const Segment& s : c.segs) {
    const char cmd = s.line ? 'L' : 'C';
    if (cmd != last) d += cmd;
    else d += ' ';
    last = cmd;
    if (!s.line) {
      AppendPoint(d, s.c1);
      d += ' ';
      AppendPoint(d, s.c2);
      d += ' ';
    }
    AppendPoint(d, s.end);
  }
  if (c.segs.empty()) {  // a dot: a zero-length line still shows its round caps
    d += 'L';
    AppendPoint(d, c.start);
  }
  if (c.closed) d += 'Z';
}

}  // namespace

std::string WriteSvg(const Drawing& drawing) {
  const double s = 72.0 / drawing.dpi;
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" + Num(drawing.width * s) +
         "pt\" height=\"" + Num(drawing.height * s) + "pt\" viewBox=\"0 0 " + std::to_string(drawing.width) +
         " " + std::to_string(drawing.height) + "\">\n";
  for (const Shape& shape : drawing.shapes) {
    std::string d;
    for (const Contour& c : shape.contours) AppendContour(d, c);
    if (shape.stroked) {
      out += "<path fill=\"none\" stroke=\"" + Hex(shape.color) + "\" stroke-width=\"" + Num(shape.width) +
             "\" stroke-linecap=\"round\" stroke-linejoin=\"round\" d=\"" + d + "\"/>\n";
    } else {
      out += "<path fill=\"" + Hex(shape.color) + "\" fill-rule=\"evenodd\" stroke=\"none\" d=\"" + d + "\"/>\n";
    }
  }
  out += "</svg>\n";
  return out;
}

}  // namespace at

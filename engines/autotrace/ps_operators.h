#pragma once
// Path and colour operators that PostScript and PDF content streams share (m, l, c and
// three colour components); only the closing and colour-setting operators differ.
#include <string>

#include "numfmt.h"
#include "types.h"

namespace at {

inline void AppendPoint(std::string& out, Point p) {
  AppendNumber(out, p.x);
  out += ' ';
  AppendNumber(out, p.y);
  out += ' ';
}

// closeOp ends each closed contour: "cp" in our EPS prologue, "h" in PDF.
inline void AppendContours(std::string& out, const Shape& shape, const char* closeOp) {
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
    if (c.closed) {
      out += closeOp;
      out += '\n';
    }
  }
}

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

#include <cmath>

#include "numfmt.h"
#include "output.h"
#include "ps_operators.h"

namespace at {

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
  // Path steps are relative, so that their numbers stay short.
  out += "/m {moveto} bind def /l {rlineto} bind def /c {rcurveto} bind def /cp {closepath} bind def\n";
  out += "/h {0 rlineto} bind def /v {0 exch rlineto} bind def\n";
  out += "/rgb {setrgbcolor} bind def\n%%EndProlog\n";
  if (document) {
    out += "%%BeginSetup\n<< /PageSize [" + Num(w) + " " + Num(h) + "] >> setpagedevice\n%%EndSetup\n";
    out += "%%Page: 1 1\n";
  }
  out += "gsave\n0 " + Num(h) + " translate " + Num(s, 6) + " " + Num(-s, 6) + " scale\n";
  out += "1 setlinecap 1 setlinejoin\n";
  const PsDialect eps{.closePath = "cp", .relative = true, .newPath = "newpath\n", .runColour = " rgb\n",
                      .strokeUnderlay = " setlinewidth 0 setlinecap stroke 1 setlinecap\n",
                      .stroke = " setlinewidth stroke\n", .fill = "eofill\n"};
  AppendPaintOperators(out, drawing, eps);
  out += "grestore\n";
  if (document) out += "showpage\n%%Trailer\n";
  out += "%%EOF\n";
  return out;
}

}  // namespace at

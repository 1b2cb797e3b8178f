#include <cmath>
#include <cstdio>
#include <map>

#include "flatten.h"
#include "numfmt.h"
#include "output.h"

namespace at {
namespace {

// The AutoCAD colour index palette: 1-9 named colours, 10-249 in 24 hues of 10 shades
// (five brightness levels, each fully and half saturated), 250-255 greys.
Rgb AciColor(int i) {
  static const Rgb named[10] = {{0, 0, 0}, {255, 0, 0}, {255, 255, 0}, {0, 255, 0}, {0, 255, 255},
                                {0, 0, 255}, {255, 0, 255}, {0, 0, 0}, {128, 128, 128}, {192, 192, 192}};
  if (i < 10) return named[i];
  if (i >= 250) {
    static const uint8_t grey[6] = {51, 80, 105, 130, 190, 255};
    return Rgb{grey[i - 250], grey[i - 250], grey[i - 250]};
  }
  const double hue = ((i - 10) / 10) * 15.0;
  const int shade = (i - 10) % 10;
  static const double value[5] = {1.0, 0.8, 0.6, 0.5, 0.3};
  const double v = value[shade / 2], sat = shade % 2 ? 0.5 : 1.0;
  const double c = v * sat, h = hue / 60.0, x = c * (1 - std::fabs(std::fmod(h, 2.0) - 1)), m = v - c;
  double r = 0, g = 0, b = 0;
  if (h < 1) r = c, g = x;
  else if (h < 2) r = x, g = c;
  else if (h < 3) g = c, b = x;
  else if (h < 4) g = x, b = c;
  else if (h < 5) r = x, b = c;
  else r = c, b = x;
  auto to8 = [](double t) { return static_cast<uint8_t>(std::lround(t * 255)); };
  return Rgb{to8(r + m), to8(g + m), to8(b + m)};
}

int NearestAci(Rgb c) {
  int best = 7;
  long bestD = -1;
  for (int i = 1; i < 256; ++i) {
    if (i == 7) continue;  // 7 shows black or white depending on the background
    const Rgb a = AciColor(i);
    const long d = (a.r - c.r) * (a.r - c.r) + (a.g - c.g) * (a.g - c.g) + (a.b - c.b) * (a.b - c.b);
    if (bestD < 0 || d < bestD) {
      bestD = d;
      best = i;
    }
  }
  if (c.r < 40 && c.g < 40 && c.b < 40) return 7;
  return best;
}

std::string LayerName(Rgb c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "C%02X%02X%02X", c.r, c.g, c.b);
  return buf;
}

void Pair(std::string& out, int code, const std::string& value) {
  out += std::to_string(code);
  out += '\n';
  out += value;
  out += '\n';
}

}  // namespace

// An R12 (AC1009) ASCII drawing: the version every CAD reader opens and the last without
// handles and object dictionaries. It has no curves, fills or true colours, so outlines
// become closed polylines (curves flattened), centre-lines open polylines carrying their
// width, and each colour gets its own layer named after it with the nearest palette colour.
// Units are points; y points up.
std::string WriteDxf(const Drawing& drawing) {
  const double s = 72.0 / drawing.dpi;
  const double h = drawing.height * s;
  std::map<std::string, int> layers;
  for (const Shape& shape : drawing.shapes) layers.emplace(LayerName(shape.color), NearestAci(shape.color));

  std::string out;
  Pair(out, 0, "SECTION");
  Pair(out, 2, "HEADER");
  Pair(out, 9, "$ACADVER");
  Pair(out, 1, "AC1009");
  Pair(out, 9, "$EXTMIN");
  Pair(out, 10, "0.0");
  Pair(out, 20, "0.0");
  Pair(out, 9, "$EXTMAX");
  Pair(out, 10, Num(drawing.width * s));
  Pair(out, 20, Num(h));
  Pair(out, 0, "ENDSEC");
  Pair(out, 0, "SECTION");
  Pair(out, 2, "TABLES");
  Pair(out, 0, "TABLE");
  Pair(out, 2, "LTYPE");
  Pair(out, 70, "1");
  Pair(out, 0, "LTYPE");
  Pair(out, 2, "CONTINUOUS");
  Pair(out, 70, "0");
  Pair(out, 3, "Solid line");
  Pair(out, 72, "65");
  Pair(out, 73, "0");
  Pair(out, 40, "0.0");
  Pair(out, 0, "ENDTAB");
  Pair(out, 0, "TABLE");
  Pair(out, 2, "LAYER");
  Pair(out, 70, std::to_string(layers.size() + 1));
  Pair(out, 0, "LAYER");
  Pair(out, 2, "0");
  Pair(out, 70, "0");
  Pair(out, 62, "7");
  Pair(out, 6, "CONTINUOUS");
  for (const auto& [name, aci] : layers) {
    Pair(out, 0, "LAYER");
    Pair(out, 2, name);
    Pair(out, 70, "0");
    Pair(out, 62, std::to_string(aci));
    Pair(out, 6, "CONTINUOUS");
  }
  Pair(out, 0, "ENDTAB");
  Pair(out, 0, "ENDSEC");
  Pair(out, 0, "SECTION");
  Pair(out, 2, "ENTITIES");
  std::vector<Point> pts;
  for (const Shape& shape : drawing.shapes) {
    const std::string layer = LayerName(shape.color);
    for (const Contour& c : shape.contours) {
      pts.clear();
      FlattenContour(c, 0.05, pts);
      if (c.closed && pts.size() > 1 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) pts.pop_back();
      if (pts.size() == 1) pts.push_back(pts[0]);
      Pair(out, 0, "POLYLINE");
      Pair(out, 8, layer);
      Pair(out, 66, "1");
      Pair(out, 10, "0.0");
      Pair(out, 20, "0.0");
      Pair(out, 30, "0.0");
      Pair(out, 70, c.closed ? "1" : "0");
      if (shape.stroked) {
        Pair(out, 40, Num(shape.width * s));
        Pair(out, 41, Num(shape.width * s));
      }
      for (const Point& p : pts) {
        Pair(out, 0, "VERTEX");
        Pair(out, 8, layer);
        Pair(out, 10, Num(p.x * s));
        Pair(out, 20, Num(h - p.y * s));
        Pair(out, 30, "0.0");
      }
      Pair(out, 0, "SEQEND");
      Pair(out, 8, layer);
    }
  }
  Pair(out, 0, "ENDSEC");
  Pair(out, 0, "EOF");
  return out;
}

}  // namespace at

#pragma once
// A drawing as the painting operators of a PostScript or PDF content stream. The two share
// the path operators (m, l, c) and the order of painting; they differ in how they spell
// closing, colours and painting, and in whether paths take relative steps.
#include <string>

#include "types.h"

namespace at {

struct PsDialect {
  const char* closePath = nullptr;  // "cp" in our EPS prologue, "h" in PDF
  // Our EPS prologue: l and c take steps from the current point, and h and v a single step
  // along x or y. PDF has no relative operators and gets absolute coordinates.
  bool relative = false;
  const char* newPath = "";  // what starts each path ("newpath\n"), or "" where a path starts by itself
  // A colour operator (" rgb\n") for strokes and fills alike, set once a run; or none, and
  // the colour is set before each path with the stroke or fill operator (" RG\n", " rg\n").
  const char* runColour = nullptr;
  const char* strokeColour = nullptr;
  const char* fillColour = nullptr;
  // The painting operators. The first two follow a line width: the underlay is stroked with
  // butt caps, which must be round again afterwards.
  const char* strokeUnderlay = nullptr;
  const char* stroke = nullptr;
  const char* fill = nullptr;  // even-odd
};

// Appends the operators that paint the drawing, run by run, each fill after its underlay.
void AppendPaintOperators(std::string& out, const Drawing& drawing, const PsDialect& dialect);

}  // namespace at

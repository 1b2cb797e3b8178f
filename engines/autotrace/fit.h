#pragma once
// Corner finding and least-squares cubic Bezier fitting of traced point lists.
#include <vector>

#include "types.h"

namespace at {

struct FitParams {
  double cornerThreshold = 100.0;       // degrees: sharper angles are corner candidates
  double cornerAlwaysThreshold = 60.0;  // degrees: sharper angles are corners regardless
  int cornerSurround = 4;               // points on each side that measure an angle
  double errorThreshold = 2.0;          // pixels a fitted curve may stray from the points
  double lineThreshold = 1.0;           // pixels: points this close to their chord are a line
  double lineReversionThreshold = 0.01; // curves flatter than this times their length are lines
  int filterIterations = 4;             // smoothing passes before fitting
  bool removeAdjacentCorners = false;
  int tangentSurround = 3;              // points on each side that estimate a tangent
  double cornerReach = 3.0;             // pixels a corner may move to where its two sides meet
  // The points are the pixel corners of a region's outline: fitting keeps every pixel on
  // its side of the path rather than following the corners themselves.
  bool pixelEdges = false;
};

// Indices of the corners of a point list (a closed list wraps around; an open list never
// reports its end points, which are fixed anyway).
std::vector<size_t> FindCorners(const std::vector<Point>& pts, bool closed, const FitParams& params);

// Fits lines and cubic Beziers through the points. Open lists keep their end points
// exactly, so that curves fitted separately meet where their point lists met.
Contour FitPoints(std::vector<Point> pts, bool closed, const FitParams& params);

// The same path run backwards.
Contour Reverse(const Contour& contour);

}  // namespace at

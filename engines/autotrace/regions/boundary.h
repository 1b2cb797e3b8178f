#pragma once
// Splitting an indexed image into connected regions and their boundaries.
//
// Every boundary between two regions is traced once as a chain of pixel corners running
// from one junction (a corner where three or more regions meet, or a diagonal crossing) to
// the next, or around a closed loop. Both neighbours use the same chain, so once it is
// fitted the two regions share the curve exactly and no gap can open between them.
#include <cstdint>
#include <vector>

#include "types.h"

namespace at {

constexpr uint32_t kOutside = 0xFFFFFFFFu;  // the region id of everything beyond the image

struct LatticePoint {
  int32_t x = 0, y = 0;
};

struct Chain {
  std::vector<LatticePoint> points;  // a closed loop does not repeat its first point
  bool closed = false;
  uint32_t left = kOutside;   // region on the left when walking the points in order
  uint32_t right = kOutside;  // region on the right
};

struct ChainRef {
  uint32_t chain = 0;
  bool reversed = false;
};

struct Cycle {
  std::vector<ChainRef> chains;
  bool hole = false;
  // A hole is cut out of its region only when something untraced shows through it;
  // holes filled entirely by traced regions are painted over by those regions instead,
  // so no seam of background can show along their edges.
  bool cut = true;
};

struct Region {
  uint32_t color = 0;
  bool traced = false;
  int64_t outerArea = 0;  // twice the area inside the outer boundary
  std::vector<Cycle> cycles;  // the outer boundary first
};

struct RegionMap {
  int width = 0, height = 0;
  std::vector<uint32_t> label;  // region id per pixel
  std::vector<Region> regions;
  std::vector<Chain> chains;
};

// Labels regions (same colour, edge-adjacent, or diagonal where the diagonal is not taken
// by a crossing pair of another colour: the darker colour wins, the background always
// loses) and traces the boundaries of every region whose colour is not the background.
RegionMap BuildRegions(const IndexedImage& image);
// The same for a picture LabelRegionsInPlace has labelled; its label array is taken over.
RegionMap BuildRegions(IndexedImage&& labelled, const std::vector<uint32_t>& regionColor);

// Connected-component labels alone, with the same connectivity rule. Returns the count.
uint32_t LabelRegions(const IndexedImage& image, std::vector<uint32_t>& label);

// The same labels written over the image's own index array (which saves a second array the
// size of the picture); returns each region's palette index, one per region.
std::vector<uint32_t> LabelRegionsInPlace(IndexedImage& image);

}  // namespace at

#pragma once
// Despeckling: small regions merged into their surroundings.
#include <cstdint>

#include "types.h"

namespace at {

// Merges specks into their surroundings: for each step s = 1..level, every connected region
// of at most s*s pixels takes the colour of a neighbour. Neighbours are scored by how much
// border they share, discounted by their colour distance; `tightness` (0..8) sets how much
// the distance matters.
void Despeckle(IndexedImage& image, int level, double tightness);

// One such step: every region of at most maxArea pixels takes a neighbour's colour. Returns
// false when the picture is a single region.
bool MergeSpecks(IndexedImage& image, uint64_t maxArea, double tightness);

// The same for edge-connected specks of at most maxArea pixels (a few), found by bounded
// flood fills instead of labelling the whole picture: no array the size of the picture.
void MergeTinySpecks(IndexedImage& image, size_t maxArea, double tightness);

}  // namespace at

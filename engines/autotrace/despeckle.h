#pragma once
// Despeckling: small regions merged into their surroundings.
#include "types.h"

namespace at {

// Merges specks into their surroundings: for each step s = 1..level, every connected region
// of at most s*s pixels takes the colour of a neighbour. Neighbours are scored by how much
// border they share, discounted by their colour distance; `tightness` (0..8) sets how much
// the distance matters.
void Despeckle(IndexedImage& image, int level, double tightness);

}  // namespace at

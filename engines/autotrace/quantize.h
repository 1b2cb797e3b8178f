#pragma once
// Turning RGB pixels into palette indices, reducing the colour count when asked.
#include "types.h"

namespace at {

// Indexes every distinct colour, or, with colorCount > 0 and more colours than that, reduces
// to at most colorCount colours (median cut refined by k-means). With a background colour,
// that colour keeps its exact value and its palette index becomes `background`.
IndexedImage IndexColors(const Image& image, int colorCount, const Rgb* background);

}  // namespace at

#pragma once
// Turning RGB pixels into palette indices, reducing the colour count when asked.
#include "types.h"

namespace at {

// Indexes every distinct colour, or, with colorCount > 0 and more colours than that, reduces
// to at most colorCount colours (median cut refined by k-means). With a background colour,
// that colour keeps its exact value and its palette index becomes `background`.
IndexedImage IndexColors(const Image& image, int colorCount, const Rgb* background);

// The colours a person sees. Pixels part way between two clearly different neighbours
// (anti-aliasing, blur) are mixtures: they take no part in choosing the palette, and each
// takes the nearer of the colours on its two sides. The palette is the fewest colours that
// keep the rest within a perceptual error budget (at most 32). A picture without such
// in-between shades and with at most 256 colours keeps every colour exactly. A background
// colour within `snap` (OKLab x 100) of a palette colour replaces it. Returns true when the picture has shades
// (edges are ramps worth following between pixels), false when it was indexed exactly.
bool IndexSeenColors(const Image& image, const Rgb* background, IndexedImage& out, double snap = 8.0);

}  // namespace at

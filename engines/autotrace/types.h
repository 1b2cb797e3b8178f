#pragma once
// Plain data shared by every stage of the tracer.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace at {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(Rgb, Rgb) = default;
};

struct Point {
  double x = 0, y = 0;
};

// One piece of a contour; it starts where the previous piece (or the contour) ended.
struct Segment {
  bool line = true;
  Point c1, c2;  // control points, used when !line
  Point end;
};

struct Contour {
  Point start;
  std::vector<Segment> segs;
  bool closed = true;
};

// A filled region (its contours filled even-odd) or a stroked centre-line.
struct Shape {
  Rgb color;
  std::vector<Contour> contours;
  bool stroked = false;
  double width = 1.0;  // stroke width in pixels
  // Set when the fill also covers ground of shapes drawn later (a hole left filled for the
  // regions inside it); such a shape cannot share one even-odd path with others.
  bool overlaps = false;
  // Stretches of the outline that shapes drawn later paint over. They are stroked in this
  // shape's colour, so that the later shapes' anti-aliased edges blend into this colour
  // instead of into whatever lies below.
  std::vector<Contour> underlay;
};

// Coordinates are in pixels, origin at the top-left corner, y pointing down.
struct Drawing {
  int width = 0;
  int height = 0;
  double dpi = 72.0;  // one pixel is 72/dpi points in the output
  int decimals = 3;   // decimals of pixel coordinates in the output
  std::vector<Shape> shapes;
};

// 8-bit RGB, rows top to bottom, no padding.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  // 1 once a grey picture keeps one byte a pixel for its shades alone; At() needs 3.
  int channels = 3;
  Rgb At(int x, int y) const {
    const size_t i = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
    return Rgb{rgb[i], rgb[i + 1], rgb[i + 2]};
  }
};

// Images above this many pixels are refused: 64 Mi pixels is 256 MiB at four bytes a pixel,
// and the tracer's own working memory is a small multiple of that.
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

// An image reduced to palette indices.
struct IndexedImage {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> index;  // one per pixel
  std::vector<Rgb> palette;
  int background = -1;  // palette index that is not traced, or -1
  uint32_t At(int x, int y) const {
    return index[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

}  // namespace at

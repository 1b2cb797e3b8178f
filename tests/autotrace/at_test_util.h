#pragma once
// Pictures for the autotrace tests: painting, PNG files, and reading rendered results.
#include <png.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "types.h"

namespace attest {

inline at::Image Blank(int w, int h, at::Rgb c = {255, 255, 255}) {
  at::Image img;
  img.width = w;
  img.height = h;
  img.rgb.resize(static_cast<size_t>(w) * h * 3);
  for (size_t i = 0; i < img.rgb.size(); i += 3) {
    img.rgb[i] = c.r;
    img.rgb[i + 1] = c.g;
    img.rgb[i + 2] = c.b;
  }
  return img;
}

// Paints the pixels whose centres satisfy inside(x, y).
inline void Paint(at::Image& img, at::Rgb c, const std::function<bool(double, double)>& inside) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      if (inside(x + 0.5, y + 0.5)) {
        const size_t i = (static_cast<size_t>(y) * img.width + x) * 3;
        img.rgb[i] = c.r;
        img.rgb[i + 1] = c.g;
        img.rgb[i + 2] = c.b;
      }
}

// Paints with anti-aliasing, as a renderer does: each pixel is blended with c by the share
// of its 4 x 4 samples for which inside(x, y) holds.
inline void PaintSmooth(at::Image& img, at::Rgb c, const std::function<bool(double, double)>& inside) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x) {
      int hits = 0;
      for (int k = 0; k < 16; ++k) hits += inside(x + (k % 4 + 0.5) / 4, y + (k / 4 + 0.5) / 4);
      if (hits == 0) continue;
      uint8_t* p = &img.rgb[(static_cast<size_t>(y) * static_cast<size_t>(img.width) + static_cast<size_t>(x)) * 3];
      const uint8_t to[3] = {c.r, c.g, c.b};
      for (int k = 0; k < 3; ++k) p[k] = static_cast<uint8_t>((p[k] * (16 - hits) + to[k] * hits + 8) / 16);
    }
}

inline void Rect(at::Image& img, at::Rgb c, double x0, double y0, double x1, double y1) {
  Paint(img, c, [=](double x, double y) { return x >= x0 && x < x1 && y >= y0 && y < y1; });
}

inline void Disc(at::Image& img, at::Rgb c, double cx, double cy, double r) {
  Paint(img, c, [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) < r * r; });
}

inline void Ring(at::Image& img, at::Rgb c, double cx, double cy, double r0, double r1) {
  Paint(img, c, [=](double x, double y) {
    const double d = (x - cx) * (x - cx) + (y - cy) * (y - cy);
    return d < r1 * r1 && d >= r0 * r0;
  });
}

inline bool WritePng(const std::string& path, const at::Image& img) {
  png_image p;
  std::memset(&p, 0, sizeof p);
  p.version = PNG_IMAGE_VERSION;
  p.width = static_cast<png_uint_32>(img.width);
  p.height = static_cast<png_uint_32>(img.height);
  p.format = PNG_FORMAT_RGB;
  return png_image_write_to_file(&p, path.c_str(), 0, img.rgb.data(), 0, nullptr) != 0;
}

inline bool ReadPng(const std::string& path, at::Image& img) {
  png_image p;
  std::memset(&p, 0, sizeof p);
  p.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&p, path.c_str())) return false;
  p.format = PNG_FORMAT_RGB;
  img.width = static_cast<int>(p.width);
  img.height = static_cast<int>(p.height);
  img.rgb.assign(PNG_IMAGE_SIZE(p), 0);
  png_color white{255, 255, 255};
  return png_image_finish_read(&p, &white, img.rgb.data(), 0, nullptr) != 0;
}

// Share of pixels whose rendered colour is nearer their own colour than any other colour
// in their 3x3 neighbourhood of the input (an edge pixel blended from both sides counts
// for the side that covers most of it).
inline double Agreement(const at::Image& in, const at::Image& out) {
  if (in.width != out.width || in.height != out.height) return 0;
  auto d2 = [](at::Rgb a, at::Rgb b) {
    return (a.r - b.r) * (a.r - b.r) + (a.g - b.g) * (a.g - b.g) + (a.b - b.b) * (a.b - b.b);
  };
  long good = 0;
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      const at::Rgb a = in.At(x, y), r = out.At(x, y);
      bool ok = true;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = x + dx, yy = y + dy;
          if (xx < 0 || yy < 0 || xx >= in.width || yy >= in.height) continue;
          const at::Rgb b = in.At(xx, yy);
          if (!(b == a) && d2(b, r) < d2(a, r)) ok = false;
        }
      good += ok;
    }
  return static_cast<double>(good) / (static_cast<double>(in.width) * in.height);
}

// Flat-colour test art: overlapping discs, a ring, a bar and a square in five colours.
inline at::Image Logo() {
  at::Image img = Blank(240, 160);
  Disc(img, {200, 30, 30}, 70, 80, 55);
  Disc(img, {30, 120, 200}, 120, 85, 45);
  Ring(img, {240, 190, 20}, 70, 80, 22, 34);
  Rect(img, {20, 150, 60}, 150, 20, 225, 70);
  Paint(img, {0, 0, 0}, [](double x, double y) { return std::fabs((y - 140) - 0.3 * (x - 120)) < 6 && x > 20 && x < 230; });
  return img;
}

}  // namespace attest

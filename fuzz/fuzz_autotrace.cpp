// Feeds arbitrary small images through the autotrace engine: decoding, colour reduction,
// despeckling, outline and centre-line tracing, and every writer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "noise_removal.h"
#include "image_in.h"
#include "output.h"
#include "quantize.h"
#include "trace.h"

namespace {

// When the bytes are no image file, they become one: a width, then palette indices.
at::Image RawImage(const uint8_t* data, size_t size) {
  static const at::Rgb palette[4] = {{255, 255, 255}, {0, 0, 0}, {200, 30, 30}, {30, 30, 200}};
  at::Image img;
  if (size < 2) return img;
  img.width = 1 + data[0] % 48;
  const size_t cells = (size - 1) * 4;
  img.height = static_cast<int>(cells / static_cast<size_t>(img.width));
  if (img.height == 0) return at::Image{};
  if (img.height > 48) img.height = 48;
  img.rgb.resize(static_cast<size_t>(img.width) * static_cast<size_t>(img.height) * 3);
  for (size_t i = 0; i < static_cast<size_t>(img.width) * static_cast<size_t>(img.height); ++i) {
    const at::Rgb c = palette[(data[1 + i / 4] >> (2 * (i % 4))) & 3];
    img.rgb[3 * i] = c.r;
    img.rgb[3 * i + 1] = c.g;
    img.rgb[3 * i + 2] = c.b;
  }
  return img;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  std::vector<uint8_t> bytes(data + 1, data + size);
  at::Image img;
  std::string error;
  if (!at::DecodeImage(bytes, "", img, error)) img = RawImage(data + 1, size - 1);
  if (img.width <= 0 || img.height <= 0) return 0;
  if (static_cast<size_t>(img.width) * static_cast<size_t>(img.height) > 128 * 128) return 0;  // keep runs fast

  const at::Rgb white{255, 255, 255};
  const bool centerline = mode & 1;
  const int colors = (mode >> 1) & 3 ? 1 << ((mode >> 1) & 3) : 0;
  // Without a count: the colours a person sees, with edges followed between pixels.
  at::IndexedImage indexed;
  bool shaded = false;
  if (colors == 0) shaded = at::IndexSeenColors(img, (mode & 8) || centerline ? &white : nullptr, indexed);
  else indexed = at::IndexColors(img, colors, (mode & 8) || centerline ? &white : nullptr);
  if (mode & 16) at::Despeckle(indexed, 1 + (mode >> 6), 2.0);
  at::FitParams fit;
  fit.errorThreshold = (mode & 32) ? 0.05 : 0.25;
  fit.filterIterations = (mode & 64) ? 0 : 4;
  fit.removeAdjacentCorners = mode & 128;
  at::Drawing drawing;
  if (centerline) {
    at::CenterlineParams cp;
    cp.preserveWidth = mode & 2;
    cp.noiseRemoval = (mode & 4) ? 0.5 : 0.99;
    drawing = at::TraceCenterlines(indexed, fit, cp);
  } else {
    drawing = at::TraceOutlines(indexed, fit, shaded ? &img : nullptr);
  }
  drawing.decimals = (mode >> 5) & 3;  // coarse and fine coordinates in the compact writers
  for (at::Format f : {at::Format::Svg, at::Format::Pdf, at::Format::Eps, at::Format::Ps, at::Format::Dxf, at::Format::Emf}) {
    const std::string out = at::WriteDrawing(drawing, f);
    if (out.empty()) __builtin_trap();
  }
  return 0;
}

#pragma once
// Shared body of the codec fuzz targets: the size probe, then a full decode when the image is
// small enough to keep runs fast, every pixel read and the image encoded again.
#include <cstddef>
#include <cstdint>

#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
inline volatile uint32_t g_pixelSink = 0;

template <class Codec>
int DecodeAndTouch(const uint8_t* data, size_t size, uint64_t maxPixels) {
  {
    CxMemStream stream(data, size);
    Codec probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream)) return 0;
    if (static_cast<uint64_t>(probe.Width()) * probe.Height() > maxPixels) return 0;
  }
  CxMemStream stream(data, size);
  Codec image;
  if (image.Decode(&stream) && image.IsValid()) {
    // Touch every pixel so that a bad row or palette shows up under the sanitizers.
    uint32_t sum = 0;
    for (uint32_t y = 0; y < image.Height(); ++y) {
      for (uint32_t x = 0; x < image.Width(); ++x) sum += image.ColourAt(x, y, true).red;
    }
    CxMemStream out;
    image.Encode(&out);
    g_pixelSink = sum;
  }
  return 0;
}

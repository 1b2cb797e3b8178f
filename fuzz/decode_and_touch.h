#pragma once
// Shared body of the codec fuzz targets: the size probe, then a full decode when the image is
// small enough to keep runs fast, every pixel read and the image encoded again. The pieces
// serve the targets that do more (later frames, options, a second decode) on their own.
#include <cstddef>
#include <cstdint>

#include "image/core/image.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
inline volatile uint32_t g_pixelSink = 0;

// Probes the size without reading pixels (`decodeArgs` as Decode takes them after the
// stream); false when the bytes are no such image or it has more than maxPixels.
template <class Codec, class... DecodeArgs>
bool SmallEnough(const uint8_t* data, size_t size, uint64_t maxPixels, DecodeArgs... decodeArgs) {
  CxMemStream stream(data, size);
  Codec probe;
  probe.SetEscape(-1);
  if (!probe.Decode(&stream, decodeArgs...)) return false;
  return static_cast<uint64_t>(probe.Width()) * probe.Height() <= maxPixels;
}

// Reads every stored byte of every row and every palette entry, so that a short row or a bad
// palette shows up under the sanitizers.
inline uint32_t TouchRows(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.RowPointer(y);
    for (uint32_t i = 0; i < image.Stride(); ++i) sum += row[i];
  }
  const RgbQuad* palette = image.PaletteEntries();
  for (uint32_t i = 0; palette != nullptr && i < image.ColoursUsed(); ++i) sum += palette[i].red;
  return sum;
}

// Reads every pixel's colour, with or without its alpha.
inline uint32_t TouchColours(const CxImage& image, bool withAlpha) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) sum += image.ColourAt(x, y, withAlpha).red;
  }
  return sum;
}

template <class Codec>
int DecodeAndTouch(const uint8_t* data, size_t size, uint64_t maxPixels) {
  if (!SmallEnough<Codec>(data, size, maxPixels)) return 0;
  CxMemStream stream(data, size);
  Codec image;
  if (image.Decode(&stream) && image.IsValid()) {
    const uint32_t sum = TouchColours(image, true);
    CxMemStream out;
    image.Encode(&out);
    g_pixelSink = sum;
  }
  return 0;
}

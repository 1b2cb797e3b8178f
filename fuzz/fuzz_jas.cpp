// Feeds arbitrary bytes to the JPEG 2000 / PNM / PGX / Sun raster decoder: the size probe,
// the decode, a second component as a frame, and the writer of the recognised format.
#include <cstddef>
#include <cstdint>

#include "image/codecs/jas/jas_codec.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSink = 0;

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;
constexpr uint64_t kMaxWrittenArea = 64u * 64u;

uint32_t TouchPixels(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.RowPointer(y);
    for (uint32_t i = 0; i < image.Stride(); ++i) sum += row[i];
  }
  return sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t type = 0;
  {
    CxMemStream stream(data, size);
    CxImageJAS probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream, 0)) return 0;
    if (static_cast<uint64_t>(probe.Width()) * probe.Height() > kMaxArea) return 0;
    type = probe.FormatType();
  }
  CxMemStream stream(data, size);
  CxImageJAS image;
  if (!image.Decode(&stream, 0) || !image.IsValid()) return 0;
  uint32_t sum = TouchPixels(image);
  if (image.FrameCount() > 1) {
    CxMemStream again(data, size);
    CxImageJAS second;
    second.SetFrameToLoad(1);
    if (second.Decode(&again, 0) && second.IsValid()) sum += TouchPixels(second);
  }
  if (static_cast<uint64_t>(image.Width()) * image.Height() <= kMaxWrittenArea) {
    CxMemStream out;
    image.Encode(&out, type);
  }
  g_pixelSink = sum;
  return 0;
}

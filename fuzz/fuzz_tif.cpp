// Feeds arbitrary bytes to the TIFF decoder: the size probe, the first page, a later page
// when there is one, and the writer on what was decoded.
#include <cstddef>
#include <cstdint>

#include "image/codecs/tiff/tiff_codec.h"
#include "image/io/stream.h"

// Keeps the pixel reads from being optimised away.
volatile uint32_t g_pixelSink = 0;

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;
constexpr uint64_t kMaxWrittenArea = 128u * 128u;

uint32_t TouchPixels(const CxImage& image) {
  uint32_t sum = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint8_t* row = image.RowPointer(y);
    for (uint32_t i = 0; i < image.Stride(); ++i) sum += row[i];
  }
  if (image.HasAlpha()) sum += image.AlphaGet(image.Width() - 1, image.Height() - 1);
  return sum;
}

bool DecodePage(const uint8_t* data, size_t size, int32_t page, CxImageTIF& image) {
  CxMemStream stream(data, size);
  image.SetFrameToLoad(page);
  return image.Decode(&stream) && image.IsValid();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  {
    CxMemStream stream(data, size);
    CxImageTIF probe;
    probe.SetEscape(-1);
    if (!probe.Decode(&stream)) return 0;
    if (static_cast<uint64_t>(probe.Width()) * probe.Height() > kMaxArea) return 0;
  }
  CxImageTIF first;
  if (!DecodePage(data, size, 0, first)) return 0;
  uint32_t sum = TouchPixels(first);
  if (static_cast<uint64_t>(first.Width()) * first.Height() <= kMaxWrittenArea) {
    CxMemStream out;
    first.Encode(&out);
  }
  if (first.FrameCount() > 1) {
    CxImageTIF last;
    if (DecodePage(data, size, first.FrameCount() - 1, last)) sum += TouchPixels(last);
  }
  g_pixelSink = sum;
  return 0;
}

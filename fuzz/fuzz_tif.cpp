// Feeds arbitrary bytes to the TIFF decoder: the size probe, the first page, a later page
// when there is one, and the writer on what was decoded.
#include "decode_and_touch.h"
#include "image/codecs/tiff/tiff_codec.h"

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;
constexpr uint64_t kMaxWrittenArea = 128u * 128u;

uint32_t TouchPage(const CxImage& image) {
  uint32_t sum = TouchRows(image);
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
  if (!SmallEnough<CxImageTIF>(data, size, kMaxArea)) return 0;
  CxImageTIF first;
  if (!DecodePage(data, size, 0, first)) return 0;
  uint32_t sum = TouchPage(first);
  if (static_cast<uint64_t>(first.Width()) * first.Height() <= kMaxWrittenArea) {
    CxMemStream out;
    first.Encode(&out);
  }
  if (first.FrameCount() > 1) {
    CxImageTIF last;
    if (DecodePage(data, size, first.FrameCount() - 1, last)) sum += TouchPage(last);
  }
  g_pixelSink = sum;
  return 0;
}

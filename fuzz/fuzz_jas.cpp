// Feeds arbitrary bytes to the JPEG 2000 / PNM / PGX / Sun raster decoder: the size probe,
// the decode, a second component as a frame, and the writer of the recognised format.
#include "decode_and_touch.h"
#include "image/codecs/jas/jas_codec.h"

namespace {

constexpr uint64_t kMaxArea = 1024u * 1024u;
constexpr uint64_t kMaxWrittenArea = 64u * 64u;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!SmallEnough<CxImageJAS>(data, size, kMaxArea, 0u)) return 0;
  CxMemStream stream(data, size);
  CxImageJAS image;
  if (!image.Decode(&stream, 0) || !image.IsValid()) return 0;
  uint32_t sum = TouchRows(image);
  if (image.FrameCount() > 1) {
    CxMemStream again(data, size);
    CxImageJAS second;
    second.SetFrameToLoad(1);
    if (second.Decode(&again, 0) && second.IsValid()) sum += TouchRows(second);
  }
  if (static_cast<uint64_t>(image.Width()) * image.Height() <= kMaxWrittenArea) {
    CxMemStream out;
    image.Encode(&out, image.FormatType());
  }
  g_pixelSink = sum;
  return 0;
}

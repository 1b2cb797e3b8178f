// Arbitrary bytes through the untyped decoder chain over a memory stream.
#include "decode_and_touch.h"
#include "image/io/format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Probe first so that huge (but legal) dimensions do not make every run slow.
  if (!SmallEnough<CxImage>(data, size, uint64_t{1} << 22, FORMAT_UNKNOWN)) return 0;
  CxMemStream stream(data, size);
  CxImage image;
  if (image.Decode(&stream, FORMAT_UNKNOWN)) {
    // Touch what a caller would: the reductions and the BMP writer.
    CxMemStream out;
    image.Encode(&out, FORMAT_BMP);
    image.ApplyThreshold(128);
    image.Encode(&out, FORMAT_BMP);
  }
  return 0;
}

// Arbitrary bytes through the untyped decoder chain over a memory stream.
#include <cstddef>
#include <cstdint>

#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Probe first so that huge (but legal) dimensions do not make every run slow.
  {
    CxMemStream probeStream(data, size);
    CxImage probe;
    probe.SetEscape(-1);
    if (probe.Decode(&probeStream, FORMAT_UNKNOWN) &&
        static_cast<uint64_t>(probe.Width()) * probe.Height() > (uint64_t{1} << 22))
      return 0;
  }
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

// Feeds arbitrary bytes to the TGA decoder.
#include "decode_and_touch.h"
#include "image/ximatga.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return DecodeAndTouch<CxImageTGA>(data, size, 512u * 512u);
}

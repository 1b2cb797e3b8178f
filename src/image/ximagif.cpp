#include "image/ximagif.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the GIF codec lands: decodes and encodes nothing.
CxImageGIF::CxImageGIF() : CxImage(FORMAT_GIF) {}

bool CxImageGIF::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageGIF::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}

#include "image/ximatif.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the TIFF codec lands: decodes and encodes nothing.
CxImageTIF::CxImageTIF() : CxImage(FORMAT_TIF) {}

bool CxImageTIF::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageTIF::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}

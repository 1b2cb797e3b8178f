#include "image/ximajas.h"

#include "image/image_format.h"
#include "image/xstream.h"

// Placeholder until the JPEG-2000 / PNM codec lands: decodes and encodes nothing.
CxImageJAS::CxImageJAS() : CxImage(FORMAT_UNKNOWN) {}

bool CxImageJAS::Decode(CxStream* stream, uint32_t) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageJAS::Encode(CxStream* stream, uint32_t) {
  if (!CheckEncodable(stream)) return false;
  SetLastError("Encode: Unknown format");
  return false;
}

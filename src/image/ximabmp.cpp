#include "image/ximabmp.h"

#include "image/image_format.h"
#include "image/xstream.h"

CxImageBMP::CxImageBMP() : CxImage(FORMAT_BMP) {}

bool CxImageBMP::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  SetLastError("Decode: Unknown or wrong format");
  return false;
}

bool CxImageBMP::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  return false;
}

bool CxImageBMP::ReadBitmapInfo(CxStream*, BitmapInfoHeader*) { return false; }
void CxImageBMP::BitfieldsToRgb(const uint8_t*, uint64_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void CxImageBMP::DecodeRle8(CxStream*) {}
void CxImageBMP::DecodeRle4(CxStream*) {}

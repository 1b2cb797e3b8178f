#pragma once
// TIFF codec.
#include "image/ximage.h"

class CxImageTIF : public CxImage {
 public:
  CxImageTIF();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};

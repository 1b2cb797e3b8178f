#pragma once
// TGA codec.
#include "image/ximage.h"

class CxImageTGA : public CxImage {
 public:
  CxImageTGA();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};

#pragma once
// JPEG codec.
#include "image/ximage.h"

class CxImageJPG : public CxImage {
 public:
  CxImageJPG();
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
};

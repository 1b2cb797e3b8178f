#pragma once
// JPEG-2000 (JP2, J2K/JPC), PGX, the PNM family and Sun raster: types 11 to 15. Type 0
// recognises the format from the data.
#include <cstdint>

#include "image/core/image.h"

struct JasRaster;
struct JasComponent;

class CxImageJAS : public CxImage {
 public:
  CxImageJAS();
  bool Decode(CxStream* stream, uint32_t formatType);
  bool Encode(CxStream* stream, uint32_t formatType);

 private:
  bool FillColour(const JasRaster& raster, uint32_t type);
  bool FillGreyFrame(const JasComponent& component, uint32_t type);
};

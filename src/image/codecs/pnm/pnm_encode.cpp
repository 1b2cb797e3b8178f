// PNM writer: raw PGM (grey) or PPM (colour), 8 bits a sample.
#include <cstdio>
#include <vector>

#include "image/codecs/jas/jas_raster.h"

bool WritePnm(CxStream* stream, const JasPlanes& planes) {
  char head[64];
  snprintf(head, sizeof head, "P%c\n%u %u\n255\n", planes.count == 3 ? '6' : '5', planes.width,
           planes.height);
  if (!JasPutText(stream, head)) return false;
  static const uint32_t kRgb[3] = {0, 1, 2};
  std::vector<uint8_t> row(static_cast<size_t>(planes.width) * planes.count);
  for (uint32_t y = 0; y < planes.height; ++y) {
    JasInterleave(planes, y, kRgb, row);
    if (!JasPut(stream, row.data(), row.size())) return false;
  }
  return true;
}

// Sun raster writer: standard (uncompressed) 8-bit grey or 24-bit BGR rows.
#include <cstddef>
#include <vector>

#include "image/codecs/jas/jas_raster.h"

bool WriteRas(CxStream* stream, const JasPlanes& planes) {
  const uint32_t depth = planes.count == 3 ? 24 : 8;
  const size_t rowBytes = (static_cast<size_t>(planes.width) * depth + 15) / 16 * 2;
  const uint64_t length = static_cast<uint64_t>(rowBytes) * planes.height;
  const uint32_t header[8] = {0x59A66A95u, planes.width, planes.height, depth,
                              length > 0xFFFFFFFFu ? 0u : static_cast<uint32_t>(length),
                              1 /* standard */, 0, 0};
  for (uint32_t v : header) {
    if (!JasPutU32BE(stream, v)) return false;
  }
  static const uint32_t kBgr[3] = {2, 1, 0};
  static const uint32_t kGrey[1] = {0};
  std::vector<uint8_t> row(rowBytes, 0);
  for (uint32_t y = 0; y < planes.height; ++y) {
    JasInterleave(planes, y, planes.count == 3 ? kBgr : kGrey, row);
    if (!JasPut(stream, row.data(), row.size())) return false;
  }
  return true;
}

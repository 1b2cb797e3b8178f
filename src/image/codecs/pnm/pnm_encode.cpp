// Writers of the simple formats: raw PGM/PPM, PGX, standard Sun raster.
#include <cstdio>
#include <string>

#include "image/codecs/jas/jas_raster.h"
#include "image/io/stream.h"

namespace {

bool Put(CxStream* s, const void* data, size_t n) { return n == 0 || s->Write(data, 1, n) == n; }

bool PutText(CxStream* s, const std::string& text) { return Put(s, text.data(), text.size()); }

bool PutU32BE(CxStream* s, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return Put(s, b, 4);
}

// One picture row, channels interleaved in the given order.
void Interleave(const JasPlanes& p, uint32_t y, const uint32_t* order, std::vector<uint8_t>& row) {
  const size_t base = static_cast<size_t>(y) * p.width;
  for (uint32_t x = 0; x < p.width; ++x) {
    for (uint32_t k = 0; k < p.count; ++k) row[static_cast<size_t>(x) * p.count + k] = p.samples[order[k]][base + x];
  }
}

}  // namespace

bool WritePnm(CxStream* stream, const JasPlanes& planes) {
  char head[64];
  snprintf(head, sizeof head, "P%c\n%u %u\n255\n", planes.count == 3 ? '6' : '5', planes.width,
           planes.height);
  if (!PutText(stream, head)) return false;
  static const uint32_t kRgb[3] = {0, 1, 2};
  std::vector<uint8_t> row(static_cast<size_t>(planes.width) * planes.count);
  for (uint32_t y = 0; y < planes.height; ++y) {
    Interleave(planes, y, kRgb, row);
    if (!Put(stream, row.data(), row.size())) return false;
  }
  return true;
}

bool WritePgx(CxStream* stream, const JasPlanes& planes) {
  char head[64];
  snprintf(head, sizeof head, "PG ML +8 %u %u\n", planes.width, planes.height);
  return PutText(stream, head) && Put(stream, planes.samples[0].data(), planes.samples[0].size());
}

bool WriteRas(CxStream* stream, const JasPlanes& planes) {
  const uint32_t depth = planes.count == 3 ? 24 : 8;
  const size_t rowBytes = (static_cast<size_t>(planes.width) * depth + 15) / 16 * 2;
  const uint64_t length = static_cast<uint64_t>(rowBytes) * planes.height;
  const uint32_t header[8] = {0x59A66A95u, planes.width, planes.height, depth,
                              length > 0xFFFFFFFFu ? 0u : static_cast<uint32_t>(length),
                              1 /* standard */, 0, 0};
  for (uint32_t v : header) {
    if (!PutU32BE(stream, v)) return false;
  }
  static const uint32_t kBgr[3] = {2, 1, 0};
  static const uint32_t kGrey[1] = {0};
  std::vector<uint8_t> row(rowBytes, 0);
  for (uint32_t y = 0; y < planes.height; ++y) {
    Interleave(planes, y, planes.count == 3 ? kBgr : kGrey, row);
    if (!Put(stream, row.data(), row.size())) return false;
  }
  return true;
}

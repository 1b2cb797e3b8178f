// Output side shared by the simple writers (PNM, PGX, Sun raster).
#include <string>
#include <vector>

#include "image/codecs/jas/jas_raster.h"
#include "image/io/stream.h"

bool JasPut(CxStream* s, const void* data, size_t n) { return n == 0 || s->Write(data, 1, n) == n; }

bool JasPutText(CxStream* s, const std::string& text) { return JasPut(s, text.data(), text.size()); }

bool JasPutU32BE(CxStream* s, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                        static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return JasPut(s, b, 4);
}

// One picture row, channels interleaved in the given order.
void JasInterleave(const JasPlanes& p, uint32_t y, const uint32_t* order, std::vector<uint8_t>& row) {
  const size_t base = static_cast<size_t>(y) * p.width;
  for (uint32_t x = 0; x < p.width; ++x) {
    for (uint32_t k = 0; k < p.count; ++k) row[static_cast<size_t>(x) * p.count + k] = p.samples[order[k]][base + x];
  }
}

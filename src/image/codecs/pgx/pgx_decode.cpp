// PGX: the one-component test format of JPEG 2000 ("PG ML +8 width height", raw samples).
#include <limits>

#include "image/codecs/jas/jas_raster.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

bool IsBlank(int c) { return c == ' ' || c == '\t'; }

void SkipBlanks(JasByteReader& in) {
  while (IsBlank(in.Peek())) in.Get();
}

bool ReadNumber(JasByteReader& in, uint32_t limit, uint32_t& out) {
  SkipBlanks(in);
  return ReadDecimal(in, limit, out);
}

struct PgxHeader {
  bool bigEndian = true;
  bool isSigned = false;
  uint32_t depth = 0;
  uint32_t width = 0;
  uint32_t height = 0;
};

bool ReadHeader(JasByteReader& in, PgxHeader& h) {
  if (in.Get() != 'P' || in.Get() != 'G') return false;
  SkipBlanks(in);
  const int a = in.Get();
  const int b = in.Get();
  if (a == 'M' && b == 'L') {
    h.bigEndian = true;
  } else if (a == 'L' && b == 'M') {
    h.bigEndian = false;
  } else {
    return false;
  }
  SkipBlanks(in);
  if (in.Peek() == '+' || in.Peek() == '-') h.isSigned = in.Get() == '-';
  constexpr uint32_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (!ReadNumber(in, 16, h.depth) || h.depth == 0) return false;
  if (!ReadNumber(in, kMaxSide, h.width) || !ReadNumber(in, kMaxSide, h.height)) return false;
  if (h.width == 0 || h.height == 0) return false;
  SkipBlanks(in);
  if (in.Peek() == '\r') in.Get();
  return in.Get() == '\n';
}

}  // namespace

bool ReadPgx(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error) {
  JasByteReader in(stream);
  PgxHeader h;
  if (!ReadHeader(in, h)) return false;
  raster.formatType = FORMAT_PGX;
  raster.width = h.width;
  raster.height = h.height;
  raster.componentCount = 1;
  raster.colourSpace = JasColourSpace::Grey;
  if (headerOnly) return true;

  const uint64_t samples = static_cast<uint64_t>(h.width) * h.height;
  if (!CheckedSize({samples, sizeof(uint16_t)})) {
    error = kMaxMemoryMessage;
    return false;
  }
  const size_t bytes = h.depth > 8 ? 2 : 1;
  if (samples * bytes > in.Remaining()) return false;

  JasComponent c;
  c.width = h.width;
  c.height = h.height;
  c.precision = h.depth;
  c.data16.assign(static_cast<size_t>(samples), 0);
  const uint32_t mask = (1u << h.depth) - 1u;
  const uint32_t half = 1u << (h.depth - 1);
  std::vector<uint8_t> row(static_cast<size_t>(h.width) * bytes);
  for (uint32_t y = 0; y < h.height; ++y) {
    if (in.Read(row.data(), row.size()) != row.size()) return false;
    uint16_t* out = c.data16.data() + static_cast<size_t>(y) * h.width;
    for (uint32_t x = 0; x < h.width; ++x) {
      const uint8_t* p = row.data() + static_cast<size_t>(x) * bytes;
      uint32_t v = bytes == 1 ? p[0] : h.bigEndian ? LoadU16BigEndian(p) : LoadU16LE(p);
      v &= mask;
      // Signed samples are moved to the unsigned range: -2^(d-1) becomes 0.
      if (h.isSigned) v = (v ^ half) & mask;
      out[x] = static_cast<uint16_t>(v);
    }
  }
  raster.components.push_back(std::move(c));
  return true;
}

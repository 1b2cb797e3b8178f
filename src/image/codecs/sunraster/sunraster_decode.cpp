// Sun raster: 32-byte big-endian header, optional RGB colour map, rows padded to 16 bits,
// raw or byte-run encoded.
#include <limits>

#include "image/codecs/jas/jas_raster.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

// Types 0 (old) and 1 (standard) store B, G, R; type 3 stores R, G, B.
constexpr uint32_t kTypeByteEncoded = 2;
constexpr uint32_t kTypeRgb = 3;
constexpr uint32_t kMapNone = 0;
constexpr uint32_t kMapRgb = 1;
constexpr uint32_t kMapRaw = 2;

struct RasHeader {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t depth = 0;
  uint32_t type = 0;
  uint32_t mapType = 0;
  uint32_t mapLength = 0;
};

bool ReadHeader(JasByteReader& in, RasHeader& h) {
  uint8_t raw[32];
  if (in.Read(raw, 32) != 32 || LoadU32BigEndian(raw) != 0x59A66A95u) return false;
  h.width = LoadU32BigEndian(raw + 4);
  h.height = LoadU32BigEndian(raw + 8);
  h.depth = LoadU32BigEndian(raw + 12);
  h.type = LoadU32BigEndian(raw + 20);
  h.mapType = LoadU32BigEndian(raw + 24);
  h.mapLength = LoadU32BigEndian(raw + 28);
  constexpr uint32_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (h.width == 0 || h.height == 0 || h.width > kMaxSide || h.height > kMaxSide) return false;
  if (h.depth != 1 && h.depth != 8 && h.depth != 24 && h.depth != 32) return false;
  if (h.type > kTypeRgb) return false;
  if (h.mapType > kMapRaw) return false;
  if (h.mapType == kMapNone && h.mapLength != 0) return false;
  if (h.mapType == kMapRgb && (h.mapLength % 3 != 0 || h.mapLength > 768)) return false;
  return true;
}

// Expands byte-run data (0x80 n v: n + 1 copies of v; 0x80 0: one 0x80) into out.
bool Unpack(JasByteReader& in, std::vector<uint8_t>& out) {
  size_t at = 0;
  while (at < out.size()) {
    const int b = in.Get();
    if (b < 0) return false;
    if (b != 0x80) {
      out[at++] = static_cast<uint8_t>(b);
      continue;
    }
    const int n = in.Get();
    if (n < 0) return false;
    if (n == 0) {
      out[at++] = 0x80;
      continue;
    }
    const int v = in.Get();
    if (v < 0) return false;
    for (int i = 0; i <= n && at < out.size(); ++i) out[at++] = static_cast<uint8_t>(v);
  }
  return true;
}

bool ReadPixels(JasByteReader& in, const RasHeader& h, std::vector<uint8_t>& rows,
                uint64_t rowBytes) {
  const uint64_t total = rowBytes * h.height;
  if (h.type != kTypeByteEncoded && total > in.Remaining()) return false;
  rows.assign(static_cast<size_t>(total), 0);
  if (h.type == kTypeByteEncoded) return Unpack(in, rows);
  return in.Read(rows.data(), rows.size()) == rows.size();
}

void Convert(const RasHeader& h, const std::vector<uint8_t>& rows, uint64_t rowBytes,
             const std::vector<uint8_t>& map, std::vector<JasComponent>& comps) {
  const uint32_t entries = static_cast<uint32_t>(map.size() / 3);
  const bool mapped = entries > 0 && h.depth <= 8;
  const bool rgbOrder = h.type == kTypeRgb;
  for (uint32_t y = 0; y < h.height; ++y) {
    const uint8_t* row = rows.data() + y * rowBytes;
    const size_t base = static_cast<size_t>(y) * h.width;
    for (uint32_t x = 0; x < h.width; ++x) {
      if (h.depth <= 8) {
        const uint32_t v = h.depth == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1u : row[x];
        if (mapped) {
          for (uint32_t k = 0; k < 3; ++k) comps[k].data16[base + x] = v < entries ? map[k * entries + v] : 0;
        } else {
          // Without a map a set bit is black; eight bits are grey levels.
          comps[0].data16[base + x] = static_cast<uint16_t>(h.depth == 1 ? 1u - v : v);
        }
        continue;
      }
      const uint8_t* p = row + static_cast<size_t>(x) * (h.depth / 8) + (h.depth == 32 ? 1 : 0);
      comps[0].data16[base + x] = rgbOrder ? p[0] : p[2];
      comps[1].data16[base + x] = p[1];
      comps[2].data16[base + x] = rgbOrder ? p[2] : p[0];
    }
  }
}

}  // namespace

bool ReadRas(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error) {
  JasByteReader in(stream);
  RasHeader h;
  if (!ReadHeader(in, h)) return false;
  const bool mapped = h.mapType == kMapRgb && h.mapLength > 0 && h.depth <= 8;
  const uint32_t channels = (mapped || h.depth > 8) ? 3 : 1;
  raster.formatType = FORMAT_RAS;
  raster.width = h.width;
  raster.height = h.height;
  raster.componentCount = channels;
  raster.colourSpace = channels == 3 ? JasColourSpace::Rgb : JasColourSpace::Grey;
  if (headerOnly) return true;

  if (h.mapLength > in.Remaining()) return false;
  std::vector<uint8_t> map(h.mapLength);
  if (in.Read(map.data(), map.size()) != map.size()) return false;
  if (!mapped) map.clear();

  const uint64_t samples = static_cast<uint64_t>(h.width) * h.height * channels;
  const uint64_t rowBytes = (static_cast<uint64_t>(h.width) * h.depth + 15) / 16 * 2;
  if (!CheckedSize({samples, sizeof(uint16_t)}) || !CheckedSize({rowBytes, h.height})) {
    error = kMaxMemoryMessage;
    return false;
  }
  std::vector<uint8_t> rows;
  if (!ReadPixels(in, h, rows, rowBytes)) return false;
  raster.components.resize(channels);
  for (JasComponent& c : raster.components) {
    c.width = h.width;
    c.height = h.height;
    c.precision = (h.depth == 1 && channels == 1) ? 1 : 8;
    c.data16.assign(static_cast<size_t>(h.width) * h.height, 0);
  }
  Convert(h, rows, rowBytes, map, raster.components);
  return true;
}

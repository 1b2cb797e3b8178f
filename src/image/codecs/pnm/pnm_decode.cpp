// PBM, PGM and PPM (P1 to P6), ASCII and raw, maxval up to 65535.
#include <bit>
#include <limits>

#include "image/codecs/jas/jas_raster.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"

namespace {

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Skips white space and comments; false at the end of the data.
bool SkipFiller(JasByteReader& in) {
  for (;;) {
    int c = in.Peek();
    if (c < 0) return false;
    if (c == '#') {
      while ((c = in.Get()) >= 0 && c != '\n' && c != '\r') {
      }
      continue;
    }
    if (!IsSpace(c)) return true;
    in.Get();
  }
}

// An unsigned decimal number no larger than limit.
bool ReadNumber(JasByteReader& in, uint32_t limit, uint32_t& out) {
  if (!SkipFiller(in)) return false;
  return ReadDecimal(in, limit, out);
}

struct PnmHeader {
  int kind = 0;  // 1 to 6
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t maxval = 1;
  uint32_t channels = 1;
};

bool ReadHeader(JasByteReader& in, PnmHeader& h) {
  if (in.Get() != 'P') return false;
  h.kind = in.Get() - '0';
  if (h.kind < 1 || h.kind > 6) return false;
  constexpr uint32_t kMaxSide = std::numeric_limits<int32_t>::max();
  if (!ReadNumber(in, kMaxSide, h.width) || !ReadNumber(in, kMaxSide, h.height)) return false;
  if (h.width == 0 || h.height == 0) return false;
  if (h.kind != 1 && h.kind != 4) {
    if (!ReadNumber(in, 65535, h.maxval) || h.maxval == 0) return false;
  }
  h.channels = (h.kind == 3 || h.kind == 6) ? 3 : 1;
  return true;
}

// Samples are widened to the full range of 8 bits (maxval up to 255) or of their bit count
// (above), so that a maxval such as 100 still reaches white.
class SampleScaler {
 public:
  explicit SampleScaler(uint32_t maxval)
      : maxval_(maxval),
        top_(maxval <= 255 ? 255u : (1u << std::bit_width(maxval)) - 1u) {}
  uint32_t Precision() const { return static_cast<uint32_t>(std::bit_width(top_)); }
  uint16_t operator()(uint32_t v) const {
    if (top_ == maxval_) return static_cast<uint16_t>(v);
    return static_cast<uint16_t>((v * top_ + maxval_ / 2) / maxval_);
  }

 private:
  uint32_t maxval_;
  uint32_t top_;
};

bool ReadBitmapRaw(JasByteReader& in, const PnmHeader& h, JasComponent& c) {
  const size_t rowBytes = (static_cast<size_t>(h.width) + 7) / 8;
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t y = 0; y < h.height; ++y) {
    if (in.Read(row.data(), rowBytes) != rowBytes) return false;
    uint16_t* out = c.data16.data() + static_cast<size_t>(y) * h.width;
    for (uint32_t x = 0; x < h.width; ++x) out[x] = ((row[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 1;
  }
  return true;
}

bool ReadBitmapAscii(JasByteReader& in, const PnmHeader& h, JasComponent& c) {
  const size_t count = static_cast<size_t>(h.width) * h.height;
  for (size_t i = 0; i < count; ++i) {
    if (!SkipFiller(in)) return false;
    const int d = in.Get();
    if (d != '0' && d != '1') return false;
    c.data16[i] = d == '1' ? 0 : 1;  // 1 is black
  }
  return true;
}

bool ReadSamplesRaw(JasByteReader& in, const PnmHeader& h, std::vector<JasComponent>& comps) {
  const SampleScaler scale(h.maxval);
  const size_t bytes = h.maxval > 255 ? 2 : 1;
  const size_t rowBytes = static_cast<size_t>(h.width) * h.channels * bytes;
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t y = 0; y < h.height; ++y) {
    if (in.Read(row.data(), rowBytes) != rowBytes) return false;
    const uint8_t* p = row.data();
    const size_t base = static_cast<size_t>(y) * h.width;
    for (uint32_t x = 0; x < h.width; ++x) {
      for (uint32_t k = 0; k < h.channels; ++k) {
        const uint32_t v = bytes == 2 ? (static_cast<uint32_t>(p[0]) << 8) | p[1] : p[0];
        p += bytes;
        if (v > h.maxval) return false;
        comps[k].data16[base + x] = scale(v);
      }
    }
  }
  return true;
}

bool ReadSamplesAscii(JasByteReader& in, const PnmHeader& h, std::vector<JasComponent>& comps) {
  const SampleScaler scale(h.maxval);
  const size_t count = static_cast<size_t>(h.width) * h.height;
  for (size_t i = 0; i < count; ++i) {
    for (uint32_t k = 0; k < h.channels; ++k) {
      uint32_t v = 0;
      if (!ReadNumber(in, h.maxval, v)) return false;
      comps[k].data16[i] = scale(v);
    }
  }
  return true;
}

}  // namespace

bool ReadPnm(CxStream* stream, bool headerOnly, JasRaster& raster, std::string& error) {
  JasByteReader in(stream);
  PnmHeader h;
  if (!ReadHeader(in, h)) return false;
  raster.formatType = FORMAT_PNM;
  raster.width = h.width;
  raster.height = h.height;
  raster.componentCount = h.channels;
  raster.colourSpace = h.channels == 3 ? JasColourSpace::Rgb : JasColourSpace::Grey;
  if (headerOnly) return true;

  const bool raw = h.kind >= 4;
  // Raw data starts after exactly one white-space character.
  if (raw && !IsSpace(in.Get())) return false;
  const uint64_t samples = static_cast<uint64_t>(h.width) * h.height * h.channels;
  if (!CheckedSize({samples, sizeof(uint16_t)})) {
    error = TooLargeReason(h.width, h.height);
    return false;
  }
  // Every sample takes at least one byte of ASCII, or its share of the raw rows.
  uint64_t needed = samples;
  if (h.kind == 4) needed = (static_cast<uint64_t>(h.width) + 7) / 8 * h.height;
  if (h.kind >= 5 && h.maxval > 255) needed = samples * 2;
  if (needed > in.Remaining()) return false;

  const uint32_t precision = (h.kind == 1 || h.kind == 4) ? 1 : SampleScaler(h.maxval).Precision();
  raster.components.resize(h.channels);
  for (JasComponent& c : raster.components) {
    c.width = h.width;
    c.height = h.height;
    c.precision = precision;
    c.data16.assign(static_cast<size_t>(h.width) * h.height, 0);
  }
  switch (h.kind) {
    case 1:
      return ReadBitmapAscii(in, h, raster.components[0]);
    case 4:
      return ReadBitmapRaw(in, h, raster.components[0]);
    case 2:
    case 3:
      return ReadSamplesAscii(in, h, raster.components);
    default:
      return ReadSamplesRaw(in, h, raster.components);
  }
}

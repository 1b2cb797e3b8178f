// The TIFF decoder's own sample path: grey, palette, grey with alpha and CIELab directories.
#include <tiffio.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "image/codecs/tiff/tiff_band.h"
#include "image/codecs/tiff/tiff_codec.h"

namespace {

// Bits of the value TiffSampleAt returns (samples above 32 bits come as their top 32).
int ValueBits(uint16_t bits) { return bits > 32 ? 32 : bits; }

// A sample scaled to 8 bits.
uint8_t SampleAs8(const uint8_t* row, uint64_t index, uint16_t bits) {
  const uint32_t v = TiffSampleAt(row, index, bits);
  if (bits == 8) return static_cast<uint8_t>(v);
  if (bits > 8) return static_cast<uint8_t>(v >> (ValueBits(bits) - 8));
  return static_cast<uint8_t>(v * 255u / ((1u << bits) - 1u));
}

uint8_t LabChannelToByte(double linear) {
  double c = linear > 0.00304 ? 1.055 * std::pow(linear, 0.41667) - 0.055 : 12.92 * linear;
  c *= 255.0;
  if (!(c > 0.0)) return 0;
  if (c > 255.0) return 255;
  return static_cast<uint8_t>(c);
}

// CIE L*a*b* (D65 white) to sRGB; L scaled 0..255, a and b signed.
RgbQuad LabToRgb(uint8_t l, int8_t a, int8_t b) {
  const double lStar = l * 0.3921568627450981;
  const double fy = (lStar + 16.0) / 116.0;
  const double fx = fy + a * 0.002;
  const double fz = fy - b * 0.005;
  const double x = fx * fx * fx * 0.95047;
  const double y = fy * fy * fy;
  const double z = fz * fz * fz * 1.0883;
  RgbQuad out;
  out.red = LabChannelToByte(3.240479 * x - 1.53715 * y - 0.498535 * z);
  out.green = LabChannelToByte(-0.969256 * x + 1.875992 * y + 0.041556 * z);
  out.blue = LabChannelToByte(0.055648 * x - 0.204043 * y + 1.057311 * z);
  return out;
}

bool ColourMapIsWide(const uint16_t* r, const uint16_t* g, const uint16_t* b, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) {
    if (r[i] > 255 || g[i] > 255 || b[i] > 255) return true;
  }
  return false;
}

void CopyColourMap(TIFF* tif, RgbQuad* out, uint32_t n) {
  uint16_t* r = nullptr;
  uint16_t* g = nullptr;
  uint16_t* b = nullptr;
  if (TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b) == 0 || !r || !g || !b) return;
  const int shift = ColourMapIsWide(r, g, b, n) ? 8 : 0;
  for (uint32_t i = 0; i < n; ++i) {
    out[i].red = static_cast<uint8_t>(r[i] >> shift);
    out[i].green = static_cast<uint8_t>(g[i] >> shift);
    out[i].blue = static_cast<uint8_t>(b[i] >> shift);
  }
}

}  // namespace

bool CxImageTIF::FillPalette(TIFF* tif, const TiffLayout& layout, std::vector<RgbQuad>& large) {
  const uint16_t p = layout.photometric;
  if (p == PHOTOMETRIC_PALETTE && layout.bits > 8) {
    if (layout.bits > 24) return Fail("Too big palette to handle");
    try {
      large.assign(size_t{1} << layout.bits, RgbQuad{});
    } catch (const std::bad_alloc&) {
      return Fail("Unable to allocate TIFF palette");
    }
    CopyColourMap(tif, large.data(), static_cast<uint32_t>(large.size()));
    return true;
  }
  const uint32_t used = ColoursUsed();
  if (used == 0) return true;
  std::vector<RgbQuad> palette(256);
  if (p == PHOTOMETRIC_PALETTE) {
    CopyColourMap(tif, palette.data(), std::min<uint32_t>(1u << layout.bits, used));
  } else {
    // Grey of n bits: a ramp over 2^n entries, falling when zero means white.
    const uint32_t n = 1u << std::min<uint16_t>(layout.bits, 8);
    const bool falling = p == PHOTOMETRIC_MINISWHITE;
    for (uint32_t i = 0; i < n && i < used; ++i) {
      const uint8_t v = static_cast<uint8_t>(i * 255u / (n - 1u));
      const uint8_t grey = falling ? static_cast<uint8_t>(255 - v) : v;
      palette[i].red = palette[i].green = palette[i].blue = grey;
    }
  }
  ReplacePalette(palette.data(), used);
  return true;
}

bool CxImageTIF::DecodeSamples(TIFF* tif, const TiffLayout& layout) {
  std::vector<RgbQuad> large;
  if (!FillPalette(tif, layout, large)) return false;
  TiffLayout banded = layout;
  if (banded.rowsPerStrip == 0 || banded.rowsPerStrip > banded.height)
    banded.rowsPerStrip = banded.height;
  TiffBandReader reader;
  if (!reader.Init(tif, banded)) return Fail("CxImageTIF can't allocate memory");
  const bool adaptive = layout.samples == 1 && layout.bits == 16 && large.empty() && !layout.tiled;
  std::vector<uint8_t> rowShift(adaptive ? layout.height : 0, 8);
  for (uint32_t first = 0; first < layout.height; first += reader.BandRows()) {
    if (Escape() != 0) return Fail("Cancelled");
    uint32_t count = 0;
    // A strip the library cannot decode stays zero; the rest of the picture is kept.
    if (!reader.Read(first, &count) && layout.tiled) return Fail("Corrupted tiled TIFF file!");
    for (uint32_t r = 0; r < count; ++r) {
      StoreRow(layout, reader.Row(r), first + r, layout.tiled, large, rowShift);
    }
  }
  if (adaptive) EqualiseRowScales(rowShift);
  return true;
}

void CxImageTIF::StoreRow(const TiffLayout& layout, const uint8_t* src, uint32_t pictureRow,
                          bool fromTiles, const std::vector<RgbQuad>& large,
                          std::vector<uint8_t>& rowShift) {
  const uint32_t y = layout.height - 1 - pictureRow;
  const uint32_t width = layout.width;
  const uint16_t bits = layout.bits;
  const uint16_t spp = layout.samples;
  uint8_t* dst = RowPointer(y);
  if (spp >= 3) {
    StoreLabRow(layout, src, pictureRow);
    return;
  }
  if (spp == 1 && bits == 16 && large.empty()) {
    if (fromTiles) {
      for (uint32_t x = 0; x < width; ++x) dst[x] = static_cast<uint8_t>(TiffSampleAt(src, x, 16) >> 8);
      return;
    }
    uint32_t highest = 0;
    for (uint32_t x = 0; x < width; ++x) highest = std::max(highest, TiffSampleAt(src, x, 16) >> 8);
    const int k = std::countl_zero(static_cast<uint8_t>(highest));  // 8 when 0
    for (uint32_t x = 0; x < width; ++x) {
      dst[x] = static_cast<uint8_t>((TiffSampleAt(src, x, 16) >> (8 - k)) & 0xFF);
    }
    rowShift[y] = static_cast<uint8_t>(k);
    return;
  }
  if (!large.empty()) {
    for (uint32_t x = 0; x < width; ++x) {
      const uint32_t index = TiffSampleAt(src, static_cast<uint64_t>(x) * spp, bits);
      const RgbQuad c = index < large.size() ? large[index] : RgbQuad{};
      dst[3 * x] = c.blue;
      dst[3 * x + 1] = c.green;
      dst[3 * x + 2] = c.red;
    }
    return;
  }
  const uint32_t bpp = Bpp();
  if (spp == 1 && bits == bpp) {
    const uint64_t rowBytes = InterleavedRowBytes(layout);
    memcpy(dst, src, static_cast<size_t>(std::min<uint64_t>(rowBytes, Stride())));
    return;
  }
  const bool alpha = spp == 2 && HasAlpha();
  for (uint32_t x = 0; x < width; ++x) {
    uint32_t v = TiffSampleAt(src, static_cast<uint64_t>(x) * spp, bits);
    if (bits > bpp) v >>= (ValueBits(bits) - static_cast<int>(bpp));
    PutIndexUnchecked(x, y, static_cast<uint8_t>(v));
    if (alpha) AlphaSetUnchecked(x, y, SampleAs8(src, static_cast<uint64_t>(x) * 2 + 1, bits));
  }
}

void CxImageTIF::StoreLabRow(const TiffLayout& layout, const uint8_t* src, uint32_t pictureRow) {
  const uint32_t y = layout.height - 1 - pictureRow;
  const uint16_t spp = layout.samples;
  const uint16_t bits = layout.bits;
  uint8_t* dst = RowPointer(y);
  const bool alpha = spp == 4 && HasAlpha();
  for (uint32_t x = 0; x < layout.width; ++x) {
    const uint64_t i = static_cast<uint64_t>(x) * spp;
    const RgbQuad c = LabToRgb(SampleAs8(src, i, bits), static_cast<int8_t>(SampleAs8(src, i + 1, bits)),
                               static_cast<int8_t>(SampleAs8(src, i + 2, bits)));
    dst[3 * x] = c.blue;
    dst[3 * x + 1] = c.green;
    dst[3 * x + 2] = c.red;
    if (alpha) AlphaSetUnchecked(x, y, SampleAs8(src, i + 3, bits));
  }
}

// Rows were scaled one by one to use all 8 bits; bring them to the scale of the row that
// needed the largest shift, so the picture's brightness stays consistent.
void CxImageTIF::EqualiseRowScales(const std::vector<uint8_t>& rowShift) {
  if (rowShift.empty()) return;
  const uint8_t smallest = *std::min_element(rowShift.begin(), rowShift.end());
  for (uint32_t y = 0; y < rowShift.size(); ++y) {
    if (rowShift[y] <= smallest) continue;
    const int extra = rowShift[y] - smallest;
    uint8_t* row = RowPointer(y);
    for (uint32_t x = 0; x < Width(); ++x) row[x] = static_cast<uint8_t>(row[x] >> extra);
  }
}

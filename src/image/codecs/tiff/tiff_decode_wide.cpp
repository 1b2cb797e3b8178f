// Samples that libtiff's RGBA reader cannot deliver: floating-point colour and grey (16, 32
// and 64 bits),
// and CMYK of 16 bits per sample.
#include <tiffio.h>

#include <cmath>
#include <cstring>

#include "image/codecs/tiff/tiff_band.h"
#include "image/codecs/tiff/tiff_codec.h"

namespace {

// An IEEE half-precision value.
double HalfToDouble(uint16_t h) {
  const int exponent = (h >> 10) & 0x1F;
  const double mantissa = h & 0x3FF;
  double v;
  if (exponent == 0) {
    v = std::ldexp(mantissa, -24);
  } else if (exponent == 31) {
    v = mantissa != 0 ? std::nan("") : HUGE_VAL;
  } else {
    v = std::ldexp(mantissa + 1024.0, exponent - 25);
  }
  return (h & 0x8000) ? -v : v;
}

// Floating-point sample `index` of a row (16, 32 or 64 bits, host order), clipped to 0 to 1.
double UnitSample(const uint8_t* row, uint64_t index, uint16_t bits) {
  double v;
  if (bits == 16) {
    uint16_t h;
    std::memcpy(&h, row + index * 2, sizeof h);
    v = HalfToDouble(h);
  } else if (bits == 64) {
    std::memcpy(&v, row + index * 8, sizeof v);
  } else {
    float f;
    std::memcpy(&f, row + index * 4, sizeof f);
    v = f;
  }
  if (!(v > 0.0)) return 0.0;  // NaN too
  return v < 1.0 ? v : 1.0;
}

uint8_t ToByte(double unit) { return static_cast<uint8_t>(std::lround(unit * 255.0)); }

// Floating-point colour holds linear light; it is shown through a display gamma of 2.2, as
// viewers of such files show it.
uint8_t LinearToDisplayByte(double linear) { return ToByte(std::pow(linear, 1.0 / 2.2)); }

}  // namespace

bool TiffNeedsWideSamples(const TiffLayout& layout, uint16_t sampleFormat) {
  if (sampleFormat == SAMPLEFORMAT_IEEEFP) return (layout.bits == 16 || layout.bits == 32 || layout.bits == 64) && layout.samples <= 4;
  return layout.photometric == PHOTOMETRIC_SEPARATED && layout.bits == 16 && layout.samples == 4;
}

bool CxImageTIF::DecodeWideSamples(TIFF* tif, const TiffLayout& layout) {
  TiffLayout banded = layout;
  if (banded.rowsPerStrip == 0 || banded.rowsPerStrip > banded.height) banded.rowsPerStrip = banded.height;
  TiffBandReader reader;
  if (!reader.Init(tif, banded)) return Fail("CxImageTIF can't allocate memory");
  const bool cmyk = layout.photometric == PHOTOMETRIC_SEPARATED;
  const bool colour = cmyk || layout.samples >= 3;
  // Grey with alpha, colour with alpha; CMYK has none.
  const bool alpha = !cmyk && (layout.samples == 2 || layout.samples == 4);
  if (!alpha) AlphaDelete();
  if (alpha && !HasAlpha() && !AlphaCreate()) return Fail("CxImageTIF can't allocate memory");
  if (!colour) SetGreyPalette();
  const bool minIsWhite = layout.photometric == PHOTOMETRIC_MINISWHITE;
  const uint32_t n = layout.samples;
  for (uint32_t first = 0; first < layout.height; first += reader.BandRows()) {
    if (Escape() != 0) return Fail("Cancelled");
    uint32_t count = 0;
    if (!reader.Read(first, &count) && layout.tiled) return Fail("Corrupted tiled TIFF file!");
    for (uint32_t r = 0; r < count; ++r) {
      const uint8_t* src = reader.Row(r);
      const uint32_t y = layout.height - 1 - (first + r);
      uint8_t* dst = RowPointer(y);
      for (uint32_t x = 0; x < layout.width; ++x) {
        const uint64_t at = static_cast<uint64_t>(x) * n;
        if (cmyk) {
          // The high byte of each sample, then the reader's rule for 8-bit CMYK.
          uint32_t s[4];
          for (int i = 0; i < 4; ++i) s[i] = TiffSampleAt(src, at + i, 16) >> 8;
          const uint32_t k = 255 - s[3];
          dst[3 * x] = static_cast<uint8_t>(k * (255 - s[2]) / 255);
          dst[3 * x + 1] = static_cast<uint8_t>(k * (255 - s[1]) / 255);
          dst[3 * x + 2] = static_cast<uint8_t>(k * (255 - s[0]) / 255);
        } else if (colour) {
          dst[3 * x] = LinearToDisplayByte(UnitSample(src, at + 2, layout.bits));
          dst[3 * x + 1] = LinearToDisplayByte(UnitSample(src, at + 1, layout.bits));
          dst[3 * x + 2] = LinearToDisplayByte(UnitSample(src, at, layout.bits));
        } else {
          const uint8_t v = LinearToDisplayByte(UnitSample(src, at, layout.bits));
          dst[x] = minIsWhite ? static_cast<uint8_t>(255 - v) : v;
        }
        if (alpha) AlphaSetUnchecked(x, y, ToByte(UnitSample(src, at + n - 1, layout.bits)));
      }
    }
  }
  return true;
}

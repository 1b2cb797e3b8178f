#include "image/codecs/tiff/tiff_codec.h"

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "image/codecs/tiff/tiff_band.h"
#include "image/codecs/tiff/tiff_client.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

// Truncates toward zero; values a 32-bit field cannot hold (and NaN) give 0.
int32_t TruncateToInt(double value) {
  if (!std::isfinite(value) || value >= 2147483647.0 || value <= -2147483648.0) return 0;
  return static_cast<int32_t>(value);
}

bool ReadsAsRgb(uint16_t photometric) {
  return photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_YCBCR ||
         photometric == PHOTOMETRIC_SEPARATED || photometric == PHOTOMETRIC_LOGL ||
         photometric == PHOTOMETRIC_LOGLUV;
}

TiffLayout ReadLayout(TIFF* tif) {
  TiffLayout layout;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &layout.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &layout.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &layout.samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &layout.bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
  TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &layout.photometric);
  TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &layout.orientation);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &layout.planar);
  layout.tiled = TIFFIsTiled(tif) != 0;
  if (layout.tiled) {
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &layout.tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &layout.tileLength);
  }
  return layout;
}

// Depth of the image a directory decodes into, and its palette size.
struct TiffDepth {
  uint32_t bpp = 8;
  uint32_t colours = 0;
};

TiffDepth DepthFor(const TiffLayout& layout) {
  const uint16_t p = layout.photometric;
  const uint16_t bits = layout.bits;
  if (ReadsAsRgb(p) || layout.samples > 4) return {24, 0};
  // Three or four samples of another interpretation are CIELab, converted to colour.
  if (layout.samples >= 3) return {24, 0};
  if (p == PHOTOMETRIC_MINISWHITE || p == PHOTOMETRIC_MINISBLACK || p == PHOTOMETRIC_PALETTE) {
    if (bits == 1) return {1, 2};
    if (bits == 4) return {4, 16};
    if (p == PHOTOMETRIC_PALETTE && bits > 8) return {24, 0};
    return {8, 256};
  }
  if (bits == 4) return {4, 16};
  return {8, 256};
}

// The RGBA reader multiplies unassociated alpha into the colours. The image keeps alpha in a
// plane of its own, so the reader is told the alpha is associated and leaves colours as stored.
// Returns true when the file's colours are premultiplied (associated alpha).
bool KeepStraightAlpha(TIFF* tif) {
  uint16_t count = 0;
  uint16_t* kinds = nullptr;
  if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) == 0 || kinds == nullptr)
    return false;
  bool premultiplied = false;
  std::vector<uint16_t> changed(kinds, kinds + count);
  bool any = false;
  for (uint16_t& kind : changed) {
    if (kind == EXTRASAMPLE_ASSOCALPHA) premultiplied = true;
    if (kind == EXTRASAMPLE_UNASSALPHA) {
      kind = EXTRASAMPLE_ASSOCALPHA;
      any = true;
    }
  }
  if (any) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, count, changed.data());
  return premultiplied;
}

uint8_t Unpremultiply(uint32_t c, uint32_t a) {
  if (a == 0 || a == 255) return static_cast<uint8_t>(c);
  return static_cast<uint8_t>(std::min<uint32_t>(255, (c * 255 + a / 2) / a));
}

}  // namespace

CxImageTIF::CxImageTIF() : CxImage(FORMAT_TIF) {}

bool CxImageTIF::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  TiffClient client;
  client.stream = stream;
  TIFF* tif = OpenTiffOverStream(&client, "r");
  if (tif == nullptr) return Fail("Error encountered while opening TIFF file");
  const bool ok = DecodeDirectory(tif);
  TIFFClose(tif);
  return ok;
}

bool CxImageTIF::DecodeDirectory(TIFF* tif) {
  const tdir_t directories = TIFFNumberOfDirectories(tif);
  SetFrameCount(static_cast<int32_t>(
      std::min<tdir_t>(directories, static_cast<tdir_t>(std::numeric_limits<int32_t>::max()))));
  const int32_t frame = FrameToLoad();
  // The handle starts on the first directory; only later pages need a move.
  if (frame < 0 || (frame > 0 && TIFFSetDirectory(tif, static_cast<tdir_t>(frame)) == 0)) {
    return Fail("Error: page not present in TIFF file");
  }

  const TiffLayout layout = ReadLayout(tif);
  if (Escape() == -1) return ReturnDimensions(layout.width, layout.height, FORMAT_TIF);

  uint16_t unit = RESUNIT_INCH;
  float xres = 0.0f;
  float yres = 0.0f;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  double dpiX = TIFFGetField(tif, TIFFTAG_XRESOLUTION, &xres) ? xres : 0.0;
  double dpiY = TIFFGetField(tif, TIFFTAG_YRESOLUTION, &yres) ? yres : 0.0;
  if (unit == RESUNIT_CENTIMETER) {
    dpiX = dpiX * 2.54 + 0.5;
    dpiY = dpiY * 2.54 + 0.5;
  }
  float xpos = 0.0f;
  float ypos = 0.0f;
  const bool hasX = TIFFGetField(tif, TIFFTAG_XPOSITION, &xpos) != 0;
  const bool hasY = TIFFGetField(tif, TIFFTAG_YPOSITION, &ypos) != 0;

  if (layout.bits == 0 || layout.bits > 64 || layout.samples == 0) {
    return Fail("Unsupported TIFF sample size");
  }
  uint16_t sampleFormat = SAMPLEFORMAT_UINT;
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
  const bool wide = TiffNeedsWideSamples(layout, sampleFormat);
  if (sampleFormat == SAMPLEFORMAT_IEEEFP && !wide) return Fail("Unsupported TIFF sample format");
  TiffDepth depth = DepthFor(layout);
  if (wide && layout.samples <= 2) depth = {8, 256};
  if (Escape() != 0) return Fail("Cancelled");
  if (layout.width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      layout.height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return Fail("CxImageTIF can't create image");
  }
  if (Create(layout.width, layout.height, depth.bpp, FORMAT_TIF) == nullptr) {
    if (LastErrorText()[0] == '\0') SetLastError("CxImageTIF can't create image");
    return false;
  }
  SetResolutionX(TruncateToInt(dpiX));
  SetResolutionY(TruncateToInt(dpiY));
  if (hasX || hasY) SetOffset(TruncateToInt(hasX ? xpos : 0.0), TruncateToInt(hasY ? ypos : 0.0));
  if (layout.samples == 4 || (layout.samples == 2 && layout.bits == 8)) {
    if (!AlphaCreate()) return Fail("CxImageTIF can't allocate memory");
  }
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  SetCodecOptions(compression, FORMAT_TIF);

  if (wide) {
    if (!DecodeWideSamples(tif, layout)) return false;
  } else if (ReadsAsRgb(layout.photometric) || layout.samples > 4) {
    return DecodeRgba(tif, layout);
  } else if (!DecodeSamples(tif, layout)) {
    return false;
  }
  TurnToOrientation(layout.orientation);
  return true;
}

bool CxImageTIF::DecodeRgba(TIFF* tif, const TiffLayout& layout) {
  const uint64_t pixels = static_cast<uint64_t>(layout.width) * layout.height;
  if (!CheckedSize({pixels, sizeof(uint32_t)})) return Fail("No space for raster buffer");
  std::unique_ptr<uint32_t[]> raster(new (std::nothrow) uint32_t[static_cast<size_t>(pixels)]);
  if (!raster) return Fail("No space for raster buffer");
  const bool premultiplied = KeepStraightAlpha(tif);
  if (TIFFReadRGBAImage(tif, layout.width, layout.height, raster.get(), 1) == 0) {
    return Fail("Corrupted TIFF file!");
  }
  const bool alpha = HasAlpha() && layout.samples == 4;
  // The library delivers the bottom row first, as the image stores it.
  for (uint32_t y = 0; y < layout.height; ++y) {
    const uint32_t* src = raster.get() + static_cast<size_t>(y) * layout.width;
    uint8_t* dst = RowPointer(y);
    for (uint32_t x = 0; x < layout.width; ++x) {
      const uint32_t abgr = src[x];
      const uint32_t a = premultiplied ? TIFFGetA(abgr) : 255;
      dst[3 * x] = Unpremultiply(TIFFGetB(abgr), a);
      dst[3 * x + 1] = Unpremultiply(TIFFGetG(abgr), a);
      dst[3 * x + 2] = Unpremultiply(TIFFGetR(abgr), a);
      if (alpha) AlphaSetUnchecked(x, y, static_cast<uint8_t>(TIFFGetA(abgr)));
    }
  }
  return true;
}


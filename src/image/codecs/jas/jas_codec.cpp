#include "image/codecs/jas/jas_codec.h"

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "image/codecs/jas/jas_raster.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

bool IsJasType(uint32_t type) { return type >= FORMAT_JP2 && type <= FORMAT_RAS; }

// A sample as an unsigned value of its precision (signed ones are offset by half the range).
uint32_t UnsignedAt(const JasComponent& c, uint32_t x, uint32_t y) {
  int64_t v = c.At(x, y);
  if (c.isSigned) v += int64_t{1} << (c.precision - 1);
  const int64_t top = (int64_t{1} << c.precision) - 1;
  return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, top));
}

// A value of `from` bits brought to `to` bits: shifted down from above, widened from below.
uint32_t Rescale(uint32_t v, uint32_t from, uint32_t to) {
  if (from > to) return v >> (from - to);
  if (from == to) return v;
  const uint32_t fromTop = (1u << from) - 1u;
  const uint32_t toTop = (1u << to) - 1u;
  return (v * toTop + fromTop / 2) / fromTop;
}

uint8_t ClampByte(double v) {
  if (!(v > 0.0)) return 0;
  if (v >= 255.0) return 255;
  return static_cast<uint8_t>(v + 0.5);
}

RgbQuad ToRgb(JasColourSpace space, const uint8_t v[4]) {
  RgbQuad out;
  if (space == JasColourSpace::Ycc) {
    const double y = v[0];
    const double cb = v[1] - 128.0;
    const double cr = v[2] - 128.0;
    out.red = ClampByte(y + 1.402 * cr);
    out.green = ClampByte(y - 0.344136 * cb - 0.714136 * cr);
    out.blue = ClampByte(y + 1.772 * cb);
  } else if (space == JasColourSpace::Cmyk) {
    const uint32_t k = 255u - v[3];
    out.red = static_cast<uint8_t>((255u - v[0]) * k / 255u);
    out.green = static_cast<uint8_t>((255u - v[1]) * k / 255u);
    out.blue = static_cast<uint8_t>((255u - v[2]) * k / 255u);
  } else {
    out.red = v[0];
    out.green = v[1];
    out.blue = v[2];
  }
  return out;
}

bool ReadRaster(CxStream* stream, uint32_t format, bool headerOnly, JasRaster& raster,
                std::string& error) {
  switch (format) {
    case FORMAT_PNM:
      return ReadPnm(stream, headerOnly, raster, error);
    case FORMAT_PGX:
      return ReadPgx(stream, headerOnly, raster, error);
    case FORMAT_RAS:
      return ReadRas(stream, headerOnly, raster, error);
    default:
      return ReadJpeg2000(stream, format, headerOnly, raster, error);
  }
}

bool IsGreyPalette(const CxImage& image) {
  const RgbQuad* pal = image.PaletteEntries();
  if (pal == nullptr) return false;
  for (uint32_t i = 0; i < image.ColoursUsed(); ++i) {
    if (pal[i].red != pal[i].green || pal[i].green != pal[i].blue) return false;
  }
  return true;
}

// The image as 8-bit grey or red/green/blue planes, top row first.
void MakePlanes(const CxImage& image, bool grey, JasPlanes& planes) {
  planes.width = image.Width();
  planes.height = image.Height();
  planes.count = grey ? 1 : 3;
  const size_t n = static_cast<size_t>(planes.width) * planes.height;
  for (uint32_t k = 0; k < planes.count; ++k) planes.samples[k].assign(n, 0);
  for (uint32_t t = 0; t < planes.height; ++t) {
    const uint32_t y = planes.height - 1 - t;
    for (uint32_t x = 0; x < planes.width; ++x) {
      const RgbQuad c = image.ColourAt(x, y);
      const size_t i = static_cast<size_t>(t) * planes.width + x;
      planes.samples[0][i] = grey ? c.blue : c.red;
      if (!grey) {
        planes.samples[1][i] = c.green;
        planes.samples[2][i] = c.blue;
      }
    }
  }
}

}  // namespace

CxImageJAS::CxImageJAS() : CxImage(FORMAT_UNKNOWN) {}

bool CxImageJAS::Decode(CxStream* stream, uint32_t formatType) {
  if (stream == nullptr) return false;
  const int64_t start = stream->Tell();
  if (start < 0) return Fail("error: cannot open standard input");
  uint8_t signature[16] = {};
  const size_t got = stream->Read(signature, 1, sizeof signature);
  if (!stream->Seek(start, SEEK_SET)) return Fail("error: cannot open standard input");
  const uint32_t recognised = JasDetectFormat(signature, got);
  if (recognised == 0) return Fail("error: unknowm format");
  JasRaster raster;
  std::string error;
  const bool probe = Escape() == -1;
  if (!ReadRaster(stream, recognised, probe, raster, error) ||
      raster.width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
      raster.height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())) {
    return Fail(error.empty() ? "error: cannot load image data" : error.c_str());
  }
  if (probe) return ReturnDimensions(raster.width, raster.height, recognised);
  if (Escape() != 0) return Fail("Cancelled");
  if (raster.componentCount > 64) return Fail("error: too many components");
  if (raster.components.empty()) return Fail("error: cannot load image data");
  const uint32_t type = IsJasType(formatType) ? formatType : recognised;
  if (raster.components.size() > 2) return FillColour(raster, type);
  SetFrameCount(static_cast<int32_t>(raster.components.size()));
  const int32_t frame = FrameToLoad();
  if (frame < 0 || static_cast<size_t>(frame) >= raster.components.size()) {
    return Fail("wrong frame!");
  }
  return FillGreyFrame(raster.components[static_cast<size_t>(frame)], type);
}

// Three or more components: colour, each component sampled at the position matching the
// first one's grid (chroma planes may be subsampled).
bool CxImageJAS::FillColour(const JasRaster& raster, uint32_t type) {
  const std::vector<JasComponent>& comps = raster.components;
  const uint32_t width = comps[0].width;
  const uint32_t height = comps[0].height;
  const bool cmyk = raster.colourSpace == JasColourSpace::Cmyk && comps.size() >= 4;
  const uint32_t used = cmyk ? 4 : 3;
  for (uint32_t k = 0; k < used; ++k) {
    if (comps[k].width == 0 || comps[k].height == 0) return Fail("cannot convert to sRGB");
  }
  if (Create(width, height, 24, type) == nullptr) return false;
  const bool alpha = !cmyk && comps.size() >= 4 && comps[3].isAlpha;
  if (alpha && !AlphaCreate()) return Fail("error: cannot allocate memory");
  const JasColourSpace space = cmyk ? JasColourSpace::Cmyk : raster.colourSpace;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = RowPointer(height - 1 - y);
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t v[4] = {0, 0, 0, 0};
      for (uint32_t k = 0; k < used; ++k) {
        const JasComponent& c = comps[k];
        const uint32_t cx = static_cast<uint32_t>(static_cast<uint64_t>(x) * c.width / width);
        const uint32_t cy = static_cast<uint32_t>(static_cast<uint64_t>(y) * c.height / height);
        v[k] = static_cast<uint8_t>(Rescale(UnsignedAt(c, cx, cy), c.precision, 8));
      }
      const RgbQuad rgb = ToRgb(space, v);
      row[3 * x] = rgb.blue;
      row[3 * x + 1] = rgb.green;
      row[3 * x + 2] = rgb.red;
      if (alpha) {
        const JasComponent& a = comps[3];
        const uint32_t ax = static_cast<uint32_t>(static_cast<uint64_t>(x) * a.width / width);
        const uint32_t ay = static_cast<uint32_t>(static_cast<uint64_t>(y) * a.height / height);
        AlphaSetUnchecked(x, height - 1 - y,
                          static_cast<uint8_t>(Rescale(UnsignedAt(a, ax, ay), a.precision, 8)));
      }
    }
  }
  return true;
}

bool CxImageJAS::FillGreyFrame(const JasComponent& c, uint32_t type) {
  if (Create(c.width, c.height, std::min<uint32_t>(c.precision, 8), type) == nullptr) return false;
  SetGreyPalette();
  const uint32_t depth = Bpp();
  for (uint32_t y = 0; y < c.height; ++y) {
    for (uint32_t x = 0; x < c.width; ++x) {
      const uint32_t v = Rescale(UnsignedAt(c, x, y), c.precision, depth);
      PutIndexUnchecked(x, c.height - 1 - y, static_cast<uint8_t>(v));
    }
  }
  return true;
}

bool CxImageJAS::Encode(CxStream* stream, uint32_t formatType) {
  if (!CheckEncodable(stream)) return false;
  const bool grey = Bpp() != 24 && IsGreyPalette(*this);
  if (Bpp() != 24 && !grey) return Fail("JasPer can save only RGB or GrayScale images");
  if (formatType == FORMAT_PGX && !grey) return Fail("PGX can save only GrayScale images");
  JasPlanes planes;
  try {
    MakePlanes(*this, grey, planes);
  } catch (const std::bad_alloc&) {
    return Fail("error : can't allocate memory");
  }
  std::string error;
  bool ok = false;
  switch (formatType) {
    case FORMAT_PNM:
      ok = WritePnm(stream, planes);
      break;
    case FORMAT_PGX:
      ok = WritePgx(stream, planes);
      break;
    case FORMAT_RAS:
      ok = WriteRas(stream, planes);
      break;
    case FORMAT_JP2:
    case FORMAT_JPC:
      ok = WriteJpeg2000(stream, formatType, planes, info.quality, error);
      break;
    default:
      break;
  }
  if (!ok) SetLastError(error.empty() ? "error: cannot encode image" : error.c_str());
  return ok;
}

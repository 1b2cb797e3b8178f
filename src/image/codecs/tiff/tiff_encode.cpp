// TIFF writer: one directory per page, LZW-compressed.
#include <tiffio.h>

#include <cstdio>
#include <vector>

#include "image/codecs/tiff/tiff_client.h"
#include "image/codecs/tiff/tiff_codec.h"
#include "image/io/stream.h"

namespace {

// True when the palette is the grey ramp of its size (0 to 255 in equal steps).
bool IsEvenGreyRamp(const CxImage& image) {
  const RgbQuad* pal = image.PaletteEntries();
  const uint32_t n = image.ColoursUsed();
  if (pal == nullptr || n < 2) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t v = i * 255u / (n - 1u);
    if (pal[i].red != v || pal[i].green != v || pal[i].blue != v) return false;
  }
  return true;
}

void SetCommonTags(TIFF* tif, const CxImage& page, int32_t index, int32_t count,
                   uint16_t samples, uint16_t bits, uint16_t photometric) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.Width());
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.Height());
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<float>(page.ResolutionX()));
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<float>(page.ResolutionY()));
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  char name[32];
  snprintf(name, sizeof name, "Page %d", index + 1);
  TIFFSetField(tif, TIFFTAG_PAGENAME, name);
  if (count > 1) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    TIFFSetField(tif, TIFFTAG_PAGENUMBER, static_cast<uint16_t>(index),
                 static_cast<uint16_t>(count));
  }
}

// Rows as colour (and alpha) bytes, for 24-bit pages and pages with an alpha plane.
bool WriteColourRows(TIFF* tif, const CxImage& page, bool alpha) {
  const uint32_t channels = alpha ? 4 : 3;
  std::vector<uint8_t> row(static_cast<size_t>(page.Width()) * channels);
  for (uint32_t t = 0; t < page.Height(); ++t) {
    const uint32_t y = page.Height() - 1 - t;
    for (uint32_t x = 0; x < page.Width(); ++x) {
      const RgbQuad c = page.ColourAt(x, y);
      uint8_t* p = row.data() + static_cast<size_t>(x) * channels;
      p[0] = c.red;
      p[1] = c.green;
      p[2] = c.blue;
      if (alpha) p[3] = page.AlphaGetUnchecked(x, y);
    }
    if (TIFFWriteScanline(tif, row.data(), t, 0) < 0) return false;
  }
  return true;
}

bool WriteIndexRows(TIFF* tif, const CxImage& page) {
  const size_t rowBytes = (static_cast<size_t>(page.Width()) * page.Bpp() + 7) / 8;
  std::vector<uint8_t> row(rowBytes);
  for (uint32_t t = 0; t < page.Height(); ++t) {
    const uint8_t* src = page.RowPointer(page.Height() - 1 - t);
    std::copy(src, src + rowBytes, row.begin());
    if (TIFFWriteScanline(tif, row.data(), t, 0) < 0) return false;
  }
  return true;
}

bool WritePage(TIFF* tif, const CxImage& page, int32_t index, int32_t count) {
  if (page.HasAlpha() || page.Bpp() == 24) {
    const bool alpha = page.HasAlpha();
    SetCommonTags(tif, page, index, count, alpha ? 4 : 3, 8, PHOTOMETRIC_RGB);
    if (alpha) {
      const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
      TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    return WriteColourRows(tif, page, alpha);
  }
  const uint16_t bits = static_cast<uint16_t>(page.Bpp());
  if (IsEvenGreyRamp(page)) {
    SetCommonTags(tif, page, index, count, 1, bits, PHOTOMETRIC_MINISBLACK);
  } else {
    SetCommonTags(tif, page, index, count, 1, bits, PHOTOMETRIC_PALETTE);
    const size_t n = size_t{1} << bits;
    std::vector<uint16_t> r(n), g(n), b(n);
    const RgbQuad* pal = page.PaletteEntries();
    for (size_t i = 0; i < n && pal != nullptr && i < page.ColoursUsed(); ++i) {
      r[i] = static_cast<uint16_t>(pal[i].red * 257);
      g[i] = static_cast<uint16_t>(pal[i].green * 257);
      b[i] = static_cast<uint16_t>(pal[i].blue * 257);
    }
    TIFFSetField(tif, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
  }
  return WriteIndexRows(tif, page);
}

}  // namespace

bool CxImageTIF::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  CxImage* self = this;
  return EncodePages(stream, &self, 1);
}

bool CxImageTIF::EncodePages(CxStream* stream, CxImage* const* pages, int32_t count) {
  if (stream == nullptr) return Fail("null file handler");
  if (pages == nullptr || count <= 0) return Fail("null image!!!");
  for (int32_t i = 0; i < count; ++i) {
    if (pages[i] == nullptr || !pages[i]->HasPixels()) return Fail("null image!!!");
  }
  TiffClient client;
  client.stream = stream;
  TIFF* tif = OpenTiffOverStream(&client, "w");
  if (tif == nullptr) return Fail("initialization fail");
  for (int32_t i = 0; i < count; ++i) {
    if (!WritePage(tif, *pages[i], i, count)) {
      SetLastError("Error saving TIFF file");
      TIFFClose(tif);
      return false;
    }
    if (TIFFWriteDirectory(tif) == 0) {
      SetLastError("Error saving TIFF directory");
      TIFFClose(tif);
      return false;
    }
  }
  TIFFClose(tif);
  return true;
}

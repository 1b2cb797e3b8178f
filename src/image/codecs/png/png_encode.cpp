// PNG encoding over libpng: the writer of every temporary frame image. As in the decoder,
// the functions inside the jump buffer hold no objects with destructors.
#include <png.h>
#include <zlib.h>

#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>

#include "image/codecs/png/png_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

struct PngWriteContext {
  CxStream* stream = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  uint8_t* row = nullptr;
};

namespace {

void PngWriteError(png_structp png, png_const_charp) { png_longjmp(png, 1); }

void PngWriteWarning(png_structp, png_const_charp) {}

void PngWriteData(png_structp png, png_bytep data, size_t length) {
  auto* ctx = static_cast<PngWriteContext*>(png_get_io_ptr(png));
  if (ctx->stream->Write(data, 1, length) != length) png_error(png, "Write Error");
}

void PngFlushData(png_structp png) {
  auto* ctx = static_cast<PngWriteContext*>(png_get_io_ptr(png));
  if (!ctx->stream->Flush()) png_error(png, "Flush Error");
}

void ReleaseWrite(PngWriteContext* ctx) {
  if (ctx->png != nullptr) png_destroy_write_struct(&ctx->png, &ctx->info);
  std::free(ctx->row);
  ctx->row = nullptr;
}

}  // namespace

// Measured with bench/bench_png_settings (write + read of an A4 page at 300 dpi): libpng's
// defaults cost about 2 s for a noisy 24-bit scan and 0.8 s for a clean one; level 1 with
// the sub filter and run-length matching costs 0.7 s and 0.35 s, with files of about the
// same size (a clean page 1 MB against 0.6 MB). Storing without compression is faster still
// (0.1 s) but puts 24 MB per colour page on disk, and every frame of an input stays there
// until the run ends.
PngWriteSettings CxImagePNG::DefaultWriteSettings() {
  return PngWriteSettings{1, PNG_FILTER_SUB, Z_RLE};
}

bool CxImagePNG::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  PngWriteContext ctx;
  ctx.stream = stream;
  const bool ok = WriteWithLibrary(&ctx);
  ReleaseWrite(&ctx);
  return ok;
}

namespace {

enum class RowKind {
  kStored,        // the stored row as it is (palette, grey, or B,G,R swapped by the library)
  kGreyAlpha,     // grey index + alpha
  kColourAlpha,   // R,G,B + alpha from 24-bit pixels
  kPaletteAlpha,  // R,G,B + alpha looked up through the palette
};

// Highest palette index any pixel uses, so the palette chunk covers every pixel.
uint32_t HighestIndex(const CxImage& image) {
  // Nothing can exceed the depth's largest index: the scan ends once it is found, which on a
  // page of black and white is within its first dark pixel.
  const uint32_t largest = image.Bpp() < 8 ? (1u << image.Bpp()) - 1 : 255;
  uint32_t highest = 0;
  for (uint32_t y = 0; y < image.Height(); ++y) {
    for (uint32_t x = 0; x < image.Width(); ++x) {
      const uint32_t i = image.IndexAtUnchecked(x, y);
      if (i > highest) {
        highest = i;
        if (highest >= largest) return highest;
      }
    }
  }
  return highest;
}

bool PaletteHasAlpha(const CxImage& image) {
  const RgbQuad* entries = image.PaletteEntries();
  if (!image.AlphaPaletteEnabled() || entries == nullptr) return false;
  for (uint32_t i = 0; i < image.ColoursUsed(); ++i) {
    if (entries[i].reserved != 255) return true;
  }
  return false;
}

// How the pixels go into the file: bit depth, colour type and the row form.
struct PngLayout {
  int bitDepth = 8;
  int colourType = PNG_COLOR_TYPE_RGB;
  RowKind kind = RowKind::kStored;
  int rowChannels = 3;
  bool alpha = false;
  bool paletteAlpha = false;
};

PngLayout ChooseLayout(const CxImage& image) {
  PngLayout layout;
  const RgbQuad* entries = image.PaletteEntries();
  layout.alpha = image.HasAlpha();
  layout.paletteAlpha = PaletteHasAlpha(image);
  // Grey only where the stored index is the grey value itself at 8 bits; a 1- or 4-bit
  // image whose palette is (i, i, i) would otherwise be read back far brighter.
  const bool grey = entries != nullptr && image.Bpp() == 8 && image.IsGreyRamp() && !layout.paletteAlpha;
  layout.bitDepth = entries != nullptr ? static_cast<int>(image.Bpp()) : 8;
  layout.colourType = entries == nullptr ? PNG_COLOR_TYPE_RGB : (grey ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_PALETTE);
  layout.rowChannels = entries == nullptr ? 3 : 1;
  if (layout.alpha) {
    layout.bitDepth = 8;
    if (layout.colourType == PNG_COLOR_TYPE_GRAY) {
      layout.colourType = PNG_COLOR_TYPE_GRAY_ALPHA;
      layout.kind = RowKind::kGreyAlpha;
      layout.rowChannels = 2;
    } else {
      // A palette has no alpha flag in PNG; such pixels are written as colour + alpha.
      layout.kind = layout.colourType == PNG_COLOR_TYPE_RGB ? RowKind::kColourAlpha : RowKind::kPaletteAlpha;
      layout.colourType = PNG_COLOR_TYPE_RGB_ALPHA;
      layout.rowChannels = 4;
    }
  }
  return layout;
}

void SetCompression(png_structp png, const PngWriteSettings& settings) {
  png_set_compression_level(png, settings.zlibLevel);
  if (settings.zlibStrategy >= 0) png_set_compression_strategy(png, settings.zlibStrategy);
  if (settings.filters >= 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, settings.filters);
}

// The background chunk: the transparent colour where there is one, else white.
void SetBackground(png_structp png, png_infop pinfo, const CxImage& image) {
  png_color_16 background{};
  background.index = 0;
  background.red = background.green = background.blue = 255;
  background.gray = 0;
  if (image.TransparentIndex() >= 0) {
    const RgbQuad tc = image.TransparentColour();
    background.red = tc.red;
    background.green = tc.green;
    background.blue = tc.blue;
  }
  png_set_bKGD(png, pinfo, &background);
}

void SetResolution(png_structp png, png_infop pinfo, const CxImage& image) {
  const BitmapInfoHeader& head = image.Header();
  if (head.biXPelsPerMeter > 0 && head.biYPelsPerMeter > 0) {
    png_set_pHYs(png, pinfo, static_cast<png_uint_32>(head.biXPelsPerMeter),
                 static_cast<png_uint_32>(head.biYPelsPerMeter), PNG_RESOLUTION_METER);
  }
}

// The palette chunk, covering every index a pixel uses, and its transparency.
void SetPalette(png_structp png, png_infop pinfo, const CxImage& image, const PngLayout& layout) {
  const RgbQuad* entries = image.PaletteEntries();
  const int32_t transparent = image.TransparentIndex();
  uint32_t count = image.ColoursImportant() != 0 ? image.ColoursImportant() : image.ColoursUsed();
  const uint32_t highest = HighestIndex(image);
  if (count <= highest) count = highest + 1;
  if (count > image.ColoursUsed()) count = image.ColoursUsed();
  png_color colours[256];
  for (uint32_t i = 0; i < count; ++i) {
    colours[i].red = entries[i].red;
    colours[i].green = entries[i].green;
    colours[i].blue = entries[i].blue;
  }
  png_set_PLTE(png, pinfo, colours, static_cast<int>(count));
  png_byte alphas[256];
  if (layout.paletteAlpha) {
    for (uint32_t i = 0; i < count; ++i) alphas[i] = entries[i].reserved;
    png_set_tRNS(png, pinfo, alphas, static_cast<int>(count), nullptr);
  } else if (transparent >= 0 && static_cast<uint32_t>(transparent) < count) {
    // Entries before the transparent one stay opaque; no reordering of the palette.
    std::memset(alphas, 255, sizeof alphas);
    alphas[transparent] = 0;
    png_set_tRNS(png, pinfo, alphas, transparent + 1, nullptr);
  }
}

// The transparent grey level or colour of a picture without palette or alpha.
void SetTransparentKey(png_structp png, png_infop pinfo, const CxImage& image, const PngLayout& layout) {
  png_color_16 key{};
  if (layout.colourType == PNG_COLOR_TYPE_GRAY) {
    key.gray = static_cast<png_uint_16>(image.TransparentIndex());
  } else {
    const RgbQuad tc = image.TransparentColour();
    key.red = tc.red;
    key.green = tc.green;
    key.blue = tc.blue;
  }
  png_set_tRNS(png, pinfo, nullptr, 0, &key);
}

// Every row, bottom-up storage written top-down, in every interlace pass; `row` holds the
// rows that are not written as stored.
void WriteRows(png_structp png, const CxImage& image, const PngLayout& layout, uint8_t* row) {
  const uint32_t width = image.Width();
  const uint32_t height = image.Height();
  const RgbQuad* entries = image.PaletteEntries();
  const RgbQuad tc = image.TransparentColour();
  const bool keyToAlpha = layout.kind == RowKind::kColourAlpha && image.TransparentIndex() >= 0;
  const uint8_t* alphaPlane = image.AlphaPlane();
  const int passes = png_set_interlace_handling(png);
  for (int pass = 0; pass < passes; ++pass) {
    for (uint32_t t = 0; t < height; ++t) {
      const uint32_t y = height - 1 - t;
      const uint8_t* src = image.RowPointer(y);
      const uint8_t* a = layout.alpha ? alphaPlane + static_cast<size_t>(y) * width : nullptr;
      uint8_t* out = row;
      switch (layout.kind) {
        case RowKind::kStored:
          png_write_row(png, src);
          continue;
        case RowKind::kGreyAlpha:
          for (uint32_t x = 0; x < width; ++x) {
            out[2 * x] = src[x];
            out[2 * x + 1] = a[x];
          }
          break;
        case RowKind::kColourAlpha:
          for (uint32_t x = 0; x < width; ++x, src += 3, out += 4) {
            out[0] = src[2];
            out[1] = src[1];
            out[2] = src[0];
            const bool keyed =
                keyToAlpha && src[0] == tc.blue && src[1] == tc.green && src[2] == tc.red;
            out[3] = keyed ? 0 : a[x];
          }
          break;
        case RowKind::kPaletteAlpha:
          for (uint32_t x = 0; x < width; ++x, out += 4) {
            const RgbQuad c = entries[image.IndexAtUnchecked(x, y)];
            out[0] = c.red;
            out[1] = c.green;
            out[2] = c.blue;
            out[3] = a[x];
          }
          break;
      }
      png_write_row(png, row);
    }
  }
}

}  // namespace

bool CxImagePNG::WriteWithLibrary(PngWriteContext* ctx) {
  ctx->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, ctx, PngWriteError,
                                     PngWriteWarning);
  if (ctx->png == nullptr) return Fail("Failed to create PNG structure");
  ctx->info = png_create_info_struct(ctx->png);
  if (ctx->info == nullptr) return Fail("Failed to initialize PNG info structure");
  if (setjmp(png_jmpbuf(ctx->png))) return Fail("Error saving PNG file");
  png_structp png = ctx->png;
  png_infop pinfo = ctx->info;
  png_set_write_fn(png, ctx, PngWriteData, PngFlushData);
  SetCompression(png, writeSettings_);

  const PngLayout layout = ChooseLayout(*this);
  const int interlace =
      CodecOptions(FORMAT_PNG) == 1 ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
  png_set_IHDR(png, pinfo, Width(), Height(), layout.bitDepth, layout.colourType, interlace,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);
  SetBackground(png, pinfo, *this);
  SetResolution(png, pinfo, *this);
  if (layout.colourType == PNG_COLOR_TYPE_PALETTE) {
    SetPalette(png, pinfo, *this, layout);
  } else if (!layout.alpha && TransparentIndex() >= 0) {
    SetTransparentKey(png, pinfo, *this, layout);
  }

  png_write_info(png, pinfo);
  if (layout.kind == RowKind::kStored && layout.colourType == PNG_COLOR_TYPE_RGB) png_set_bgr(png);
  if (layout.kind != RowKind::kStored) {
    ctx->row = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(Width()) * layout.rowChannels));
    if (ctx->row == nullptr) png_error(png, "out of memory");
  }
  WriteRows(png, *this, layout, ctx->row);
  png_write_end(png, pinfo);
  return true;
}

namespace {

int32_t DpiThroughPng(int32_t pixelsPerMetre) {
  return static_cast<int32_t>(std::floor(static_cast<uint32_t>(pixelsPerMetre) * 0.0254 + 0.5));
}

// The palette and its transparency as the palette chunk holds them and the reader takes
// them back.
void ReadBackPalette(const CxImage& source, const PngLayout& layout, CxImage& out) {
  const RgbQuad* entries = source.PaletteEntries();
  uint32_t count = source.ColoursImportant() != 0 ? source.ColoursImportant() : source.ColoursUsed();
  const uint32_t highest = HighestIndex(source);
  if (count <= highest) count = highest + 1;
  if (count > source.ColoursUsed()) count = source.ColoursUsed();
  for (uint32_t i = 0; i < count && i < out.ColoursUsed(); ++i) {
    out.SetPaletteEntry(static_cast<uint8_t>(i), entries[i].red, entries[i].green, entries[i].blue);
  }
  out.SetColoursImportant(count);
  uint8_t alphas[256];
  uint32_t alphaCount = 0;
  const int32_t transparent = source.TransparentIndex();
  if (layout.paletteAlpha) {
    for (uint32_t i = 0; i < count; ++i) alphas[i] = entries[i].reserved;
    alphaCount = count;
  } else if (transparent >= 0 && static_cast<uint32_t>(transparent) < count) {
    std::memset(alphas, 255, sizeof alphas);
    alphas[transparent] = 0;
    alphaCount = static_cast<uint32_t>(transparent) + 1;
  }
  if (alphaCount == 1 && alphas[0] == 0) {
    out.SetTransparentIndex(0);
  } else if (alphaCount >= 1 && !(alphaCount == 1 && alphas[0] == 255)) {
    RgbQuad* back = out.PaletteEntries();
    for (uint32_t i = 0; i < out.ColoursUsed(); ++i) back[i].reserved = i < alphaCount ? alphas[i] : 255;
    out.AlphaPaletteEnable(true);
  }
}

}  // namespace

bool ReadBackAsPng(const CxImage& source, CxImage& out) {
  if (!source.HasPixels()) return out.Fail("null image!!!");
  const PngLayout layout = ChooseLayout(source);
  const uint32_t width = source.Width();
  const uint32_t height = source.Height();
  const bool colour = layout.colourType == PNG_COLOR_TYPE_RGB || layout.colourType == PNG_COLOR_TYPE_RGB_ALPHA;
  const uint32_t bpp = colour ? 24u : static_cast<uint32_t>(layout.bitDepth);
  CxImage fresh(FORMAT_UNKNOWN);
  out.TakeOver(fresh, true);
  if (out.Create(width, height, bpp, FORMAT_PNG) == nullptr) return false;
  const BitmapInfoHeader& head = source.Header();
  const bool resolution = head.biXPelsPerMeter > 0 && head.biYPelsPerMeter > 0;
  out.SetResolutionX(resolution ? DpiThroughPng(head.biXPelsPerMeter) : 0);
  out.SetResolutionY(resolution ? DpiThroughPng(head.biYPelsPerMeter) : 0);
  if (layout.alpha && !out.AlphaCreate()) return out.Fail("CxImage::Create can't allocate memory");

  // Rows as the file carries them: nothing past a row's last pixel is kept.
  const size_t rowBits = static_cast<size_t>(width) * bpp;
  const size_t rowBytes = (rowBits + 7) / 8;
  const uint8_t lastByteMask = static_cast<uint8_t>(0xFF << ((8 - rowBits % 8) % 8));
  const RgbQuad* entries = source.PaletteEntries();
  const RgbQuad tc = source.TransparentColour();
  const bool keyToAlpha = layout.kind == RowKind::kColourAlpha && source.TransparentIndex() >= 0;
  for (uint32_t y = 0; y < height; ++y) {
    const uint8_t* src = source.RowPointer(y);
    uint8_t* dst = out.RowPointer(y);
    if (layout.kind == RowKind::kPaletteAlpha) {
      for (uint32_t x = 0; x < width; ++x, dst += 3) {
        const RgbQuad c = entries[source.IndexAtUnchecked(x, y)];
        dst[0] = c.blue;
        dst[1] = c.green;
        dst[2] = c.red;
      }
    } else {
      std::memcpy(dst, src, rowBytes);
      dst[rowBytes - 1] &= lastByteMask;
    }
    if (!layout.alpha) continue;
    const uint8_t* a = source.AlphaPlane() + static_cast<size_t>(y) * width;
    uint8_t* b = out.AlphaPlane() + static_cast<size_t>(y) * width;
    for (uint32_t x = 0; x < width; ++x) {
      const uint8_t* p = src + 3 * size_t{x};
      const bool keyed = keyToAlpha && p[0] == tc.blue && p[1] == tc.green && p[2] == tc.red;
      b[x] = keyed ? 0 : a[x];
    }
  }

  switch (layout.colourType) {
    case PNG_COLOR_TYPE_GRAY:
      out.SetGreyPalette();
      if (source.TransparentIndex() >= 0) out.SetTransparentIndex(source.TransparentIndex());
      break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      out.SetGreyPalette();
      break;
    case PNG_COLOR_TYPE_PALETTE:
      ReadBackPalette(source, layout, out);
      break;
    case PNG_COLOR_TYPE_RGB:
      if (source.TransparentIndex() >= 0) {
        out.SetTransparentColour(tc);
        out.SetTransparentIndex(0);
      }
      break;
    default:
      break;
  }
  return true;
}

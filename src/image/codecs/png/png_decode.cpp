// PNG decoding over libpng. libpng leaves by longjmp on every error, so the functions that
// run inside the jump buffer hold no objects with destructors; the one heap buffer lives
// in the context and is freed by hand on both paths.
#include "image/codecs/png/png_codec.h"

#include <libdeflate.h>
#include <png.h>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/io/format.h"
#include "image/io/stream.h"
#include "platform/memory_limit.h"

struct PngReadContext {
  CxStream* stream = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  uint8_t* row = nullptr;  // one library row, + 8 bytes of slack
  size_t rowBytes = 0;
  int colourType = 0;
  int bitDepth = 0;
  int passes = 1;
  char message[256] = {};
  // The whole-picture path: every IDAT chunk's data, the inflated rows, the inflater.
  uint8_t* compressed = nullptr;
  uint8_t* inflated = nullptr;
  libdeflate_decompressor* inflater = nullptr;
  bool readToEnd = false;  // the chunks after the pixels were read and checked too
};

namespace {

// Ancillary chunks (text, profiles) are never needed; keep what one may cost small.
constexpr png_alloc_size_t kMaxChunkBytes = 8u << 20;

void PngReadError(png_structp png, png_const_charp text) {
  auto* ctx = static_cast<PngReadContext*>(png_get_error_ptr(png));
  std::snprintf(ctx->message, sizeof ctx->message, "%s", text != nullptr ? text : "");
  png_longjmp(png, 1);
}

void PngReadWarning(png_structp, png_const_charp) {}

void PngReadData(png_structp png, png_bytep data, size_t length) {
  auto* ctx = static_cast<PngReadContext*>(png_get_io_ptr(png));
  if (ctx->stream->Read(data, 1, length) != length) png_error(png, "Read Error");
}

int ChannelsOf(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE: return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    default: return 0;
  }
}

int32_t DpiFromPixelsPerMetre(png_uint_32 ppm) {
  return static_cast<int32_t>(std::floor(ppm * 0.0254 + 0.5));
}

int32_t ClampToInt32(png_uint_32 v) {
  return v > 0x7FFFFFFFu ? 0 : static_cast<int32_t>(v);
}

// The image keeps the reason for a picture beyond the memory limit, with its size; false.
// Out of line, so that no string lives in a frame the library may jump out of.
bool FailTooLarge(CxImage& image, uint32_t width, uint32_t height) {
  return image.Fail(TooLargeReason(width, height).c_str());
}

void ReleaseRead(PngReadContext* ctx) {
  if (ctx->png != nullptr) png_destroy_read_struct(&ctx->png, &ctx->info, nullptr);
  std::free(ctx->row);
  ctx->row = nullptr;
  std::free(ctx->compressed);
  ctx->compressed = nullptr;
  std::free(ctx->inflated);
  ctx->inflated = nullptr;
  if (ctx->inflater != nullptr) libdeflate_free_decompressor(ctx->inflater);
  ctx->inflater = nullptr;
}

}  // namespace

CxImagePNG::CxImagePNG() : CxImage(FORMAT_PNG), writeSettings_(DefaultWriteSettings()) {}

bool CxImagePNG::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  PngReadContext ctx;
  ctx.stream = stream;
  const bool ok = ReadWithLibrary(&ctx);
  ReleaseRead(&ctx);
  return ok;
}

bool CxImagePNG::DecodeBitonal(CxStream* stream, uint8_t level) {
  bitonalLevel_ = level;
  const bool ok = Decode(stream);
  bitonalLevel_ = -1;
  return ok;
}

bool CxImagePNG::ReadWithLibrary(PngReadContext* ctx) {
  ctx->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, ctx, PngReadError, PngReadWarning);
  if (ctx->png == nullptr) return Fail("Failed to create PNG structure");
  ctx->info = png_create_info_struct(ctx->png);
  if (ctx->info == nullptr) return Fail("Failed to initialize PNG info structure");
  if (setjmp(png_jmpbuf(ctx->png))) return Fail(ctx->message);
  png_set_read_fn(ctx->png, ctx, PngReadData);
  png_set_user_limits(ctx->png, kPngMaxDimension, kPngMaxDimension);
  png_set_chunk_malloc_max(ctx->png, kMaxChunkBytes);
  png_read_info(ctx->png, ctx->info);

  png_uint_32 width = 0, height = 0;
  int interlace = 0;
  png_get_IHDR(ctx->png, ctx->info, &width, &height, &ctx->bitDepth, &ctx->colourType,
               &interlace, nullptr, nullptr);
  if (Escape() == -1) {
    head.biWidth = static_cast<int32_t>(width);
    head.biHeight = static_cast<int32_t>(height);
    info.formatType = FORMAT_PNG;
    SetLastError("output dimensions returned");
    return true;
  }
  if (!PrepareImage(ctx)) return false;
  if (Escape() != 0) return Fail("Cancelled");
  if (bitonalLevel_ >= 0) {
    if (ctx->passes != 1 || Bpp() == 1) return Fail("interlaced and one-bit pictures are not read a row at a time");
    // The rows' grey values follow from the picture's attributes, known from here on.
    splitsRows_ = GreysOfRows(split_);
    CxImage bitonal(width, height, 1, 0);
    if (!bitonal.HasPixels()) {
      if (std::strcmp(bitonal.LastErrorText(), kMaxMemoryMessage) == 0) return FailTooLarge(*this, width, height);
      return Fail(bitonal.LastErrorText());
    }
    if (!ReadPixelsWhole(ctx, &bitonal) && !ReadPixelsBitonal(ctx, bitonal)) return false;
    if (Escape() != 0) return Fail("Cancelled");
    if (!ctx->readToEnd) png_read_end(ctx->png, nullptr);
    bitonal.SetPaletteEntry(0, 0, 0, 0, 0);
    bitonal.SetPaletteEntry(1, 255, 255, 255, 0);
    bitonal.SetResolutionX(ResolutionX());
    bitonal.SetResolutionY(ResolutionY());
    return TakeOver(bitonal, false);
  }
  if (!ReadPixelsWhole(ctx)) ReadPixels(ctx);
  if (Escape() != 0) return Fail("Cancelled");
  if (!ctx->readToEnd) png_read_end(ctx->png, nullptr);
  return true;
}

// Creates the image and fills its palette, transparency, resolution and alpha plane;
// sets the library's transformations so that rows arrive in storage order.
bool CxImagePNG::PrepareImage(PngReadContext* ctx) {
  png_structp png = ctx->png;
  png_infop pinfo = ctx->info;
  const int channels = ChannelsOf(ctx->colourType);
  if (channels == 0) return Fail("unknown PNG color type");
  const uint32_t bpp = channels == 1 ? (ctx->bitDepth == 16 ? 8u : static_cast<uint32_t>(
                                                                       ctx->bitDepth))
                                     : (channels == 2 ? 8u : 24u);
  const uint32_t width = png_get_image_width(png, pinfo);
  const uint32_t height = png_get_image_height(png, pinfo);
  // Read to one bit, only one row is held at the picture's own depth.
  if (Create(width, bitonalLevel_ >= 0 ? 1 : height, bpp, FORMAT_PNG) == nullptr) {
    if (std::strcmp(LastErrorText(), kMaxMemoryMessage) == 0) FailTooLarge(*this, width, height);
    return false;
  }

  png_uint_32 resX = 0, resY = 0;
  int unit = PNG_RESOLUTION_UNKNOWN;
  png_get_pHYs(png, pinfo, &resX, &resY, &unit);
  if (unit == PNG_RESOLUTION_METER) {
    SetResolutionX(DpiFromPixelsPerMetre(resX));
    SetResolutionY(DpiFromPixelsPerMetre(resY));
  } else {
    SetResolutionX(ClampToInt32(resX));
    SetResolutionY(ClampToInt32(resY));
  }

  png_colorp palette = nullptr;
  int paletteSize = 0;
  if (png_get_PLTE(png, pinfo, &palette, &paletteSize) != 0 && palette != nullptr &&
      ctx->colourType == PNG_COLOR_TYPE_PALETTE) {
    const int n = paletteSize < static_cast<int>(ColoursUsed()) ? paletteSize
                                                                : static_cast<int>(ColoursUsed());
    for (int i = 0; i < n; ++i) {
      SetPaletteEntry(static_cast<uint8_t>(i), palette[i].red, palette[i].green,
                      palette[i].blue);
    }
    SetColoursImportant(static_cast<uint32_t>(paletteSize));
  } else if (ctx->bitDepth == 2) {
    static const uint8_t kLevels[4] = {0, 85, 170, 255};
    for (uint8_t i = 0; i < 4; ++i) SetPaletteEntry(i, kLevels[i], kLevels[i], kLevels[i]);
  } else if (bpp <= 8) {
    SetGreyPalette();
  }

  png_bytep trans = nullptr;
  int transCount = 0;
  png_color_16p transColour = nullptr;
  if (png_get_tRNS(png, pinfo, &trans, &transCount, &transColour) != 0) {
    const int shift = ctx->bitDepth > 8 ? (ctx->bitDepth / 8 - 1) * 8 : 0;
    if (ctx->colourType == PNG_COLOR_TYPE_PALETTE && trans != nullptr) {
      if (transCount == 1 && trans[0] == 0) {
        SetTransparentIndex(0);
      } else if (transCount >= 1 && !(transCount == 1 && trans[0] == 255)) {
        // Partial or several alphas: keep them all in the palette.
        RgbQuad* entries = PaletteEntries();
        for (uint32_t i = 0; entries != nullptr && i < ColoursUsed(); ++i) {
          entries[i].reserved = static_cast<int>(i) < transCount ? trans[i] : 255;
        }
        AlphaPaletteEnable(true);
      }
    } else if (ctx->colourType == PNG_COLOR_TYPE_GRAY && transColour != nullptr) {
      SetTransparentIndex(transColour->gray >> shift);
    } else if (ctx->colourType == PNG_COLOR_TYPE_RGB && transColour != nullptr) {
      RgbQuad c;
      c.red = static_cast<uint8_t>(transColour->red >> shift);
      c.green = static_cast<uint8_t>(transColour->green >> shift);
      c.blue = static_cast<uint8_t>(transColour->blue >> shift);
      SetTransparentColour(c);
      SetTransparentIndex(0);
    }
  }

  if (channels == 2 || channels == 4) {
    if (!AlphaCreate()) return Fail("CxImage::Create can't allocate memory");
  }
  if (ctx->colourType & PNG_COLOR_MASK_COLOR) png_set_bgr(png);
  if (ctx->bitDepth == 16) png_set_strip_16(png);
  if (ctx->bitDepth == 2) png_set_packing(png);  // one byte per pixel, repacked to nibbles
  ctx->passes = png_set_interlace_handling(png);
  png_read_update_info(png, pinfo);
  ctx->rowBytes = png_get_rowbytes(png, pinfo);
  // Zeroed: libpng keeps the unused low bits of a row's last byte as the buffer held them.
  ctx->row = static_cast<uint8_t*>(std::calloc(ctx->rowBytes + 8, 1));
  if (ctx->row == nullptr) return Fail("CxImage::Create can't allocate memory");
  SetCodecOptions(ctx->passes > 1 ? 1u : 0u, FORMAT_PNG);
  return true;
}

namespace {

// Library row (8-bit samples, B,G,R order, 2-bit pixels one per byte) <-> stored row.
struct RowLayout {
  uint32_t width;
  int channels;  // of the library row
  bool twoBit;
  size_t copyBytes;
};

void StoreRow(const RowLayout& l, const uint8_t* src, uint8_t* dst, uint8_t* alpha) {
  if (alpha != nullptr) {
    const int colourBytes = l.channels - 1;
    for (uint32_t x = 0; x < l.width; ++x, src += l.channels, dst += colourBytes) {
      std::memcpy(dst, src, static_cast<size_t>(colourBytes));
      alpha[x] = src[colourBytes];
    }
  } else if (l.twoBit) {
    for (uint32_t x = 0; x < l.width; x += 2) {
      const uint8_t hi = src[x] & 3;
      const uint8_t lo = x + 1 < l.width ? (src[x + 1] & 3) : 0;
      dst[x / 2] = static_cast<uint8_t>((hi << 4) | lo);
    }
  } else {
    std::memcpy(dst, src, l.copyBytes);
  }
}

// Later passes of an interlaced file only add pixels to what the row already holds.
void LoadRow(const RowLayout& l, uint8_t* dst, const uint8_t* src, const uint8_t* alpha) {
  if (alpha != nullptr) {
    const int colourBytes = l.channels - 1;
    for (uint32_t x = 0; x < l.width; ++x, dst += l.channels, src += colourBytes) {
      std::memcpy(dst, src, static_cast<size_t>(colourBytes));
      dst[colourBytes] = alpha[x];
    }
  } else if (l.twoBit) {
    for (uint32_t x = 0; x < l.width; ++x) {
      dst[x] = (x & 1) ? (src[x / 2] & 0x0F) : (src[x / 2] >> 4);
    }
  } else {
    std::memcpy(dst, src, l.copyBytes);
  }
}

}  // namespace

void CxImagePNG::ReadPixels(PngReadContext* ctx) {
  const uint32_t width = Width();
  const uint32_t height = Height();
  RowLayout layout;
  layout.width = width;
  layout.channels = png_get_channels(ctx->png, ctx->info);
  layout.twoBit = ctx->bitDepth == 2;
  layout.copyBytes = ctx->rowBytes < Stride() ? ctx->rowBytes : Stride();
  const bool hasAlpha = HasAlpha();
  for (int pass = 0; pass < ctx->passes; ++pass) {
    for (uint32_t t = 0; t < height; ++t) {
      if (Escape() != 0) return;
      const uint32_t y = height - 1 - t;
      uint8_t* dst = RowPointer(y);
      uint8_t* alpha = hasAlpha ? AlphaPlane() + static_cast<size_t>(y) * width : nullptr;
      if (ctx->passes > 1) LoadRow(layout, ctx->row, dst, alpha);
      png_read_row(ctx->png, ctx->row, nullptr);
      StoreRow(layout, ctx->row, dst, alpha);
    }
  }
}

namespace {

// Above this many inflated bytes the rows are read one at a time, so that a large scan is
// not held twice.
constexpr size_t kWholeInflateLimit = size_t{24} << 20;

bool ChunkNameValid(const uint8_t* name) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t c = name[i] | 0x20;
    if (c < 'a' || c > 'z') return false;
  }
  return true;
}

bool ReadExactly(CxStream* stream, uint8_t* to, size_t n) { return stream->Read(to, 1, n) == n; }

// A chunk's data (already in `data`) against the CRC that follows it in the stream.
bool CrcMatches(CxStream* stream, const uint8_t* name, const uint8_t* data, size_t length) {
  uint8_t stored[4];
  if (!ReadExactly(stream, stored, 4)) return false;
  const uint32_t crc = libdeflate_crc32(libdeflate_crc32(0, name, 4), data, length);
  return crc == LoadU32BigEndian(stored);
}

// The Paeth predictor of the left, upper and upper-left bytes, without a branch: the
// distances of p = a + b - c to a, b and c are |b - c|, |a - c| and |a + b - 2c|.
inline uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c);
  const int pb = std::abs(a - c);
  const int pc = std::abs(a + b - 2 * c);
  const int bc = pb <= pc ? b : c;
  return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : bc);
}

// Calls fn.template operator()<kStep>() for a pixel of 1 to 4 bytes; false for any other.
template <typename Fn>
bool WithPixelSize(size_t step, Fn&& fn) {
  switch (step) {
    case 1: fn.template operator()<1>(); return true;
    case 2: fn.template operator()<2>(); return true;
    case 3: fn.template operator()<3>(); return true;
    case 4: fn.template operator()<4>(); return true;
    default: return false;
  }
}

// The Sub and Average filters: each byte adds predict(left, up) of the byte to its left
// (0 for the first pixel) and the one above. Each channel's left byte is kept at hand rather
// than read back from the row just written (a store and a load on every byte's chain).
template <size_t kStep, typename Predict>
void UnfilterWithLeft(uint8_t* __restrict row, const uint8_t* __restrict prior, size_t length, Predict predict) {
  unsigned left[kStep] = {};
  size_t i = 0;
  for (; i + kStep <= length; i += kStep) {
#pragma GCC unroll 4
    for (size_t k = 0; k < kStep; ++k) {
      left[k] = (row[i + k] + predict(left[k], prior[i + k])) & 0xFF;
      row[i + k] = static_cast<uint8_t>(left[k]);
    }
  }
  for (size_t k = 0; i + k < length; ++k) row[i + k] = static_cast<uint8_t>(row[i + k] + predict(left[k], prior[i + k]));
}

// kRows consecutive Paeth rows unfiltered together, each a pixel's time behind the one
// above: the byte above and the byte above-left of each are the row above's results of
// this step and the last, so the rows' chains of left neighbours run side by side instead
// of one after the other. `rows` are the rows' bytes (after the filter byte), `prior` the
// unfiltered row above the first; the length is a whole number of pixels.
template <size_t kStep, size_t kRows>
void UnfilterPaethRows(uint8_t* const* rows, const uint8_t* prior, size_t length) {
  int left[kRows][kStep];
  int upLeft[kStep];
  // The first pixel: with nothing to the left, the predictor is the byte above.
#pragma GCC unroll 4
  for (size_t k = 0; k < kStep; ++k) {
    int up = prior[k];
    upLeft[k] = up;
#pragma GCC unroll 4
    for (size_t r = 0; r < kRows; ++r) {
      up = (rows[r][k] + up) & 0xFF;
      rows[r][k] = static_cast<uint8_t>(up);
      left[r][k] = up;
    }
  }
  for (size_t i = kStep; i < length; i += kStep) {
#pragma GCC unroll 4
    for (size_t k = 0; k < kStep; ++k) {
      int up = prior[i + k];
      int aboveLeft = upLeft[k];
      upLeft[k] = up;
#pragma GCC unroll 4
      for (size_t r = 0; r < kRows; ++r) {
        const int made = (rows[r][i + k] + Paeth(left[r][k], up, aboveLeft)) & 0xFF;
        rows[r][i + k] = static_cast<uint8_t>(made);
        aboveLeft = left[r][k];
        left[r][k] = made;
        up = made;
      }
    }
  }
}

// Undoes a row's filter in place; `prior` is the row above, unfiltered (zeros for the first).
// False for an unknown filter, or a pixel size these loops do not take.
bool Unfilter(uint8_t filter, uint8_t* __restrict row, const uint8_t* __restrict prior, size_t length, size_t step) {
  switch (filter) {
    case 0: return true;
    case 1:
      return WithPixelSize(step, [&]<size_t kStep>() {
        UnfilterWithLeft<kStep>(row, prior, length, [](unsigned left, unsigned) { return left; });
      });
    case 2: {
      // Sixteen bytes at a time: the sum of each pair of bytes wraps as one byte's does.
      using Bytes16 = uint8_t __attribute__((vector_size(16)));
      size_t i = 0;
      for (; i + 16 <= length; i += 16) {
        Bytes16 a, b;
        std::memcpy(&a, row + i, 16);
        std::memcpy(&b, prior + i, 16);
        a += b;
        std::memcpy(row + i, &a, 16);
      }
      for (; i < length; ++i) row[i] = static_cast<uint8_t>(row[i] + prior[i]);
      return true;
    }
    case 3:
      return WithPixelSize(step, [&]<size_t kStep>() {
        UnfilterWithLeft<kStep>(row, prior, length, [](unsigned left, unsigned up) { return (left + up) >> 1; });
      });
    case 4: {
      uint8_t* one[1] = {row};
      return length % step == 0 &&
             WithPixelSize(step, [&]<size_t kStep>() { UnfilterPaethRows<kStep, 1>(one, prior, length); });
    }
    default: return false;
  }
}

// How many Paeth rows are unfiltered together: enough side-by-side chains to keep the
// processor busy; eight rows of one-byte pixels go through vector lanes.
constexpr uint32_t kPaethGroup = 8;
constexpr uint32_t kPaethGroupScalar = 4;

#ifdef __SSE2__
// One byte of a Paeth row of one-byte pixels, its neighbours read from the rows.
inline void PaethByte(uint8_t* row, const uint8_t* prior, size_t j) {
  const int left = j > 0 ? row[j - 1] : 0;
  const int upLeft = j > 0 ? prior[j - 1] : 0;
  row[j] = static_cast<uint8_t>(row[j] + Paeth(left, prior[j], upLeft));
}

// The Paeth predictor of eight pixels at once (16-bit lanes holding 0 to 255).
inline __m128i PaethLanes(__m128i a, __m128i b, __m128i c) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bc = _mm_sub_epi16(b, c);
  const __m128i ac = _mm_sub_epi16(a, c);
  const __m128i sum = _mm_add_epi16(ac, bc);
  const __m128i pa = _mm_max_epi16(bc, _mm_sub_epi16(zero, bc));
  const __m128i pb = _mm_max_epi16(ac, _mm_sub_epi16(zero, ac));
  const __m128i pc = _mm_max_epi16(sum, _mm_sub_epi16(zero, sum));
  const __m128i cOverB = _mm_cmpgt_epi16(pb, pc);
  const __m128i chooseBc = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
  const __m128i bOrC = _mm_or_si128(_mm_and_si128(cOverB, c), _mm_andnot_si128(cOverB, b));
  return _mm_or_si128(_mm_and_si128(chooseBc, bOrC), _mm_andnot_si128(chooseBc, a));
}

// Eight rows of eight bytes (the low halves of in[0..7]) turned into eight columns: out[k]
// holds column k's eight bytes, row 0 first, in its low half.
inline void Transpose8x8(const __m128i* in, __m128i* out) {
  const __m128i t0 = _mm_unpacklo_epi8(in[0], in[1]);
  const __m128i t1 = _mm_unpacklo_epi8(in[2], in[3]);
  const __m128i t2 = _mm_unpacklo_epi8(in[4], in[5]);
  const __m128i t3 = _mm_unpacklo_epi8(in[6], in[7]);
  const __m128i u0 = _mm_unpacklo_epi16(t0, t1);
  const __m128i u1 = _mm_unpackhi_epi16(t0, t1);
  const __m128i u2 = _mm_unpacklo_epi16(t2, t3);
  const __m128i u3 = _mm_unpackhi_epi16(t2, t3);
  const __m128i v[4] = {_mm_unpacklo_epi32(u0, u2), _mm_unpackhi_epi32(u0, u2), _mm_unpacklo_epi32(u1, u3),
                        _mm_unpackhi_epi32(u1, u3)};
  for (int m = 0; m < 4; ++m) {
    out[2 * m] = v[m];
    out[2 * m + 1] = _mm_srli_si128(v[m], 8);
  }
}

// Eight consecutive Paeth rows of one-byte pixels, `stride` bytes apart, in a wavefront: row
// r is r bytes behind row 0, so that the byte above and the byte above-left of each are the
// row above's results of the step before and the one before that. Lane r of a vector holds
// row r; eight steps at a time the rows' bytes are turned into columns and back. The first
// and last seven steps, where some rows have no byte, are done a byte at a time.
void UnfilterPaethEightRows(uint8_t* first, size_t stride, const uint8_t* prior, size_t length) {
  constexpr size_t kRows = 8;
  uint8_t* rows[kRows];
  const uint8_t* above[kRows];
  for (size_t r = 0; r < kRows; ++r) {
    rows[r] = first + r * stride;
    above[r] = r == 0 ? prior : rows[r - 1];
  }
  size_t i = 0;
  for (; i + 1 < kRows; ++i) {
    for (size_t r = 0; r <= i; ++r) PaethByte(rows[r], above[r], i - r);
  }
  // The state at step i: each row's last result (its left byte) and the byte above that.
  alignas(16) int16_t left[kRows], upLeft[kRows];
  for (size_t r = 0; r < kRows; ++r) {
    left[r] = rows[r][i - 1 - r];
    upLeft[r] = above[r][i - 1 - r];
  }
  __m128i a = _mm_load_si128(reinterpret_cast<const __m128i*>(left));
  __m128i c = _mm_load_si128(reinterpret_cast<const __m128i*>(upLeft));
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_set1_epi16(0xFF);
  for (; i + kRows <= length; i += kRows) {
    __m128i in[kRows], columns[kRows];
    for (size_t r = 0; r < kRows; ++r) {
      in[r] = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(rows[r] + i - r));
    }
    Transpose8x8(in, columns);
    __m128i made[kRows];
    for (size_t k = 0; k < kRows; ++k) {
      const __m128i b = _mm_insert_epi16(_mm_slli_si128(a, 2), prior[i + k], 0);
      const __m128i x = _mm_unpacklo_epi8(columns[k], zero);
      a = _mm_and_si128(_mm_add_epi16(x, PaethLanes(a, b, c)), low);
      c = b;
      made[k] = _mm_packus_epi16(a, a);
    }
    Transpose8x8(made, in);
    for (size_t r = 0; r < kRows; ++r) _mm_storel_epi64(reinterpret_cast<__m128i*>(rows[r] + i - r), in[r]);
  }
  for (; i + 1 < length + kRows; ++i) {
    for (size_t r = 0; r < kRows; ++r) {
      if (i >= r && i - r < length) PaethByte(rows[r], above[r], i - r);
    }
  }
}
#endif

// Unfilters the first rows of a run of `count` Paeth rows (`rows` one row's length + 1 apart)
// and says how many in `count`; false, with nothing done, when they are to be done one by one
// (a single row, or a pixel size not done this way).
bool UnfilterPaethRun(uint8_t* const* rows, uint32_t& count, const uint8_t* prior, size_t length, size_t step) {
#ifdef __SSE2__
  if (count == kPaethGroup && step == 1 && length >= 2 * kPaethGroup) {
    UnfilterPaethEightRows(rows[0], length + 1, prior, length);
    return true;
  }
#endif
  if (count > kPaethGroupScalar) count = kPaethGroupScalar;
  if (length % step != 0 || count < 2) return false;
  const uint32_t rowsTogether = count;
  return WithPixelSize(step, [&]<size_t kStep>() {
    switch (rowsTogether) {
      case 2: UnfilterPaethRows<kStep, 2>(rows, prior, length); break;
      case 3: UnfilterPaethRows<kStep, 3>(rows, prior, length); break;
      default: UnfilterPaethRows<kStep, 4>(rows, prior, length); break;
    }
  });
}

// R,G,B(,A) samples copied as B,G,R(,A).
template <size_t kChannels>
void CopySwapping(uint8_t* __restrict to, const uint8_t* __restrict from, size_t length) {
  size_t i = 0;
  for (; i + kChannels <= length; i += kChannels) {
    to[i] = from[i + 2];
    to[i + 1] = from[i + 1];
    to[i + 2] = from[i];
    if (kChannels == 4) to[i + 3] = from[i + 3];
  }
  for (; i < length; ++i) to[i] = from[i];
}

void CopySwappingRedAndBlue(uint8_t* to, const uint8_t* from, size_t length, size_t channels) {
  if (channels == 4) {
    CopySwapping<4>(to, from, length);
  } else {
    CopySwapping<3>(to, from, length);
  }
}

// After the pixels: only well-formed ancillary chunks and IEND, each with its CRC, as the
// library would take them without a word; anything else is left to the library to judge.
bool TrailingChunksPlain(CxStream* stream, const uint8_t* firstHeader, uint8_t* scratch, size_t scratchSize) {
  uint8_t header[8];
  std::memcpy(header, firstHeader, 8);
  for (;;) {
    const uint32_t length = LoadU32BigEndian(header);
    const uint8_t* name = header + 4;
    if (length > 0x7FFFFFFFu || length > scratchSize || !ChunkNameValid(name)) return false;
    const bool end = std::memcmp(name, "IEND", 4) == 0;
    if (!end && (name[0] & 0x20) == 0) return false;
    if (end && length != 0) return false;
    if (!ReadExactly(stream, scratch, length) || !CrcMatches(stream, name, scratch, length)) return false;
    if (end) return true;
    if (!ReadExactly(stream, header, 8)) return false;
  }
}

}  // namespace

// The whole picture at once: every IDAT chunk gathered, inflated in one call and unfiltered
// here, for non-interlaced pictures of 1, 4 or 8 bits per sample whose inflated rows fit the
// limit. False when it does not apply or anything is out of the ordinary: the stream is then
// back where the library left it, and the library reads the rows itself (and reports what
// it finds). The library's row transforms are done here: B,G,R order for colour.
bool CxImagePNG::ReadPixelsWhole(PngReadContext* ctx, CxImage* bitonal) {
  if (!wholeReads_ || ctx->passes != 1 || (ctx->bitDepth != 1 && ctx->bitDepth != 4 && ctx->bitDepth != 8)) return false;
  CxStream* stream = ctx->stream;
  const int64_t start = stream->Tell();
  const int64_t size = stream->Size();
  if (start < 8 || size < start) return false;
  const uint32_t width = Width();
  const uint32_t height = bitonal != nullptr ? bitonal->Height() : Height();
  const int channels = ChannelsOf(ctx->colourType);
  const size_t rowBits = static_cast<size_t>(width) * static_cast<size_t>(channels * ctx->bitDepth);
  const size_t rowBytes = (rowBits + 7) / 8;
  if (rowBytes != ctx->rowBytes || rowBytes >= kWholeInflateLimit) return false;
  const size_t expected = (rowBytes + 1) * height;
  const size_t remaining = static_cast<size_t>(size - start) + 8;
  if (expected > kWholeInflateLimit || remaining > kWholeInflateLimit) return false;

  bool whole = false;
  ctx->compressed = static_cast<uint8_t*>(std::malloc(remaining));
  ctx->inflated = static_cast<uint8_t*>(std::malloc(expected));
  PrepareForWriting(ctx->inflated, expected);
  ctx->inflater = libdeflate_alloc_decompressor();
  uint8_t header[8];
  size_t gathered = 0;
  if (ctx->compressed != nullptr && ctx->inflated != nullptr && ctx->inflater != nullptr &&
      stream->Seek(start - 8, SEEK_SET) && ReadExactly(stream, header, 8)) {
    whole = true;
    while (whole && std::memcmp(header + 4, "IDAT", 4) == 0) {
      const uint32_t length = LoadU32BigEndian(header);
      whole = length <= remaining - gathered && ReadExactly(stream, ctx->compressed + gathered, length) &&
              CrcMatches(stream, header + 4, ctx->compressed + gathered, length) && ReadExactly(stream, header, 8);
      gathered += length;
    }
  }
  size_t inflatedBytes = 0;
  whole = whole &&
          libdeflate_zlib_decompress(ctx->inflater, ctx->compressed, gathered, ctx->inflated, expected,
                                     &inflatedBytes) == LIBDEFLATE_SUCCESS &&
          inflatedBytes == expected &&
          TrailingChunksPlain(stream, header, ctx->compressed, remaining);

  RowLayout layout;
  layout.width = width;
  layout.channels = channels;
  layout.twoBit = false;
  layout.copyBytes = rowBytes < Stride() ? rowBytes : Stride();
  const size_t step = ctx->bitDepth == 8 ? static_cast<size_t>(channels) : 1;
  const uint8_t lastByteMask = static_cast<uint8_t>(0xFF << ((8 - rowBits % 8) % 8));
  const bool swap = ctx->colourType == PNG_COLOR_TYPE_RGB || ctx->colourType == PNG_COLOR_TYPE_RGB_ALPHA;
  const bool hasAlpha = HasAlpha();
  // Read to one bit, rows whose split needs nothing but their own bytes are split straight
  // from the unfiltered bytes, in the file's own channel order.
  RowGreys directSplit;
  bool direct = false;
  if (bitonal != nullptr && ctx->bitDepth == 8 && !hasAlpha) {
    direct = splitsRows_;
    directSplit = split_;
    if (swap) directSplit.kind = RowGreys::kRgb;
  }
  std::memset(ctx->row, 0, rowBytes);
  const uint8_t* prior = ctx->row;  // zeros above the first row
  for (uint32_t t = 0; whole && t < height;) {
    // A run of Paeth rows is unfiltered a few rows at a time.
    uint8_t* rows[kPaethGroup];  // each row's bytes, after its filter byte
    uint32_t count = 1;
    rows[0] = ctx->inflated + t * (rowBytes + 1) + 1;
    const uint8_t filter = rows[0][-1];
    while (filter == 4 && count < kPaethGroup && t + count < height) {
      uint8_t* next = rows[0] + count * (rowBytes + 1);
      if (next[-1] != 4) break;
      rows[count++] = next;
    }
    if (!UnfilterPaethRun(rows, count, prior, rowBytes, step)) {
      count = 1;
      whole = Unfilter(filter, rows[0], prior, rowBytes, step);
    }
    for (uint32_t i = 0; whole && i < count; ++i, ++t) {
      if (Escape() != 0) return true;
      uint8_t* row = rows[i];
      prior = row;
      const uint32_t y = height - 1 - t;
      if (direct) {
        SplitRow(row, width, directSplit, static_cast<uint8_t>(bitonalLevel_), bitonal->RowPointer(y));
        continue;
      }
      // The unfiltered row stays as the next row's prior; what is stored is a transformed
      // copy, made straight into its place for colour without alpha, else through the
      // library's row buffer. Read to one bit, the image holds the one row.
      const uint32_t at = bitonal == nullptr ? y : 0;
      uint8_t* alpha = hasAlpha ? AlphaPlane() + static_cast<size_t>(at) * width : nullptr;
      if (swap && alpha == nullptr) {
        CopySwappingRedAndBlue(RowPointer(at), row, layout.copyBytes, 3);
      } else {
        uint8_t* out = ctx->row;
        if (swap) {
          CopySwappingRedAndBlue(out, row, rowBytes, static_cast<size_t>(channels));
        } else {
          std::memcpy(out, row, rowBytes);
        }
        out[rowBytes - 1] &= lastByteMask;
        StoreRow(layout, out, RowPointer(at), alpha);
      }
      if (bitonal != nullptr && !ReduceRow(*bitonal, y)) png_error(ctx->png, LastErrorText());
    }
  }
  if (whole) {
    ctx->readToEnd = true;
    return true;
  }
  // Back to the first pixel data, as the library left the stream.
  if (!stream->Seek(start, SEEK_SET)) png_error(ctx->png, "Read Error");
  return false;
}

// Row 0 of the one-row image reduced as the whole picture would be, into row y of
// `bitonal`.
bool CxImagePNG::ReduceRow(CxImage& bitonal, uint32_t y) {
  const uint8_t level = static_cast<uint8_t>(bitonalLevel_);
  if (splitsRows_) {
    SplitRow(RowPointer(0), Width(), split_, level, bitonal.RowPointer(y));
    return true;
  }
  CxImage row(*this, true, false, true);
  if (!row.CompositeOverWhite() || !row.ApplyThreshold(level)) return Fail(row.LastErrorText());
  if (row.Bpp() != 1 && !row.DecreaseBpp(1, false, nullptr, 0)) return Fail(row.LastErrorText());
  std::memcpy(bitonal.RowPointer(y), row.RowPointer(0), bitonal.Stride());
  return true;
}

// Each row through the library into the one-row image, then reduced into its row of
// `bitonal`.
bool CxImagePNG::ReadPixelsBitonal(PngReadContext* ctx, CxImage& bitonal) {
  const uint32_t height = bitonal.Height();
  RowLayout layout;
  layout.width = Width();
  layout.channels = png_get_channels(ctx->png, ctx->info);
  layout.twoBit = ctx->bitDepth == 2;
  layout.copyBytes = ctx->rowBytes < Stride() ? ctx->rowBytes : Stride();
  for (uint32_t t = 0; t < height; ++t) {
    if (Escape() != 0) return Fail("Cancelled");
    png_read_row(ctx->png, ctx->row, nullptr);
    StoreRow(layout, ctx->row, RowPointer(0), HasAlpha() ? AlphaPlane() : nullptr);
    if (!ReduceRow(bitonal, height - 1 - t)) return false;
  }
  return true;
}

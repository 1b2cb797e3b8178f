#include "image/codecs/bmp/bmp_codec.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr uint32_t kRgb = kBmpUncompressed;
constexpr uint32_t kRle8 = 1;
constexpr uint32_t kRle4 = 2;
constexpr uint32_t kBitfields = 3;

// Moves forward n bytes, stopping at the end of the data.
void SkipForward(CxStream* s, uint64_t n) {
  if (n == 0) return;
  const int64_t pos = s->Tell();
  const int64_t size = s->Size();
  if (size >= 0 && pos >= 0 && static_cast<uint64_t>(pos) + n > static_cast<uint64_t>(size)) {
    s->Seek(size, SEEK_SET);
    return;
  }
  s->Seek(static_cast<int64_t>(n), SEEK_CUR);
}

uint32_t BitCount16(uint32_t mask) {
  uint32_t n = 0;
  for (uint32_t m = mask & 0xFFFF; m != 0; m >>= 1) n += m & 1;
  return n;
}

// Positive shifts go right, negative ones left; far shifts give 0.
uint32_t ShiftBy(uint32_t v, int shift) {
  if (shift >= 32 || shift <= -32) return 0;
  return shift >= 0 ? v >> shift : static_cast<uint32_t>(static_cast<uint64_t>(v) << -shift);
}

uint32_t ByteIndexOfMask(uint32_t mask) {
  uint32_t index = 0;
  for (int s : {8, 16, 24}) {
    if ((mask >> s) != 0) ++index;
  }
  return index;
}

int32_t DpiFromPixelsPerMetre(int32_t ppm) {
  return static_cast<int32_t>(std::floor(ppm * 0.0254 + 0.5));
}

void ReadMasks(CxStream* s, uint32_t masks[3]) {
  uint8_t b[12] = {};
  s->Read(b, 1, sizeof(b));
  for (int i = 0; i < 3; ++i) masks[i] = LoadU32LE(b + 4 * i);
}

}  // namespace

CxImageBMP::CxImageBMP() : CxImage(FORMAT_BMP) {}

bool CxImageBMP::ReadBitmapInfo(CxStream* s, BitmapInfoHeader* h) {
  if (s == nullptr || h == nullptr) return false;
  uint8_t b[40];
  if (s->Read(b, sizeof(b), 1) != 1) return false;
  BitmapInfoHeader r;
  r.biSize = LoadU32LE(b);
  r.biWidth = static_cast<int32_t>(LoadU32LE(b + 4));
  r.biHeight = static_cast<int32_t>(LoadU32LE(b + 8));
  r.biPlanes = LoadU16LE(b + 12);
  r.biBitCount = LoadU16LE(b + 14);
  r.biCompression = LoadU32LE(b + 16);
  r.biSizeImage = LoadU32LE(b + 20);
  r.biXPelsPerMeter = static_cast<int32_t>(LoadU32LE(b + 24));
  r.biYPelsPerMeter = static_cast<int32_t>(LoadU32LE(b + 28));
  r.biClrUsed = LoadU32LE(b + 32);
  r.biClrImportant = LoadU32LE(b + 36);

  if (r.biSize == 12) {
    BitmapInfoHeader core;
    core.biSize = 12;
    core.biWidth = LoadU16LE(b + 4);
    core.biHeight = LoadU16LE(b + 6);
    core.biPlanes = LoadU16LE(b + 8);
    core.biBitCount = LoadU16LE(b + 10);
    r = core;
    s->Seek(-28, SEEK_CUR);
  } else if (r.biSize == 40) {
  } else if (r.biSize == 64) {
    s->Seek(24, SEEK_CUR);
  } else if (r.biSize > 40) {
    // Later headers (V4, V5, ...) are accepted when they look sane: one plane, and for
    // uncompressed rows a stated image size that is either absent (0) or large enough.
    // Colours used and top-down rows are normal in these headers and are not refused.
    const uint64_t absHeight = r.biHeight < 0 ? -static_cast<int64_t>(r.biHeight) : r.biHeight;
    const uint64_t minimum =
        (static_cast<uint64_t>(r.biBitCount) * static_cast<uint32_t>(r.biWidth) + 31) / 32 * absHeight * 4;
    const bool compressed = r.biCompression == kRle8 || r.biCompression == kRle4;
    const bool sizeOk =
        compressed || r.biSizeImage == 0 || static_cast<uint64_t>(r.biSizeImage) >= minimum;
    if (!sizeOk || r.biPlanes != 1) return false;
    // Bit-field masks are the first fields after the 40 bytes: stay there to read them.
    if (r.biCompression != kBitfields) SkipForward(s, r.biSize - 40);
  } else {
    return false;
  }

  if (r.biSizeImage == 0) {
    const uint64_t absHeight = r.biHeight < 0 ? -static_cast<int64_t>(r.biHeight) : r.biHeight;
    const uint64_t stride = (static_cast<uint64_t>(r.biBitCount) * static_cast<uint32_t>(r.biWidth) + 31) / 32 * 4;
    r.biSizeImage = static_cast<uint32_t>(stride * absHeight);
  }
  if (r.biClrUsed == 0 && r.biBitCount <= 8) r.biClrUsed = 1u << r.biBitCount;
  *h = r;
  return true;
}

bool CxImageBMP::Decode(CxStream* s) { return s != nullptr && DecodeBody(s); }

bool CxImageBMP::DecodeBody(CxStream* s) {
  const int64_t start = s->Tell();
  uint8_t fh[14];
  if (s->Read(fh, sizeof(fh), 1) != 1) return Fail("Not a BMP");
  uint32_t offBits = LoadU32LE(fh + 10);
  if (LoadU16LE(fh) != kBmpSignature) {
    offBits = 0;
    s->Seek(start, SEEK_SET);
  }

  BitmapInfoHeader bih;
  if (!ReadBitmapInfo(s, &bih)) return Fail("Error reading BMP info");
  const uint32_t compression = bih.biCompression;
  const uint32_t bitCount = bih.biBitCount;
  const bool coreHeader = bih.biSize == 12;
  const bool topDown = bih.biHeight < 0;
  const uint32_t width = static_cast<uint32_t>(bih.biWidth);
  const uint32_t height = topDown ? static_cast<uint32_t>(-static_cast<int64_t>(bih.biHeight))
                                  : static_cast<uint32_t>(bih.biHeight);

  if (Escape() == -1) return ReturnDimensions(width, height, FORMAT_BMP);

  if (Create(width, height, bitCount, FORMAT_BMP) == nullptr) return false;
  SetResolutionX(DpiFromPixelsPerMetre(bih.biXPelsPerMeter));
  SetResolutionY(DpiFromPixelsPerMetre(bih.biYPelsPerMeter));
  if (Escape() != 0) return Fail("Cancelled");

  if (ColoursUsed() != 0) ReadPalette(s, bih.biClrUsed, coreHeader);
  if (Escape() != 0) return Fail("Cancelled");

  auto seekToData = [&] {
    if (offBits != 0) s->Seek(start + offBits, SEEK_SET);
  };

  switch (bitCount) {
    case 32: {
      uint32_t masks[3] = {0x00FF0000, 0x0000FF00, 0x000000FF};
      if (compression == kBitfields) ReadMasks(s, masks);
      seekToData();
      if (compression != kRgb && compression != kBitfields) return Fail("unknown compression");
      const auto size = CheckedSize({width, height, 4});
      if (!size) return Fail(kMaxMemoryMessage);
      const uint64_t bytes = *size;
      std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[bytes]());
      if (!buffer) return Fail("can't allocate memory");
      s->Read(buffer.get(), 1, bytes);
      if (compression == kRgb && AlphaCreate()) {
        bool allZero = true;
        for (uint32_t y = 0; y < height; ++y) {
          const uint8_t* row = buffer.get() + static_cast<size_t>(y) * width * 4;
          for (uint32_t x = 0; x < width; ++x) {
            const uint8_t a = row[4 * size_t{x} + 3];
            AlphaSetUnchecked(x, y, a);
            if (a != 0) allZero = false;
          }
        }
        if (allZero) AlphaInvert();
      }
      BitfieldsToRgb(buffer.get(), bytes, masks[0], masks[1], masks[2], 32);
      break;
    }
    case 24:
      seekToData();
      if (compression != kRgb) return Fail("unknown compression");
      s->Read(info.pixels, 1, ImageSize());
      break;
    case 16: {
      uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
      if (compression == kBitfields) ReadMasks(s, masks);
      seekToData();
      // The 16-bit rows are never longer than the 24-bit rows they become.
      const uint64_t bytes = static_cast<uint64_t>((width + uint64_t{1}) / 2) * 4 * height;
      s->Read(info.pixels, 1, bytes);
      BitfieldsToRgb(info.pixels, bytes, masks[0], masks[1], masks[2], 16);
      break;
    }
    case 1:
    case 4:
    case 8:
      seekToData();
      switch (compression) {
        case kRgb: s->Read(info.pixels, 1, ImageSize()); break;
        case kRle8: DecodeRle(s, 8); break;
        case kRle4: DecodeRle(s, 4); break;
        default: return Fail("compression type not supported");
      }
      break;
    default:
      break;
  }
  if (topDown) FlipRows(false, true);
  return true;
}

void CxImageBMP::ReadPalette(CxStream* s, uint32_t count, bool coreHeader) {
  RgbQuad* pal = PaletteEntries();
  const uint32_t kept = count < ColoursUsed() ? count : ColoursUsed();
  const uint32_t entrySize = coreHeader ? 3 : 4;
  std::vector<uint8_t> raw(static_cast<size_t>(kept) * entrySize, 0);
  s->Read(raw.data(), 1, raw.size());
  SkipForward(s, static_cast<uint64_t>(count - kept) * entrySize);
  for (uint32_t i = 0; i < kept; ++i) {
    const uint8_t* e = raw.data() + static_cast<size_t>(i) * entrySize;
    pal[i] = RgbQuad{e[0], e[1], e[2], 0};
  }
  for (uint32_t i = kept; i < ColoursUsed(); ++i) pal[i].reserved = 0;
  info.cacheValid = false;
}

void CxImageBMP::DecodeRle(CxStream* s, uint32_t bits) {
  const bool nibbles = bits == 4;
  const uint32_t stride = Stride();
  const int64_t height = Height();
  uint8_t* const end = info.pixels + ImageSize();
  int64_t row = 0;
  uint64_t column = 0;
  bool lowNibble = false;
  uint8_t* rowPtr = info.pixels;
  auto pointAtRow = [&] {
    if (row >= 0 && row < height) rowPtr = info.pixels + static_cast<size_t>(row) * stride;
  };
  // Pixel k of a run or of a literal from the byte that holds it.
  auto pixelOf = [&](uint8_t byte, uint32_t k) -> uint8_t {
    if (!nibbles) return byte;
    return (k & 1) ? (byte & 0x0F) : static_cast<uint8_t>(byte >> 4);
  };
  // An 8-bit row stops at its end; a 4-bit run may spill over the row end into later rows,
  // never past the pixel storage.
  auto write = [&](uint8_t pixel) {
    if (!nibbles) {
      if (column < stride) rowPtr[column] = pixel;
      ++column;
      return;
    }
    if (column < static_cast<uint64_t>(end - rowPtr)) {
      if (!lowNibble) {
        rowPtr[column] = static_cast<uint8_t>(pixel << 4);
      } else {
        rowPtr[column] |= pixel;
        ++column;
      }
    }
    lowNibble = !lowNibble;
  };
  uint8_t status;
  while (ReadU8(s, status)) {
    if (status > 0) {
      pointAtRow();
      uint8_t value;
      if (!ReadU8(s, value)) break;
      for (uint32_t k = 0; k < status; ++k) write(pixelOf(value, k));
      continue;
    }
    uint8_t command;
    if (!ReadU8(s, command)) break;
    if (command == 0) {
      ++row;
      column = 0;
      lowNibble = false;
    } else if (command == 1) {
      break;
    } else if (command == 2) {
      uint8_t dx = 0, dy = 0;
      ReadU8(s, dx);
      ReadU8(s, dy);
      column += nibbles ? dx / 2 : dx;
      row += dy;
    } else {
      uint8_t data[256] = {};
      const uint32_t bytes = nibbles ? (command + 1u) / 2 : command;
      const size_t got = s->Read(data, 1, bytes);
      if (bytes & 1) {
        uint8_t pad;
        ReadU8(s, pad);
      }
      pointAtRow();
      // Where the data ends early, 4-bit pixels are written as 0 and 8-bit ones skipped.
      const uint32_t written = nibbles ? command : static_cast<uint32_t>(got);
      for (uint32_t k = 0; k < written; ++k) write(pixelOf(data[nibbles ? k / 2 : k], k));
      column += command - written;
    }
  }
}

void CxImageBMP::BitfieldsToRgb(const uint8_t* source, uint64_t sourceSize, uint32_t redMask,
                                uint32_t greenMask, uint32_t blueMask, uint32_t bits) {
  const uint32_t w = Width();
  const uint32_t h = Height();
  const uint32_t stride = Stride();
  uint8_t* const pixels = info.pixels;
  if (bits == 16) {
    const uint64_t srcStride = (uint64_t{w} + 1) / 2 * 4;
    if (srcStride * h > sourceSize) return;
    const int r = static_cast<int>(BitCount16(redMask));
    const int g = static_cast<int>(BitCount16(greenMask));
    const int b = static_cast<int>(BitCount16(blueMask));
    for (uint32_t y = h; y-- > 0;) {
      for (uint32_t x = w; x-- > 0;) {
        const uint32_t v = LoadU16LE(source + y * srcStride + 2 * uint64_t{x});
        uint8_t* dst = pixels + static_cast<size_t>(y) * stride + 3 * size_t{x};
        dst[0] = static_cast<uint8_t>(ShiftBy(v & blueMask, -(8 - r)));
        dst[1] = static_cast<uint8_t>(ShiftBy(v & greenMask, r + g - 8));
        dst[2] = static_cast<uint8_t>(ShiftBy(v & redMask, r + g + b - 8));
      }
    }
  } else if (bits == 32) {
    const uint64_t srcStride = uint64_t{w} * 4;
    if (srcStride * h > sourceSize) return;
    const uint32_t ri = ByteIndexOfMask(redMask);
    const uint32_t gi = ByteIndexOfMask(greenMask);
    const uint32_t bi = ByteIndexOfMask(blueMask);
    for (uint32_t y = h; y-- > 0;) {
      for (uint32_t x = w; x-- > 0;) {
        const uint8_t* src = source + y * srcStride + 4 * uint64_t{x};
        uint8_t* dst = pixels + static_cast<size_t>(y) * stride + 3 * size_t{x};
        const uint8_t blue = src[bi], green = src[gi], red = src[ri];
        dst[0] = blue;
        dst[1] = green;
        dst[2] = red;
      }
    }
  }
}

// GIF writer: single images, animations with the loop extension, and images above 8 bits
// as a series of partial images with their own colour tables.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "image/codecs/gif/gif_codec.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr int kMaxCodeSize = 12;
constexpr int kTableLimit = 1 << kMaxCodeSize;
constexpr uint32_t kMaxSide = 65535;
constexpr uint32_t kTileRows = 16;
constexpr const char* kWriteError = "Write Error in GIF file";

enum class Compression { kLzw, kUncompressed };

// Counts short writes so that one check at the end reports any failure.
struct GifWriter {
  CxStream* stream;
  bool failed = false;

  void Bytes(const void* p, size_t n) {
    if (n != 0 && stream->Write(p, 1, n) != n) failed = true;
  }
  void Byte(uint8_t b) { Bytes(&b, 1); }
  void U16(uint32_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Bytes(b, 2);
  }
};

// Packs codes least significant bit first into data sub-blocks of up to 255 bytes.
class CodeWriter {
 public:
  explicit CodeWriter(GifWriter& out) : out_(out) {}
  void Put(uint32_t code, int size) {
    accumulator_ |= code << bits_;
    bits_ += size;
    while (bits_ >= 8) {
      Push(static_cast<uint8_t>(accumulator_));
      accumulator_ >>= 8;
      bits_ -= 8;
    }
  }
  void Finish() {
    if (bits_ > 0) Push(static_cast<uint8_t>(accumulator_));
    accumulator_ = 0;
    bits_ = 0;
    FlushBlock();
    out_.Byte(0);
  }

 private:
  void Push(uint8_t b) {
    block_[used_++] = b;
    if (used_ == 255) FlushBlock();
  }
  void FlushBlock() {
    if (used_ == 0) return;
    out_.Byte(static_cast<uint8_t>(used_));
    out_.Bytes(block_, used_);
    used_ = 0;
  }

  GifWriter& out_;
  uint32_t accumulator_ = 0;
  int bits_ = 0;
  uint8_t block_[255] = {};
  uint32_t used_ = 0;
};

// String table of the compressor: (prefix code, next pixel) -> code, open addressing.
class StringTable {
 public:
  static constexpr uint32_t kSlots = 8192;
  StringTable() : keys_(kSlots, 0), codes_(kSlots, 0) {}
  void Clear() { std::fill(keys_.begin(), keys_.end(), 0u); }
  // The code for (prefix, pixel), or -1; `slot` receives where to insert it.
  int Find(uint32_t prefix, uint8_t pixel, uint32_t& slot) const {
    const uint32_t key = ((prefix << 8) | pixel) + 1;
    uint32_t i = (key * 2654435761u) >> 19;
    while (keys_[i] != 0) {
      if (keys_[i] == key) return codes_[i];
      i = (i + 1) & (kSlots - 1);
    }
    slot = i;
    return -1;
  }
  void Insert(uint32_t slot, uint32_t prefix, uint8_t pixel, uint16_t code) {
    keys_[slot] = ((prefix << 8) | pixel) + 1;
    codes_[slot] = code;
  }

 private:
  std::vector<uint32_t> keys_;
  std::vector<uint16_t> codes_;
};

class LzwCompressor {
 public:
  LzwCompressor(GifWriter& out, int minSize)
      : codes_(out), minSize_(minSize), clear_(1u << minSize), end_(clear_ + 1) {
    Reset();
  }
  void Start() { Output(clear_); }
  void Put(uint8_t pixel, Compression mode) {
    pixel &= static_cast<uint8_t>(clear_ - 1);
    if (mode == Compression::kUncompressed) {
      PutPlain(pixel);
      return;
    }
    if (prefix_ < 0) {
      prefix_ = pixel;
      return;
    }
    uint32_t slot = 0;
    const int found = table_.Find(static_cast<uint32_t>(prefix_), pixel, slot);
    if (found >= 0) {
      prefix_ = found;
      return;
    }
    Output(static_cast<uint32_t>(prefix_));
    if (next_ < static_cast<uint32_t>(kTableLimit)) {
      table_.Insert(slot, static_cast<uint32_t>(prefix_), pixel, static_cast<uint16_t>(next_++));
    } else {
      Output(clear_);
      Reset();
    }
    prefix_ = pixel;
  }
  void Finish() {
    if (prefix_ >= 0) Output(static_cast<uint32_t>(prefix_));
    Output(end_);
    codes_.Finish();
  }

 private:
  void Reset() {
    table_.Clear();
    size_ = minSize_ + 1;
    next_ = clear_ + 2;
    prefix_ = -1;
    plainSinceClear_ = 0;
  }
  // Writes a code; the size grows exactly when the reader's table reaches the next power.
  void Output(uint32_t code) {
    codes_.Put(code, size_);
    if (next_ > (1u << size_) - 1 && size_ < kMaxCodeSize) ++size_;
  }
  // One code per pixel, with a clear before the reader's table would widen the codes.
  void PutPlain(uint8_t pixel) {
    const uint32_t perClear = (1u << (minSize_ + 1)) - (clear_ + 2) - 1;
    if (plainSinceClear_ >= std::max(perClear, 1u)) {
      codes_.Put(clear_, size_);
      plainSinceClear_ = 0;
    }
    codes_.Put(pixel, size_);
    ++plainSinceClear_;
  }

  CodeWriter codes_;
  StringTable table_;
  int minSize_;
  uint32_t clear_;
  uint32_t end_;
  int size_ = 0;
  uint32_t next_ = 0;
  int prefix_ = -1;
  uint32_t plainSinceClear_ = 0;
};

void WritePalette(GifWriter& out, const CxImage& image) {
  const RgbQuad* pal = image.PaletteEntries();
  const uint32_t n = image.ColoursUsed();
  std::vector<uint8_t> rgb(3 * static_cast<size_t>(n), 0);
  for (uint32_t i = 0; pal != nullptr && i < n; ++i) {
    rgb[3 * i] = pal[i].red;
    rgb[3 * i + 1] = pal[i].green;
    rgb[3 * i + 2] = pal[i].blue;
  }
  out.Bytes(rgb.data(), rgb.size());
}

// Screen descriptor: global table, colour resolution and table size.
uint8_t ScreenFlags(const CxImage& image) {
  const uint32_t bits = image.Bpp();
  return static_cast<uint8_t>(0x80 | (((bits - 1) & 7) << 5) | (bits - 1));
}

// Image descriptor: local table and its size, never interlaced.
uint8_t LocalTableFlags(const CxImage& image) {
  return static_cast<uint8_t>(0x80 | ((image.Bpp() - 1) & 7));
}

uint32_t OffsetOf(int32_t v) { return v > 0 ? static_cast<uint32_t>(v) : 0; }

bool FitsGif(uint64_t width, uint64_t height) { return width <= kMaxSide && height <= kMaxSide; }

uint32_t PackRgb(const uint8_t* bgr) {
  return static_cast<uint32_t>(bgr[0]) | (static_cast<uint32_t>(bgr[1]) << 8) |
         (static_cast<uint32_t>(bgr[2]) << 16);
}

// Builds an 8-bit image of the area (x0, row0 from the top, w, h) of a 24-bit image with
// its exact colours; false when the area holds more than 256 colours.
bool MakePalettedTile(const CxImage& source, uint32_t x0, uint32_t top, uint32_t w, uint32_t h,
                      CxImage& tile) {
  std::unordered_map<uint32_t, uint8_t> colours;
  if (tile.Create(w, h, 8, FORMAT_GIF) == nullptr) return false;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* src = source.RowPointer(source.Height() - 1 - (top + y));
    uint8_t* dst = tile.RowPointer(h - 1 - y);
    for (uint32_t x = 0; x < w; ++x) {
      const uint32_t key = PackRgb(src + 3 * (x0 + x));
      auto it = colours.find(key);
      if (it == colours.end()) {
        if (colours.size() == 256) return false;
        const uint8_t index = static_cast<uint8_t>(colours.size());
        it = colours.emplace(key, index).first;
        tile.SetPaletteEntry(index, static_cast<uint8_t>(key >> 16), static_cast<uint8_t>(key >> 8),
                             static_cast<uint8_t>(key));
      }
      dst[x] = it->second;
    }
  }
  return true;
}

// Widest run of columns from x0 in rows [top, top + h) that holds at most 256 colours.
uint32_t TileWidth(const CxImage& source, uint32_t x0, uint32_t top, uint32_t h) {
  std::unordered_set<uint32_t> seen;
  uint32_t x = x0;
  for (; x < source.Width(); ++x) {
    for (uint32_t y = 0; y < h; ++y) {
      const uint8_t* src = source.RowPointer(source.Height() - 1 - (top + y));
      seen.insert(PackRgb(src + 3 * x));
    }
    if (seen.size() > 256) break;
  }
  // A column of at most 16 pixels always fits, so a tile is never empty.
  return std::max<uint32_t>(x - x0, 1);
}

}  // namespace

void CxImageGIF::WriteScreenHeader(CxStream* stream, uint32_t width, uint32_t height,
                                   const CxImage* paletteSource) {
  GifWriter out{stream};
  out.Bytes("GIF89a", 6);
  out.U16(width);
  out.U16(height);
  out.Byte(paletteSource != nullptr ? ScreenFlags(*paletteSource) : 0x11);
  out.Byte(0);
  out.Byte(0);
  if (paletteSource != nullptr) WritePalette(out, *paletteSource);
  if (out.failed) writeFailed_ = true;
}

void CxImageGIF::WriteControlExtension(CxStream* stream, const CxImage& image) {
  GifWriter out{stream};
  const int32_t transparent = image.TransparentIndex();
  uint8_t flags = static_cast<uint8_t>((image.DisposalMethod() & 7) << 2);
  if (transparent >= 0) flags |= 1;
  const uint8_t b[8] = {0x21,  0xF9, 0x04, flags, static_cast<uint8_t>(image.FrameDelay()),
                        static_cast<uint8_t>(image.FrameDelay() >> 8),
                        static_cast<uint8_t>(transparent >= 0 ? transparent : 0), 0x00};
  out.Bytes(b, sizeof(b));
  if (out.failed) writeFailed_ = true;
}

void CxImageGIF::WriteCommentExtension(CxStream* stream) {
  const size_t n = std::strlen(comment_);
  if (n == 0) return;
  GifWriter out{stream};
  out.Byte(0x21);
  out.Byte(0xFE);
  out.Byte(static_cast<uint8_t>(std::min<size_t>(n, 255)));
  out.Bytes(comment_, std::min<size_t>(n, 255));
  out.Byte(0);
  if (out.failed) writeFailed_ = true;
}

void CxImageGIF::WriteLoopExtension(CxStream* stream) {
  GifWriter out{stream};
  out.Byte(0x21);
  out.Byte(0xFF);
  out.Byte(0x0B);
  out.Bytes("NETSCAPE2.0", 11);
  out.Byte(0x03);
  out.Byte(0x01);
  out.U16(static_cast<uint32_t>(std::clamp(loops_, 0, 65535)));
  out.Byte(0);
  if (out.failed) writeFailed_ = true;
}

bool CxImageGIF::WriteImageBlock(CxStream* stream, CxImage& image, uint32_t left, uint32_t top,
                                 bool localTable) {
  GifWriter out{stream};
  out.Byte(0x2C);
  out.U16(left);
  out.U16(top);
  out.U16(image.Width());
  out.U16(image.Height());
  out.Byte(localTable ? LocalTableFlags(image) : 0);
  if (localTable) WritePalette(out, image);
  const int minSize = std::max<int>(static_cast<int>(image.Bpp()), 2);
  out.Byte(static_cast<uint8_t>(minSize));
  const Compression mode =
      CodecOptions(FORMAT_GIF) == 1 ? Compression::kUncompressed : Compression::kLzw;
  std::unique_ptr<LzwCompressor> lzw(new (std::nothrow) LzwCompressor(out, minSize));
  if (!lzw) return Fail("CxImage::Create can't allocate memory");
  lzw->Start();
  for (uint32_t y = 0; y < image.Height(); ++y) {
    const uint32_t row = image.Height() - 1 - y;
    if (image.Bpp() == 8) {
      const uint8_t* p = image.RowPointer(row);
      for (uint32_t x = 0; x < image.Width(); ++x) lzw->Put(p[x], mode);
    } else {
      for (uint32_t x = 0; x < image.Width(); ++x) lzw->Put(image.IndexAtUnchecked(x, row), mode);
    }
  }
  lzw->Finish();
  if (!stream->Flush() || stream->Error() != 0) out.failed = true;
  if (out.failed) writeFailed_ = true;
  return true;
}

bool CxImageGIF::FinishWrite(CxStream* stream) {
  GifWriter out{stream};
  out.Byte(0x3B);
  if (!stream->Flush() || stream->Error() != 0) out.failed = true;
  if (out.failed || writeFailed_) return Fail(kWriteError);
  return true;
}

bool CxImageGIF::Encode(CxStream* stream) {
  if (!CheckEncodable(stream)) return false;
  writeFailed_ = false;
  if (FrameArraySize() > 1) {
    std::vector<CxImage*> list;
    for (int32_t i = 0; i < FrameArraySize(); ++i) {
      if (FrameAt(i) != nullptr) list.push_back(FrameAt(i));
    }
    return Encode(stream, list.data(), static_cast<int32_t>(list.size()));
  }
  if (Bpp() > 8) return EncodeTrueColour(stream);
  const uint64_t screenW = static_cast<uint64_t>(OffsetOf(OffsetX())) + Width();
  const uint64_t screenH = static_cast<uint64_t>(OffsetOf(OffsetY())) + Height();
  if (!FitsGif(screenW, screenH)) return Fail("CxImageGIF::Encode image too large for GIF");
  WriteScreenHeader(stream, static_cast<uint32_t>(screenW), static_cast<uint32_t>(screenH), this);
  WriteControlExtension(stream, *this);
  WriteCommentExtension(stream);
  if (!WriteImageBlock(stream, *this, OffsetOf(OffsetX()), OffsetOf(OffsetY()), false)) {
    return false;
  }
  return FinishWrite(stream);
}

bool CxImageGIF::Encode(CxStream* stream, CxImage** images, int32_t count) {
  if (stream == nullptr) return Fail("null file handler");
  if (images == nullptr || count <= 0) return Fail("multipage GIF, no images!");
  writeFailed_ = false;
  uint64_t screenW = 0;
  uint64_t screenH = 0;
  for (int32_t i = 0; i < count; ++i) {
    const CxImage* frame = images[i];
    if (frame == nullptr || !frame->HasPixels()) return Fail("null image!!!");
    if (frame->Bpp() > 8) {
      SetLastError(
          "CxImageGIF::Encode cannot create animated GIFs with a true color frame. Use "
          "DecreaseBpp before");
      return false;
    }
    screenW = std::max<uint64_t>(screenW, OffsetOf(frame->OffsetX()) + uint64_t{frame->Width()});
    screenH = std::max<uint64_t>(screenH, OffsetOf(frame->OffsetY()) + uint64_t{frame->Height()});
  }
  if (!FitsGif(screenW, screenH)) return Fail("CxImageGIF::Encode image too large for GIF");
  WriteScreenHeader(stream, static_cast<uint32_t>(screenW), static_cast<uint32_t>(screenH),
                    images[0]);
  WriteLoopExtension(stream);
  WriteCommentExtension(stream);
  for (int32_t i = 0; i < count; ++i) {
    CxImage& frame = *images[i];
    WriteControlExtension(stream, frame);
    if (!WriteImageBlock(stream, frame, OffsetOf(frame.OffsetX()), OffsetOf(frame.OffsetY()),
                         true)) {
      return false;
    }
  }
  return FinishWrite(stream);
}

bool CxImageGIF::EncodeTrueColour(CxStream* stream) {
  const uint32_t width = Width();
  const uint32_t height = Height();
  if (!FitsGif(width, height)) return Fail("CxImageGIF::Encode image too large for GIF");
  // Few colours: one paletted image says it all.
  CxImage whole;
  if (MakePalettedTile(*this, 0, 0, width, height, whole)) {
    whole.SetFrameDelay(FrameDelay());
    WriteScreenHeader(stream, width, height, &whole);
    WriteCommentExtension(stream);
    if (!WriteImageBlock(stream, whole, 0, 0, false)) return false;
    return FinishWrite(stream);
  }
  WriteScreenHeader(stream, width, height, nullptr);
  WriteCommentExtension(stream);
  // A first image smaller than the screen both ways marks the file as one picture made of
  // partial images (the decoder then composes them in true colour).
  if (width > 1 && height > 1) {
    CxImage first;
    if (!MakePalettedTile(*this, 0, 0, 1, 1, first)) return false;
    if (!WriteImageBlock(stream, first, 0, 0, true)) return false;
  }
  for (uint32_t top = 0; top < height; top += kTileRows) {
    const uint32_t rows = std::min(kTileRows, height - top);
    for (uint32_t x = 0; x < width;) {
      const uint32_t w = TileWidth(*this, x, top, rows);
      CxImage tile;
      if (!MakePalettedTile(*this, x, top, w, rows, tile)) {
        SetLastError(tile.HasPixels() ? "CxImageGIF::Encode colour table overflow"
                                      : tile.LastErrorText());
        return false;
      }
      if (!WriteImageBlock(stream, tile, x, top, true)) return false;
      x += w;
    }
  }
  return FinishWrite(stream);
}

#include "image/codecs/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "image/core/image.h"
#include "image/io/stream.h"

namespace {

constexpr uint32_t kCodeMask[13] = {0x0,  0x1,  0x3,   0x7,   0xF,   0x1F, 0x3F,
                                    0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
constexpr int kMaxCodeSize = 12;
constexpr int kTableSize = 1 << kMaxCodeSize;
// Longest string a walk may push; a damaged table can hold cycles.
constexpr int kStackLimit = 4094;

struct LzwTables {
  uint8_t suffix[kTableSize];
  uint16_t prefix[kTableSize];
  uint8_t stack[kTableSize];
};

// Hands out codes of the current size from the data sub-blocks, least significant bit first.
class CodeReader {
 public:
  CodeReader(GifByteReader& reader, int endCode) : reader_(reader), endCode_(endCode) {}
  // A code, the end code once the sub-blocks end, or a negative reader error.
  int Next(int size);

 private:
  // 1 with a byte in current_, 0 at the block terminator, negative on a read error.
  int LoadByte();

  GifByteReader& reader_;
  int endCode_;
  uint8_t block_[256] = {};
  int bytesLeft_ = 0;
  int index_ = 0;
  uint32_t current_ = 0;
  int bitsLeft_ = 0;
  int readError_ = 0;
};

int CodeReader::LoadByte() {
  if (bytesLeft_ <= 0) {
    if (readError_ < 0) return readError_;
    const int n = reader_.GetByte();
    if (n < 0) return n;
    int got = 0;
    while (got < n) {
      const int b = reader_.GetByte();
      if (b < 0) {
        // A block cut short by the end of the data still gives the bytes it has.
        readError_ = b;
        if (got == 0) return b;
        break;
      }
      block_[got++] = static_cast<uint8_t>(b);
    }
    bytesLeft_ = got;
    index_ = 0;
    if (n == 0) return 0;
  }
  current_ = block_[index_++];
  --bytesLeft_;
  return 1;
}

int CodeReader::Next(int size) {
  if (bitsLeft_ == 0) {
    const int r = LoadByte();
    if (r <= 0) return r < 0 ? r : endCode_;
    bitsLeft_ = 8;
  }
  uint32_t code = current_ >> (8 - bitsLeft_);
  while (size > bitsLeft_) {
    const int r = LoadByte();
    if (r <= 0) return r < 0 ? r : endCode_;
    code |= current_ << bitsLeft_;
    bitsLeft_ += 8;
  }
  bitsLeft_ -= size;
  return static_cast<int>(code & kCodeMask[size]);
}

// Collects pixels into lines of `width` and passes full lines to the writer; once the
// writer has no room, pixels are dropped but the data is still read to its end.
class LineAssembler {
 public:
  LineAssembler(GifLineWriter& writer, uint8_t* line, uint32_t width)
      : writer_(writer), line_(line), width_(width),
        open_(writer.image != nullptr && width > 0) {}

  void Emit(const uint8_t* reversed, int count) {
    if (!open_) return;
    for (int i = count - 1; i >= 0; --i) {
      line_[used_++] = reversed[i];
      if (used_ == width_) {
        used_ = 0;
        if (writer_.Write(line_, width_) < 0) {
          open_ = false;
          status_ = -1;
          return;
        }
      }
    }
  }
  // Writes a partly filled last line; returns the writer's last result.
  int Finish() {
    if (open_ && used_ > 0) {
      status_ = writer_.Write(line_, used_);
      used_ = 0;
    }
    return status_;
  }

 private:
  GifLineWriter& writer_;
  uint8_t* line_;
  uint32_t width_;
  uint32_t used_ = 0;
  bool open_;
  int status_ = 0;
};

}  // namespace

int GifByteReader::GetByte() {
  if (position >= kGifReadBlock) {
    const size_t got = stream ? stream->Read(buffer, 1, kGifReadBlock) : 0;
    count = static_cast<int32_t>(got);
    if (count < kGifReadBlock) buffer[count] = 0xFF;
    position = 0;
  }
  if (position >= count) return -1;
  return buffer[position++];
}

void GifLineWriter::Reset(CxImage* target, bool interlace, uint32_t rows) {
  image = target;
  interlaced = interlace;
  height = rows;
  nextRow = 0;
  step = 8;
  pass = 0;
  full = rows == 0;
}

void GifLineWriter::AdvanceInterlace() {
  // Passes 2 to 4 start at rows 4, 2 and 1 with steps 8, 4 and 2.
  static constexpr uint32_t kStart[4] = {0, 4, 2, 1};
  static constexpr uint32_t kStep[4] = {8, 8, 4, 2};
  nextRow += step;
  while (nextRow >= height) {
    if (++pass >= 4) {
      full = true;
      return;
    }
    nextRow = kStart[pass];
    step = kStep[pass];
  }
}

int GifLineWriter::Write(uint8_t* line, uint32_t pixels) {
  if (image == nullptr) return 0;
  if (full || nextRow >= height) return -1;
  uint32_t bytes = pixels;
  if (image->Bpp() == 4) {
    bytes = (pixels + 1) / 2;
    for (uint32_t j = 0; j < bytes; ++j) {
      const uint8_t hi = line[2 * j] & 0x0F;
      const uint8_t lo = (2 * j + 1 < pixels) ? (line[2 * j + 1] & 0x0F) : 0;
      line[j] = static_cast<uint8_t>((hi << 4) | lo);
    }
  } else if (image->Bpp() == 1) {
    bytes = (pixels + 7) / 8;
    for (uint32_t j = 0; j < bytes; ++j) {
      uint8_t packed = 0;
      for (uint32_t k = 0; k < 8 && 8 * j + k < pixels; ++k) {
        packed |= static_cast<uint8_t>((line[8 * j + k] & 1) << (7 - k));
      }
      line[j] = packed;
    }
  }
  if (nextRow < image->Height()) {
    const uint32_t rowBytes = (image->Width() * image->Bpp() + 7) / 8;
    std::memcpy(image->RowPointer(image->Height() - 1 - nextRow), line, std::min(bytes, rowBytes));
  }
  if (interlaced) {
    AdvanceInterlace();
  } else if (++nextRow >= height) {
    full = true;
  }
  return 0;
}

namespace {

// Code width bookkeeping shared by decoding and skimming: the width depends only on how many
// codes have come since the last clear.
struct CodeWidth {
  explicit CodeWidth(int minimumSize) : rootSize(minimumSize), firstFree((1 << minimumSize) + 2) {
    Reset();
  }
  void Reset() {
    codeSize = rootSize + 1;
    topSlot = 1 << codeSize;
    nextSlot = firstFree;
  }
  // After a code that adds (or would add) a table entry.
  void Widen() {
    if (nextSlot >= topSlot && codeSize < kMaxCodeSize) {
      topSlot <<= 1;
      ++codeSize;
    }
  }
  int rootSize;
  int firstFree;
  int codeSize = 0;
  int topSlot = 0;
  int nextSlot = 0;
};

// The codes of one image with the clear codes taken out. A code either starts afresh, with
// no previous code to extend (the first of the data, which need not open with a clear code,
// or the first after a clear, which restarts the table), or follows the code before it.
class CodeSequence {
 public:
  enum class Kind { kEnd, kFirst, kFollowing };

  CodeSequence(GifByteReader& reader, int minimumSize)
      : width(minimumSize), clearCode_(1 << minimumSize), endCode_(clearCode_ + 1),
        codes_(reader, endCode_) {}

  // The next code into c; kEnd at the end code, where the data ends or on a read error.
  Kind Next(int& c) {
    c = codes_.Next(width.codeSize);
    if (c < 0 || c == endCode_) return Kind::kEnd;
    if (c != clearCode_ && havePrevious_) return Kind::kFollowing;
    if (c == clearCode_) {
      width.Reset();
      do {
        c = codes_.Next(width.codeSize);
      } while (c == clearCode_);
      if (c < 0 || c == endCode_) return Kind::kEnd;
    }
    havePrevious_ = true;
    return Kind::kFirst;
  }

  CodeWidth width;

 private:
  const int clearCode_;
  const int endCode_;
  CodeReader codes_;
  bool havePrevious_ = false;
};

// Reads the codes of an image without building pixels: the code width only depends on how
// many codes came since the last clear, so no table is needed to find the data's end.
GifLzwOutcome SkimCodes(GifByteReader& reader, int size) {
  GifLzwOutcome out;
  CodeSequence codes(reader, size);
  CodeWidth& width = codes.width;
  int c = 0;
  CodeSequence::Kind kind;
  while ((kind = codes.Next(c)) != CodeSequence::Kind::kEnd) {
    if (kind == CodeSequence::Kind::kFirst) continue;
    if (c > width.nextSlot) ++out.badCodes;
    if (width.nextSlot < width.topSlot) ++width.nextSlot;
    width.Widen();
  }
  return out;
}

}  // namespace

GifLzwOutcome GifDecodeLzw(GifByteReader& reader, uint32_t lineWidth, GifLineWriter& writer) {
  GifLzwOutcome out;
  const int size = reader.GetByte();
  if (size < 0) {
    out.status = size;
    return out;
  }
  if (size < 2 || size > kGifMaxMinimumCodeSize) {
    out.status = kGifLzwBadCodeSize;
    return out;
  }
  if (writer.image == nullptr) return SkimCodes(reader, size);
  std::unique_ptr<uint8_t[]> line(new (std::nothrow) uint8_t[static_cast<size_t>(lineWidth) + 1]);
  std::unique_ptr<LzwTables> tables(new (std::nothrow) LzwTables());
  if (!line || !tables) {
    out.status = kGifLzwOutOfMemory;
    return out;
  }
  uint8_t* const suffix = tables->suffix;
  uint16_t* const prefix = tables->prefix;
  uint8_t* const stack = tables->stack;

  CodeSequence codes(reader, size);
  CodeWidth& width = codes.width;
  const int firstFree = width.firstFree;
  int oldCode = 0;
  uint8_t firstChar = 0;

  LineAssembler lines(writer, line.get(), lineWidth);
  int c = 0;
  CodeSequence::Kind kind;
  while ((kind = codes.Next(c)) != CodeSequence::Kind::kEnd) {
    if (kind == CodeSequence::Kind::kFirst) {
      if (c >= width.nextSlot) c = 0;
      oldCode = c;
      firstChar = static_cast<uint8_t>(c);
      lines.Emit(&firstChar, 1);
      continue;
    }
    int sp = 0;
    int code = c;
    if (c >= width.nextSlot) {
      if (c > width.nextSlot) ++out.badCodes;
      stack[sp++] = firstChar;
      code = oldCode;
    }
    while (code >= firstFree && sp < kStackLimit) {
      stack[sp++] = suffix[code];
      code = prefix[code];
    }
    stack[sp++] = static_cast<uint8_t>(code);
    firstChar = static_cast<uint8_t>(code);
    if (width.nextSlot < width.topSlot) {
      suffix[width.nextSlot] = firstChar;
      prefix[width.nextSlot] = static_cast<uint16_t>(oldCode);
      ++width.nextSlot;
    }
    oldCode = c;
    width.Widen();
    lines.Emit(stack, sp);
  }
  out.status = lines.Finish();
  return out;
}

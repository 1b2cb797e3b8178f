#include "image/codecs/gif/gif_codec.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "image/codecs/gif/gif_lzw.h"
#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr int kExtensionIntroducer = 0x21;
constexpr int kImageIntroducer = 0x2C;
constexpr int kTrailer = 0x3B;
constexpr uint8_t kLabelControl = 0xF9;
constexpr uint8_t kLabelComment = 0xFE;
constexpr uint8_t kLabelApplication = 0xFF;

bool ReadDescriptor(CxStream* s, GifDescriptor& d) {
  uint8_t b[9];
  if (s->Read(b, 1, sizeof(b)) != sizeof(b)) return false;
  d.left = LoadU16LE(b);
  d.top = LoadU16LE(b + 2);
  d.width = LoadU16LE(b + 4);
  d.height = LoadU16LE(b + 6);
  d.flags = b[8];
  return true;
}

uint32_t TableEntries(uint8_t flags) { return 2u << (flags & 7); }

// The introducer of the next block, an extension or an image; -1 at the trailer or the end
// of the data. A stray byte other than 0 is passed over together with all that follows it
// up to and including the next 0 byte.
long NextBlock(CxStream* s) {
  bool armed = true;
  for (;;) {
    const long b = s->GetC();
    if (b < 0 || (armed && b == kTrailer)) return -1;
    if (armed && (b == kExtensionIntroducer || b == kImageIntroducer)) return b;
    armed = b == 0;
  }
}

// Moves forward n bytes, stopping at the end of the data.
bool SkipBytes(CxStream* s, int64_t n) {
  const int64_t pos = s->Tell();
  const int64_t size = s->Size();
  if (size >= 0 && pos >= 0 && pos + n > size) {
    s->Seek(size, SEEK_SET);
    return false;
  }
  return s->Seek(n, SEEK_CUR);
}

// The position of the next ',' that follows a zero byte (or is the first byte) from
// `from` on, with the stream standing on it; -1 when the data ends first.
int64_t FindNextImage(CxStream* s, int64_t from) {
  if (!s->Seek(from, SEEK_SET)) return -1;
  bool afterZero = true;
  for (;;) {
    const long b = s->GetC();
    if (b < 0) return -1;
    if (b == kImageIntroducer && afterZero) {
      s->Seek(-1, SEEK_CUR);
      return s->Tell();
    }
    afterZero = b == 0;
  }
}

// After an image's data: damaged codes send us looking for the next image; otherwise the
// stream goes back to just behind the last byte the decoder used.
void RepositionAfterData(CxStream* s, const GifByteReader& reader, int64_t dataStart,
                         const GifLzwOutcome& outcome) {
  if (outcome.badCodes > 0) {
    FindNextImage(s, dataStart);
    return;
  }
  const int64_t back = reader.Unconsumed();
  if (back > 0) s->Seek(-back, SEEK_CUR);
}

// Fills `palette` from an RGB table; with transparency on, entries up to 255 are white so
// that any index can be the transparent one. Returns the number of colours in use.
uint32_t BuildPalette(const uint8_t* table, uint32_t count, int32_t transparent,
                      RgbQuad palette[256]) {
  if (table == nullptr) return 0;
  for (uint32_t i = 0; i < count; ++i) {
    palette[i] = RgbQuad{table[3 * i + 2], table[3 * i + 1], table[3 * i], 0};
  }
  if (transparent < 0) return count;
  for (uint32_t i = count; i < 256; ++i) palette[i] = RgbQuad{255, 255, 255, 0};
  return 256;
}

// One index per byte from a stored row of 1, 4 or 8 bits per pixel.
void UnpackRow(const uint8_t* row, uint32_t bpp, uint32_t width, uint8_t* out) {
  if (bpp == 8) {
    std::memcpy(out, row, width);
  } else if (bpp == 4) {
    for (uint32_t x = 0; x < width; ++x) out[x] = (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F;
  } else {
    for (uint32_t x = 0; x < width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1;
  }
}

void PutPacked(uint8_t* row, uint32_t bpp, uint32_t x, uint8_t index) {
  if (bpp == 8) {
    row[x] = index;
  } else if (bpp == 4) {
    const int shift = (x & 1) ? 0 : 4;
    row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & ~(0x0F << shift)) | ((index & 0x0F) << shift));
  } else {
    const int shift = 7 - static_cast<int>(x & 7);
    row[x >> 3] = static_cast<uint8_t>((row[x >> 3] & ~(1 << shift)) | ((index & 1) << shift));
  }
}

uint32_t BitsForColours(uint32_t colours) {
  if (colours <= 2) return 1;
  if (colours <= 16) return 4;
  return 8;
}

}  // namespace

// One call of Decode: the state that lives from the header to the last image.
struct GifDecodeRun {
  enum class Next { kGoOn, kStop, kFail };

  GifDecodeRun(CxImageGIF& image, CxStream* s) : target(image), stream(s) {
    reader.stream = s;
  }

  bool Run();
  bool ReportDimensions();
  Next HandleImage();
  bool PrepareBackground(CxImageGIF& background, uint32_t bpp, int32_t transparent);
  uint32_t BackgroundBpp(uint32_t bpp) const;
  bool ComposeOver(CxImageGIF& background, const GifDescriptor& d, int32_t transparent,
                   bool hasArea, const RgbQuad palette[256]);
  void MixInto(CxImageGIF& background, const GifDescriptor& d, int32_t transparent) const;
  bool ComposeTrueColour(const GifDescriptor& d, bool hasArea, const RgbQuad palette[256]);
  bool StoreFrame();
  bool KeepPrevious();
  bool Finish();
  bool Fail(const CxImage& from) { return target.Fail(from.LastErrorText()); }

  CxImageGIF& target;
  CxStream* stream;
  GifByteReader reader;
  uint8_t globalTable[768] = {};
  uint32_t globalCount = 0;
  bool hasGlobal = false;
  int trueColourCounter = 0;
  int32_t frameCount = 0;
  int32_t imageNumber = 0;
  int32_t firstTransparent = -1;
  uint8_t previousDisposal = 0;
  uint64_t storedFrameBytes = 0;
  std::unique_ptr<CxImageGIF> previous;
  std::unique_ptr<CxImageGIF> trueColour;
};

CxImageGIF::CxImageGIF() : CxImage(FORMAT_GIF) {}

CxImageGIF::~CxImageGIF() = default;

void CxImageGIF::SetComment(const char* text) {
  if (text == nullptr) text = "";
  const size_t n = std::min(std::strlen(text), sizeof(comment_) - 1);
  std::memcpy(comment_, text, n);
  comment_[n] = '\0';
}

void CxImageGIF::VisibleSize(const GifDescriptor& d, uint32_t& width, uint32_t& height) const {
  width = d.left < screenWidth_ ? std::min<uint32_t>(d.width, screenWidth_ - d.left) : 0;
  height = d.top < screenHeight_ ? std::min<uint32_t>(d.height, screenHeight_ - d.top) : 0;
}

bool CxImageGIF::Decode(CxStream* stream) {
  if (stream == nullptr) return false;
  std::unique_ptr<GifDecodeRun> run(new (std::nothrow) GifDecodeRun(*this, stream));
  if (!run) return Fail("CxImage::Create can't allocate memory");
  return run->Run();
}

bool CxImageGIF::ReadExtension(CxStream* s) {
  uint8_t label = 0;
  if (!ReadU8(s, label)) return false;
  bool ok = true;
  // The size byte read first is that of the first sub-block; zero means there is no more.
  bool ended = false;
  if (label == kLabelControl) {
    uint8_t size = 0;
    if (!ReadU8(s, size)) return false;
    uint8_t b[4];
    ok = s->Read(b, 1, sizeof(b)) == size;
    if (ok) {
      control_.flags = b[0];
      control_.delay = LoadU16LE(b + 1);
      control_.indexByte = b[3];
      control_.transparentIndex = (b[0] & 1) ? b[3] : -1;
      control_.disposal = static_cast<uint8_t>((b[0] >> 2) & 7);
    }
  } else if (label == kLabelComment) {
    uint8_t size = 0;
    if (!ReadU8(s, size)) return false;
    const size_t n = s->Read(comment_, 1, size);
    comment_[n] = '\0';
    ok = n == size;
    ended = size == 0;
  } else if (label == kLabelApplication) {
    uint8_t size = 0;
    ok = ReadU8(s, size) && size == 11;
    uint8_t id[11];
    if (ok) ok = s->Read(id, 1, sizeof(id)) == sizeof(id);
    uint8_t n = 0;
    if (ok) ok = ReadU8(s, n);
    uint8_t data[255];
    if (ok) ok = s->Read(data, 1, n) == n;
    if (ok && n > 2) loops_ = data[1] + 256 * data[2];
    ended = ok && n == 0;
  }
  while (ok && !ended) {
    uint8_t n = 0;
    if (!ReadU8(s, n)) return false;
    if (n == 0) break;
    if (!SkipBytes(s, n)) return false;
  }
  return ok;
}

int32_t CxImageGIF::CountFrames(CxStream* stream, GifByteReader& reader) {
  const int64_t start = stream->Tell();
  int32_t count = 0;
  for (long b; (b = NextBlock(stream)) >= 0;) {
    if (b == kExtensionIntroducer) {
      // Decoding stops at a broken extension, so nothing behind it is a frame.
      if (!ReadExtension(stream)) break;
      if (control_.disposal == 3) restorePreviousSeen_ = true;
      continue;
    }
    GifDescriptor d;
    if (!ReadDescriptor(stream, d)) break;
    if (screenWidth_ == 0 && screenHeight_ == 0) {
      screenWidth_ = d.width;
      screenHeight_ = d.height;
    }
    ++count;
    if (d.flags & 0x80) SkipBytes(stream, 3 * static_cast<int64_t>(TableEntries(d.flags)));
    const int64_t dataStart = stream->Tell();
    reader.Restart();
    GifLineWriter nowhere;
    nowhere.Reset(nullptr, false, 0);
    const GifLzwOutcome outcome = GifDecodeLzw(reader, d.width, nowhere);
    RepositionAfterData(stream, reader, dataStart, outcome);
  }
  stream->Seek(start, SEEK_SET);
  return count;
}

bool GifDecodeRun::ReportDimensions() {
  return target.ReturnDimensions(target.screenWidth_, target.screenHeight_, FORMAT_GIF);
}

bool GifDecodeRun::Run() {
  uint8_t header[13];
  if (stream->Read(header, 1, sizeof(header)) != sizeof(header)) return false;
  if (std::memcmp(header, "GIF8", 4) != 0) return false;
  target.screenWidth_ = LoadU16LE(header + 6);
  target.screenHeight_ = LoadU16LE(header + 8);
  const uint8_t flags = header[10];
  const bool zeroScreen = target.screenWidth_ == 0 && target.screenHeight_ == 0;
  if (target.Escape() == -1 && !zeroScreen) return ReportDimensions();

  hasGlobal = (flags & 0x80) != 0;
  if (hasGlobal) {
    globalCount = TableEntries(flags);
    stream->Read(globalTable, 1, 3 * static_cast<size_t>(globalCount));
  }
  trueColourCounter = hasGlobal ? 0 : 1;

  // A zero screen takes its size from the first image, which frame counting finds.
  frameCount = target.CountFrames(stream, reader);
  if (target.Escape() == -1) return ReportDimensions();
  target.SetFrameCount(frameCount);
  if (target.FrameToLoad() < 0 || target.FrameToLoad() >= frameCount) return false;
  if (frameCount == 1) trueColourCounter = 0;

  for (;;) {
    if (target.Escape() > 0) return false;
    const long b = NextBlock(stream);
    if (b < 0) break;
    if (b == kExtensionIntroducer) {
      if (!target.ReadExtension(stream)) break;
      continue;
    }
    const Next next = HandleImage();
    if (next == Next::kFail) return false;
    if (next == Next::kStop) break;
  }
  return Finish();
}

GifDecodeRun::Next GifDecodeRun::HandleImage() {
  GifDescriptor d;
  if (!ReadDescriptor(stream, d)) return Next::kStop;
  if (imageNumber == 0 && d.width != target.screenWidth_ && d.height != target.screenHeight_) {
    ++trueColourCounter;
  }

  uint8_t localTable[768];
  const uint8_t* table = nullptr;
  uint32_t tableCount = 0;
  if (d.flags & 0x80) {
    tableCount = TableEntries(d.flags);
    // A short table keeps zeros for what is missing; the data behind it is missing too.
    const size_t got = stream->Read(localTable, 1, 3 * tableCount);
    std::memset(localTable + got, 0, sizeof(localTable) - got);
    table = localTable;
  } else if (hasGlobal) {
    table = globalTable;
    tableCount = globalCount;
  }
  const int32_t transparent = target.control_.transparentIndex;
  RgbQuad palette[256] = {};
  const uint32_t bpp = BitsForColours(BuildPalette(table, tableCount, transparent, palette));
  const bool trueColourMode = trueColourCounter >= 2;

  uint32_t visibleWidth = 0;
  uint32_t visibleHeight = 0;
  target.VisibleSize(d, visibleWidth, visibleHeight);
  const bool hasArea = visibleWidth > 0 && visibleHeight > 0;
  // An opaque image over the whole screen replaces it: it becomes the frame as it is.
  const bool replacesScreen = hasArea && !trueColourMode && transparent < 0 && d.left == 0 && d.top == 0 &&
                              visibleWidth == target.screenWidth_ &&
                              visibleHeight == target.screenHeight_ && BackgroundBpp(bpp) == bpp &&
                              !(imageNumber == 0 && target.restorePreviousSeen_);
  CxImageGIF background;
  if (replacesScreen) {
    if (imageNumber == 0) firstTransparent = transparent;
  } else if (!trueColourMode && !PrepareBackground(background, bpp, transparent)) {
    return Next::kFail;
  }

  if (hasArea) {
    if (target.Create(visibleWidth, visibleHeight, bpp, FORMAT_GIF) == nullptr) return Next::kFail;
    target.ReplacePalette(palette, 256);
  }
  const int64_t dataStart = stream->Tell();
  reader.Restart();
  GifLineWriter writer;
  writer.Reset(hasArea ? &target : nullptr, (d.flags & 0x40) != 0, d.height);
  const GifLzwOutcome outcome = GifDecodeLzw(reader, d.width, writer);
  if (target.Escape() != 0) return Next::kFail;

  if (trueColourMode) {
    if (!ComposeTrueColour(d, hasArea, palette)) return Next::kFail;
  } else {
    if (replacesScreen) {
      target.SetTransparentIndex(firstTransparent);
    } else if (!ComposeOver(background, d, transparent, hasArea, palette)) {
      return Next::kFail;
    }
    target.SetFrameDelay(target.control_.delay);
    target.SetDisposalMethod(target.control_.disposal);
  }
  previousDisposal = target.control_.disposal;
  RepositionAfterData(stream, reader, dataStart, outcome);

  if (!trueColourMode) {
    if (target.RetrieveAllFrames() && !StoreFrame()) return Next::kFail;
    if (previousDisposal <= 1 && target.restorePreviousSeen_ && !KeepPrevious()) {
      return Next::kFail;
    }
  }
  if (imageNumber == target.FrameToLoad()) return Next::kStop;
  ++imageNumber;
  return Next::kGoOn;
}

uint32_t GifDecodeRun::BackgroundBpp(uint32_t bpp) const {
  if (imageNumber == 0) return bpp;
  if (previousDisposal == 3 && previous && previous->HasPixels()) return previous->Bpp();
  return target.Bpp();
}

bool GifDecodeRun::ComposeOver(CxImageGIF& background, const GifDescriptor& d,
                               int32_t transparent, bool hasArea, const RgbQuad palette[256]) {
  if (hasArea) MixInto(background, d, transparent);
  background.SetTransparentIndex(firstTransparent);
  background.ReplacePalette(palette, 256);
  return target.TakeOver(background, false);
}

bool GifDecodeRun::PrepareBackground(CxImageGIF& background, uint32_t bpp, int32_t transparent) {
  background.CopyInfoForDecode(target);
  if (imageNumber == 0) {
    if (background.Create(target.screenWidth_, target.screenHeight_, bpp, FORMAT_GIF) == nullptr) {
      return Fail(background);
    }
    firstTransparent = transparent;
    background.FillBytes(target.control_.indexByte);
    if (!target.restorePreviousSeen_) return true;
    previous.reset(new (std::nothrow) CxImageGIF());
    if (!previous) return false;
    return previous->CopyImage(background, true, false, true) || Fail(*previous);
  }
  if (previousDisposal == 2) {
    if (background.Create(target.Width(), target.Height(), target.Bpp(), FORMAT_GIF) == nullptr) {
      return Fail(background);
    }
    background.FillBytes(static_cast<uint8_t>(firstTransparent));
    return true;
  }
  if (previousDisposal == 3 && previous && previous->HasPixels()) {
    if (background.Create(previous->Width(), previous->Height(), previous->Bpp(), FORMAT_GIF) ==
        nullptr) {
      return Fail(background);
    }
    std::memcpy(background.PixelArea(), previous->PixelArea(), previous->ImageSize());
    if (previous->HasAlpha() && !background.AlphaCopy(*previous)) return false;
    return true;
  }
  return background.CopyImage(target, true, true, true) || Fail(background);
}

void GifDecodeRun::MixInto(CxImageGIF& background, const GifDescriptor& d,
                           int32_t transparent) const {
  const uint32_t bgWidth = background.Width();
  const uint32_t bgHeight = background.Height();
  const uint32_t rows = target.Height();
  if (d.left >= bgWidth) return;
  const uint32_t right = std::min<uint32_t>(d.left + target.Width(), bgWidth);
  std::vector<uint8_t> indices(target.Width());
  for (uint32_t y = 0; y < rows; ++y) {
    const uint32_t by = static_cast<uint32_t>(d.top) + y;
    if (by >= bgHeight) break;
    uint8_t* dst = background.RowPointer(bgHeight - 1 - by);
    if (transparent < 0 && background.Bpp() == 8 && target.Bpp() == 8) {
      std::memcpy(dst + d.left, target.RowPointer(rows - 1 - y), right - d.left);
      continue;
    }
    UnpackRow(target.RowPointer(rows - 1 - y), target.Bpp(), target.Width(), indices.data());
    for (uint32_t x = d.left; x < right; ++x) {
      const uint8_t index = indices[x - d.left];
      if (index != transparent) PutPacked(dst, background.Bpp(), x, index);
    }
  }
}

bool GifDecodeRun::ComposeTrueColour(const GifDescriptor& d, bool hasArea,
                                     const RgbQuad palette[256]) {
  if (!trueColour) {
    trueColour.reset(new (std::nothrow) CxImageGIF());
    if (!trueColour) return false;
    trueColour->CopyInfoForDecode(target);
    if (trueColour->Create(target.screenWidth_, target.screenHeight_, 24, FORMAT_GIF) == nullptr) {
      return Fail(*trueColour);
    }
    // Every image is part of the one picture, so all of them are read.
    target.SetFrameToLoad(frameCount - 1);
    trueColour->SetFrameToLoad(frameCount - 1);
  }
  if (!hasArea) return true;
  const uint32_t tcHeight = trueColour->Height();
  const uint32_t rows = target.Height();
  const uint32_t right = std::min<uint32_t>(d.left + target.Width(), trueColour->Width());
  std::vector<uint8_t> indices(target.Width());
  for (uint32_t y = 0; y < rows; ++y) {
    const uint32_t ty = static_cast<uint32_t>(d.top) + y;
    if (ty >= tcHeight) break;
    uint8_t* dst = trueColour->RowPointer(tcHeight - 1 - ty);
    UnpackRow(target.RowPointer(rows - 1 - y), target.Bpp(), target.Width(), indices.data());
    for (uint32_t x = d.left; x < right; ++x) {
      const RgbQuad& c = palette[indices[x - d.left]];
      dst[3 * x] = c.blue;
      dst[3 * x + 1] = c.green;
      dst[3 * x + 2] = c.red;
    }
  }
  return true;
}

bool GifDecodeRun::StoreFrame() {
  if (imageNumber == 0 && !target.FrameArrayCreate(frameCount)) {
    return target.Fail("CxImage::Create can't allocate memory");
  }
  // The frames kept together may not take more than one image may.
  storedFrameBytes += target.ImageSize();
  if (!CheckedSize({storedFrameBytes})) return target.Fail(kMaxMemoryMessage);
  std::unique_ptr<CxImage> copy(new (std::nothrow) CxImage(target, true, true, true));
  if (!copy || !copy->HasPixels()) return target.Fail("CxImage::Create can't allocate memory");
  target.FrameStore(imageNumber, copy.release());
  return true;
}

bool GifDecodeRun::KeepPrevious() {
  if (!previous) previous.reset(new (std::nothrow) CxImageGIF());
  if (!previous) return false;
  return previous->CopyImage(target, true, false, true) || Fail(*previous);
}

bool GifDecodeRun::Finish() {
  if (trueColour) {
    if (target.control_.flags & 1) {
      trueColour->SetTransparentColour(
          target.PaletteEntry(static_cast<uint8_t>(target.control_.transparentIndex)));
      trueColour->info.transparentIndex = 0;
    }
    if (!target.TakeOver(*trueColour, false)) return false;
    // The partial images make one picture.
    target.SetFrameCount(1);
  }
  if (!target.HasPixels()) return target.Fail("CxImageGIF::Decode no image data");
  return true;
}

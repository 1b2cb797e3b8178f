#include "image/core/image.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "image/io/format.h"
#include "platform/memory_limit.h"

namespace {

uint32_t RoundBpp(uint32_t bpp) {
  if (bpp <= 1) return 1;
  if (bpp <= 4) return 4;
  if (bpp <= 8) return 8;
  return 24;
}

int32_t PixelsPerMetre(int32_t dpi) {
  double ppm = std::floor(dpi * 39.37007874015748 + 0.5);
  if (ppm > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  return static_cast<int32_t>(ppm);
}

}  // namespace

CxImage::CxImage(uint32_t formatType) { InitEmpty(formatType); }

CxImage::CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatType) {
  InitEmpty(formatType);
  Create(width, height, bpp, formatType);
}

CxImage::CxImage(const CxImage& source, bool copyPixels, bool copySelection, bool copyAlpha) {
  InitEmpty(source.info.formatType);
  CopyImage(source, copyPixels, copySelection, copyAlpha);
}

CxImage::~CxImage() {
  FreeFrames();
  FreeStorage();
}

void CxImage::InitEmpty(uint32_t formatType) {
  head = BitmapInfoHeader{};
  info = ImageInfo{};
  info.formatType = formatType;
  SetResolutionX(96);
  SetResolutionY(96);
}

void* CxImage::Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatType) {
  if (!FreeStorage()) return nullptr;
  if (width == 0 || height == 0) {
    SetLastError("CxImage::Create : width and height must be greater than zero");
    return nullptr;
  }
  bpp = RoundBpp(bpp);
  // The rows hold at least width * height * bpp / 8 bytes, so their size bounds the area too;
  // within the limit every later product stays in range.
  const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
  const bool tooBig = !CheckedSize({stride, height}) ||
                      width > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) ||
                      height > static_cast<uint32_t>(std::numeric_limits<int32_t>::max());
  if (tooBig) {
    Fail(kMaxMemoryMessage);
    return nullptr;
  }
  switch (bpp) {
    case 1: head.biClrUsed = 2; break;
    case 4: head.biClrUsed = 16; break;
    case 8: head.biClrUsed = 256; break;
    default: head.biClrUsed = 0; break;
  }
  info.stride = static_cast<uint32_t>(stride);
  head.biBitCount = static_cast<uint16_t>(bpp);
  head.biSize = sizeof(BitmapInfoHeader);
  head.biWidth = static_cast<int32_t>(width);
  head.biHeight = static_cast<int32_t>(height);
  head.biPlanes = 1;
  head.biCompression = 0;
  head.biSizeImage = static_cast<uint32_t>(stride * height);
  info.formatType = formatType;

  // Zeroed so that data a truncated file never supplies reads the same every time.
  const size_t blockSize = sizeof(BitmapInfoHeader) + PaletteByteSize() + head.biSizeImage;
  dib = static_cast<uint8_t*>(std::calloc(1, blockSize));
  if (dib == nullptr) {
    SetLastError("CxImage::Create can't allocate memory");
    return nullptr;
  }
  // Every row is about to be written.
  PrepareForWriting(dib, blockSize);
  std::free(selectionPlane);
  selectionPlane = nullptr;
  std::free(alphaPlane);
  alphaPlane = nullptr;
  info.cacheValid = false;
  SyncHeader();
  info.pixels = dib + sizeof(BitmapInfoHeader) + PaletteByteSize();
  return dib;
}

bool CxImage::FreeStorage() {
  if (IsView()) return false;
  if (layers != nullptr) {
    for (int32_t i = 0; i < info.layerCount; ++i) delete layers[i];
    delete[] layers;
    layers = nullptr;
  }
  info.layerCount = 0;
  std::free(selectionPlane);
  selectionPlane = nullptr;
  std::free(alphaPlane);
  alphaPlane = nullptr;
  std::free(dib);
  dib = nullptr;
  info.pixels = nullptr;
  return true;
}

bool CxImage::FreeFrames() {
  if (IsView()) return false;
  if (frames != nullptr) {
    for (int32_t i = 0; i < frameSlots; ++i) delete frames[i];
    delete[] frames;
    frames = nullptr;
  }
  frameSlots = 0;
  info.frameCount = 0;
  return true;
}

bool CxImage::TakeOver(CxImage& source, bool withFrames) {
  if (&source == this) return true;
  if (!FreeStorage()) return false;
  ShareStorage(source);
  source.dib = nullptr;
  source.selectionPlane = nullptr;
  source.alphaPlane = nullptr;
  source.layers = nullptr;
  if (withFrames) {
    const int32_t frameCount = info.frameCount;
    FreeFrames();
    info.frameCount = frameCount;
    frames = source.frames;
    frameSlots = source.frameSlots;
    source.frames = nullptr;
    source.frameSlots = 0;
  }
  source.head = BitmapInfoHeader{};
  std::memset(static_cast<void*>(&source.info), 0, sizeof(source.info));
  return true;
}

void CxImage::ShareStorage(const CxImage& source) {
  head = source.head;
  info = source.info;
  dib = source.dib;
  selectionPlane = source.selectionPlane;
  alphaPlane = source.alphaPlane;
  layers = source.layers;
}

void CxImage::CopyInfoForDecode(const CxImage& source) {
  if (dib != nullptr) return;
  info = source.info;
  // Storage belongs to the source; this image starts without any.
  info.pixels = nullptr;
  info.viewOwner = nullptr;
  info.parent = nullptr;
  info.layerCount = 0;
  info.cacheValid = false;
}

void CxImage::CopyAttributes(const CxImage& source) { CopyInfoForDecode(source); }

void CxImage::BorrowView(const CxImage& source) {
  if (&source == this) return;
  FreeFrames();
  FreeStorage();
  ShareStorage(source);
  frames = source.frames;
  frameSlots = source.frameSlots;
  info.viewOwner = const_cast<CxImage*>(&source);
}

bool CxImage::CopyImage(const CxImage& source, bool pixels, bool selection, bool alpha) {
  if (&source == this) return true;
  if (source.IsView()) {
    BorrowView(source);
    return true;
  }
  if (!FreeStorage()) return false;
  CopyInfoForDecode(source);
  head = source.head;
  if (source.dib == nullptr) return true;
  if (Create(source.Width(), source.Height(), source.Bpp(), source.FormatType()) == nullptr)
    return false;
  head.biClrImportant = source.head.biClrImportant;
  if (pixels) {
    std::memcpy(dib, source.dib,
                sizeof(BitmapInfoHeader) + source.PaletteByteSize() + source.head.biSizeImage);
    head = source.head;
  } else {
    ReplacePalette(source.PaletteEntries(), 256);
  }
  SyncHeader();
  if (selection && source.selectionPlane != nullptr) SelectionCopy(source);
  if (alpha && source.alphaPlane != nullptr) AlphaCopy(source);
  return true;
}

bool CxImage::SetType(uint32_t formatType) {
  if (FormatIndex(formatType) != 0) {
    info.formatType = formatType;
    return true;
  }
  info.formatType = 0;
  return false;
}

uint8_t* CxImage::RowPointer(uint32_t row) const {
  if (dib == nullptr || row >= Height()) return nullptr;
  return info.pixels + static_cast<size_t>(row) * info.stride;
}

bool CxImage::IsInside(int64_t x, int64_t y) const {
  return x >= 0 && y >= 0 && x < static_cast<int64_t>(Width()) && y < static_cast<int64_t>(Height());
}

bool CxImage::Fail(const char* reason) {
  if (reason != nullptr) SetLastError(reason);
  return false;
}

bool CxImage::ReturnDimensions(uint32_t width, uint32_t height, uint32_t formatType) {
  head.biWidth = static_cast<int32_t>(width);
  head.biHeight = static_cast<int32_t>(height);
  info.formatType = formatType;
  SetLastError("output dimensions returned");
  return true;
}

void CxImage::SetLastError(const char* text) {
  if (text == nullptr) text = "";
  if (text == info.lastError) return;
  size_t n = std::strlen(text);
  if (n > sizeof(info.lastError) - 1) n = sizeof(info.lastError) - 1;
  std::memmove(info.lastError, text, n);
  info.lastError[n] = '\0';
}

void CxImage::SetResolutionX(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.resolutionX = dpi;
  head.biXPelsPerMeter = PixelsPerMetre(dpi);
  SyncHeader();
}

void CxImage::SetResolutionY(int32_t dpi) {
  if (dpi <= 0) dpi = 96;
  info.resolutionY = dpi;
  head.biYPelsPerMeter = PixelsPerMetre(dpi);
  SyncHeader();
}

void CxImage::SetCodecOptions(uint32_t word, uint32_t formatType) {
  uint32_t index = FormatIndex(formatType);
  if (index == 0) index = FormatIndex(info.formatType);
  info.codecOptions[index] = word;
}

uint32_t CxImage::CodecOptions(uint32_t formatType) const {
  uint32_t index = FormatIndex(formatType);
  if (index == 0) index = FormatIndex(info.formatType);
  return info.codecOptions[index];
}

void CxImage::SetTransparentIndex(int32_t index) {
  info.transparentIndex = (static_cast<int64_t>(index) < static_cast<int64_t>(head.biClrUsed)) ? index : 0;
}

void CxImage::SetTransparentColour(RgbQuad colour) {
  colour.reserved = 0;
  info.transparentColour = colour;
}

void CxImage::SyncHeader() {
  if (dib != nullptr) std::memcpy(dib, &head, sizeof(head));
}

bool CxImage::CheckEncodable(CxStream* stream) {
  if (stream == nullptr) return Fail("null file handler");
  if (dib == nullptr) return Fail("null image!!!");
  return true;
}

bool CxImage::FrameArrayCreate(int32_t count) {
  if (!FreeFrames()) return false;
  if (count <= 0) return true;
  frames = new (std::nothrow) CxImage*[static_cast<size_t>(count)]();
  if (frames == nullptr) return false;
  frameSlots = count;
  info.frameCount = count;
  return true;
}

CxImage* CxImage::FrameAt(int32_t i) const {
  if (frames == nullptr || i < 0 || i >= frameSlots) return nullptr;
  return frames[i];
}

bool CxImage::FrameStore(int32_t i, CxImage* frame) {
  if (frames == nullptr || i < 0 || i >= frameSlots || IsView()) {
    delete frame;
    return false;
  }
  if (frames[i] != frame) delete frames[i];
  frames[i] = frame;
  return true;
}

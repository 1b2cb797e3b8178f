#pragma once
// The in-memory raster image: one device-independent bitmap block (header, palette, rows
// bottom-up), optional alpha and selection planes, a frame array and an attribute record.
// Every codec derives from CxImage and fills it through the members below.
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "image/core/checked_size.h"

class CxStream;

struct RgbQuad {
  uint8_t blue = 0;
  uint8_t green = 0;
  uint8_t red = 0;
  uint8_t reserved = 0;
};
static_assert(sizeof(RgbQuad) == 4);

inline bool operator==(const RgbQuad& a, const RgbQuad& b) {
  return a.blue == b.blue && a.green == b.green && a.red == b.red && a.reserved == b.reserved;
}

// The 40-byte little-endian bitmap info header, as kept in memory and in BMP files.
struct BitmapInfoHeader {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};
static_assert(sizeof(BitmapInfoHeader) == 40);

constexpr int kCodecOptionSlots = 20;

struct SelectionBox {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

class CxImage;

// How the bytes of a row become grey values: B, G, R (or R, G, B) weighed as ConvertToGrey
// weighs them; indices through a table; or bytes that are grey values themselves.
struct RowGreys {
  enum Kind { kBgr, kRgb, kIndexed, kGrey } kind = kGrey;
  uint8_t greys[256] = {};  // of each index, for kIndexed
};

// Splits a row of `width` pixels at level (grey > level is white) into `bits`: one bit a
// pixel, most significant first, a short last byte padded with 0.
void SplitRow(const uint8_t* row, uint32_t width, const RowGreys& map, uint8_t level, uint8_t* bits);

// Attributes that travel with the image (copied whole by TakeOver, CopyAttributes, ...).
struct ImageInfo {
  uint32_t stride = 0;
  uint8_t* pixels = nullptr;
  CxImage* viewOwner = nullptr;
  CxImage* parent = nullptr;
  uint32_t formatType = 0;
  char lastError[256] = {};
  int32_t progress = 0;
  int32_t escape = 0;
  int32_t transparentIndex = -1;
  RgbQuad transparentColour;
  float quality = 90.0f;
  uint8_t jpegScale = 0;
  uint8_t ditherMode = 0;
  int32_t frameToLoad = 0;
  int32_t frameCount = 0;
  uint32_t frameDelay = 0;
  int32_t resolutionX = 0;
  int32_t resolutionY = 0;
  SelectionBox selectionBox;
  uint8_t alphaMax = 255;
  bool alphaPalette = false;
  bool enabled = true;
  int32_t offsetX = 0;
  int32_t offsetY = 0;
  uint32_t codecOptions[kCodecOptionSlots] = {};
  RgbQuad cachedColour;
  uint8_t cachedIndex = 0;
  bool cacheValid = false;
  int32_t layerCount = 0;
  uint32_t flags = 0;
  uint8_t disposalMethod = 0;
  bool retrieveAllFrames = false;
  bool littleEndianHost = true;
};

class CxImage {
 public:
  explicit CxImage(uint32_t formatType = 0);
  CxImage(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatType = 0);
  // Copy of source (CopyImage); a view stays a view.
  CxImage(const CxImage& source, bool copyPixels, bool copySelection, bool copyAlpha);
  CxImage(const CxImage&) = delete;
  CxImage& operator=(const CxImage&) = delete;
  virtual ~CxImage();

  // --- Storage and ownership -------------------------------------------------------------
  // Allocates a zero-filled block; returns its address or nullptr (reason in LastErrorText).
  void* Create(uint32_t width, uint32_t height, uint32_t bpp, uint32_t formatType = 0);
  bool FreeStorage();  // false for a borrowed view
  bool FreeFrames();   // false for a borrowed view
  // Moves source's storage, header and attributes into this image; source is left empty.
  bool TakeOver(CxImage& source, bool withFrames = true);
  void CopyAttributes(const CxImage& source);  // only while this image has no block
  void BorrowView(const CxImage& source);      // shares everything, frees nothing
  bool CopyImage(const CxImage& source, bool pixels = true, bool selection = true,
                 bool alpha = true);
  bool IsView() const { return info.viewOwner != nullptr; }

  // --- Queries and attributes ------------------------------------------------------------
  bool HasPixels() const { return dib != nullptr; }
  bool IsValid() const { return dib != nullptr; }
  uint32_t Width() const { return static_cast<uint32_t>(head.biWidth); }
  uint32_t Height() const { return static_cast<uint32_t>(head.biHeight); }
  uint32_t Bpp() const { return head.biBitCount; }
  uint32_t Stride() const { return info.stride; }
  uint32_t ImageSize() const { return head.biSizeImage; }
  uint32_t ColoursUsed() const { return head.biClrUsed; }
  uint32_t ColoursImportant() const { return head.biClrImportant; }
  void SetColoursImportant(uint32_t n) { head.biClrImportant = n; SyncHeader(); }
  uint32_t FormatType() const { return info.formatType; }
  bool SetType(uint32_t formatType);
  const BitmapInfoHeader& Header() const { return head; }
  const ImageInfo& Info() const { return info; }
  uint8_t* RowPointer(uint32_t row) const;
  uint8_t* PixelArea() const { return dib ? info.pixels : nullptr; }
  bool IsInside(int64_t x, int64_t y) const;

  const char* LastErrorText() const { return info.lastError; }
  void SetLastError(const char* text);  // keeps at most 255 characters
  // How every fallible step of the image layer ends when it fails: keeps `reason` as the
  // last-error text (nullptr keeps the text already there) and returns false.
  bool Fail(const char* reason);

  int32_t ResolutionX() const { return info.resolutionX; }
  int32_t ResolutionY() const { return info.resolutionY; }
  void SetResolutionX(int32_t dpi);
  void SetResolutionY(int32_t dpi);

  void SetCodecOptions(uint32_t word, uint32_t formatType = 0);
  uint32_t CodecOptions(uint32_t formatType = 0) const;

  int32_t FrameCount() const { return info.frameCount; }
  void SetFrameCount(int32_t n) { info.frameCount = n; }
  int32_t FrameToLoad() const { return info.frameToLoad; }
  void SetFrameToLoad(int32_t n) { info.frameToLoad = n; }
  bool RetrieveAllFrames() const { return info.retrieveAllFrames; }
  void SetRetrieveAllFrames(bool on) { info.retrieveAllFrames = on; }
  uint8_t DisposalMethod() const { return info.disposalMethod; }
  void SetDisposalMethod(uint8_t m) { info.disposalMethod = m; }
  uint32_t FrameDelay() const { return info.frameDelay; }
  void SetFrameDelay(uint32_t d) { info.frameDelay = d; }
  int32_t OffsetX() const { return info.offsetX; }
  int32_t OffsetY() const { return info.offsetY; }
  void SetOffset(int32_t x, int32_t y) { info.offsetX = x; info.offsetY = y; }
  int32_t TransparentIndex() const { return info.transparentIndex; }
  void SetTransparentIndex(int32_t index);  // negative: none
  RgbQuad TransparentColour() const { return info.transparentColour; }
  void SetTransparentColour(RgbQuad colour);
  uint8_t JpegQuality() const { return static_cast<uint8_t>(info.quality + 0.5f); }
  void SetJpegQuality(float q) { info.quality = q; }
  uint8_t JpegScale() const { return info.jpegScale; }
  void SetJpegScale(uint8_t s) { info.jpegScale = s; }

  // Escape: -1 asks a decoder for the dimensions only; any other non-zero value cancels.
  int32_t Escape() const { return info.escape; }
  void SetEscape(int32_t value) { info.escape = value; }
  int32_t Progress() const { return info.progress; }
  void SetProgress(int32_t value) { info.progress = value; }

  // --- Palette ----------------------------------------------------------------------------
  uint32_t PaletteByteSize() const { return head.biClrUsed * 4; }
  RgbQuad* PaletteEntries() const;  // nullptr without a palette
  void SetPaletteEntry(uint8_t index, uint8_t red, uint8_t green, uint8_t blue,
                       uint8_t alpha = 0);
  void SetPaletteEntry(uint8_t index, RgbQuad colour);
  RgbQuad PaletteEntry(uint8_t index) const;
  void ReplacePalette(const RgbQuad* entries, uint32_t count);
  void ReplacePalette(const uint8_t* red, const uint8_t* green, const uint8_t* blue,
                      uint32_t count);
  void ReplacePaletteRgb(const uint8_t* rgbTriples, uint32_t count);
  void SetGreyPalette();
  bool IsGreyRamp() const;
  void SetStandardPalette();
  uint8_t NearestIndex(RgbQuad colour);
  bool AlphaPaletteEnabled() const { return info.alphaPalette; }
  void AlphaPaletteEnable(bool on) { info.alphaPalette = on; }
  bool AlphaPaletteUsed() const;

  // --- Pixels (x from the left, y from the bottom) ----------------------------------------
  uint8_t IndexAt(int64_t x, int64_t y) const;
  void PutIndex(int64_t x, int64_t y, uint8_t index);
  uint8_t IndexAtUnchecked(uint32_t x, uint32_t y) const;
  void PutIndexUnchecked(uint32_t x, uint32_t y, uint8_t index);
  RgbQuad ColourAt(int64_t x, int64_t y, bool withAlpha = false) const;
  void PutColour(int64_t x, int64_t y, RgbQuad colour, bool setAlpha = false);
  void FillBytes(uint8_t value);

  // --- Alpha plane (width * height bytes, y from the bottom) ------------------------------
  bool AlphaCreate();
  void AlphaDelete();
  bool HasAlpha() const { return alphaPlane != nullptr; }
  uint8_t* AlphaPlane() const { return alphaPlane; }
  void AlphaSet(int64_t x, int64_t y, uint8_t value);
  uint8_t AlphaGet(int64_t x, int64_t y) const;
  void AlphaSetUnchecked(uint32_t x, uint32_t y, uint8_t value) {
    alphaPlane[static_cast<size_t>(y) * Width() + x] = value;
  }
  uint8_t AlphaGetUnchecked(uint32_t x, uint32_t y) const {
    return alphaPlane[static_cast<size_t>(y) * Width() + x];
  }
  bool AlphaCopy(const CxImage& source);
  bool AlphaFromGrey(const CxImage& source);
  void AlphaInvert();
  bool AlphaFlip();
  bool AlphaMirror();
  uint8_t AlphaMax() const { return info.alphaMax; }

  // --- Selection plane ---------------------------------------------------------------------
  bool SelectionCreate();
  void SelectionDelete();
  bool HasSelection() const { return selectionPlane != nullptr; }
  bool SelectionCopy(const CxImage& source);
  void SelectionSet(int64_t x, int64_t y, uint8_t value);
  uint8_t SelectionGet(int64_t x, int64_t y) const;
  bool SelectionFlip();
  bool SelectionIsInside(int64_t x, int64_t y) const;

  // --- Geometry ----------------------------------------------------------------------------
  bool FlipRows(bool selection = true, bool alpha = true);
  bool MirrorColumns(bool selection = true, bool alpha = true);
  bool TurnLeft(CxImage* destination = nullptr);
  bool TurnRight(CxImage* destination = nullptr);
  // Turns and mirrors the picture upright by a TIFF or Exif orientation value (1 to 8: where
  // the stored first row and first column lie in the view); other values change nothing.
  // A quarter turn exchanges the horizontal and vertical resolution.
  bool TurnToOrientation(uint32_t orientation);

  // --- Colour reduction --------------------------------------------------------------------
  // Puts the picture over a white background: every pixel's colour becomes
  // (colour x alpha + 255 x (255 - alpha)) / 255, rounded, by the alpha plane, the palette's
  // alpha values or the palette's transparent index, and the transparency is dropped. A
  // palette image without an alpha plane keeps its palette (its entries are composited); an
  // alpha plane makes the image 24-bit. A picture without transparency is left as it is.
  bool CompositeOverWhite();
  bool ConvertToGrey();
  bool ApplyThreshold(uint8_t level);
  // How this image's rows become the grey values CompositeOverWhite and ConvertToGrey would
  // give them, for SplitRow. False for rows that need the whole reduction: transparency, or
  // a depth other than 24 bits or 256 colours.
  bool GreysOfRows(RowGreys& map) const;
  bool DecreaseBpp(uint32_t bpp, bool errorDiffusion = false, const RgbQuad* palette = nullptr,
                   uint32_t coloursImportant = 0);

  // --- Frames --------------------------------------------------------------------------------
  // The frame array holds images owned by this one (decoders that keep every frame).
  // FrameArrayCreate replaces any array by `count` empty slots and sets the frame count.
  bool FrameArrayCreate(int32_t count);
  int32_t FrameArraySize() const { return frameSlots; }
  CxImage* FrameAt(int32_t i) const;
  // Takes ownership of frame (deletes what the slot held); false when i is out of range,
  // in which case frame is deleted too.
  bool FrameStore(int32_t i, CxImage* frame);

  // --- Files and streams -------------------------------------------------------------------
  bool Load(const char* path, uint32_t formatType = 0);
  bool Save(const char* path, uint32_t formatType);
  bool Decode(FILE* file, uint32_t formatType);
  bool Decode(CxStream* stream, uint32_t formatType);
  bool Encode(FILE* file, uint32_t formatType);
  bool Encode(CxStream* stream, uint32_t formatType);

  // Gives a fresh (storage-less) image the source's attributes: codec options, frame
  // wanted, escape value, resolution... Storage pointers are not copied.
  void CopyInfoForDecode(const CxImage& source);

 protected:
  // Encoder precondition: a stream and pixel storage; sets the message and returns false.
  bool CheckEncodable(CxStream* stream);
  // How a decoder ends a dimensions-only read (Escape() == -1): keeps the size and the format,
  // with the message "output dimensions returned", and returns true.
  bool ReturnDimensions(uint32_t width, uint32_t height, uint32_t formatType);
  // Copies the member header into the block's header.
  void SyncHeader();

  BitmapInfoHeader head;
  ImageInfo info;
  uint8_t* dib = nullptr;  // header + palette + rows, one allocation
  uint8_t* selectionPlane = nullptr;
  uint8_t* alphaPlane = nullptr;
  CxImage** layers = nullptr;
  CxImage** frames = nullptr;
  int32_t frameSlots = 0;  // allocated entries of frames

 private:
  // GreysOfRows whatever the transparency.
  bool GreyMap(RowGreys& map) const;
  void InitEmpty(uint32_t formatType);
  // Points the header, the attributes and the storage (rows, planes, layers) at the
  // source's, without freeing what this image held or taking anything from the source.
  void ShareStorage(const CxImage& source);
  bool MakeTurned(bool left, CxImage* destination);
};

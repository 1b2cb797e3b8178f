#pragma once
// GIF codec: our own LZW decompressor, interlaced images, transparency, animation frames
// with disposal, and the true-colour composition of several partial images. The writer
// handles single images (partial images above 8 bits) and animations.
#include <cstdint>
#include <memory>

#include "image/core/image.h"

class CxStream;
struct GifByteReader;

// The values of the last graphic control extension read; they apply to the images after it.
struct GifControl {
  uint8_t flags = 0;
  uint16_t delay = 0;
  uint8_t indexByte = 0;  // the raw transparent-index byte, whatever the flag says
  int32_t transparentIndex = -1;
  uint8_t disposal = 0;
};

// One image descriptor, fields in file order.
struct GifDescriptor {
  uint16_t left = 0;
  uint16_t top = 0;
  uint16_t width = 0;
  uint16_t height = 0;
  uint8_t flags = 0;
};

class CxImageGIF : public CxImage {
 public:
  CxImageGIF();
  ~CxImageGIF() override;
  bool Decode(CxStream* stream);
  bool Encode(CxStream* stream);
  // Writes an animation of `count` images (8 bits or less each), with the loop extension.
  bool Encode(CxStream* stream, CxImage** images, int32_t count);

  const char* Comment() const { return comment_; }
  void SetComment(const char* text);
  int32_t Loops() const { return loops_; }
  void SetLoops(int32_t loops) { loops_ = loops; }

 private:
  friend struct GifDecodeRun;

  // Decoding.
  bool ReadExtension(CxStream* stream);
  int32_t CountFrames(CxStream* stream, GifByteReader& reader);
  // The part of an image inside the screen (images that overhang it are clipped).
  void VisibleSize(const GifDescriptor& d, uint32_t& width, uint32_t& height) const;

  // Encoding.
  bool EncodeTrueColour(CxStream* stream);
  void WriteScreenHeader(CxStream* stream, uint32_t width, uint32_t height,
                         const CxImage* paletteSource);
  void WriteControlExtension(CxStream* stream, const CxImage& image);
  void WriteCommentExtension(CxStream* stream);
  void WriteLoopExtension(CxStream* stream);
  bool WriteImageBlock(CxStream* stream, CxImage& image, uint32_t left, uint32_t top,
                       bool localTable);
  // Writes the trailer; false with "Write Error in GIF file" when any write failed.
  bool FinishWrite(CxStream* stream);

  uint32_t screenWidth_ = 0;
  // Some control extension asks to restore the previous frame, so that frame must be kept.
  bool restorePreviousSeen_ = false;
  uint32_t screenHeight_ = 0;
  GifControl control_;
  char comment_[256] = {};
  int32_t loops_ = 0;
  bool writeFailed_ = false;
};

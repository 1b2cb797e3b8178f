#pragma once
// Pieces of the GIF decoder that work below the image level: the read-ahead byte reader,
// the LZW decompressor with its code reader, and the line writer that places decoded lines
// into an image (interlaced or not).
#include <cstdint>

class CxImage;
class CxStream;

constexpr int32_t kGifReadBlock = 16383;
constexpr int32_t kGifLzwBadCodeSize = -20;
// Twelve-bit codes leave room for a clear code of 2^11.
constexpr int kGifMaxMinimumCodeSize = 11;
constexpr int32_t kGifLzwOutOfMemory = -10;

// Reads the stream in blocks; -1 once the data is used up.
struct GifByteReader {
  CxStream* stream = nullptr;
  uint8_t buffer[kGifReadBlock + 1] = {};
  int32_t count = 0;                 // bytes held from the last block read
  int32_t position = kGifReadBlock + 1;

  // Forces a fresh read at the next byte (the stream has moved under us).
  void Restart() {
    count = 0;
    position = kGifReadBlock + 1;
  }
  int GetByte();
  // Bytes read from the stream but not handed out; the stream is that far ahead of us.
  int64_t Unconsumed() const { return position < count ? count - position : 0; }
};

// Places lines into an image from the top down, or in the four interlace passes. The image
// may be smaller than the lines and rows that arrive (the part inside the screen): what lies
// beyond it is dropped. Without an image, every line is dropped (frame counting).
struct GifLineWriter {
  CxImage* image = nullptr;
  bool interlaced = false;
  uint32_t height = 0;   // rows of the image as the file describes it
  uint32_t nextRow = 0;  // counted from the top
  uint32_t step = 8;
  uint32_t pass = 0;
  bool full = false;     // every row has been written

  void Reset(CxImage* target, bool interlace, uint32_t rows);
  // Writes `pixels` indices (one per byte; packed in place for 1 and 4 bpp).
  // Returns 0, or -1 when the image has no row left for the line.
  int Write(uint8_t* line, uint32_t pixels);

 private:
  void AdvanceInterlace();
};

struct GifLzwOutcome {
  int32_t status = 0;     // 0, the line writer's -1, or a negative reader or setup error
  uint32_t badCodes = 0;  // codes beyond the next free table slot
};

// Decompresses one image's data (minimum code size byte, sub-blocks) through the reader,
// sending lines of `lineWidth` pixels to the writer (which may have no image).
GifLzwOutcome GifDecodeLzw(GifByteReader& reader, uint32_t lineWidth, GifLineWriter& writer);

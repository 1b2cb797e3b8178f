#include "image/codecs/webp/webp_codec.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "image/core/checked_size.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

// "RIFF", the chunk size, "WEBP".
constexpr size_t kHeaderSize = 12;

// The rest of the stream, when it is a WebP file within the memory limit; false with the
// reason otherwise.
bool ReadFile(CxStream* stream, std::vector<uint8_t>& file, const char** why) {
  const int64_t start = stream->Tell();
  const int64_t size = stream->Size();
  if (start < 0 || size < start || static_cast<uint64_t>(size - start) < kHeaderSize) {
    *why = "not a WebP file";
    return false;
  }
  uint8_t header[kHeaderSize];
  if (stream->Read(header, 1, kHeaderSize) != kHeaderSize || std::memcmp(header, "RIFF", 4) != 0 ||
      std::memcmp(header + 8, "WEBP", 4) != 0) {
    *why = "not a WebP file";
    return false;
  }
  // The RIFF size counts from after its own field; bytes beyond it are not the picture's.
  const uint64_t stated = uint64_t{LoadU32LE(header + 4)} + 8;
  const uint64_t available = static_cast<uint64_t>(size - start);
  const uint64_t length = stated < available ? stated : available;
  if (!CheckedSize({length})) {
    *why = kMaxMemoryMessage;
    return false;
  }
  try {
    file.resize(static_cast<size_t>(length));
  } catch (const std::bad_alloc&) {
    *why = "CxImage::Create can't allocate memory";
    return false;
  }
  std::memcpy(file.data(), header, kHeaderSize);
  const size_t rest = file.size() - kHeaderSize;
  if (stream->Read(file.data() + kHeaderSize, 1, rest) != rest) {
    *why = "WebP file cut short";
    return false;
  }
  return true;
}

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

}  // namespace

CxImageWEBP::CxImageWEBP() : CxImage(FORMAT_WEBP) {}

bool CxImageWEBP::Decode(CxStream* stream) {
  if (stream == nullptr) return Fail("null file handler");
  std::vector<uint8_t> file;
  const char* why = nullptr;
  if (!ReadFile(stream, file, &why)) return Fail(why);
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK || features.width <= 0 ||
      features.height <= 0) {
    return Fail("corrupt WebP file");
  }
  const uint32_t width = static_cast<uint32_t>(features.width);
  const uint32_t height = static_cast<uint32_t>(features.height);
  if (Escape() == -1) return ReturnDimensions(width, height, FORMAT_WEBP);
  if (Escape() != 0) return Fail("Cancelled");
  // The canvas as the library holds it, four bytes a pixel.
  if (!CheckedSize({width, height, 4})) return Fail(kMaxMemoryMessage);
  if (features.has_animation) return DecodeAnimation(file);
  return DecodeStill(file, features.has_alpha != 0);
}

bool CxImageWEBP::DecodeStill(const std::vector<uint8_t>& file, bool alpha) {
  int width = 0, height = 0;
  if (!WebPGetInfo(file.data(), file.size(), &width, &height) || width <= 0 || height <= 0) {
    return Fail("corrupt WebP file");
  }
  const size_t stride = static_cast<size_t>(width) * 4;
  std::unique_ptr<uint8_t[]> canvas(new (std::nothrow) uint8_t[stride * static_cast<size_t>(height)]);
  if (!canvas) return Fail("CxImage::Create can't allocate memory");
  if (WebPDecodeBGRAInto(file.data(), file.size(), canvas.get(), stride * static_cast<size_t>(height),
                         static_cast<int>(stride)) == nullptr) {
    return Fail("corrupt WebP file");
  }
  SetFrameCount(1);
  if (FrameToLoad() > 0) return Fail("wrong frame!");
  return TakeCanvas(canvas.get(), static_cast<uint32_t>(width), static_cast<uint32_t>(height), alpha);
}

bool CxImageWEBP::DecodeAnimation(const std::vector<uint8_t>& file) {
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return Fail("cannot start the WebP decoder");
  options.color_mode = MODE_BGRA;
  options.use_threads = 0;
  const WebPData data = {file.data(), file.size()};
  std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&data, &options));
  WebPAnimInfo anim;
  if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &anim) || anim.frame_count == 0 ||
      anim.frame_count > INT32_MAX) {
    return Fail("corrupt WebP animation");
  }
  const int32_t frameCount = static_cast<int32_t>(anim.frame_count);
  SetFrameCount(frameCount);
  const int32_t wanted = FrameToLoad();
  if (wanted < 0 || wanted >= frameCount) return Fail("wrong frame!");
  const uint32_t width = anim.canvas_width;
  const uint32_t height = anim.canvas_height;
  // Every frame is kept when asked for, within the limit one picture has.
  const bool keepAll = RetrieveAllFrames();
  if (keepAll && !CheckedSize({width, height, 4, static_cast<uint64_t>(frameCount)})) {
    return Fail(kMaxMemoryMessage);
  }
  std::vector<std::unique_ptr<CxImage>> frames;
  int previousTime = 0;
  for (int32_t i = 0; i <= (keepAll ? frameCount - 1 : wanted); ++i) {
    if (Escape() != 0) return Fail("Cancelled");
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) {
      return Fail("corrupt WebP animation frame");
    }
    const uint32_t delay = timestamp > previousTime ? static_cast<uint32_t>(timestamp - previousTime) / 10 : 0;
    previousTime = timestamp;
    if (keepAll || i == wanted) {
      std::unique_ptr<CxImageWEBP> frame(new (std::nothrow) CxImageWEBP());
      if (!frame) return Fail("CxImage::Create can't allocate memory");
      frame->CopyInfoForDecode(*this);
      if (!frame->TakeCanvas(canvas, width, height, true)) return Fail(frame->LastErrorText());
      frame->SetFrameDelay(delay);
      frame->SetFrameCount(frameCount);
      frames.push_back(std::move(frame));
    }
  }
  CxImage& chosen = *frames[keepAll ? static_cast<size_t>(wanted) : frames.size() - 1];
  if (!CopyImage(chosen)) return false;
  SetFrameDelay(chosen.FrameDelay());
  SetFrameCount(frameCount);
  if (keepAll) {
    if (!FrameArrayCreate(frameCount)) return Fail("CxImage::Create can't allocate memory");
    for (int32_t i = 0; i < frameCount; ++i) FrameStore(i, frames[static_cast<size_t>(i)].release());
  }
  return true;
}

bool CxImageWEBP::TakeCanvas(const uint8_t* bgra, uint32_t width, uint32_t height, bool alpha) {
  if (Create(width, height, 24, FORMAT_WEBP) == nullptr) return false;
  if (alpha && !AlphaCreate()) return Fail("CxImage::Create can't allocate memory");
  for (uint32_t top = 0; top < height; ++top) {
    const uint8_t* src = bgra + static_cast<size_t>(top) * width * 4;
    const uint32_t y = height - 1 - top;
    uint8_t* dst = RowPointer(y);
    for (uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
      dst[0] = src[0];
      dst[1] = src[1];
      dst[2] = src[2];
      if (alpha) AlphaSetUnchecked(x, y, src[3]);
    }
  }
  return true;
}

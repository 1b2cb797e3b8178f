#include "image/prepare.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

#include "image/codecs/png/png_codec.h"
#include "image/core/image.h"
#include "image/io/stream.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/temp_files.h"

namespace {

// Outside this range a stated resolution is taken as missing or wrong.
bool ResolutionPlausible(int dpi) { return dpi > 10 && dpi < 2000; }

uint8_t ClampLevel(int level) {
  if (level < 0) return 0;
  if (level > 255) return 255;
  return static_cast<uint8_t>(level);
}

}  // namespace

ImageFormat DetectFormat(const std::string& path) {
  const ImageFormat byName = FormatFromExtension(ExtensionOf(path).c_str());
  if (byName != FORMAT_UNKNOWN) return byName;
  return FormatFromSignature(path.c_str());
}

namespace {

void SetReason(std::string* why, const std::string& text) {
  if (why != nullptr && why->empty()) *why = text;
}

// A fresh temporary name with the suffix; "" with the reason (the system's, such as why the
// temporary folder cannot be made) when none can be had.
std::string NewTempName(const char* suffix, std::string* why) {
  std::string path;
  std::string reason;
  if (MakeTempPath(suffix, path, reason)) return path;
  SetReason(why, reason);
  return "";
}

// The image's own reason, or a plain one when it kept none.
std::string ImageReason(const CxImage& image, const char* fallback) {
  const char* text = image.LastErrorText();
  return text != nullptr && *text != '\0' ? text : fallback;
}

}  // namespace

bool SaveByExtension(const std::string& path, CxImage& image, std::string* why) {
  const ImageFormat format = FormatFromExtension(ExtensionOf(path).c_str());
  if (format == FORMAT_UNKNOWN) {
    SetReason(why, "unknown extension for " + path);
    return false;
  }
  if (image.Save(path.c_str(), format)) return true;
  SetReason(why, ImageReason(image, "error saving") + " (saving " + path + ")");
  return false;
}

namespace {

using FrameSink = std::function<bool(CxImage& frame)>;

// Saves frame images in order; false when no temporary name could be made. A frame that
// cannot be written is listed all the same, without a file (none half written is left), so
// that the frames keep their numbers and its tracing fails with the reason kept in `why`.
bool SaveFrame(CxImage& frame, const char* suffix, std::vector<std::string>& list,
               std::string* why) {
  const std::string name = NewTempName(suffix, why);
  if (name.empty()) return false;
  if (!SaveByExtension(name, frame, why)) DeleteFilePath(name);
  list.push_back(name);
  return true;
}

// Decoding frame i of an animation composes frames 0 to i, so asking for each frame in turn
// costs time quadratic in the frame count. Where the decoder can keep every frame in one
// pass, the frames are taken from that pass instead. False when it could not (a decoder that
// kept no frame array, or too many frames to hold at once): the caller goes frame by frame.
bool FramesFromOnePass(const std::string& inputPath, ImageFormat format, int32_t frameCount,
                       const FrameSink& sink) {
  CxImage all(FORMAT_UNKNOWN);
  all.SetRetrieveAllFrames(true);
  all.SetFrameToLoad(frameCount - 1);
  if (!all.Load(inputPath.c_str(), format) || all.FrameArraySize() != frameCount) return false;
  for (int32_t i = 0; i < frameCount; ++i) {
    if (all.FrameAt(i) == nullptr || !all.FrameAt(i)->HasPixels()) return false;
  }
  for (int32_t i = 0; i < frameCount; ++i) {
    if (!sink(*all.FrameAt(i))) break;
  }
  return true;
}

// Hands every frame of the input to the sink in order, until the sink says stop.
void ForEachFrame(const std::string& inputPath, std::string* why, const FrameSink& sink) {
  const ImageFormat format = DetectFormat(inputPath);
  CxImage image(FORMAT_UNKNOWN);
  image.SetFrameToLoad(0);
  if (!image.Load(inputPath.c_str(), format)) {
    SetReason(why, ImageReason(image, "not a picture this program reads"));
    return;
  }
  const int32_t frameCount = image.FrameCount();
  // Only the GIF and WebP decoders keep a frame array; for others a second pass would be
  // wasted.
  if (frameCount > 1 && (image.FormatType() == FORMAT_GIF || image.FormatType() == FORMAT_WEBP) &&
      FramesFromOnePass(inputPath, format, frameCount, sink)) {
    return;
  }
  for (int32_t frame = 0;;) {
    if (!sink(image)) break;
    ++frame;
    if (frame >= image.FrameCount()) break;
    image.SetFrameToLoad(frame);
    if (!image.Load(inputPath.c_str(), format)) {
      SetReason(why, ImageReason(image, "a frame could not be read"));
      break;
    }
  }
  image.FreeFrames();
  image.FreeStorage();
}

// Encodes the image, in the format the name's extension names, over the in-memory file `fd`
// made under that name, and cuts the file to what was written. False, with the reason in
// `why` when given, on failure.
bool SaveToMemory(const std::string& name, int fd, CxImage& image, std::string* why) {
  const ImageFormat format = FormatFromExtension(ExtensionOf(name).c_str());
  // The stream closes a copy; the file stays with its name.
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  FILE* f = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
  if (f == nullptr) {
    SetReason(why, std::string("cannot write in memory: ") + std::strerror(errno));
    if (copy >= 0) ::close(copy);
    return false;
  }
  std::setvbuf(f, nullptr, _IOFBF, 64 * 1024);
  errno = 0;
  const bool encoded = image.Encode(f, format);
  const int writeError = std::ferror(f) != 0 ? errno : 0;
  const bool closed = std::fclose(f) == 0;
  // The copy shared the file's offset: it now stands at the end of what was written, where
  // the file is cut (a file already of that length is left as it is).
  const off_t end = ::lseek(fd, 0, SEEK_CUR);
  const bool cut = end >= 0 && ::ftruncate(fd, end) == 0;
  if (encoded && writeError == 0 && closed && cut) return true;
  SetReason(why, writeError != 0 ? std::strerror(writeError) : ImageReason(image, "error saving"));
  return false;
}

// Saves the image under a fresh temporary name with the suffix, in the format the suffix
// names, and lists the name once saved: held in memory where the system allows, else in the
// private folder. A file that could not be written whole is let go.
void SaveAsTemporary(CxImage& image, const char* suffix, std::vector<std::string>& list, std::string* why) {
  std::string name;
  std::string reason;
  int fd = -1;
  // A bitmap's rows in whole 32-bit words, its headers and palette.
  const std::size_t size = (static_cast<std::size_t>(image.Width()) * image.Bpp() + 31) / 32 * 4 * image.Height() + 1078;
  if (MakeMemoryTempFile(suffix, size, name, fd, reason)) {
    if (SaveToMemory(name, fd, image, why)) {
      list.push_back(name);
    } else {
      ReleaseTempFile(name);
    }
    return;
  }
  name = NewTempName(suffix, why);
  if (name.empty()) return;
  if (SaveByExtension(name, image, why)) {
    list.push_back(name);
  } else {
    DeleteFilePath(name);
  }
}

// Reduces a loaded image to one bit per pixel at level (grey > level is white) and saves it
// under a fresh temporary name with the suffix, which is appended to the list once saved; a
// file that could not be written whole is deleted.
void SaveBitonal(CxImage& image, const char* suffix, int level, std::vector<std::string>& list,
                 std::string* why) {
  const int32_t dpiX = image.ResolutionX();
  const int32_t dpiY = image.ResolutionY();
  if (!ResolutionPlausible(dpiX)) image.SetResolutionX(300);
  if (!ResolutionPlausible(dpiY)) image.SetResolutionY(300);
  // Transparent pixels are background: the picture goes over white before the split, as
  // the second method reads it, so that both routes see the same picture.
  if (!image.CompositeOverWhite()) {
    SetReason(why, ImageReason(image, "cannot put the picture over white"));
    return;
  }
  if (image.Bpp() != 1) {
    image.ApplyThreshold(ClampLevel(level));
    if (image.Bpp() != 1) image.DecreaseBpp(1, false, nullptr, 0);
    // The reduction leaves a fresh image's attributes: put the input's resolution back.
    image.SetResolutionX(dpiX);
    image.SetResolutionY(dpiY);
  }
  SaveAsTemporary(image, suffix, list, why);
}

}  // namespace

size_t SplitIntoFrames(const std::string& inputPath, const char* suffix,
                       std::vector<std::string>& list, std::string* why) {
  ForEachFrame(inputPath, why, [&](CxImage& frame) { return SaveFrame(frame, suffix, list, why); });
  return list.size();
}

size_t SplitIntoBitonalFrames(const std::string& inputPath, const char* suffix,
                              std::vector<std::string>& list, int level, std::string* why) {
  ForEachFrame(inputPath, why, [&](CxImage& frame) {
    // The frame as the tracer would have read it from a temporary PNG file: the PNG writer
    // and reader's rules for palette, transparency and resolution, without the file.
    CxImage image(FORMAT_UNKNOWN);
    const std::size_t before = list.size();
    if (ReadBackAsPng(frame, image)) {
      SaveBitonal(image, suffix, level, list, why);
    } else {
      SetReason(why, ImageReason(image, "error saving"));
    }
    if (list.size() == before) {
      // Counted all the same, as the frame's file would have been: its tracing then fails.
      const std::string name = NewTempName(suffix, why);
      if (name.empty()) return false;
      list.push_back(name);
    }
    return true;
  });
  return list.size();
}

namespace {

// A PNG read straight to one bit per pixel, a row at a time (the reduction SaveBitonal
// makes of the whole picture), so that it is never held at its own depth, and saved under a
// fresh temporary name. False when it cannot be read that way (interlaced or 1-bit pictures,
// anything the decoder finds amiss): the whole picture is then read as any other.
bool PreparePngBitonal(const std::string& inputPath, const char* suffix, std::vector<std::string>& list,
                       int level, std::string* why) {
  FILE* f = std::fopen(inputPath.c_str(), "rb");
  if (f == nullptr) return false;
  CxFileStream file(f);
  CxImagePNG image;
  const bool read = image.DecodeBitonal(&file, ClampLevel(level));
  std::fclose(f);
  if (!read) return false;
  SaveAsTemporary(image, suffix, list, why);
  return true;
}

}  // namespace

int PrepareBitonal(const std::string& inputPath, const char* suffix,
                   std::vector<std::string>& list, int level, std::string* why) {
  if (inputPath.empty() || !QueryFileAttributes(inputPath).exists) {
    SetReason(why, "the image to trace is missing");
    return 0;
  }
  // Only the bitmap is wanted: a PNG (one frame) is reduced as it is read, which also takes
  // pictures beyond the memory limit.
  if (DetectFormat(inputPath) == FORMAT_PNG && PreparePngBitonal(inputPath, suffix, list, level, why)) {
    return list.empty() ? 0 : 1;
  }
  CxImage image(FORMAT_UNKNOWN);
  image.SetFrameToLoad(0);
  int result = 0;
  for (int32_t frame = 0;;) {
    if (!image.Load(inputPath.c_str(), FORMAT_UNKNOWN) || !image.HasPixels()) {
      SetReason(why, ImageReason(image, "not a picture this program reads"));
      break;
    }
    SaveBitonal(image, suffix, level, list, why);
    ++frame;
    if (frame >= image.FrameCount()) {
      result = 1;
      break;
    }
    image.SetFrameToLoad(frame);
  }
  image.FreeFrames();
  image.FreeStorage();
  return result;
}

bool RewritePnmAsPng(const std::string& pnmPath, const std::string& pngPath, std::string* why) {
  CxImage image(FORMAT_UNKNOWN);
  if (!image.Load(pnmPath.c_str(), FORMAT_PNM) || !image.HasPixels()) {
    SetReason(why, ImageReason(image, "the traced picture could not be read back"));
    return false;
  }
  if (image.Save(pngPath.c_str(), FORMAT_PNG)) return true;
  SetReason(why, ImageReason(image, "error saving") + " (saving " + pngPath + ")");
  return false;
}

// Load, Save and the stream-level dispatch to the codecs.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "image/codecs/bmp/bmp_codec.h"
#include "image/codecs/gif/gif_codec.h"
#include "image/codecs/jas/jas_codec.h"
#include "image/codecs/jpeg/jpeg_codec.h"
#include "image/codecs/pcx/pcx_codec.h"
#include "image/codecs/png/png_codec.h"
#include "image/codecs/tga/tga_codec.h"
#include "image/codecs/tiff/tiff_codec.h"
#include "image/codecs/webp/webp_codec.h"
#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace {

constexpr const char* kUnknownDecode = "Decode: Unknown or wrong format";

// One attempt with a fresh codec object; on success the result moves into target.
template <typename Codec, typename... Extra>
bool DecodeWith(CxImage& target, CxStream* stream, char* error, Extra... extra) {
  Codec codec;
  codec.CopyInfoForDecode(target);
  if (codec.Decode(stream, extra...)) {
    if (target.TakeOver(codec, true)) return true;
    std::snprintf(error, 256, "%s", "Decode: the target image is a view");
    return false;
  }
  std::snprintf(error, 256, "%s", codec.LastErrorText());
  return false;
}

// Decodes one typed attempt; types without a codec here fail with the unknown-format text.
bool DecodeTyped(CxImage& target, CxStream* stream, ImageFormat type, char* error) {
  switch (type) {
    case FORMAT_BMP: return DecodeWith<CxImageBMP>(target, stream, error);
    case FORMAT_GIF: return DecodeWith<CxImageGIF>(target, stream, error);
    case FORMAT_JPG: return DecodeWith<CxImageJPG>(target, stream, error);
    case FORMAT_PNG: return DecodeWith<CxImagePNG>(target, stream, error);
    case FORMAT_TIF: return DecodeWith<CxImageTIF>(target, stream, error);
    case FORMAT_TGA: return DecodeWith<CxImageTGA>(target, stream, error);
    case FORMAT_PCX: return DecodeWith<CxImagePCX>(target, stream, error);
    case FORMAT_WEBP: return DecodeWith<CxImageWEBP>(target, stream, error);
    case FORMAT_JP2:
    case FORMAT_JPC:
    case FORMAT_PGX:
    case FORMAT_PNM:
    case FORMAT_RAS: return DecodeWith<CxImageJAS>(target, stream, error, type);
    default:
      std::snprintf(error, 256, "%s", kUnknownDecode);
      return false;
  }
}

// The untyped chain's order. ICO, MNG, WBMP, WMF, SKA and RAW have no codec in this
// program and count as decoders that always fail. WebP comes last: it takes only files
// that begin with its RIFF signature.
constexpr ImageFormat kChain[] = {FORMAT_BMP, FORMAT_JPG, FORMAT_ICO, FORMAT_GIF, FORMAT_PNG,
                                  FORMAT_TIF, FORMAT_MNG, FORMAT_TGA, FORMAT_PCX, FORMAT_WBMP,
                                  FORMAT_WMF, FORMAT_UNKNOWN /* JasPer-backed, type 0 */,
                                  FORMAT_SKA, FORMAT_RAW, FORMAT_WEBP};

bool DecodeChainEntry(CxImage& target, CxStream* stream, ImageFormat type, char* error) {
  switch (type) {
    case FORMAT_ICO:
    case FORMAT_MNG:
    case FORMAT_WBMP:
    case FORMAT_WMF:
    case FORMAT_SKA:
    case FORMAT_RAW: return false;
    case FORMAT_UNKNOWN: return DecodeWith<CxImageJAS>(target, stream, error, uint32_t{0});
    default: return DecodeTyped(target, stream, type, error);
  }
}

template <typename Codec, typename... Extra>
bool EncodeWith(CxImage& image, CxStream* stream, Extra... extra) {
  Codec codec;
  codec.BorrowView(image);
  if (codec.Encode(stream, extra...)) return true;
  return image.Fail(codec.LastErrorText());
}

}  // namespace

bool CxImage::Decode(CxStream* stream, uint32_t formatType) {
  if (stream == nullptr) return Fail("null file handler");
  char error[256] = {};
  if (formatType == FORMAT_UNKNOWN) {
    // A decoder that knew the picture but found it beyond the memory limit says so; that is
    // no unknown format.
    char tooLarge[256] = {};
    const int64_t start = stream->Tell();
    for (ImageFormat type : kChain) {
      if (DecodeChainEntry(*this, stream, type, error)) return true;
      if (tooLarge[0] == '\0' && std::strstr(error, kMaxMemoryMessage) != nullptr) std::memcpy(tooLarge, error, sizeof tooLarge);
      stream->Seek(start, SEEK_SET);
    }
    return Fail(tooLarge[0] != '\0' ? tooLarge : kUnknownDecode);
  }
  if (DecodeTyped(*this, stream, formatType, error)) return true;
  return Fail(error);
}

bool CxImage::Decode(FILE* file, uint32_t formatType) {
  if (file == nullptr) return Fail("null file handler");
  CxFileStream stream(file);
  return Decode(&stream, formatType);
}

bool CxImage::Encode(CxStream* stream, uint32_t formatType) {
  switch (formatType) {
    case FORMAT_BMP: return EncodeWith<CxImageBMP>(*this, stream);
    case FORMAT_GIF: return EncodeWith<CxImageGIF>(*this, stream);
    case FORMAT_JPG: return EncodeWith<CxImageJPG>(*this, stream);
    case FORMAT_PNG: return EncodeWith<CxImagePNG>(*this, stream);
    case FORMAT_TIF: return EncodeWith<CxImageTIF>(*this, stream);
    case FORMAT_TGA: return EncodeWith<CxImageTGA>(*this, stream);
    case FORMAT_PCX: return EncodeWith<CxImagePCX>(*this, stream);
    case FORMAT_JP2:
    case FORMAT_JPC:
    case FORMAT_PGX:
    case FORMAT_PNM:
    case FORMAT_RAS: return EncodeWith<CxImageJAS>(*this, stream, formatType);
    default:
      return Fail("Encode: Unknown format");
  }
}

bool CxImage::Encode(FILE* file, uint32_t formatType) {
  if (file == nullptr) return Fail("null file handler");
  CxFileStream stream(file);
  return Encode(&stream, formatType);
}

bool CxImage::Load(const char* path, uint32_t formatType) {
  if (path == nullptr) return false;
  if (FormatIndex(formatType) != 0) {
    FILE* f = std::fopen(path, "rb");
    if (f == nullptr) return false;
    const bool ok = Decode(f, formatType);
    std::fclose(f);
    if (ok) return true;
  }
  char typedError[256];
  std::memcpy(typedError, info.lastError, sizeof(typedError));
  FILE* f = std::fopen(path, "rb");
  if (f == nullptr) return false;
  const bool ok = Decode(f, FORMAT_UNKNOWN);
  std::fclose(f);
  if (!ok && formatType > 0) SetLastError(typedError);
  return ok;
}

bool CxImage::Save(const char* path, uint32_t formatType) {
  if (path == nullptr) return false;
  FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return Fail(std::strerror(errno));
  errno = 0;
  bool ok = Encode(f, formatType);
  // A file the system could not finish writing is not a saved image, and the system's
  // reason (a full disk) is the one kept, whatever the encoder made of the failed write.
  const int encodeError = std::ferror(f) != 0 ? errno : 0;
  errno = 0;
  const bool closed = std::fclose(f) == 0;
  const int error = encodeError != 0 ? encodeError : closed ? 0 : errno;
  if (error != 0) return Fail(std::strerror(error));
  if (!closed && ok) {
    SetLastError("Write Error");
    ok = false;
  }
  return ok;
}

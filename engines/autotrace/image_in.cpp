#include "image_in.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

#include "image/core/image.h"
#include "image/io/format.h"
#include "image/io/stream.h"

namespace at {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Alpha over white, rounded.
uint8_t OverWhite(uint8_t value, uint8_t alpha) {
  return static_cast<uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Opaque 8-bit indexed and 24-bit pictures, row by row without a lookup per pixel (a page
// of millions of pixels otherwise spends longer here than in tracing). False for other depths.
bool CopyOpaqueRows(const CxImage& picture, Image& image) {
  const uint32_t width = picture.Width(), height = picture.Height(), bpp = picture.Bpp();
  const RgbQuad* palette = picture.PaletteEntries();
  if (!((bpp == 8 && palette != nullptr) || (bpp == 24 && palette == nullptr))) return false;
  uint8_t lut[256][3] = {};
  if (bpp == 8)
    for (uint32_t i = 0; i < 256 && i < picture.ColoursUsed(); ++i) {
      lut[i][0] = palette[i].red;
      lut[i][1] = palette[i].green;
      lut[i][2] = palette[i].blue;
    }
  image.rgb.resize(static_cast<size_t>(width) * height * 3);
  uint8_t* out = image.rgb.data();
  for (uint32_t row = 0; row < height; ++row) {
    const uint8_t* in = picture.RowPointer(height - 1 - row);  // the image layer counts rows from the bottom
    if (bpp == 8) {
      for (uint32_t x = 0; x < width; ++x, out += 3) std::memcpy(out, lut[in[x]], 3);
    } else {
      for (uint32_t x = 0; x < width; ++x, out += 3, in += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
      }
    }
  }
  return true;
}

// The decoded picture as 8-bit RGB rows from the top, transparency composited over white.
bool CopyRgb(const CxImage& picture, Image& image, std::string& error) {
  if (!CheckImageSize(picture.Width(), picture.Height(), error)) return false;
  const uint32_t width = picture.Width();
  const uint32_t height = picture.Height();
  const bool alpha = picture.HasAlpha() || picture.AlphaPaletteEnabled();
  const int32_t transparent = picture.PaletteEntries() != nullptr ? picture.TransparentIndex() : -1;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  if (!alpha && transparent < 0 && CopyOpaqueRows(picture, image)) return true;
  image.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
  uint8_t* out = image.rgb.data();
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t y = height - 1 - row;  // the image layer counts rows from the bottom
    for (uint32_t x = 0; x < width; ++x, out += 3) {
      const RgbQuad c = picture.ColourAt(x, y, alpha);
      uint8_t a = alpha ? c.reserved : 255;
      if (transparent >= 0 && picture.IndexAtUnchecked(x, y) == transparent) a = 0;
      out[0] = OverWhite(c.red, a);
      out[1] = OverWhite(c.green, a);
      out[2] = OverWhite(c.blue, a);
    }
  }
  return true;
}

// The format the first bytes show, so that a damaged file is reported by its own reader
// rather than as unknown to all of them; FORMAT_UNKNOWN leaves it to the untyped chain.
ImageFormat Sniff(const std::vector<uint8_t>& b) {
  const auto starts = [&b](std::initializer_list<uint8_t> head) {
    return b.size() >= head.size() && std::equal(head.begin(), head.end(), b.begin());
  };
  if (starts({0x89, 'P', 'N', 'G'})) return FORMAT_PNG;
  if (starts({'B', 'M'})) return FORMAT_BMP;
  if (starts({0xFF, 0xD8, 0xFF})) return FORMAT_JPG;
  if (starts({'G', 'I', 'F', '8'})) return FORMAT_GIF;
  if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42})) return FORMAT_TIF;
  if (b.size() >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6') return FORMAT_PNM;
  return FORMAT_UNKNOWN;
}

std::string FormatName(ImageFormat format) {
  switch (format) {
    case FORMAT_PNG: return "PNG";
    case FORMAT_BMP: return "BMP";
    case FORMAT_JPG: return "JPEG";
    case FORMAT_GIF: return "GIF";
    case FORMAT_TIF: return "TIFF";
    case FORMAT_PNM: return "PNM";
    case FORMAT_TGA: return "TGA";
    case FORMAT_PCX: return "PCX";
    default: return "image";
  }
}

bool DecodeAs(const std::vector<uint8_t>& bytes, ImageFormat format, Image& image, std::string& error) {
  CxMemStream stream(bytes.data(), bytes.size());
  CxImage picture(FORMAT_UNKNOWN);
  picture.SetFrameToLoad(0);
  if (!picture.Decode(&stream, format) || !picture.HasPixels()) {
    const std::string why = picture.LastErrorText() != nullptr ? picture.LastErrorText() : "";
    if (why.find("MAX_MEMORY") != std::string::npos) {
      // The decoder's reason may already say so, with the picture's size.
      error = why.find("too large") != std::string::npos ? why : "the image is too large to trace (" + why + ")";
    } else if (format == FORMAT_UNKNOWN) {
      error = why.empty() ? "not a picture this tracer reads" : why;
    } else {
      error = "not a readable " + FormatName(format) + " picture" + (why.empty() ? "" : ": " + why);
    }
    return false;
  }
  return CopyRgb(picture, image, error);
}

}  // namespace

const std::vector<std::string>& ListInputFormats() {
  static const std::vector<std::string> formats = {"png", "pnm", "pbm", "pgm", "ppm", "bmp", "gif", "jpg",
                                                   "jpeg", "tif", "tiff", "tga", "pcx", "jp2", "j2k",
                                                   "pgx", "ras"};
  return formats;
}

bool CheckImageSize(uint64_t width, uint64_t height, std::string& error) {
  if (width == 0 || height == 0) {
    error = "the image is empty";
    return false;
  }
  if (width > 1000000 || height > 1000000 || width * height > kMaxPixels) {
    error = "the image is too large to trace (" + std::to_string(width) + " x " +
            std::to_string(height) + " pixels; at most " + std::to_string(kMaxPixels) +
            " pixels)";
    return false;
  }
  return true;
}

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
  return DecodeAs(bytes, FORMAT_PNG, image, error);
}

bool DecodePnm(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
  return DecodeAs(bytes, FORMAT_PNM, image, error);
}

bool DecodeBmp(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
  return DecodeAs(bytes, FORMAT_BMP, image, error);
}

bool DecodeImage(const std::vector<uint8_t>& bytes, const std::string& format, Image& image,
                 std::string& error) {
  const std::string f = Lower(format);
  if (!f.empty() && std::find(ListInputFormats().begin(), ListInputFormats().end(), f) ==
                        ListInputFormats().end()) {
    error = "unsupported input format \"" + format + "\"";
    return false;
  }
  // The image layer's untyped chain tries every reader in turn when nothing names the format.
  const ImageFormat type = f.empty() ? Sniff(bytes) : FormatFromExtension(f.c_str());
  return DecodeAs(bytes, type, image, error);
}

bool ReadImageFile(const std::string& path, const std::string& format, Image& image,
                   std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open \"" + path + "\"";
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  // Compressed data can't sensibly exceed the pixel cap by much; this keeps reads bounded.
  if (size < 0 || static_cast<uint64_t>(size) > 4 * kMaxPixels) {
    error = "\"" + path + "\" is too large or unreadable";
    return false;
  }
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), size);
  if (!in) {
    error = "cannot read \"" + path + "\"";
    return false;
  }
  if (!DecodeImage(bytes, format, image, error)) {
    error = "\"" + path + "\": " + error;
    return false;
  }
  return true;
}

}  // namespace at

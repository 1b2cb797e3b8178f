#include "image_in.h"

#include <png.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>

namespace at {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool LooksLikePng(const std::vector<uint8_t>& b) {
  static const uint8_t sig[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  return b.size() >= 8 && std::memcmp(b.data(), sig, 8) == 0;
}

bool LooksLikePnm(const std::vector<uint8_t>& b) {
  return b.size() >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '6';
}

bool LooksLikeBmp(const std::vector<uint8_t>& b) { return b.size() >= 2 && b[0] == 'B' && b[1] == 'M'; }

}  // namespace

const std::vector<std::string>& ListInputFormats() {
  static const std::vector<std::string> formats = {"png", "pnm", "pbm", "pgm", "ppm", "bmp"};
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
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
    error = std::string("bad PNG file: ") + png.message;
    return false;
  }
  if (!CheckImageSize(png.width, png.height, error)) {
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_RGB;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.rgb.assign(static_cast<size_t>(PNG_IMAGE_SIZE(png)), 0);
  png_color white{255, 255, 255};
  if (!png_image_finish_read(&png, &white, image.rgb.data(), 0, nullptr)) {
    error = std::string("bad PNG file: ") + png.message;
    png_image_free(&png);
    image = Image{};
    return false;
  }
  return true;
}

namespace {

// Reads the next header number of a PNM file, skipping blanks and comments.
bool PnmNumber(const std::vector<uint8_t>& b, size_t& pos, uint64_t& value) {
  while (pos < b.size()) {
    if (b[pos] == '#') {
      while (pos < b.size() && b[pos] != '\n' && b[pos] != '\r') ++pos;
    } else if (std::isspace(b[pos])) {
      ++pos;
    } else {
      break;
    }
  }
  if (pos >= b.size() || !std::isdigit(b[pos])) return false;
  value = 0;
  while (pos < b.size() && std::isdigit(b[pos])) {
    value = value * 10 + static_cast<uint64_t>(b[pos] - '0');
    if (value > 0xFFFFFFFFu) return false;
    ++pos;
  }
  return true;
}

}  // namespace

bool DecodePnm(const std::vector<uint8_t>& b, Image& image, std::string& error) {
  if (!LooksLikePnm(b)) {
    error = "not a PNM file";
    return false;
  }
  const int kind = b[1] - '0';
  const bool bitmap = kind == 1 || kind == 4;
  const int channels = (kind == 3 || kind == 6) ? 3 : 1;
  size_t pos = 2;
  uint64_t width = 0, height = 0, maxval = 1;
  if (!PnmNumber(b, pos, width) || !PnmNumber(b, pos, height) ||
      (!bitmap && !PnmNumber(b, pos, maxval))) {
    error = "bad PNM header";
    return false;
  }
  if (maxval == 0 || maxval > 65535) {
    error = "bad PNM maximum value";
    return false;
  }
  if (!CheckImageSize(width, height, error)) return false;
  const size_t pixels = static_cast<size_t>(width * height);
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.rgb.assign(pixels * 3, 0);
  auto put = [&](size_t pixel, int channel, uint64_t sample) {
    const uint8_t v = bitmap ? (sample ? 0 : 255) : static_cast<uint8_t>((sample * 255 + maxval / 2) / maxval);
    if (channels == 1) {
      image.rgb[pixel * 3] = image.rgb[pixel * 3 + 1] = image.rgb[pixel * 3 + 2] = v;
    } else {
      image.rgb[pixel * 3 + static_cast<size_t>(channel)] = v;
    }
  };
  if (kind <= 3) {
    for (size_t p = 0; p < pixels; ++p) {
      for (int c = 0; c < channels; ++c) {
        uint64_t sample = 0;
        if (bitmap) {  // P1 digits need no separators
          while (pos < b.size() && (std::isspace(b[pos]) || b[pos] == '#')) {
            if (b[pos] == '#') while (pos < b.size() && b[pos] != '\n') ++pos;
            else ++pos;
          }
          if (pos >= b.size() || (b[pos] != '0' && b[pos] != '1')) {
            error = "truncated PNM data";
            return false;
          }
          sample = b[pos++] - '0';
        } else if (!PnmNumber(b, pos, sample) || sample > maxval) {
          error = "truncated or bad PNM data";
          return false;
        }
        put(p, c, sample);
      }
    }
    return true;
  }
  ++pos;  // the single blank after the header
  if (bitmap) {
    const size_t rowBytes = static_cast<size_t>((width + 7) / 8);
    if (pos > b.size() || (b.size() - pos) / rowBytes < height) {
      error = "truncated PNM data";
      return false;
    }
    for (size_t y = 0; y < height; ++y)
      for (size_t x = 0; x < width; ++x)
        put(y * width + x, 0, (b[pos + y * rowBytes + x / 8] >> (7 - x % 8)) & 1);
    return true;
  }
  const size_t sampleBytes = maxval > 255 ? 2 : 1;
  const size_t need = pixels * static_cast<size_t>(channels) * sampleBytes;
  if (pos > b.size() || b.size() - pos < need) {
    error = "truncated PNM data";
    return false;
  }
  for (size_t p = 0; p < pixels; ++p) {
    for (int c = 0; c < channels; ++c) {
      uint64_t s = b[pos];
      if (sampleBytes == 2) s = (s << 8) | b[pos + 1];
      pos += sampleBytes;
      put(p, c, std::min<uint64_t>(s, maxval));
    }
  }
  return true;
}

namespace {

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
         static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

}  // namespace

// Uncompressed BMP with 1, 4, 8, 24 or 32 bits a pixel; enough for what the driver and
// users hand over, compressed variants are refused.
bool DecodeBmp(const std::vector<uint8_t>& b, Image& image, std::string& error) {
  if (!LooksLikeBmp(b) || b.size() < 26) {
    error = "not a BMP file";
    return false;
  }
  const uint32_t dataOffset = Le32(b, 10);
  const uint32_t headerSize = Le32(b, 14);
  if (headerSize < 12 || headerSize > b.size() - 14) {
    error = "bad BMP header";
    return false;
  }
  int64_t width = 0, height = 0;
  uint16_t bits = 0;
  uint32_t compression = 0, colorsUsed = 0;
  if (headerSize == 12) {
    width = Le16(b, 18);
    height = static_cast<int16_t>(Le16(b, 20));
    bits = Le16(b, 24);
  } else {
    if (headerSize < 40) {
      error = "bad BMP header";
      return false;
    }
    width = static_cast<int32_t>(Le32(b, 18));
    height = static_cast<int32_t>(Le32(b, 22));
    bits = Le16(b, 28);
    compression = Le32(b, 30);
    colorsUsed = Le32(b, 46);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || compression != 0 || (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)) {
    error = "unsupported BMP variant (only uncompressed 1, 4, 8, 24 and 32 bits a pixel)";
    return false;
  }
  if (!CheckImageSize(static_cast<uint64_t>(width), static_cast<uint64_t>(height), error)) return false;
  const size_t entry = headerSize == 12 ? 3 : 4;
  std::vector<Rgb> palette;
  if (bits <= 8) {
    size_t count = colorsUsed ? colorsUsed : (size_t{1} << bits);
    if (count > 256) count = 256;
    const size_t at0 = 14 + headerSize;
    if (at0 > b.size() || (b.size() - at0) / entry < count) {
      error = "truncated BMP palette";
      return false;
    }
    for (size_t i = 0; i < count; ++i)
      palette.push_back(Rgb{b[at0 + i * entry + 2], b[at0 + i * entry + 1], b[at0 + i * entry]});
  }
  const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  const size_t stride = ((w * bits + 31) / 32) * 4;
  if (dataOffset > b.size() || (b.size() - dataOffset) / stride < h) {
    error = "truncated BMP data";
    return false;
  }
  image.width = static_cast<int>(w);
  image.height = static_cast<int>(h);
  image.rgb.assign(w * h * 3, 0);
  for (size_t row = 0; row < h; ++row) {
    const uint8_t* src = b.data() + dataOffset + row * stride;
    const size_t y = topDown ? row : h - 1 - row;
    uint8_t* dst = image.rgb.data() + y * w * 3;
    for (size_t x = 0; x < w; ++x) {
      Rgb c;
      if (bits >= 24) {
        const size_t step = bits / 8;
        c = Rgb{src[x * step + 2], src[x * step + 1], src[x * step]};
      } else {
        const size_t bitPos = x * bits;
        const unsigned v = (src[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1u << bits) - 1);
        if (v < palette.size()) c = palette[v];
      }
      dst[x * 3] = c.r;
      dst[x * 3 + 1] = c.g;
      dst[x * 3 + 2] = c.b;
    }
  }
  return true;
}

bool DecodeImage(const std::vector<uint8_t>& bytes, const std::string& format, Image& image,
                 std::string& error) {
  const std::string f = Lower(format);
  if (!f.empty() && std::find(ListInputFormats().begin(), ListInputFormats().end(), f) ==
                        ListInputFormats().end()) {
    error = "unsupported input format \"" + format + "\"";
    return false;
  }
  if (f == "png" || (f.empty() && LooksLikePng(bytes))) return DecodePng(bytes, image, error);
  if (f == "bmp" || (f.empty() && LooksLikeBmp(bytes))) return DecodeBmp(bytes, image, error);
  if (!f.empty() || LooksLikePnm(bytes)) return DecodePnm(bytes, image, error);
  error = "unrecognised image format (expected PNG, PNM or BMP)";
  return false;
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

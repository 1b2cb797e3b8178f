#include "image/codecs/gif/gif_builder.h"

namespace giftest {

namespace {

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

// Table size code for a table of n triples (rounded up to a power of two, at least 2).
uint8_t SizeCode(size_t triples) {
  uint8_t code = 0;
  while ((2u << code) < triples && code < 7) ++code;
  return code;
}

void PutTable(std::vector<uint8_t>& out, const std::vector<uint8_t>& rgb) {
  const size_t entries = 2u << SizeCode(rgb.size() / 3);
  for (size_t i = 0; i < entries * 3; ++i) out.push_back(i < rgb.size() ? rgb[i] : 0);
}

}  // namespace

std::vector<uint8_t> PackCodes(const std::vector<SizedCode>& codes) {
  std::vector<uint8_t> data;
  uint32_t acc = 0;
  int bits = 0;
  for (const SizedCode& c : codes) {
    acc |= c.code << bits;
    bits += c.bits;
    while (bits >= 8) {
      data.push_back(static_cast<uint8_t>(acc));
      acc >>= 8;
      bits -= 8;
    }
  }
  if (bits > 0) data.push_back(static_cast<uint8_t>(acc));
  std::vector<uint8_t> out;
  for (size_t i = 0; i < data.size(); i += 255) {
    const size_t n = std::min<size_t>(255, data.size() - i);
    out.push_back(static_cast<uint8_t>(n));
    out.insert(out.end(), data.begin() + static_cast<long>(i),
               data.begin() + static_cast<long>(i + n));
  }
  out.push_back(0);
  return out;
}

std::vector<uint8_t> PlainImageData(int minSize, const std::vector<uint8_t>& pixels) {
  const uint32_t clear = 1u << minSize;
  const int bits = minSize + 1;
  // After a clear, k codes leave the reader's next slot at clear + 1 + k.
  const uint32_t perClear = clear - 3;
  std::vector<SizedCode> codes{{clear, bits}};
  uint32_t since = 0;
  for (uint8_t p : pixels) {
    if (since == perClear) {
      codes.push_back({clear, bits});
      since = 0;
    }
    codes.push_back({p, bits});
    ++since;
  }
  codes.push_back({clear + 1, bits});
  std::vector<uint8_t> out{static_cast<uint8_t>(minSize)};
  const std::vector<uint8_t> packed = PackCodes(codes);
  out.insert(out.end(), packed.begin(), packed.end());
  return out;
}

GifBuilder& GifBuilder::Header(uint16_t width, uint16_t height,
                               const std::vector<uint8_t>& globalRgb, uint8_t background) {
  const std::string sig = "GIF89a";
  bytes_.assign(sig.begin(), sig.end());
  PutU16(bytes_, width);
  PutU16(bytes_, height);
  bytes_.push_back(globalRgb.empty() ? 0x00 : static_cast<uint8_t>(0x80 | SizeCode(globalRgb.size() / 3)));
  bytes_.push_back(background);
  bytes_.push_back(0);
  if (!globalRgb.empty()) PutTable(bytes_, globalRgb);
  return *this;
}

GifBuilder& GifBuilder::Control(uint8_t flags, uint16_t delay, uint8_t index, uint8_t size) {
  bytes_.insert(bytes_.end(), {0x21, 0xF9, size, flags});
  PutU16(bytes_, delay);
  bytes_.push_back(index);
  bytes_.push_back(0);
  return *this;
}

GifBuilder& GifBuilder::Comment(const std::string& text) {
  bytes_.insert(bytes_.end(), {0x21, 0xFE, static_cast<uint8_t>(text.size())});
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  bytes_.push_back(0);
  return *this;
}

GifBuilder& GifBuilder::Raw(const std::vector<uint8_t>& bytes) {
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

GifBuilder& GifBuilder::Image(uint16_t left, uint16_t top, uint16_t width, uint16_t height,
                              const std::vector<uint8_t>& data,
                              const std::vector<uint8_t>& localRgb, bool interlaced) {
  bytes_.push_back(0x2C);
  PutU16(bytes_, left);
  PutU16(bytes_, top);
  PutU16(bytes_, width);
  PutU16(bytes_, height);
  uint8_t flags = interlaced ? 0x40 : 0x00;
  if (!localRgb.empty()) flags |= static_cast<uint8_t>(0x80 | SizeCode(localRgb.size() / 3));
  bytes_.push_back(flags);
  if (!localRgb.empty()) PutTable(bytes_, localRgb);
  bytes_.insert(bytes_.end(), data.begin(), data.end());
  return *this;
}

GifBuilder& GifBuilder::Trailer() {
  bytes_.push_back(0x3B);
  return *this;
}

std::vector<uint8_t> GreyTable(uint32_t n) {
  std::vector<uint8_t> rgb;
  for (uint32_t i = 0; i < n; ++i) rgb.insert(rgb.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
  return rgb;
}

}  // namespace giftest

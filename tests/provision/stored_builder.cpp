#include "provision/stored_builder.h"

#include <zlib.h>

#include <fstream>
#include <iterator>

namespace provtest {

Bytes Deflate(const Bytes& data) {
  uLongf size = compressBound(static_cast<uLong>(data.size()));
  Bytes out(size);
  if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK) {
    return {};
  }
  out.resize(size);
  return out;
}

PackedTool::PackedTool(const Bytes& stream, std::size_t pieceSize) {
  for (std::size_t at = 0; at < stream.size(); at += pieceSize) {
    const std::size_t length = std::min(pieceSize, stream.size() - at);
    Bytes block;
    for (int i = 0; i < 4; ++i) block.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    for (std::size_t i = 0; i < length; ++i) block.push_back(stream[at + i] ^ kStoredToolKey);
    blocks_.push_back(std::move(block));
  }
  for (const Bytes& block : blocks_) pieces_.push_back({block.data(), block.size()});
}

Bytes SampleBytes(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  std::uint32_t state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    // Half the bytes from a small alphabet, half noise.
    out[i] = (i / 512) % 2 ? static_cast<std::uint8_t>(state >> 24)
                           : static_cast<std::uint8_t>('a' + (state >> 29));
  }
  return out;
}

Bytes ReadFileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace provtest

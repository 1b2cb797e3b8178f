#pragma once
// Builds stored engine data in tests the way the build step does: a zlib stream, combined
// with the key, cut into length-prefixed pieces.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "provision/stored_tools.h"

namespace provtest {

using Bytes = std::vector<std::uint8_t>;

Bytes Deflate(const Bytes& data);

// One tool's stored pieces; keeps the bytes that the piece list points at.
class PackedTool {
 public:
  PackedTool() = default;
  // Scrambles `stream` and cuts it into pieces of at most `pieceSize` bytes.
  explicit PackedTool(const Bytes& stream, std::size_t pieceSize = kMaxPieceBytes);
  PackedTool(const PackedTool&) = delete;
  PackedTool& operator=(const PackedTool&) = delete;

  StoredToolPieces View() const { return {pieces_.data(), pieces_.size()}; }
  std::vector<Bytes>& Blocks() { return blocks_; }  // to damage pieces in place
  void Swap(std::size_t a, std::size_t b) { std::swap(pieces_[a], pieces_[b]); }

 private:
  std::vector<Bytes> blocks_;
  std::vector<StoredPiece> pieces_;
};

// Bytes that deflate a little but not much, like an executable.
Bytes SampleBytes(std::size_t size, std::uint32_t seed);

Bytes ReadFileBytes(const char* path);

}  // namespace provtest
